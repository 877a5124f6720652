#include "calculation/rect_response.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "core/sys_con.h"
#include "core/errors.h"
#include "signals/signal_arith.h"

namespace {
constexpr double two_pi = 2.0 * std::numbers::pi;
// att [dB/m] to nepers per unit of 2 pi r: ln(10) / 20 / (2 pi).
constexpr double neper_per_two_pi_metre = 0.018323389972033078;

// A time on the sample grid as a 32-bit sample index; a response beyond the grid's reach (a
// point at an absurd distance) ends the command instead of overflowing.
int32_t grid_sample(double x) {
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
  m.a = std::fmin(A, B);
  m.b = std::fmax(A, B);
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

// 1/(2 pi r) spreading, with the obliquity z / r of a soft baffle and the frequency
// independent attenuation, at the distance travelled at each sample's time.
template <bool soft, bool attenuate>
void weight_by_distance(const sys_con& sys, signal_rec& s, double delay, double apodization,
                        double z) {
  const double step = two_pi * sys.c / sys.fs;
  const double kappa = -sys.att * neper_per_two_pi_metre;
  double rho = two_pi * sys.c * (s.start_sample / sys.fs - delay);
  const double guard = two_pi * sys.c / (100 * sys.fs);  // 2 pi times a hundredth sample's path
  if (rho == 0.0) rho = guard;
  for (int32_t k = 0; k < s.no_samples; ++k) {
    // rho passes through zero only where the element starts before its focusing delay; such a
    // sample gets the guard too, so that no division by zero enters the signal.
    const double r = rho == 0.0 ? guard : rho;
    double v = s.data[k] * apodization / r;
    if constexpr (soft) v = v * z * two_pi / r;
    if constexpr (attenuate) v *= std::exp(kappa * r);
    s.data[k] = v;
    rho += step;
  }
}

void weight_element(const sys_con& sys, const aperture_rec& ap, signal_rec& s, double delay,
                    double apodization, double z) {
  if (ap.soft_baffle) {
    if (sys.use_att)
      weight_by_distance<true, true>(sys, s, delay, apodization, z);
    else
      weight_by_distance<true, false>(sys, s, delay, apodization, z);
  } else {
    if (sys.use_att)
      weight_by_distance<false, true>(sys, s, delay, apodization, z);
    else
      weight_by_distance<false, false>(sys, s, delay, apodization, z);
  }
}
}  // namespace

void focus_and_apodization(const sys_con& sys, const aperture_rec& ap, const point3& p,
                           double* delay, double* apodization) {
  const size_t n = static_cast<size_t>(ap.no_phys_elements);
  if (ap.single_focus)
    for (size_t e = 0; e < n; ++e) delay[e] = ap.focus_line[0].delays[e];
  if (ap.single_apod)
    for (size_t e = 0; e < n; ++e) apodization[e] = ap.apod_line[0].values[e];
  if (ap.single_focus && ap.single_apod) return;
  for (size_t e = 0; e < n; ++e) {
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

void rect_arrival_terms(const sys_con& sys, int32_t n, const rect_element* rects, double offset,
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
    f.tc = dist / sys.c + offset + r.delay;
  }
}

void trapezoid_integral(const sys_con& sys, const ramp_record& m, double dt, signal_rec& scratch) {
  const int32_t S = grid_sample(std::floor(m.t1 * sys.fs) - 1);
  auto t_at = [&](int32_t i) { return S * dt + dt / 2 + i * dt; };  // midpoint of sample i
  // +2: the sample before the rise and the one past the fall. When the rise starts in the
  // second half of its sample, that window ends before the fall does; it is then extended to
  // the first midpoint at or past t4, so that F reaches 1 and the whole area is delivered.
  const int32_t room = static_cast<int32_t>(scratch.data.size());
  int32_t count = grid_sample(std::ceil((m.t4 - m.t1) * sys.fs + 2));
  while (count > 0 && count < room && t_at(count - 1) < m.t4) ++count;
  if (count > room) count = room;
  if (count < 0) count = 0;
  scratch.start_sample = S;
  scratch.no_samples = count;
  double g = 0.0, h = 0.0;
  if (m.b != 0.0) {
    g = 1 / m.b;
    if (m.a != 0.0) h = 1 / (2 * m.a * m.b);
  }
  double* F = scratch.data.data();
  int32_t k = 0;
  for (; k < count && t_at(k) < m.t1; ++k) F[k] = 0.0;
  for (; k < count && t_at(k) < m.t2; ++k) {
    const double d = t_at(k) - m.t1;
    F[k] = d * d * h;
  }
  for (; k < count && t_at(k) < m.t3; ++k) F[k] = (t_at(k) - m.t2 + m.a / 2) * g;
  for (; k < count && t_at(k) < m.t4; ++k) {
    const double d = t_at(k) - m.t4;
    F[k] = 1 - d * d * h;
  }
  for (; k < count; ++k) F[k] = 1.0;
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

signal_ptr rect_response(sys_con& sys, const aperture_rec& ap, const point3& p) {
  const size_t n = static_cast<size_t>(ap.no_phys_elements);
  std::vector<double> delay(n), apodization(n);
  focus_and_apodization(sys, ap, p, delay.data(), apodization.data());
  size_t most = 0;
  for (const phys_element& e : ap.phys_elements) most = std::max(most, e.rects.size());
  std::vector<far_field_term> terms(most);
  std::vector<ramp_record> ramps(most);
  const double dt = 1 / sys.fs;

  signal_ptr result;
  for (size_t e = 0; e < n; ++e) {
    const phys_element& pe = ap.phys_elements[e];
    if (apodization[e] == 0.0 || pe.no_rects == 0) continue;
    const int32_t nr = pe.no_rects;
    rect_arrival_terms(sys, nr, pe.rects.data(), delay[e], p, terms.data());
    double tmin = 0.0, tmax = 0.0;
    for (int32_t j = 0; j < nr; ++j) {
      ramps[j] = sys.accurate_time_calc ? corner_ramp(sys, pe.rects[j], p, delay[e])
                                        : default_ramp(sys, pe.rects[j], terms[j]);
      if (j == 0 || ramps[j].t1 < tmin) tmin = ramps[j].t1;
      if (j == 0 || ramps[j].t4 > tmax) tmax = ramps[j].t4;
    }
    // The element's span on the grid, one sample before and two after the ramps (+3).
    const double t_lo = std::floor(tmin / dt) * dt, t_hi = std::ceil(tmax / dt) * dt;
    const int32_t N = grid_sample((t_hi - t_lo) * sys.fs + 3);
    signal_ptr element = alloc_signal(sys, N, grid_sample(std::floor(t_lo / dt)));
    signal_ptr scratch = alloc_signal(sys, N, 0);
    for (int32_t j = 0; j < nr; ++j) {
      trapezoid_integral(sys, ramps[j], dt, *scratch);
      // The trapezoid's integral over each sample interval, scaled to the element's response.
      const int32_t off = scratch->start_sample - element->start_sample;
      const double w = terms[j].weight * sys.fs;
      const double* F = scratch->data.data();
      for (int32_t k = 0; k < scratch->no_samples; ++k) {
        const int32_t target = off + k;
        if (target < 0 || target >= element->no_samples) continue;
        element->data[target] += (F[k] - (k > 0 ? F[k - 1] : 0.0)) * w;
      }
    }
    weight_element(sys, ap, *element, delay[e], apodization[e], p[2]);
    if (pe.has_waveform && sys.last_calc_type >= 1) {
      signal_ptr shaped = convolve_direct(sys, *element, *pe.waveform);
      free_signal(sys, element);
      element = std::move(shaped);
    }
    free_signal(sys, scratch);
    if (!result) {
      result = std::move(element);
    } else {
      add_signal(sys, *element, result);
      free_signal(sys, element);
    }
  }
  return result;
}
