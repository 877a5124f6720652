// All-element pulse-echo: the signal received from point scatterers for every pair of one
// transmitting and one receiving physical element, as synthetic-aperture imaging needs it: no
// focusing, no apodization, each element's own response, sampled at fs / D.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "apertures/aperture.h"

// Sorts n scatterers ascending by x^2 + y^2 + z^2 (their distance from the origin), heap sort,
// each amplitude moving with its position.
void sort_by_distance(int32_t n, point3* positions, double* amplitudes);

// grid[e][j]: the signal sent by transmit element e and received by receive element j, summed
// over the scatterers (amplitude / fs times receive response * transmit response * pulse, the
// pulse being transmit impulse * excitation * receive impulse), evaluated only at every D-th
// sample: its fs is that of sys over D, its start sample counts on that coarser grid. A pair
// that no scatterer reaches (an element without rectangles, or no scatterers at all) gives an
// empty signal (null). With more than 10 scatterers they are taken nearest to the origin first,
// then the farthest, then the rest outwards, so that the sums seldom have to widen. For one
// aperture used both ways grid[e][j] and grid[j][e] are the same numbers. D >= 1.
std::vector<std::vector<signal_ptr>> calc_scat_all(sys_con& sys, const aperture_rec& transmit,
                                                   const aperture_rec& receive,
                                                   std::span<const point3> points,
                                                   std::span<const double> amplitudes, int32_t D);
