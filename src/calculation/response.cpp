#include "calculation/response.h"

#include <algorithm>

#include "calculation/element_kinds.h"
#include "calculation/rect_response.h"
#include "core/errors.h"
#include "core/sys_con.h"

namespace {
void add_rect(rect_lanes& l, const rect_element& r) {
  l.cx.push_back(r.center[0]);
  l.cy.push_back(r.center[1]);
  l.cz.push_back(r.center[2]);
  l.width.push_back(r.width);
  l.height.push_back(r.height);
  l.tan_xz.push_back(r.tan_xz);
  l.tan_yz.push_back(r.tan_yz);
  l.weight.push_back(r.width * r.height * r.apodization);
  l.delay.push_back(r.delay);
}

template <class T>
void resize_all(size_t n, T& v) {
  v.resize(n);
}
template <class T, class... More>
void resize_all(size_t n, T& v, More&... more) {
  v.resize(n);
  resize_all(n, more...);
}
}  // namespace

response_plan plan_response(const sys_con& sys, const aperture_rec& ap, bool waveforms) {
  response_plan plan;
  plan.sys = &sys;
  plan.ap = &ap;
  plan.waveforms = waveforms;
  plan.accurate_time_calc = sys.accurate_time_calc != 0;
  plan.use_att = sys.use_att != 0;
  plan.grid = {sys.c, sys.fs, sys.fast_integration != 0};
  plan.attenuation = -0.11512925465 * sys.att;  // dB/m to nepers per metre, with the sign of a loss
  // Room for 32 working copies of a response per thread (its transforms, the pulse-echo product
  // and the pulse applied) and 384 that a calculation keeps (a block of transmit responses
  // with their spectra).
  plan.memory = result_memory();
  const uint64_t copies = 32 * static_cast<uint64_t>(calculation_threads(sys)) + 384;
  plan.most_samples = static_cast<int64_t>(plan.memory.bytes / (sizeof(double) * copies));
  plan.grid.most_samples = plan.most_samples;
  plan.rect_slots = 0;
  plan.longest_element = 0;
  for (const phys_element& pe : ap.phys_elements) {
    plan.first_rect.push_back(plan.rect_slots);
    bool flat = true;
    for (const rect_element& r : pe.rects) {
      add_rect(plan.rects, r);
      flat = flat && !r.tilted;
    }
    plan.flat.push_back(flat);
    const int32_t slots = (pe.no_rects + 3) / 4 * 4;
    for (int32_t j = pe.no_rects; j < slots; ++j) add_rect(plan.rects, pe.rects.back());
    plan.rect_slots += slots;
    int32_t bound = rect_element_bound(sys, pe);
    if (waveforms && pe.has_waveform && pe.waveform) bound += pe.waveform->no_samples;
    plan.element_bound.push_back(bound);
    plan.longest_element = std::max(plan.longest_element, bound);
  }
  return plan;
}

void refuse_span(const response_plan& plan, int64_t n) {
  const double fs = plan.sys->fs;
  throw command_error(format_text(
      "Error: The response at this field point would span %g s (%lld samples), more than the "
      "%lld samples (%g s) that a calculation can work with in the %llu %s; check the focusing "
      "delays and the element geometry",
      static_cast<double>(n) / fs, static_cast<long long>(n),
      static_cast<long long>(plan.most_samples), static_cast<double>(plan.most_samples) / fs,
      static_cast<unsigned long long>(plan.memory.bytes), plan.memory.what));
}

response_workspace::response_workspace(const response_plan& plan) {
  const size_t elements = plan.ap->phys_elements.size();
  const size_t slots = static_cast<size_t>(plan.rect_slots);
  const size_t longest = static_cast<size_t>(plan.longest_element);
  delay.resize(elements);
  apodization.resize(elements);
  spans.resize(elements);
  resize_all(slots, ramps.a, ramps.b, ramps.t1, ramps.t2, ramps.t3, ramps.t4, ramps.g, ramps.h,
             ramps.first, ramps.start, ramps.count);
  // An element's samples with the room the rectangle sums keep around them: as many again, a
  // margin of 4 on either side and 3 spare values (rect_response.cpp).
  element.resize(2 * longest + 11);
  running.resize(longest + 3);
  shaped.resize(longest);
}

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
