// The exact spatial impulse response of a flat rectangle, for the tests to hold the element
// responses against: c / (2 pi) times the angle of the circle of equal arrival time that lies
// inside the rectangle, the circle cut exactly where it crosses the edges.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

// The angle of the circle of radius R around (px, py) that lies inside |x| <= w/2, |y| <= h/2:
// the circle cut where it crosses the four edge lines, each arc inside or not by its midpoint.
inline double inside_angle(double w, double h, double px, double py, double R) {
  constexpr double pi = std::numbers::pi;
  std::vector<double> cuts = {0.0, 2 * pi};
  auto add = [&](double a) { cuts.push_back(a < 0 ? a + 2 * pi : a); };
  for (double x : {-w / 2, w / 2})
    if (std::fabs(x - px) <= R) {
      const double a = std::acos((x - px) / R);
      add(a);
      add(-a);
    }
  for (double y : {-h / 2, h / 2})
    if (std::fabs(y - py) <= R) {
      const double a = std::asin((y - py) / R);
      add(a);
      add(pi - a);
    }
  std::sort(cuts.begin(), cuts.end());
  double angle = 0.0;
  for (size_t k = 0; k + 1 < cuts.size(); ++k) {
    const double mid = (cuts[k] + cuts[k + 1]) / 2;
    const double x = px + R * std::cos(mid), y = py + R * std::sin(mid);
    if (std::fabs(x) <= w / 2 && std::fabs(y) <= h / 2) angle += cuts[k + 1] - cuts[k];
  }
  return angle;
}

// The mean of the exact response of the w x h rectangle centred at the origin of z = 0, seen
// from p (p[2] > 0), over the sample interval of 1 / fs centred on t: the part of the interval
// in which the response is not 0 (from the arrival over the plane to that of the farthest
// corner) integrated by the midpoint rule on a fine grid of its own.
inline double exact_mean(double c, double fs, double w, double h, const double* p, double t) {
  const double first = p[2] / c;
  const double last = std::hypot(std::fabs(p[0]) + w / 2, std::fabs(p[1]) + h / 2, p[2]) / c;
  const double a = std::max(t - 0.5 / fs, first), b = std::min(t + 0.5 / fs, last);
  if (b <= a) return 0.0;
  const int sub = 400;
  double sum = 0.0;
  for (int q = 0; q < sub; ++q) {
    const double u = a + (q + 0.5) * (b - a) / sub;
    const double R2 = c * u * c * u - p[2] * p[2];
    if (R2 > 0) sum += c / (2 * std::numbers::pi) * inside_angle(w, h, p[0], p[1], std::sqrt(R2));
  }
  return sum * (b - a) / sub * fs;
}
