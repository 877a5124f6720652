// The response of a whole aperture at a point: dispatch to the kind of its mathematical elements
// (rectangles, triangles, line elements) over one plan and the calling thread's workspace.
#include "calculation/response.h"

#include "calculation/element_kinds.h"
#include "calculation/rect_response.h"

namespace {
// The kinds an aperture's responses are summed over. An aperture that is neither of rectangles
// nor of triangles answers with its line elements, whatever its flag of lines holds.
bool lines_answer(const aperture_rec& ap) {
  return ap.uses_lines || (!ap.uses_rectangles && !ap.uses_triangles);
}
}  // namespace

bool aperture_response(const response_plan& plan, response_workspace& ws, const point3& p,
                       int32_t only_element) {
  const aperture_rec& ap = *plan.ap;
  bool any = ap.uses_rectangles && rect_response(plan, ws, p, only_element);
  if (ap.uses_triangles &&
      kind_aperture_response(element_kind::triangles, plan, ws, p, only_element, ws.kind_sum))
    add_on_grid(plan, ws.out, any, ws.kind_sum, ws.spare);
  if (lines_answer(ap) &&
      kind_aperture_response(element_kind::lines, plan, ws, p, only_element, ws.kind_sum))
    add_on_grid(plan, ws.out, any, ws.kind_sum, ws.spare);
  return any;
}

bool element_response(const response_plan& plan, response_workspace& ws, int32_t e,
                      const point3& p) {
  const aperture_rec& ap = *plan.ap;
  bool any = ap.uses_rectangles && rect_element_response(plan, ws, e, p);
  if (ap.uses_triangles &&
      kind_element_response(element_kind::triangles, plan, ws, e, p, ws.kind_sum))
    add_on_grid(plan, ws.out, any, ws.kind_sum, ws.spare);
  if (lines_answer(ap) && kind_element_response(element_kind::lines, plan, ws, e, p, ws.kind_sum))
    add_on_grid(plan, ws.out, any, ws.kind_sum, ws.spare);
  return any;
}
