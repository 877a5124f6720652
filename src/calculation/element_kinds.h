// The responses of the triangles and of the line elements of an aperture. Each mathematical
// element's response is exact (no far-field weighting); a physical element's are summed, then
// apodized, attenuated, weighted by the soft baffle's obliquity and convolved with the element's
// waveform as its rectangles would be, and the physical elements are summed on the grid.
#pragma once

#include <cstdint>

#include "calculation/response_plan.h"

enum class element_kind { triangles, lines };

// The kind's part of aperture_response (or only_element's alone) into out: focused with the
// time lines' delays, weighted by their apodizations. Physical element 0 is always computed
// (so that an aperture of one silent element still has a signal); other elements with
// apodization 0 are skipped. False when no physical element gives a signal.
bool kind_aperture_response(element_kind kind, const response_plan& plan, response_workspace& ws,
                            const point3& p, int32_t only_element, grid_buffer& out);

// The kind's part of element_response for physical element e into out: no focusing delay, no
// apodization, the waveform whenever the element has one. False when e has no elements of the
// kind.
bool kind_element_response(element_kind kind, const response_plan& plan, response_workspace& ws,
                           int32_t e, const point3& p, grid_buffer& out);

// Adds b into sum on the grid. With any false, sum becomes b; otherwise sum is widened to the
// union of both spans where needed (through spare, which gets sum's old buffer; a union beyond
// plan.most_samples is refused by check_span). any is set.
void add_on_grid(const response_plan& plan, grid_buffer& sum, bool& any, const grid_buffer& b,
                 grid_buffer& spare);
