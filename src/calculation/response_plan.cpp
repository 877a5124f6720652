// Planning of an aperture's responses: the per-kind bounds of an element's samples and of the
// whole sum, refused before any buffer grows beyond them, and the workspace sized from them once
// per thread. The plan copies the configuration values it needs (c, fs, attenuation), so the
// kernel reads no configuration and never changes the aperture.
#include "calculation/response_plan.h"

#include <algorithm>
#include <cmath>

#include "core/check.h"
#include "core/errors.h"
#include "core/sys_con.h"

namespace {
// att [dB/m] to nepers per unit of 2 pi r: ln(10) / 20 / (2 pi).
constexpr double neper_per_two_pi_metre = 0.018323389972033078;

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

// The most samples the response of one physical element of rectangles can have at any point,
// before its waveform.
int32_t rect_element_bound(const sys_con& sys, const phys_element& pe) {
  if (pe.no_rects == 0) return 0;
  point3 low = pe.rects[0].corners[0], high = low;
  double ramps = 0.0, first_delay = pe.rects[0].delay, last_delay = first_delay;
  for (const rect_element& r : pe.rects) {
    for (const point3& c : r.corners)
      for (int k = 0; k < 3; ++k) {
        low[k] = std::min(low[k], c[k]);
        high[k] = std::max(high[k], c[k]);
      }
    // The ramps last at most width |u| / c + height |v| / c; |u| <= sqrt(1 + tan_xz^2) for a
    // rectangle tilted one way, 1 for one tilted both ways.
    const double su = r.tilted ? 1.0 : std::sqrt(1 + r.tan_xz * r.tan_xz);
    const double sv = r.tilted ? 1.0 : std::sqrt(1 + r.tan_yz * r.tan_yz);
    ramps = std::max(ramps, r.width * su + r.height * sv);
    first_delay = std::min(first_delay, r.delay);
    last_delay = std::max(last_delay, r.delay);
  }
  // Arrival times differ by at most the extent of the corners over c, plus the ramps and the
  // spread of the rectangles' own delays; +6: the rounding of both ends and the +3 of the span.
  const double extent = point_distance(low, high);
  const double samples = ((extent + ramps) / sys.c + (last_delay - first_delay)) * sys.fs + 6;
  constexpr double most = 1 << 20;  // beyond this the buffers grow when a point needs it
  return samples < most ? static_cast<int32_t>(samples) : static_cast<int32_t>(most);
}
}  // namespace

response_plan plan_response(const sys_con& sys, const aperture_rec& ap, bool waveforms) {
  response_plan plan;
  plan.ap = &ap;
  plan.c = sys.c;
  plan.fs = sys.fs;
  plan.waveforms = waveforms;
  plan.accurate_time_calc = sys.accurate_time_calc != 0;
  plan.use_att = sys.use_att != 0;
  plan.grid = {sys.c, sys.fs, sys.fast_integration != 0};
  plan.attenuation = -0.11512925465 * sys.att;  // dB/m to nepers per metre, with the sign of a loss
  plan.attenuation_two_pi = -sys.att * neper_per_two_pi_metre;
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
    if (const signal_rec* w = planned_waveform(plan, pe)) bound += w->no_samples;
    plan.element_bound.push_back(bound);
    plan.longest_element = std::max(plan.longest_element, bound);
  }
  // Every element's rectangles start a group of four, and its groups are full.
  ORVEL_ASSERT(plan.rects.cx.size() == static_cast<size_t>(plan.rect_slots) &&
               plan.rect_slots % 4 == 0);
  return plan;
}

void refuse_span(const response_plan& plan, int64_t n) {
  const double fs = plan.fs;
  throw command_error(format_text(
      "Error: The response at this field point would span %g s (%lld samples), more than the "
      "%lld samples (%g s) that a calculation can work with in the %llu %s; check the focusing "
      "delays and the element geometry",
      static_cast<double>(n) / fs, static_cast<long long>(n),
      static_cast<long long>(plan.most_samples), static_cast<double>(plan.most_samples) / fs,
      static_cast<unsigned long long>(plan.memory.bytes), plan.memory.what));
}

response_workspace::response_workspace(const response_plan& plan, stop_flag stop_of)
    : stop(stop_of) {
  triangles.stop = stop;
  lines.stop = stop;
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
