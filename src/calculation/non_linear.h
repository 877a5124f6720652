// Non-linear propagation: the emitted pressure distorted as if it had travelled a given distance
// through a medium whose sound speed grows with the pressure, and the four calculations that
// use it. Each driver plans like its linear twin, runs on the threads of the option threads and
// gives the same numbers for every thread count.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "apertures/aperture.h"
#include "core/thread_pool.h"

// Advances every sample but the last in time in proportion to its own value, in steps of dz
// over distance [m] (floor(distance / dz + 0.5) steps; none for a negative distance), in place
// on the n samples. A sample whose source lies outside the signal is kept and reported with the
// out-of-range warning. O(steps x n), nothing allocated. dz > 0 where steps are taken. Returns
// between steps, the samples unfinished, once stop says the job has stopped.
void non_linear_propagate(const sys_con& sys, double* samples, int32_t n, double distance,
                          const stop_flag& stop = stop_flag());

// The emitted field at each point, distorted over the point's distance.
std::vector<signal_ptr> calc_hp_non_linear(sys_con& sys, const aperture_rec& ap,
                                           std::span<const point3> points,
                                           std::span<const double> distances);

// The pulse-echo field: the transmitted field (transmit impulse and excitation) distorted over
// the point's distance, then convolved with the receive response and the receive impulse.
std::vector<signal_ptr> calc_hhp_non_linear(sys_con& sys, const aperture_rec& transmit,
                                            const aperture_rec& receive,
                                            std::span<const point3> points,
                                            std::span<const double> distances);

// The scattered signal: the pulse-echo terms of the scatterers (before the receive impulse)
// times their amplitudes, summed in fixed chunks added in chunk order, and the receive impulse
// applied once to the sum. No scatterers: a signal of no samples.
signal_ptr calc_scat_non_linear(sys_con& sys, const aperture_rec& transmit,
                                const aperture_rec& receive, std::span<const point3> points,
                                std::span<const double> amplitudes,
                                std::span<const double> distances);

// One such sum per physical element of the receive aperture, each element answering alone with
// its own apodization; an element that receives nothing gives an empty signal.
std::vector<signal_ptr> calc_scat_multi_non_linear(sys_con& sys, const aperture_rec& transmit,
                                                   const aperture_rec& receive,
                                                   std::span<const point3> points,
                                                   std::span<const double> amplitudes,
                                                   std::span<const double> distances);
