// The responses of physical elements made of triangles or of line elements: each mathematical
// element's exact response summed into the element's sum, which is weighted by apodization,
// attenuation and obliquity, convolved with the element's waveform and added into the
// aperture's sum, element after element in their order.
#include "calculation/element_kinds.h"

#include <algorithm>
#include <cmath>

#include "apertures/time_lines.h"
#include "calculation/weighting.h"
#include "signals/signal_arith.h"

void add_on_grid(const response_plan& plan, grid_buffer& sum, bool& any, const grid_buffer& b,
                 grid_buffer& spare) {
  if (!any) {
    sum.assign_zero(b.start, b.n);
    std::copy_n(b.data(), b.n, sum.data());
    any = true;
    return;
  }
  const int64_t lo = std::min(sum.start, b.start);
  const int64_t hi = std::max(int64_t{sum.start} + sum.n, int64_t{b.start} + b.n);
  if (lo < sum.start || hi > int64_t{sum.start} + sum.n) {
    check_span(plan, hi - lo);
    spare.assign_zero(static_cast<int32_t>(lo), static_cast<int32_t>(hi - lo));
    std::copy_n(sum.data(), sum.n, spare.data() + (sum.start - lo));
    std::swap(sum, spare);
  }
  double* out = sum.data() + (b.start - sum.start);
  for (int32_t k = 0; k < b.n; ++k) out[k] += b.data()[k];
}

namespace {
int32_t count_of(element_kind kind, const phys_element& pe) {
  return kind == element_kind::triangles ? pe.no_tris : pe.no_line_elems;
}

// The physical element's triangles (or line elements) at p, focused by delay, summed into
// ws.element_sum. One of weight 0 adds nothing and is skipped, except the last when no other
// has given a signal, so that the physical element still has one. False when none is computed.
bool sum_math_elements(element_kind kind, const response_plan& plan, response_workspace& ws,
                       const phys_element& pe, double delay, const point3& p) {
  bool any = false;
  const int32_t n = count_of(kind, pe);
  int64_t work = 0;  // samples made since the job was last asked whether it has stopped
  for (int32_t j = 0; j < n; ++j) {
    // A large element (a piston of a metre as a million line elements) takes seconds at one
    // point even when each part is short: a Ctrl-C is seen every few thousand samples.
    if (work > 4096) {
      if (ws.stop.stopped()) return any;  // abandoned; the sum is not used
      work = 0;
    }
    const bool triangle = kind == element_kind::triangles;
    const double weight = triangle ? pe.tris[j].apodization : pe.line_elems[j].apodization;
    if (weight == 0.0 && (any || j < n - 1)) continue;
    if (triangle)
      triangle_response(plan.grid, p, pe.tris[j], delay, ws.triangles, ws.part);
    else
      line_response(plan.grid, p, pe.line_elems[j], delay + pe.line_elems[j].delay, ws.lines,
                    ws.part);
    add_on_grid(plan, ws.element_sum, any, ws.part, ws.spare);
    work += 16 + ws.part.n;  // a part of few samples still costs its set-up
  }
  return any;
}

// The physical element's apodization, the frequency independent attenuation and the soft
// baffle's obliquity z / r (weight_by_distance, without spreading: the responses are exact), r
// the distance travelled by the end of each sample's interval. Where that is exactly 0 (an
// element starting before its delay) r is a hundredth of a sample's path instead.
void weight_element(const response_plan& plan, grid_buffer& s, double delay, double apodization,
                    double z) {
  const double step = plan.c / plan.fs, r0 = (s.start / plan.fs - delay) * plan.c;
  const double guard = plan.c / (100 * plan.fs);
  auto distance = [r0, step, guard](int32_t k) {
    const double r = r0 + (k + 1) * step;
    return r == 0.0 ? guard : r;
  };
  weight_by_distance<false>(plan, s.data(), s.n, distance, apodization, z);
}

// ws.element_sum convolved with waveform (into ws.part), if any.
const grid_buffer& shaped(const signal_rec* waveform, response_workspace& ws) {
  const grid_buffer& s = ws.element_sum;
  if (!waveform || s.n == 0 || waveform->no_samples == 0) return s;
  const signal_rec& w = *waveform;
  ws.part.assign_zero(s.start + w.start_sample, s.n + w.no_samples - 1);
  convolve_plain(s.data(), s.n, w.data.data(), w.no_samples, ws.part.data(), ws.stop);
  return ws.part;
}
}  // namespace

bool kind_aperture_response(element_kind kind, const response_plan& plan, response_workspace& ws,
                            const point3& p, int32_t only_element, grid_buffer& out) {
  const aperture_rec& ap = *plan.ap;
  if (ap.no_phys_elements < 1) return false;
  const int32_t first = only_element >= 0 ? only_element : 0;
  const int32_t last = only_element >= 0 ? only_element + 1 : ap.no_phys_elements;
  focus_and_apodization(ap, plan.c, p, first, last, ws.delay.data(), ws.apodization.data());
  bool any = false;
  for (int32_t e = first; e < last; ++e) {
    if (ws.stop.stopped()) break;  // elements of these kinds may take long at one point
    const phys_element& pe = ap.phys_elements[e];
    if ((ws.apodization[e] == 0.0 && e > 0) || count_of(kind, pe) == 0) continue;
    if (!sum_math_elements(kind, plan, ws, pe, ws.delay[e], p)) continue;
    weight_element(plan, ws.element_sum, ws.delay[e], ws.apodization[e], p[2]);
    add_on_grid(plan, out, any, shaped(planned_waveform(plan, pe), ws), ws.spare);
  }
  return any;
}

bool kind_element_response(element_kind kind, const response_plan& plan, response_workspace& ws,
                           int32_t e, const point3& p, grid_buffer& out) {
  const phys_element& pe = plan.ap->phys_elements[e];
  if (count_of(kind, pe) == 0 || !sum_math_elements(kind, plan, ws, pe, 0.0, p)) return false;
  weight_element(plan, ws.element_sum, 0.0, 1.0, p[2]);
  const grid_buffer& s = shaped(element_waveform(pe), ws);
  out.assign_zero(s.start, s.n);
  std::copy_n(s.data(), s.n, out.data());
  return true;
}
