// The calculation drivers: spatial impulse responses, emitted fields, pulse-echo fields and
// scattered signals, point by point, with progress shown after each point.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "apertures/aperture.h"

// The aperture's spatial impulse response at p, summed over the kinds of mathematical
// elements it is made of; empty when nothing contributes.
signal_ptr aperture_response(sys_con& sys, const aperture_rec& ap, const point3& p);

// One signal per point, in point order. calc_h gives an empty signal for a point no element
// reaches; the others give zeros spanning the pulse there.
std::vector<signal_ptr> calc_h(sys_con& sys, const aperture_rec& ap,
                               std::span<const point3> points);
std::vector<signal_ptr> calc_hp(sys_con& sys, const aperture_rec& ap,
                                std::span<const point3> points);
std::vector<signal_ptr> calc_hhp(sys_con& sys, const aperture_rec& transmit,
                                 const aperture_rec& receive, std::span<const point3> points);

// The signal received from point scatterers of the given amplitudes, summed (a zero-sample
// signal when there are none), or one sum per physical element of the receive aperture.
signal_ptr calc_scat(sys_con& sys, const aperture_rec& transmit, const aperture_rec& receive,
                     std::span<const point3> points, std::span<const double> amplitudes);
std::vector<signal_ptr> calc_scat_multi(sys_con& sys, const aperture_rec& transmit,
                                        aperture_rec& receive, std::span<const point3> points,
                                        std::span<const double> amplitudes);
