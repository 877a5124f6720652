// The calculation drivers: spatial impulse responses, emitted fields, pulse-echo fields and
// scattered signals, with progress shown on the calling thread. Each plans once and then runs
// the per-point work on the threads of the option threads; which thread computes what never
// changes a result.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "apertures/aperture.h"
#include "calculation/field_map.h"

// One signal per point, in point order. calc_h gives an empty signal for a point no element
// reaches; the others give zeros spanning the pulse there.
std::vector<signal_ptr> calc_h(sys_con& sys, const aperture_rec& ap,
                               std::span<const point3> points);
std::vector<signal_ptr> calc_hp(sys_con& sys, const aperture_rec& ap,
                                std::span<const point3> points);
std::vector<signal_ptr> calc_hhp(sys_con& sys, const aperture_rec& transmit,
                                 const aperture_rec& receive, std::span<const point3> points);

// Maps: for each point the signal that calc_hp (calc_hhp) gives there, reduced to the columns
// of q and dropped; out holds points.size() x q.columns.size() values, column k of point i at
// out[i + n k] (n the number of points). Memory does not grow with the signals' lengths.
void calc_hp_map(sys_con& sys, const aperture_rec& ap, std::span<const point3> points,
                 const map_request& q, std::span<double> out);
void calc_hhp_map(sys_con& sys, const aperture_rec& transmit, const aperture_rec& receive,
                  std::span<const point3> points, const map_request& q, std::span<double> out);

// The signal received from point scatterers of the given amplitudes, summed (a zero-sample
// signal when there are none): the scatterers are taken in fixed chunks whose sums are added
// in chunk order.
signal_ptr calc_scat(sys_con& sys, const aperture_rec& transmit, const aperture_rec& receive,
                     std::span<const point3> points, std::span<const double> amplitudes);

// One sum per physical element of the receive aperture; an element that receives nothing from
// any scatterer (its apodization 0, say) gives an empty signal.
std::vector<signal_ptr> calc_scat_multi(sys_con& sys, const aperture_rec& transmit,
                                        const aperture_rec& receive, std::span<const point3> points,
                                        std::span<const double> amplitudes);
