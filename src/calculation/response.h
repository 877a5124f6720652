// The spatial impulse response of a whole aperture at a field point, as the calculations use it:
// planned once per calculation (what does not depend on the point) and computed point by point
// on scratch of the calling thread, so that many threads can compute responses of one aperture
// at once. The aperture is only read.
#pragma once

#include <cstdint>

#include "calculation/response_plan.h"

// The aperture's response [m/s] at p into ws.out, summed over the kinds of mathematical
// elements it is made of; false (ws.out then meaningless) when nothing contributes. With
// only_element >= 0, that physical element alone answers, with its own apodization.
bool aperture_response(const response_plan& plan, response_workspace& ws, const point3& p,
                       int32_t only_element = -1);

// The response [m/s] of physical element e alone at p into ws.out, as used for every pair of a
// transmitting and a receiving element: no focusing delay and no apodization, the element's
// waveform whenever it has one, summed over the kinds of mathematical elements the aperture is
// made of. False (ws.out then meaningless) for an element without any: it contributes nothing.
bool element_response(const response_plan& plan, response_workspace& ws, int32_t e,
                      const point3& p);
