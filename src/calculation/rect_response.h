// Spatial impulse response of an aperture of rectangles at a field point, in the far-field
// approximation of each rectangle.
#pragma once

#include <cstdint>

#include "apertures/aperture.h"
#include "calculation/response_plan.h"

// Fills out[0..n-1] for the rectangles, offset being added to every arrival time [s]; c the
// speed of sound [m/s].
void rect_arrival_terms(double c, int32_t n, const rect_element* rects, double offset,
                        const point3& p, far_field_term* out);

// Sorts n values ascending in place (heap sort).
void sort_ascending(int32_t n, double* v);

// The rectangles' part of aperture_response (response.h): summed over the physical elements
// (or only_element alone), focused, apodized, weighted by 1/(2 pi r) (soft baffle and
// attenuation as planned) and convolved with the elements' own waveforms when the plan says
// so. False when nothing contributes.
bool rect_response(const response_plan& plan, response_workspace& ws, const point3& p,
                   int32_t only_element = -1);

// The rectangles' part of element_response (response.h): the response [m/s] of physical element
// e alone at p into ws.out: its rectangles as rect_response takes them, but without
// focusing delay or apodization, always with the far-field ramps (accurate_time_calc is not
// consulted), weighted by 1/(2 pi r) at the distance of the next sample (sample k at
// r = c (start + k + 1) / fs; where that is exactly 0, a point on the element's face, by the
// guard of rect_response), with the soft baffle's obliquity and the frequency independent
// attenuation as the plan says, and convolved with the element's own waveform whenever it has
// one. False (ws.out then meaningless) for an element without rectangles: it contributes
// nothing.
bool rect_element_response(const response_plan& plan, response_workspace& ws, int32_t e,
                           const point3& p);

// The same as a new signal, planned for this one point; empty when nothing contributes.
signal_ptr rect_response(sys_con& sys, const aperture_rec& ap, const point3& p,
                         bool waveforms = false);
