// Time integrals of the angle functions of the triangle and line-element responses over
// intervals of at most one sampling interval: a three-point rule for very short intervals (or
// always, with fast integration), otherwise the trapezoid rule with successive halving of the
// step, extrapolated to step zero with POLINT, raising the extrapolation order from 2 to 9 until
// the estimate converges to 0.1 %.
#pragma once

#include <cmath>
#include <cstdint>

// What the integrations depend on besides the integrand.
struct element_grid {
  double c;                          // speed of sound [m/s]
  double fs;                         // sampling frequency [Hz]
  bool fast_integration;             // the three-point rule for every interval
  int64_t most_samples = INT64_MAX;  // longest response the calculation can work with
};

// Refuses a response of n samples beyond g.most_samples before its buffer is taken: a triangle
// or line element reaching kilometres would ask for gigabytes (and take hours of integrals).
void check_element_span(const element_grid& g, double n);

// The value y at x of the polynomial of degree n - 1 through (xa[i], ya[i]), i = 0 .. n - 1
// (n at most 11), and the last correction dy as its error estimate. The tables of differences
// are kept in single precision.
void POLINT(const double* xa, const double* ya, int n, double x, double& y, double& dy);

namespace integration_detail {
constexpr int lowest_order = 2, highest_order = 9, most_stages = 15;

// The diagnostics of an integral that did not converge, ss and dss its last estimate and error.
// triangles: the text and the pause of the triangle response, else those of line elements.
void report_failure(bool triangles, double a, double b, double step, double ss, double dss);
// The pause after a failed triangle integral: never blocks when there is no console input, and
// never reads on a helper thread (whose prompt the console shows only afterwards).
void pause_after_failure();

// The Romberg scheme over [a, b]; first(a, b) gives the first trapezoid's two end values summed,
// f(t) the values of the later stages; converged(ss, dss) is the success test.
template <class First, class F, class Converged>
bool romberg(double a, double b, First first, F f, Converged converged, double& ss, double& dss,
             double& step) {
  for (int K = lowest_order; K <= highest_order; ++K) {
    double s[most_stages + 2], hs[most_stages + 2];
    hs[1] = 1.0;
    int n = 1;
    double sum_s = 0.0;
    for (int j = 1; j <= most_stages; ++j) {
      if (j == 1) {
        sum_s = (b - a) / 2 * first(a, b);
      } else {
        const double delta = (b - a) / n;
        step = delta;
        double x = a + delta / 2, sum = 0.0;
        for (int i = 0; i < n; ++i, x += delta) sum += f(x);
        sum_s = (sum_s + (b - a) * sum / n) / 2;
        n = 2 * n;
      }
      s[j] = sum_s;
      if (j >= K) {
        POLINT(&hs[j - K + 1], &s[j - K + 1], K, 0.0, ss, dss);
        if (converged(ss, dss)) return true;
      }
      s[j + 1] = s[j];
      hs[j + 1] = hs[j] / 4;
    }
  }
  return false;
}

inline bool short_interval(double a, double b, double fs) { return b - a < 0.05 / fs; }
}  // namespace integration_detail

// The integral of f(t) from a to b (the crossing angle of a sub-triangle edge). On failure the
// diagnostics are printed, the console pauses, and the last estimate is returned.
template <class F>
double integrate_angle(const element_grid& g, F&& f, double a, double b) {
  using namespace integration_detail;
  if (short_interval(a, b, g.fs) || g.fast_integration) {
    const double m = (a + b) / 2;
    const double fm = f(m), fa = f(a), fb = f(b);
    return (b - a) / 4 * (fa + 2 * fm + fb);
  }
  double ss = 0.0, dss = 0.0, step = b - a;
  auto first = [&f](double x, double y) {
    const double fa = f(x);
    return fa + f(y);
  };
  auto converged = [](double v, double e) { return std::fabs(v) * 0.001 > std::fabs(e) || v == 0; };
  if (!romberg(a, b, first, f, converged, ss, dss, step)) {
    report_failure(true, a, b, step, ss, dss);
    pause_after_failure();
  }
  return ss;
}

// The integral of f(t, recompute) from a to b (the inside angle of a line element, whose arcs
// are found anew where recompute is set and reused otherwise). disc: the interval starts at a
// discontinuity, so its first evaluations recompute. On failure the diagnostics are printed,
// then listing() (the element's own), and the last estimate is returned.
template <class F, class L>
double integrate_inside_angle(const element_grid& g, F&& f, double a, double b, int disc,
                              L&& listing) {
  using namespace integration_detail;
  const double m = (a + b) / 2;
  if (short_interval(a, b, g.fs) || g.fast_integration) {
    const double fa = f(a, disc), fm = f(m, disc), fb = f(b, 0);
    return (b - a) / 4 * (fa + 2 * fm + fb);
  }
  double ss = 0.0, dss = 0.0, step = b - a;
  auto first = [&f, disc, m](double x, double y) {
    // At a discontinuity the arcs of the interval are set up at its midpoint first.
    if (disc) f(m, 1);
    const double fb = f(y, 0), fa = f(x, 0);
    if (disc) f(m, 1);
    return fa + fb;
  };
  auto later = [&f](double t) { return f(t, 0); };
  auto converged = [](double v, double e) { return std::fabs(v) * 0.001 >= std::fabs(e); };
  if (!romberg(a, b, first, later, converged, ss, dss, step)) {
    report_failure(false, a, b, step, ss, dss);
    listing();
  }
  return ss;
}
