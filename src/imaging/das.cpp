// Delay-and-sum image formation: per point, the receive weights and times of flight of every
// element once, the arrival of every transmit once, then the interpolated samples summed over
// the transmits and, within each, over the elements in order.
#include "imaging/das.h"

#include <cmath>

#include "core/check.h"

namespace {
constexpr double pi = 3.141592653589793;
constexpr int64_t point_grain = 64;  // points handed to a thread at a time

double distance(const das_point& a, const das_point& b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// The window at r = l / a in [0, 1).
double window_at(const das_setup& s, double r) {
  switch (s.window) {
    case das_window::hann:
      return 0.5 + 0.5 * std::cos(pi * r);
    case das_window::tukey: {
      const double flat = 1 - s.tukey_alpha;
      return r <= flat ? 1.0 : 0.5 + 0.5 * std::cos(pi * (r - flat) / s.tukey_alpha);
    }
    case das_window::boxcar:
      break;
  }
  return 1.0;
}

// Arrival time of transmit x's wave at p [s].
double arrival(const das_transmit& x, const das_point& p, double c) {
  switch (x.wave) {
    case das_wave::plane: {
      const double ax = x.source[0], ay = x.source[1];
      const double u[3] = {std::sin(ax) * std::cos(ay), std::sin(ay), std::cos(ax) * std::cos(ay)};
      return x.t_ref + (u[0] * p[0] + u[1] * p[1] + u[2] * p[2]) / c;
    }
    case das_wave::focused: {
      const das_point& s = x.source;
      const double ahead = (p[0] - s[0]) * (s[0] - x.origin[0]) +
                           (p[1] - s[1]) * (s[1] - x.origin[1]) +
                           (p[2] - s[2]) * (s[2] - x.origin[2]);
      return x.t_ref + (ahead < 0 ? -1.0 : 1.0) * distance(p, s) / c;
    }
    case das_wave::diverging:
    case das_wave::element:
      break;
  }
  return x.t_ref + distance(p, x.source) / c;
}

// Sample s (in samples from the first) of a signal of n samples, 0 outside [0, n - 1].
double sample_at(const das_setup& st, const double* v, int64_t n, double s) {
  if (!(s >= 0 && s <= static_cast<double>(n - 1))) return 0.0;
  const int64_t i = static_cast<int64_t>(s);
  const double f = s - static_cast<double>(i);
  auto at = [&](int64_t k) { return k >= 0 && k < n ? v[k] : 0.0; };
  if (st.interpolation == das_interpolation::linear) return at(i) * (1 - f) + at(i + 1) * f;
  // Keys' cubic convolution kernel, a = -0.5.
  const double f2 = f * f, f3 = f2 * f;
  return at(i - 1) * (-0.5 * f3 + f2 - 0.5 * f) + at(i) * (1.5 * f3 - 2.5 * f2 + 1) +
         at(i + 1) * (-1.5 * f3 + 2 * f2 + 0.5 * f) + at(i + 2) * (0.5 * f3 - 0.5 * f2);
}

struct point_scratch {
  std::vector<double> weight, flight, arrive;
};
}  // namespace

void das_image(worker_team& team, const das_setup& s, const double* rf, int64_t samples,
               const std::vector<das_point>& elements, const std::vector<das_transmit>& transmits,
               const std::vector<das_point>& points, double* out,
               const worker_team::wait_fn& waiting) {
  const size_t R = elements.size(), T = transmits.size(), P = points.size();
  ORVEL_ASSERT(R >= 1 && T >= 1 && s.fs > 0 && s.c > 0 && s.f_number > 0);
  std::vector<point_scratch> scratch(static_cast<size_t>(team.size()));
  for (point_scratch& w : scratch) {
    w.weight.resize(R);
    w.flight.resize(R);
    w.arrive.resize(T);
  }
  team.run(
      static_cast<int64_t>(P), point_grain,
      [&](int64_t i, int32_t worker) {
        point_scratch& w = scratch[static_cast<size_t>(worker)];
        const das_point& p = points[static_cast<size_t>(i)];
        // Receive weights; the laterally nearest element alone where none weighs anything.
        bool any = false;
        size_t nearest = 0;
        double nearest_l = INFINITY;
        for (size_t e = 0; e < R; ++e) {
          const das_point& q = elements[e];
          const double l = std::hypot(p[0] - q[0], p[1] - q[1]);
          const double a = (p[2] - q[2]) / (2 * s.f_number);
          w.weight[e] = a > 0 && l < a ? window_at(s, l / a) : 0.0;
          any = any || w.weight[e] > 0;
          if (l < nearest_l) nearest_l = l, nearest = e;
        }
        if (!any) w.weight[nearest] = 1.0;
        for (size_t e = 0; e < R; ++e)
          if (w.weight[e] > 0) w.flight[e] = distance(p, elements[e]) / s.c;
        for (size_t t = 0; t < T; ++t) w.arrive[t] = arrival(transmits[t], p, s.c);

        double total = 0.0;
        for (size_t t = 0; t < T; ++t) {
          double sum = 0.0;
          const double* column = rf + static_cast<int64_t>(t * R) * samples;
          for (size_t e = 0; e < R; ++e, column += samples) {
            if (!(w.weight[e] > 0)) continue;
            const double at = (w.arrive[t] + w.flight[e] + s.lag - s.t0) * s.fs;
            sum += w.weight[e] * sample_at(s, column, samples, at);
          }
          if (s.per_transmit)
            out[static_cast<size_t>(i) + P * t] = sum;
          else
            total += sum;
        }
        if (!s.per_transmit) out[i] = total;
      },
      waiting);
}
