// The rectangle response: each rectangle's far-field trapezoid (or its corners' arrival times)
// integrated over the sampling intervals by differences of its running integral, four lanes at
// a time, per element summed, weighted by distance and summed into the aperture's response.
// Invariants: the vector lanes give every sample exactly as the scalar formulas would (the same
// operations in the same order, square roots and floors included); an element's buffer has
// margins around its samples and 3 spare values, so a window that starts before the element or
// runs past it, and the last group of four, need no test per sample; each element's span lies
// inside the sum's span; elements are added in element order, whatever thread runs the point.
#include "calculation/rect_response.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "apertures/time_lines.h"
#include "calculation/weighting.h"
#include "core/check.h"
#include "core/errors.h"
#include "core/heap_sort.h"
#include "core/hot.h"
#include "core/lanes.h"
#include "core/sys_con.h"
#include "signals/signal_arith.h"

namespace {
constexpr double two_pi = 2.0 * std::numbers::pi;

// A response beyond the grid's reach (a point at an absurd distance) ends the command instead
// of overflowing a sample index.
[[noreturn]] void beyond_grid() {
  throw command_error(
      "Error: The response at this field point lies beyond the reach of the time grid");
}

// A time on the sample grid as a 32-bit sample index.
inline int32_t grid_sample(double x) {
  if (!(x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max()))
    beyond_grid();
  return static_cast<int32_t>(x);
}

ramp_record default_ramp(double c, const rect_element& r, const far_field_term& f) {
  const double A = std::fabs(r.width * f.u / c), B = std::fabs(r.height * f.v / c);
  ramp_record m;
  m.a = A < B ? A : B;
  m.b = A < B ? B : A;
  m.t1 = f.tc - (m.a + m.b) / 2;
  m.t2 = m.t1 + m.a;
  m.t3 = m.t1 + m.b;
  m.t4 = m.t1 + m.a + m.b;
  return m;
}

// The arrival times of the four corners bound the response exactly.
ramp_record corner_ramp(double c, const rect_element& r, const point3& p, double delay) {
  double t[4];
  for (int k = 0; k < 4; ++k) t[k] = point_distance(r.corners[k], p) / c + delay + r.delay;
  sort_ascending(4, t);
  ramp_record m;
  m.t1 = t[0];
  m.t2 = t[1];
  m.t3 = t[2];
  m.t4 = t[3];
  m.a = m.t2 - m.t1;
  m.b = m.t3 - m.t1;
  return m;
}

// The window of a trapezoid's running integral on the grid: from one sample before the rise to
// past the fall, each sample evaluated at its midpoint.
struct trapezoid_window {
  int32_t start;  // first sample on the grid
  int32_t count;  // samples
  double first;   // midpoint time of the first sample [s]
  double g, h;    // 1/b and 1/(2ab), or 0 where a ramp has no duration
};

// The window's sample count: +2 for the sample before the rise and the one past the fall. When
// the rise starts in the second half of its sample, that window ends before the fall does; it
// is then extended to the first midpoint at or past t4, so that F reaches 1 and the whole area
// is delivered. At most room samples.
inline int32_t window_count(int32_t count, double first, double t4, double dt, int32_t room) {
  while (count > 0 && count < room && first + (count - 1) * dt < t4) ++count;
  if (count > room) count = room;
  return count < 0 ? 0 : count;
}

// The window before its extension to the fall's end.
inline trapezoid_window window_start(double fs, const ramp_record& m, double dt) {
  trapezoid_window w;
  w.start = grid_sample(std::floor(m.t1 * fs) - 1);
  w.first = w.start * dt + dt / 2;
  w.count = grid_sample(std::ceil((m.t4 - m.t1) * fs + 2));
  w.g = 0.0;
  w.h = 0.0;
  if (m.b != 0.0) {
    w.g = 1 / m.b;
    if (m.a != 0.0) w.h = 1 / (2 * m.a * m.b);
  }
  return w;
}

// D[k] = F(k) - F(k - 1), F(-1) = 0, the increments of the running integral F of the unit-area
// trapezoid at the midpoints of the window's samples k = 0 .. count - 1, and up to three values
// past them (D has room for them). F is 0 before the rise, a parabola on the rise, linear on the
// flat part, a parabola to 1 on the fall, then 1. The previous lanes' last value is carried in a
// register rather than read back from memory.
[[gnu::always_inline]] inline void running_increments(const ramp_lanes& r, int32_t j, int32_t count,
                                                      double dt, double* D) {
  const lanes4 zero = {0, 0, 0, 0}, one = {1, 1, 1, 1};
  const double t1 = r.t1[j], t2 = r.t2[j], t3 = r.t3[j], t4 = r.t4[j];
  const double half_a = r.a[j] / 2, g = r.g[j], h = r.h[j], first = r.first[j];
  lanes4 before = zero;                 // lane 3 holds F(k - 1)
  lanes4 index = {0.0, 1.0, 2.0, 3.0};  // k .. k + 3, exact in a double
  for (int32_t k = 0; k < count; k += 4, index += 4.0) {
    const lanes4 t = first + index * dt;
    const lanes4 d1 = t - t1, d4 = t - t4;
    const lanes4 rise = d1 * d1 * h;
    const lanes4 flat = (t - t2 + half_a) * g;
    const lanes4 fall = 1 - d4 * d4 * h;
    lanes4 F = t < t4 ? fall : one;
    F = t < t3 ? flat : F;
    F = t < t2 ? rise : F;
    F = t < t1 ? zero : F;
    const lanes4 previous = __builtin_shuffle(before, F, lane_index4{3, 4, 5, 6});
    lanes_at<lanes4>(D + k) = F - previous;
    before = F;
  }
}

// Square roots of four values, each as the scalar function gives it.
inline void sqrt_lanes(lanes4& x) {
  for (int l = 0; l < 4; ++l) x[l] = std::sqrt(x[l]);
}

// Magnitudes of four values: the sign bits cleared, as fabs does.
inline void abs_lanes(lanes4& x) {
  constexpr long long magnitude = 0x7fffffffffffffffLL;
  x = reinterpret_cast<lanes4>(reinterpret_cast<lane_index4>(x) &
                               lane_index4{magnitude, magnitude, magnitude, magnitude});
}

// floor (down) or ceil (up) of four values, exact within +-2^51: adding and subtracting 2^52 of
// the value's sign rounds it to a whole number, and a step back undoes a rounding the wrong
// way.
template <bool up>
inline void whole_lanes(lanes4& x) {
  const lanes4 big =
      x < 0.0 ? lanes4{-0x1p52, -0x1p52, -0x1p52, -0x1p52} : lanes4{0x1p52, 0x1p52, 0x1p52, 0x1p52};
  const lanes4 r = (x + big) - big;
  if constexpr (up)
    x = r < x ? r + 1.0 : r;
  else
    x = r > x ? r - 1.0 : r;
}

// Whether every window of rectangles whose ramps lie between tmin and tmax starts and ends on
// the 32-bit grid (the test grid_sample makes of each). NaN fails.
inline bool grid_holds(double tmin, double tmax, double fs) {
  constexpr double lowest = std::numeric_limits<int32_t>::min();
  constexpr double highest = std::numeric_limits<int32_t>::max();
  return std::floor(tmin * fs) - 1 >= lowest && std::floor(tmax * fs) <= highest &&
         std::ceil((tmax - tmin) * fs + 2) <= highest;
}

// The first sample of each lane's window (one before the rise) and its sample count before the
// extension, as window_start computes them; the grid holds them (grid_holds).
[[gnu::always_inline]] inline void window_lanes(const lanes4& t1, const lanes4& t4, double fs,
                                                double dt, ramp_lanes& r, int32_t j) {
  using int_lanes = int32_t __attribute__((vector_size(4 * sizeof(int32_t))));
  lanes4 start = t1 * fs;
  whole_lanes<false>(start);
  start -= 1;
  lanes4 count = (t4 - t1) * fs + 2;
  whole_lanes<true>(count);
  const int_lanes whole_start = __builtin_convertvector(start, int_lanes);
  const int_lanes whole_count = __builtin_convertvector(count, int_lanes);
  std::memcpy(&r.start[j], &whole_start, sizeof whole_start);
  std::memcpy(&r.count[j], &whole_count, sizeof whole_count);
  lanes_at<lanes4>(&r.first[j]) = start * dt + dt / 2;
}

// Ramps of a flat element's rectangles, four at a time: the far-field terms (direction along
// the rectangle's axes, arrival time from its centre) and the trapezoid they give, as
// rect_arrival_terms and default_ramp compute them lane by lane; then the windows.
[[gnu::always_inline]] inline void flat_ramps(const response_plan& plan, int32_t first,
                                              int32_t slots, double delay, const point3& p,
                                              ramp_lanes& r) {
  ORVEL_ASSERT(first % 4 == 0 && slots % 4 == 0);  // whole groups of four (rect_lanes)
  const rect_lanes& q = plan.rects;
  const double c = plan.c, fs = plan.fs, dt = 1 / fs;
  const lanes4 zero = {0, 0, 0, 0};
  lanes4 lo = {0, 0, 0, 0}, hi = lo;     // the earliest rise and the latest fall
  lane_index4 undefined = {0, 0, 0, 0};  // a NaN time in some lane
  for (int32_t j = first; j < first + slots; j += 4) {
    const lanes4 Dx = p[0] - lanes_at<lanes4>(&q.cx[j]);
    const lanes4 Dy = p[1] - lanes_at<lanes4>(&q.cy[j]);
    const lanes4 Dz = p[2] - lanes_at<lanes4>(&q.cz[j]);
    lanes4 dist = Dx * Dx + Dy * Dy + Dz * Dz;
    sqrt_lanes(dist);
    const lanes4 ex = Dx / dist, ey = Dy / dist, ez = Dz / dist;
    // A point at the rectangle's centre has no direction: taken as seen along the normal.
    const lanes4 u = dist == 0.0 ? zero : ex + lanes_at<lanes4>(&q.tan_xz[j]) * ez;
    const lanes4 v = dist == 0.0 ? zero : ey + lanes_at<lanes4>(&q.tan_yz[j]) * ez;
    const lanes4 tc = dist / c + delay + lanes_at<lanes4>(&q.delay[j]);
    lanes4 A = lanes_at<lanes4>(&q.width[j]) * u / c, B = lanes_at<lanes4>(&q.height[j]) * v / c;
    abs_lanes(A);
    abs_lanes(B);
    const lanes4 a = A < B ? A : B, b = A < B ? B : A;
    const lanes4 t1 = tc - (a + b) / 2;
    const lanes4 t4 = t1 + a + b;
    lanes_at<lanes4>(&r.a[j]) = a;
    lanes_at<lanes4>(&r.b[j]) = b;
    lanes_at<lanes4>(&r.t1[j]) = t1;
    lanes_at<lanes4>(&r.t2[j]) = t1 + a;
    lanes_at<lanes4>(&r.t3[j]) = t1 + b;
    lanes_at<lanes4>(&r.t4[j]) = t4;
    // 1/b and 1/(2ab) where the ramps have a duration.
    const lanes4 g = 1 / b, h = 1 / (2 * a * b);
    lanes_at<lanes4>(&r.g[j]) = b != 0.0 ? g : zero;
    lanes_at<lanes4>(&r.h[j]) = b != 0.0 && a != 0.0 ? h : zero;
    lo = j == first || t1 < lo ? t1 : lo;
    hi = j == first || t4 > hi ? t4 : hi;
    undefined |= t1 != t1 || t4 != t4;
  }
  const double tmin = std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3]));
  const double tmax = std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3]));
  const bool nan = undefined[0] || undefined[1] || undefined[2] || undefined[3];
  if (nan || !grid_holds(tmin, tmax, fs)) beyond_grid();
  for (int32_t j = first; j < first + slots; j += 4)
    window_lanes(lanes_at<lanes4>(&r.t1[j]), lanes_at<lanes4>(&r.t4[j]), fs, dt, r, j);
}

// The same, one rectangle at a time, for elements with rectangles tilted both ways (their
// direction is rotated exactly) or when the corners' arrival times are asked for.
void exact_ramps(const response_plan& plan, const phys_element& pe, int32_t first, double delay,
                 const point3& p, bool corners, ramp_lanes& r) {
  const double dt = 1 / plan.fs;
  for (int32_t k = 0; k < pe.no_rects; ++k) {
    const rect_element& rect = pe.rects[k];
    far_field_term term;
    rect_arrival_terms(plan.c, 1, &rect, delay, p, &term);
    const ramp_record m =
        corners ? corner_ramp(plan.c, rect, p, delay) : default_ramp(plan.c, rect, term);
    const trapezoid_window w = window_start(plan.fs, m, dt);
    const int32_t j = first + k;
    r.a[j] = m.a;
    r.b[j] = m.b;
    r.t1[j] = m.t1;
    r.t2[j] = m.t2;
    r.t3[j] = m.t3;
    r.t4[j] = m.t4;
    r.g[j] = w.g;
    r.h[j] = w.h;
    r.first[j] = w.first;
    r.start[j] = w.start;
    r.count[j] = w.count;
  }
}

// 1/(2 pi r) spreading, the soft baffle's obliquity and the frequency independent attenuation
// (weight_by_distance) at the distance travelled at each sample's time, rho = 2 pi r
// accumulated sample by sample from the element's start, counted from its focusing delay. rho
// passes through zero only where the element starts before its focusing delay; such a sample
// gets a guard of 2 pi times a hundredth of a sample's path instead (at the start, the guard is
// where the accumulation begins), so that no division by zero enters the signal.
ORVEL_HOT void weight_element(const response_plan& plan, int32_t start, int32_t n, double* s,
                              double delay, double apodization, double z) {
  const double step = two_pi * plan.c / plan.fs;
  const double guard = two_pi * plan.c / (100 * plan.fs);
  double rho = two_pi * plan.c * (start / plan.fs - delay);
  if (rho == 0.0) rho = guard;
  auto distance = [&rho, step, guard](int32_t) {
    const double r = rho == 0.0 ? guard : rho;
    rho += step;
    return r;
  };
  weight_by_distance<true>(plan, s, n, distance, apodization, z);
}

// The same for the response of one element alone: no apodization, no focusing delay, and the
// distance taken one sample later, sample k at rho = 2 pi c (start + k + 1) / fs. A sample
// where that is exactly 0 (the element's first sample, for a point on its face) gets the guard
// of weight_element.
void weight_single_element(const response_plan& plan, int32_t start, int32_t n, double* s,
                           double z) {
  const double two_pi_c = two_pi * plan.c, fs = plan.fs;
  const double guard = two_pi * plan.c / (100 * plan.fs);
  auto distance = [two_pi_c, fs, guard, start](int32_t k) {
    const double rho = two_pi_c * static_cast<double>(int64_t{start} + k + 1) / fs;
    return rho == 0.0 ? guard : rho;
  };
  weight_by_distance<true>(plan, s, n, distance, 1.0, z);
}

// The ramps of one element's rectangles (from the corners' arrival times when corners is set),
// and where its response lies on the grid: one sample before and two after the ramps (+3), and
// the length of the waveform it is shaped with beyond, if any.
ORVEL_HOT element_span element_ramps(const response_plan& plan, int32_t e, double delay,
                                     const point3& p, bool corners, const signal_rec* shaped,
                                     ramp_lanes& r) {
  const phys_element& pe = plan.ap->phys_elements[e];
  const int32_t first = plan.first_rect[e], nr = pe.no_rects;
  if (plan.flat[e] && !corners)
    flat_ramps(plan, first, (nr + 3) / 4 * 4, delay, p, r);
  else
    exact_ramps(plan, pe, first, delay, p, corners, r);
  double tmin = r.t1[first], tmax = r.t4[first];
  for (int32_t j = first + 1; j < first + nr; ++j) {
    if (r.t1[j] < tmin) tmin = r.t1[j];
    if (r.t4[j] > tmax) tmax = r.t4[j];
  }
  const double dt = 1 / plan.fs;
  const double t_lo = std::floor(tmin / dt) * dt, t_hi = std::ceil(tmax / dt) * dt;
  element_span span;
  span.start = grid_sample(std::floor(t_lo / dt));
  span.n = grid_sample((t_hi - t_lo) * plan.fs + 3);
  span.total = span.n;
  if (shaped) span.total = std::max(span.n + shaped->no_samples - 1, 0);  // a plain convolution
  check_span(plan, span.total);
  // The ramps lie inside the span: one sample before the earliest rise, two after the fall.
  ORVEL_ASSERT(span.n >= 3 && span.total >= 0);
  span.contributes = true;
  return span;
}

// Samples of work between two questions whether the job has stopped: a Ctrl-C is then seen
// within an element of many long windows and between many long elements, without the cost of
// a clock read per rectangle or element of a short response.
constexpr int64_t samples_per_poll = int64_t{1} << 22;

// Room around an element's samples in its buffer, so that the sums need no test per sample.
constexpr int32_t element_margin = 4;

// Values an element's buffer holds for n samples: the margin before, the samples, and as many
// again plus the margin after; then 3 spare values for the last group of four.
inline int32_t element_buffer_size(int32_t n) { return 2 * n + 2 * element_margin; }
constexpr int32_t element_spare = 3;

// One element's signal: the trapezoid of each rectangle integrated over the sample intervals
// centred on the grid times (differences of its running integral), scaled to the element's
// response. The samples lie at buffer[element_margin ..]. A window starts a sample or two
// before the rise, where the differences are 0, and may reach past the element's end, where
// the response keeps nothing: both land in the room around the samples, so no sample needs a
// test. increments holds n + 3 values. Returns at once, the buffer unfinished, when the job
// has stopped.
ORVEL_HOT void integrate_rectangles(const response_plan& plan, const stop_flag& stop, int32_t e,
                                    const ramp_lanes& r, const element_span& span,
                                    double* __restrict buffer, double* __restrict increments) {
  const double dt = 1 / plan.fs;
  const int32_t size = element_buffer_size(span.n);
  std::fill_n(buffer, size, 0.0);
  double* D = increments;
  const int32_t from = plan.first_rect[e], to = from + plan.ap->phys_elements[e].no_rects;
  // Adds rectangle j's part; returns the samples it took.
  auto add = [&](int32_t j) __attribute__((always_inline)) {
    const int32_t count = window_count(r.count[j], r.first[j], r.t4[j], dt, span.n);
    running_increments(r, j, count, dt, D);
    // Samples whose place lies outside the buffer hold nothing the response keeps.
    const int64_t place = int64_t{element_margin} + r.start[j] - span.start;
    const int32_t first = static_cast<int32_t>(std::clamp<int64_t>(-place, 0, count));
    const int32_t last = static_cast<int32_t>(std::clamp<int64_t>(size - place, first, count));
    double* out = buffer + place;
    const double w = plan.rects.weight[j] * plan.fs;
    // A window that ends on its own (not cut by the element's end) has reached F = 1, and the
    // increments past it are exactly 0: its last group of four may then run past it, into the
    // buffer's spare values.
    const bool settled = last == count && count < span.n;
    int32_t k = first;
    for (const int32_t end = settled ? last + 3 : last; k + 4 <= end; k += 4)
      lanes_at<lanes4>(out + k) += lanes_at<lanes4>(D + k) * w;
    for (; k < last; ++k) out[k] += D[k] * w;
    return count;
  };
  // An element whose windows may hold millions of samples asks whether the job has stopped
  // between runs of rectangles (no call sits in the loop that does the sums); the common short
  // element does not ask at all.
  if (int64_t{to - from} * span.n <= samples_per_poll) {
    for (int32_t j = from; j < to; ++j) add(j);
    return;
  }
  for (int32_t j = from; j < to;) {
    if (j > from && stop.stopped()) return;  // abandoned; the buffer is not used
    for (int64_t work = 0; j < to && work < samples_per_poll; ++j) work += add(j);
  }
}

}  // namespace

ORVEL_HOT void rect_arrival_terms(double c, int32_t n, const rect_element* rects, double offset,
                                  const point3& p, far_field_term* out) {
  for (int32_t j = 0; j < n; ++j) {
    const rect_element& r = rects[j];
    const double Dx = p[0] - r.center[0], Dy = p[1] - r.center[1], Dz = p[2] - r.center[2];
    const double dist = std::sqrt(Dx * Dx + Dy * Dy + Dz * Dz);
    const double ex = Dx / dist, ey = Dy / dist, ez = Dz / dist;
    far_field_term& f = out[j];
    if (dist == 0.0) {
      // A point at the rectangle's centre has no direction: taken as seen along the normal.
      f.u = 0.0;
      f.v = 0.0;
    } else if (r.tilted) {
      // The direction in the rectangle's own axes, rotated exactly.
      const double ur = r.cos_xz * ex + r.sin_xz * ez;
      const double zr = r.cos_xz * ez - r.sin_xz * ex;
      const double vr = r.sin_yz * zr + r.cos_yz * ey;
      const double zs = r.cos_yz * zr - r.sin_yz * ey;
      const double m = 1 / std::sqrt(ur * ur + vr * vr + zs * zs);
      f.u = ur * m;
      f.v = vr * m;
    } else {
      f.u = ex + r.tan_xz * ez;
      f.v = ey + r.tan_yz * ez;
    }
    f.weight = r.width * r.height * r.apodization;
    f.tc = dist / c + offset + r.delay;
  }
}

void sort_ascending(int32_t n, double* v) {
  heap_sort(
      n, [v](int32_t a, int32_t b) { return v[a] < v[b]; },
      [v](int32_t a, int32_t b) { std::swap(v[a], v[b]); });
}

bool rect_response(const response_plan& plan, response_workspace& ws, const point3& p,
                   int32_t only_element) {
  const aperture_rec& ap = *plan.ap;
  const int32_t first = only_element >= 0 ? only_element : 0;
  const int32_t last = only_element >= 0 ? only_element + 1 : ap.no_phys_elements;
  focus_and_apodization(ap, plan.c, p, first, last, ws.delay.data(), ws.apodization.data());

  // Where each contributing element's response lies, and the span of their sum.
  int64_t lo = 0, hi = 0;
  bool any = false;
  for (int32_t e = first; e < last; ++e) {
    const phys_element& pe = ap.phys_elements[e];
    element_span& span = ws.spans[e];
    span.contributes = ws.apodization[e] != 0.0 && pe.no_rects != 0;
    if (!span.contributes) continue;
    span = element_ramps(plan, e, ws.delay[e], p, plan.accurate_time_calc,
                         planned_waveform(plan, pe), ws.ramps);
    lo = any ? std::min<int64_t>(lo, span.start) : span.start;
    hi = std::max<int64_t>(any ? hi : 0, int64_t{span.start} + span.total);
    any = true;
  }
  if (!any) return false;
  check_span(plan, hi - lo);
  ws.out.assign_zero(grid_sample(static_cast<double>(lo)),
                     grid_sample(static_cast<double>(hi - lo)));

  // Each element's signal, weighted and shaped, added into the sum in element order.
  int64_t work = 0;
  for (int32_t e = first; e < last; ++e) {
    const element_span& span = ws.spans[e];
    if (!span.contributes) continue;
    work += span.total;
    if (work > samples_per_poll) {
      if (ws.stop.stopped()) break;  // abandoned; the sum is not used
      work = 0;
    }
    const phys_element& pe = ap.phys_elements[e];
    double* buffer = scratch_of(ws.element, element_buffer_size(span.n) + element_spare);
    integrate_rectangles(plan, ws.stop, e, ws.ramps, span, buffer,
                         scratch_of(ws.running, span.n + 3));
    double* element = buffer + element_margin;
    weight_element(plan, span.start, span.n, element, ws.delay[e], ws.apodization[e], p[2]);
    const double* signal = element;
    if (const signal_rec* w = planned_waveform(plan, pe)) {
      double* shaped = scratch_of(ws.shaped, span.total);
      convolve_plain(element, span.n, w->data.data(), w->no_samples, shaped, ws.stop);
      signal = shaped;
    }
    ORVEL_ASSERT(span.start >= ws.out.start &&
                 int64_t{span.start} + span.total <= int64_t{ws.out.start} + ws.out.n);
    double* out = ws.out.data() + (span.start - ws.out.start);
    for (int32_t k = 0; k < span.total; ++k) out[k] += signal[k];
  }
  return true;
}

bool rect_element_response(const response_plan& plan, response_workspace& ws, int32_t e,
                           const point3& p) {
  const aperture_rec& ap = *plan.ap;
  const phys_element& pe = ap.phys_elements[e];
  if (pe.no_rects == 0) return false;
  const signal_rec* shaped = element_waveform(pe);
  const element_span span = element_ramps(plan, e, 0.0, p, false, shaped, ws.ramps);
  double* buffer = scratch_of(ws.element, element_buffer_size(span.n) + element_spare);
  integrate_rectangles(plan, ws.stop, e, ws.ramps, span, buffer,
                       scratch_of(ws.running, span.n + 3));
  double* element = buffer + element_margin;
  weight_single_element(plan, span.start, span.n, element, p[2]);
  ws.out.assign_zero(span.start, span.total);
  if (shaped)
    convolve_plain(element, span.n, shaped->data.data(), shaped->no_samples, ws.out.data(),
                   ws.stop);
  else
    std::copy_n(element, span.n, ws.out.data());
  return true;
}

signal_ptr rect_response(sys_con& sys, const aperture_rec& ap, const point3& p, bool waveforms) {
  const response_plan plan = plan_response(sys, ap, waveforms);
  response_workspace ws(plan);
  if (!rect_response(plan, ws, p)) return signal_ptr();
  signal_ptr s = alloc_signal(sys, ws.out.n, ws.out.start);
  std::copy_n(ws.out.data(), ws.out.n, s->data.begin());
  return s;
}
