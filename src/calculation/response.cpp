#include "calculation/response.h"

#include <algorithm>

#include "calculation/rect_response.h"
#include "core/sys_con.h"

void grid_buffer::assign_zero(int32_t first, int32_t count) {
  start = first;
  n = count;
  if (v.size() < static_cast<size_t>(count)) v.resize(static_cast<size_t>(count));
  std::fill_n(v.begin(), count, 0.0);
}

response_plan plan_response(const sys_con& sys, const aperture_rec& ap, bool waveforms) {
  response_plan plan;
  plan.sys = &sys;
  plan.ap = &ap;
  plan.waveforms = waveforms;
  plan.accurate_time_calc = sys.accurate_time_calc != 0;
  plan.use_att = sys.use_att != 0;
  plan.rect_count = 0;
  plan.longest_element = 0;
  for (const phys_element& pe : ap.phys_elements) {
    plan.first_rect.push_back(plan.rect_count);
    plan.rect_count += pe.no_rects;
    int32_t bound = rect_element_bound(sys, pe);
    if (waveforms && pe.has_waveform && pe.waveform) bound += pe.waveform->no_samples;
    plan.element_bound.push_back(bound);
    plan.longest_element = std::max(plan.longest_element, bound);
  }
  return plan;
}

response_workspace::response_workspace(const response_plan& plan) {
  const size_t elements = plan.ap->phys_elements.size();
  const size_t rects = static_cast<size_t>(plan.rect_count);
  const size_t longest = static_cast<size_t>(plan.longest_element);
  delay.resize(elements);
  apodization.resize(elements);
  spans.resize(elements);
  terms.resize(rects);
  ramps.resize(rects);
  element.resize(2 * longest + 8);  // the element's samples with room around them
  running.resize(longest + 4);
  shaped.resize(longest);
}

bool aperture_response(const response_plan& plan, response_workspace& ws, const point3& p,
                       int32_t only_element) {
  // Rectangles are the one kind of mathematical element of this version; triangle and
  // bounding-line responses join the sum here, each kind's signal receiving the sum so far.
  if (plan.ap->uses_rectangles) return rect_response(plan, ws, p, only_element);
  return false;
}
