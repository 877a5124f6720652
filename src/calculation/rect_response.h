// Spatial impulse response of an aperture of rectangles at a field point, in the far-field
// approximation of each rectangle, and the focusing delays and apodizations the element
// responses read from the aperture's time lines.
#pragma once

#include <cstdint>

#include "apertures/aperture.h"

// The focusing delay [s] and the apodization of every physical element at field point p, from
// the time lines read at each element's time of flight |p - centre| / c.
void focus_and_apodization(const sys_con& sys, const aperture_rec& ap, const point3& p,
                           double* delay, double* apodization);

// Far-field terms of one rectangle seen from a field point.
struct far_field_term {
  double u;       // direction to the point along the rectangle's width axis
  double v;       // ... and along its height axis
  double weight;  // width * height * apodization [m^2]
  double tc;      // arrival time from the rectangle's centre, delays included [s]
};

// Fills out[0..n-1] for the rectangles, offset being added to every arrival time [s].
void rect_arrival_terms(const sys_con& sys, int32_t n, const rect_element* rects, double offset,
                        const point3& p, far_field_term* out);

// The response of one rectangle is a trapezoid in time of unit area: linear rise over a, flat,
// linear fall over a; its ramps start and end at t1 <= t2 <= t3 <= t4.
struct ramp_record {
  double a, b;            // shorter and longer ramp duration [s], a <= b
  double t1, t2, t3, t4;  // start of rise, end of rise, start of fall, end of fall [s]
};

// The running integral of the trapezoid at the sample midpoints of a window from one sample
// before the rise to past the fall; sets the scratch signal's start and sample count.
void trapezoid_integral(const sys_con& sys, const ramp_record& ramp, double dt,
                        signal_rec& scratch);

// Sorts n values ascending in place (heap sort).
void sort_ascending(int32_t n, double* v);

// The aperture's response [m/s] at p summed over its physical elements, focused, apodized,
// weighted by 1/(2 pi r) (soft baffle and attenuation as configured) and convolved with the
// elements' own waveforms when the running calculation uses them; empty when nothing contributes.
signal_ptr rect_response(sys_con& sys, const aperture_rec& ap, const point3& p);
