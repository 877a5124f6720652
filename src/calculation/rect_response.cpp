#include "calculation/rect_response.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "core/errors.h"
#include "core/hot.h"
#include "core/lanes.h"
#include "core/sys_con.h"
#include "signals/signal_arith.h"

namespace {
constexpr double two_pi = 2.0 * std::numbers::pi;
// att [dB/m] to nepers per unit of 2 pi r: ln(10) / 20 / (2 pi).
constexpr double neper_per_two_pi_metre = 0.018323389972033078;

// A time on the sample grid as a 32-bit sample index; a response beyond the grid's reach (a
// point at an absurd distance) ends the command instead of overflowing.
inline int32_t grid_sample(double x) {
  if (!(x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max()))
    throw command_error(
        "Error: The response at this field point lies beyond the reach of the time grid");
  return static_cast<int32_t>(x);
}

double distance(const point3& a, const point3& b) {
  const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The entry in force at time te: from the first entry, move on while the next switches earlier.
template <class Entry>
const Entry& entry_at(const std::vector<Entry>& line, double te) {
  size_t k = 0;
  while (k + 1 < line.size() && te > line[k + 1].time) ++k;
  return line[k];
}

ramp_record default_ramp(const sys_con& sys, const rect_element& r, const far_field_term& f) {
  const double A = std::fabs(r.width * f.u / sys.c), B = std::fabs(r.height * f.v / sys.c);
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
ramp_record corner_ramp(const sys_con& sys, const rect_element& r, const point3& p, double delay) {
  double t[4];
  for (int k = 0; k < 4; ++k) t[k] = distance(r.corners[k], p) / sys.c + delay + r.delay;
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

inline trapezoid_window window_of(const sys_con& sys, const ramp_record& m, double dt,
                                  int32_t room) {
  trapezoid_window w;
  w.start = grid_sample(std::floor(m.t1 * sys.fs) - 1);
  w.first = w.start * dt + dt / 2;
  auto t_at = [&](int32_t i) { return w.first + i * dt; };  // midpoint of sample i
  // +2: the sample before the rise and the one past the fall. When the rise starts in the
  // second half of its sample, that window ends before the fall does; it is then extended to
  // the first midpoint at or past t4, so that F reaches 1 and the whole area is delivered.
  int32_t count = grid_sample(std::ceil((m.t4 - m.t1) * sys.fs + 2));
  while (count > 0 && count < room && t_at(count - 1) < m.t4) ++count;
  if (count > room) count = room;
  if (count < 0) count = 0;
  w.count = count;
  w.g = 0.0;
  w.h = 0.0;
  if (m.b != 0.0) {
    w.g = 1 / m.b;
    if (m.a != 0.0) w.h = 1 / (2 * m.a * m.b);
  }
  return w;
}

// The running integral of the unit-area trapezoid at time t: 0 before the rise, a parabola on
// the rise, linear on the flat part, a parabola to 1 on the fall, then 1. Samples are taken at
// increasing times, so this is the phase the sample falls in.
inline double running_value(const ramp_record& m, const trapezoid_window& w, double t) {
  if (t < m.t1) return 0.0;
  if (t < m.t2) {
    const double d = t - m.t1;
    return d * d * w.h;
  }
  if (t < m.t3) return (t - m.t2 + m.a / 2) * w.g;
  if (t < m.t4) {
    const double d = t - m.t4;
    return 1 - d * d * w.h;
  }
  return 1.0;
}

// D[k] = F(k) - F(k - 1), F(-1) = 0, the increments of the running integral over the window's
// samples k = 0 .. count - 1, and up to three values past them (D has room for them). The
// previous lanes' last value is carried in a register rather than read back from memory.
inline void running_increments(const ramp_record& m, const trapezoid_window& w, double dt,
                               double* D) {
  const lanes4 zero = {0, 0, 0, 0}, one = {1, 1, 1, 1};
  lanes4 before = zero;  // lane 3 holds F(k - 1)
  for (int32_t k = 0; k < w.count; k += 4) {
    const lanes4 index = {static_cast<double>(k), static_cast<double>(k + 1),
                          static_cast<double>(k + 2), static_cast<double>(k + 3)};
    const lanes4 t = w.first + index * dt;
    const lanes4 d1 = t - m.t1, d4 = t - m.t4;
    const lanes4 rise = d1 * d1 * w.h;
    const lanes4 flat = (t - m.t2 + m.a / 2) * w.g;
    const lanes4 fall = 1 - d4 * d4 * w.h;
    lanes4 F = t < m.t4 ? fall : one;
    F = t < m.t3 ? flat : F;
    F = t < m.t2 ? rise : F;
    F = t < m.t1 ? zero : F;
    const lanes4 previous = __builtin_shuffle(before, F, lane_index4{3, 4, 5, 6});
    lanes_at<lanes4>(D + k) = F - previous;
    before = F;
  }
}

// 1/(2 pi r) spreading, with the obliquity z / r of a soft baffle and the frequency
// independent attenuation, at the distance travelled at each sample's time.
template <bool soft, bool attenuate>
void weight_by_distance(const sys_con& sys, int32_t start, int32_t n, double* s, double delay,
                        double apodization, double z) {
  const double step = two_pi * sys.c / sys.fs;
  const double kappa = -sys.att * neper_per_two_pi_metre;
  double rho = two_pi * sys.c * (start / sys.fs - delay);
  const double guard = two_pi * sys.c / (100 * sys.fs);  // 2 pi times a hundredth sample's path
  if (rho == 0.0) rho = guard;
  for (int32_t k = 0; k < n; ++k) {
    // rho passes through zero only where the element starts before its focusing delay; such a
    // sample gets the guard too, so that no division by zero enters the signal.
    const double r = rho == 0.0 ? guard : rho;
    double v = s[k] * apodization / r;
    if constexpr (soft) v = v * z * two_pi / r;
    if constexpr (attenuate) v *= std::exp(kappa * r);
    s[k] = v;
    rho += step;
  }
}

ORVEL_HOT void weight_element(const response_plan& plan, int32_t start, int32_t n, double* s,
                              double delay, double apodization, double z) {
  const sys_con& sys = *plan.sys;
  if (plan.ap->soft_baffle) {
    if (plan.use_att)
      weight_by_distance<true, true>(sys, start, n, s, delay, apodization, z);
    else
      weight_by_distance<true, false>(sys, start, n, s, delay, apodization, z);
  } else {
    if (plan.use_att)
      weight_by_distance<false, true>(sys, start, n, s, delay, apodization, z);
    else
      weight_by_distance<false, false>(sys, start, n, s, delay, apodization, z);
  }
}

// A buffer of at least n values; grows only when a response is longer than planned.
double* room_for(std::vector<double>& v, int32_t n) {
  if (v.size() < static_cast<size_t>(n)) v.resize(static_cast<size_t>(n));
  return v.data();
}

bool waveform_applies(const response_plan& plan, const phys_element& pe) {
  return plan.waveforms && pe.has_waveform && pe.waveform;
}

// Far-field terms and ramps of one element's rectangles, and where its response lies on the
// grid: one sample before and two after the ramps (+3), and the waveform's length beyond.
ORVEL_HOT element_span element_ramps(const response_plan& plan, const phys_element& pe,
                                     double delay, const point3& p, far_field_term* terms,
                                     ramp_record* ramps) {
  const sys_con& sys = *plan.sys;
  const int32_t nr = pe.no_rects;
  rect_arrival_terms(sys, nr, pe.rects.data(), delay, p, terms);
  double tmin = 0.0, tmax = 0.0;
  for (int32_t j = 0; j < nr; ++j) {
    ramps[j] = plan.accurate_time_calc ? corner_ramp(sys, pe.rects[j], p, delay)
                                       : default_ramp(sys, pe.rects[j], terms[j]);
    if (j == 0 || ramps[j].t1 < tmin) tmin = ramps[j].t1;
    if (j == 0 || ramps[j].t4 > tmax) tmax = ramps[j].t4;
  }
  const double dt = 1 / sys.fs;
  const double t_lo = std::floor(tmin / dt) * dt, t_hi = std::ceil(tmax / dt) * dt;
  element_span span;
  span.start = grid_sample(std::floor(t_lo / dt));
  span.n = grid_sample((t_hi - t_lo) * sys.fs + 3);
  span.total = span.n;
  if (waveform_applies(plan, pe))
    span.total = std::max(span.n + pe.waveform->no_samples - 1, 0);  // a plain convolution
  span.contributes = true;
  return span;
}

// Room around an element's samples in its buffer, so that the sums need no test per sample.
constexpr int32_t element_margin = 4;

// Values an element's buffer holds for n samples: the margin before, the samples, and as many
// again plus the margin after.
inline int32_t element_buffer_size(int32_t n) { return 2 * n + 2 * element_margin; }

// One element's signal: the trapezoid of each rectangle integrated over the sample intervals
// centred on the grid times (differences of its running integral), scaled to the element's
// response. The samples lie at buffer[element_margin ..]. A window starts a sample or two
// before the rise, where the differences are 0, and may reach past the element's end, where
// the response keeps nothing: both land in the room around the samples, so no sample needs a
// test. increments holds n + 3 values.
ORVEL_HOT void integrate_rectangles(const response_plan& plan, int32_t nr,
                                    const far_field_term* terms, const ramp_record* ramps,
                                    const element_span& span, double* __restrict buffer,
                                    double* __restrict increments) {
  const sys_con& sys = *plan.sys;
  const double dt = 1 / sys.fs;
  const int32_t size = element_buffer_size(span.n);
  std::fill_n(buffer, size, 0.0);
  double* D = increments;
  for (int32_t j = 0; j < nr; ++j) {
    const ramp_record m = ramps[j];
    const trapezoid_window win = window_of(sys, m, dt, span.n);
    running_increments(m, win, dt, D);
    // Samples whose place lies outside the buffer hold nothing the response keeps.
    const int64_t place = int64_t{element_margin} + win.start - span.start;
    const int32_t first = static_cast<int32_t>(std::clamp<int64_t>(-place, 0, win.count));
    const int32_t last = static_cast<int32_t>(std::clamp<int64_t>(size - place, first, win.count));
    double* out = buffer + place;
    const double w = terms[j].weight * sys.fs;
    int32_t k = first;
    for (; k + 4 <= last; k += 4) lanes_at<lanes4>(out + k) += lanes_at<lanes4>(D + k) * w;
    for (; k < last; ++k) out[k] += D[k] * w;
  }
}
}  // namespace

void focus_and_apodization(const sys_con& sys, const aperture_rec& ap, const point3& p,
                           double* delay, double* apodization) {
  focus_and_apodization(sys, ap, p, 0, ap.no_phys_elements, delay, apodization);
}

void focus_and_apodization(const sys_con& sys, const aperture_rec& ap, const point3& p,
                           int32_t first, int32_t last, double* delay, double* apodization) {
  if (ap.single_focus)
    for (int32_t e = first; e < last; ++e) delay[e] = ap.focus_line[0].delays[e];
  if (ap.single_apod)
    for (int32_t e = first; e < last; ++e) apodization[e] = ap.apod_line[0].values[e];
  if (ap.single_focus && ap.single_apod) return;
  for (int32_t e = first; e < last; ++e) {
    const point3& centre = ap.phys_elements[e].center;
    const double te = distance(p, centre) / sys.c;  // time of flight from the element
    if (!ap.single_focus) {
      const focus_entry& f = entry_at(ap.focus_line, te);
      if (f.dynamic) {
        // The focus lies on the steering line at the distance travelled in te.
        const double R = te * sys.c;
        const point3 d = {std::sin(f.angle_xz) * std::cos(f.angle_yz), std::sin(f.angle_yz),
                          std::cos(f.angle_xz) * std::cos(f.angle_yz)};
        const point3& ref = ap.ref_point;
        const point3 focus = {ref[0] + R * d[0], ref[1] + R * d[1], ref[2] + R * d[2]};
        double t = distance(focus, ref) / sys.c - distance(centre, focus) / sys.c;
        if (ap.quantize) t = std::floor(t / ap.quant_step + 0.5) * ap.quant_step;
        delay[e] = t;
      } else {
        delay[e] = f.delays[e];
      }
    }
    if (!ap.single_apod) apodization[e] = entry_at(ap.apod_line, te).values[e];
  }
}

ORVEL_HOT void rect_arrival_terms(const sys_con& sys, int32_t n, const rect_element* rects,
                                  double offset, const point3& p, far_field_term* out) {
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
    f.tc = dist / sys.c + offset + r.delay;
  }
}

int32_t running_integral(const sys_con& sys, const ramp_record& m, double dt, int32_t room,
                         double* F, int32_t* start) {
  const trapezoid_window w = window_of(sys, m, dt, room);
  *start = w.start;
  for (int32_t k = 0; k < w.count; ++k) F[k] = running_value(m, w, w.first + k * dt);
  return w.count;
}

void trapezoid_integral(const sys_con& sys, const ramp_record& m, double dt, signal_rec& scratch) {
  const int32_t room = static_cast<int32_t>(scratch.data.size());
  scratch.no_samples =
      running_integral(sys, m, dt, room, scratch.data.data(), &scratch.start_sample);
}

void sort_ascending(int32_t n, double* v) {
  // Heap sort: build a max-heap, then move the largest to the end one by one.
  auto sift_down = [v](int32_t root, int32_t end) {
    while (2 * root + 1 < end) {
      int32_t child = 2 * root + 1;
      if (child + 1 < end && v[child] < v[child + 1]) ++child;
      if (!(v[root] < v[child])) return;
      std::swap(v[root], v[child]);
      root = child;
    }
  };
  for (int32_t start = n / 2 - 1; start >= 0; --start) sift_down(start, n);
  for (int32_t end = n - 1; end > 0; --end) {
    std::swap(v[0], v[end]);
    sift_down(0, end);
  }
}

bool rect_response(const response_plan& plan, response_workspace& ws, const point3& p,
                   int32_t only_element) {
  const aperture_rec& ap = *plan.ap;
  const int32_t first = only_element >= 0 ? only_element : 0;
  const int32_t last = only_element >= 0 ? only_element + 1 : ap.no_phys_elements;
  focus_and_apodization(*plan.sys, ap, p, first, last, ws.delay.data(), ws.apodization.data());

  // Where each contributing element's response lies, and the span of their sum.
  int64_t lo = 0, hi = 0;
  bool any = false;
  for (int32_t e = first; e < last; ++e) {
    const phys_element& pe = ap.phys_elements[e];
    element_span& span = ws.spans[e];
    span.contributes = ws.apodization[e] != 0.0 && pe.no_rects != 0;
    if (!span.contributes) continue;
    const int32_t r = plan.first_rect[e];
    span = element_ramps(plan, pe, ws.delay[e], p, &ws.terms[r], &ws.ramps[r]);
    lo = any ? std::min<int64_t>(lo, span.start) : span.start;
    hi = std::max<int64_t>(any ? hi : 0, int64_t{span.start} + span.total);
    any = true;
  }
  if (!any) return false;
  ws.out.assign_zero(grid_sample(static_cast<double>(lo)),
                     grid_sample(static_cast<double>(hi - lo)));

  // Each element's signal, weighted and shaped, added into the sum in element order.
  for (int32_t e = first; e < last; ++e) {
    const element_span& span = ws.spans[e];
    if (!span.contributes) continue;
    const phys_element& pe = ap.phys_elements[e];
    const int32_t r = plan.first_rect[e];
    double* buffer = room_for(ws.element, element_buffer_size(span.n));
    integrate_rectangles(plan, pe.no_rects, &ws.terms[r], &ws.ramps[r], span, buffer,
                         room_for(ws.running, span.n + 3));
    double* element = buffer + element_margin;
    weight_element(plan, span.start, span.n, element, ws.delay[e], ws.apodization[e], p[2]);
    const double* signal = element;
    if (waveform_applies(plan, pe)) {
      double* shaped = room_for(ws.shaped, span.total);
      convolve_plain(element, span.n, pe.waveform->data.data(), pe.waveform->no_samples, shaped);
      signal = shaped;
    }
    double* out = ws.out.data() + (span.start - ws.out.start);
    for (int32_t k = 0; k < span.total; ++k) out[k] += signal[k];
  }
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
  const double extent = distance(low, high);
  const double samples = ((extent + ramps) / sys.c + (last_delay - first_delay)) * sys.fs + 6;
  constexpr double most = 1 << 20;  // beyond this the buffers grow when a point needs it
  return samples < most ? static_cast<int32_t>(samples) : static_cast<int32_t>(most);
}
