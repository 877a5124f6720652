// The triangle response against physics: the plateau c above the inside, the arc of the circle of
// equal arrival time inside the triangle computed here by elementary geometry, the time integral
// of the response against the area integral of 1 / (2 pi r), and a triangle against its halves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "elements/triangle_response.h"
#include "embedded_host.h"

namespace {
constexpr double pi = std::numbers::pi;
constexpr double c = 1540.0, fs = 100e6;
const element_grid grid{c, fs, false};

struct response {
  int32_t start = 0;
  std::vector<double> v;
  double at(int32_t sample) const {  // 0 outside the span
    const int32_t k = sample - start;
    return k >= 0 && k < static_cast<int32_t>(v.size()) ? v[static_cast<size_t>(k)] : 0.0;
  }
};

response run(const tri_element& t, const point3& p, double D0 = 0.0, const element_grid& g = grid) {
  triangle_scratch s;
  grid_buffer out;
  triangle_response(g, p, t, D0, s, out);
  return {out.start, std::vector<double>(out.v.begin(), out.v.begin() + out.n)};
}

tri_element flat(double x0, double y0, double x1, double y1, double x2, double y2) {
  return {{{{x0, y0, 0}, {x1, y1, 0}, {x2, y2, 0}}}, 1.0, 0.0};
}

double distance(double x, double y) { return std::sqrt(x * x + y * y); }

// Distance in the plane from (px, py) to the line through corners i and j.
double line_distance(const tri_element& t, int i, int j, double px, double py) {
  const point3 &a = t.corners[i], &b = t.corners[j];
  const double ex = b[0] - a[0], ey = b[1] - a[1];
  return std::fabs(ex * (py - a[1]) - ey * (px - a[0])) / distance(ex, ey);
}

// Distance in the plane from (px, py) to the triangle: 0 inside, else to the nearest edge.
double nearest(const tri_element& t, double px, double py) {
  double d = 1.0;
  int sides = 0;
  for (int i = 0; i < 3; ++i) {
    const point3 &a = t.corners[i], &b = t.corners[(i + 1) % 3];
    const double ex = b[0] - a[0], ey = b[1] - a[1], qx = px - a[0], qy = py - a[1];
    sides += ex * qy - ey * qx > 0 ? 1 : -1;
    const double s = std::clamp((qx * ex + qy * ey) / (ex * ex + ey * ey), 0.0, 1.0);
    d = std::min(d, distance(qx - s * ex, qy - s * ey));
  }
  return std::abs(sides) == 3 ? 0.0 : d;
}

// The time integral of the response, the integral over the triangle (in z = 0) of
// 1 / (2 pi r), r the distance to p: the triangle cut into n^2 similar ones, centroid rule.
double area_integral(const tri_element& t, const point3& p, int n = 200) {
  const point3 &a = t.corners[0], &b = t.corners[1], &d = t.corners[2];
  const double ux = (b[0] - a[0]) / n, uy = (b[1] - a[1]) / n;
  const double vx = (d[0] - a[0]) / n, vy = (d[1] - a[1]) / n;
  const double cell = std::fabs(ux * vy - uy * vx) / 2;
  double sum = 0.0;
  auto add = [&](double i, double j) {  // the small triangle with centroid a + i u + j v
    const double x = a[0] + i * ux + j * vx - p[0], y = a[1] + i * uy + j * vy - p[1];
    sum += cell / (2 * pi * std::sqrt(x * x + y * y + p[2] * p[2]));
  };
  for (int i = 0; i < n; ++i)
    for (int j = 0; i + j < n; ++j) {
      add(i + 1.0 / 3, j + 1.0 / 3);
      if (i + j < n - 1) add(i + 2.0 / 3, j + 2.0 / 3);
    }
  return sum;
}

// Corners in mm: a triangle with its centroid at the origin.
const tri_element scalene = flat(-3e-3, -2e-3, 4e-3, -2e-3, -1e-3, 4e-3);
}  // namespace

TEST(triangle_response, AboveTheInsideStartsOnTheGridAndRisesToCTimesTheApodization) {
  const double h = 10e-3;
  // Nearest edge from the centroid (the origin).
  const double d = std::min({line_distance(scalene, 0, 1, 0, 0), line_distance(scalene, 1, 2, 0, 0),
                             line_distance(scalene, 0, 2, 0, 0)});
  for (double apodization : {1.0, 0.5}) {
    tri_element t = scalene;
    t.apodization = apodization;
    const response r = run(t, {0, 0, h});
    // t = 0.01 / 1540 - 1e-8 s: floor(t fs) = 648.
    EXPECT_EQ(r.start, 648);
    int plateau = 0;
    for (size_t k = 0; k < r.v.size(); ++k) {
      const double lo = (r.start + k - 0.5) / fs, hi = (r.start + k + 0.5) / fs;
      if (hi <= h / c) {
        EXPECT_EQ(r.v[k], 0.0) << k;
      }
      if (lo >= h / c && hi <= distance(h, d) / c) {
        EXPECT_NEAR(r.v[k], c * apodization, 1e-9 * c) << k;
        ++plateau;
      }
    }
    EXPECT_GE(plateau, 10);  // (sqrt(h^2 + d^2) - h) / c is 12.9 samples
  }
  // The start sample is the last one at or before the first arrival less one sample, also where
  // the start time times fs computes a hair below a whole number.
  for (int i = 1; i <= 60; ++i) {
    const double height = i * 0.37e-3, D0 = (i % 7) * 1.37e-9;
    EXPECT_EQ(run(scalene, {0, 0, height}, D0, {c, fs, true}).start,
              std::floor((height / c - 1 / fs + D0) * fs))
        << height;
  }
  // A delay of whole samples moves the response by as many samples and changes nothing else.
  const response r0 = run(scalene, {0, 0, h}), r1 = run(scalene, {0, 0, h}, 1.5e-6);
  EXPECT_EQ(r1.start, 648 + 150);
  ASSERT_EQ(r1.v.size(), r0.v.size());
  for (size_t k = 0; k < r0.v.size(); ++k) EXPECT_NEAR(r1.v[k], r0.v[k], 1e-9 * c) << k;
}

// Above an inside point of the triangle, or above a corner with interior angle alpha, the circle
// of radius R lies inside but for the caps cut off by the edges nearer than R, each of angle
// 2 acos(d / R), as long as R stays below the distances to the other corners.
TEST(triangle_response, EqualsTheArcInsideByElementaryGeometry) {
  struct scene {
    tri_element t;
    point3 p;
    double alpha;     // interior angle at the point's projection: 2 pi inside
    int edges[3][2];  // edges not through the projection
    int no_edges;
  };
  const double L = 6e-3;
  const scene scenes[] = {
      {scalene, {0.5e-3, 0.2e-3, 5e-3}, 2 * pi, {{0, 1}, {1, 2}, {0, 2}}, 3},
      {flat(0, 0, L, 0, 0, 0.75 * L), {0, 0, 8e-3}, pi / 2, {{1, 2}}, 1},
  };
  for (const scene& sc : scenes) {
    const double px = sc.p[0], py = sc.p[1], h = sc.p[2];
    double d[3], corner = 1.0;
    for (int e = 0; e < sc.no_edges; ++e)
      d[e] = line_distance(sc.t, sc.edges[e][0], sc.edges[e][1], px, py);
    for (const point3& q : sc.t.corners) {
      const double r = distance(q[0] - px, q[1] - py);
      if (r > 1e-12) corner = std::min(corner, r);
    }
    auto theta = [&](double t) {
      const double R = std::sqrt(std::max(c * t * c * t - h * h, 0.0));
      double a = sc.alpha;
      for (int e = 0; e < sc.no_edges; ++e)
        if (R > d[e]) a -= 2 * std::acos(d[e] / R);
      return a;
    };
    // The mean of c / (2 pi) theta over [lo, hi], by the midpoint rule on the pieces between
    // the arrivals at the edges, where theta has a square-root onset.
    auto mean = [&](double lo, double hi) {
      std::vector<double> cuts = {lo, hi};
      for (int e = 0; e < sc.no_edges; ++e) cuts.push_back(distance(h, d[e]) / c);
      std::sort(cuts.begin(), cuts.end());
      double sum = 0.0;
      for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        const double a = std::max(cuts[i], std::max(lo, h / c)), b = std::min(cuts[i + 1], hi);
        const int n = 4000;
        for (int j = 0; j < n && b > a; ++j)
          sum += theta(a + (j + 0.5) * (b - a) / n) * (b - a) / n;
      }
      return c / (2 * pi) * sum * fs;
    };
    const response r = run(sc.t, sc.p);
    int compared = 0;
    for (size_t k = 0; k < r.v.size(); ++k) {
      const double lo = (r.start + k - 0.5) / fs, hi = (r.start + k + 0.5) / fs;
      if (hi > distance(h, corner) / c) break;
      // The integration converges to 0.1 % of each piece's integral.
      EXPECT_NEAR(r.v[k], mean(lo, hi), 1e-3 * c / (2 * pi) * sc.alpha) << k;
      ++compared;
    }
    EXPECT_GT(compared, 50);
  }
}

// Inside and outside (beyond an edge: the middle corner farther than the opposite edge; beyond a
// corner: nearer), the response is silent before the circle reaches the triangle and after it
// has passed the farthest corner, and integrates to the integral of 1 / (2 pi r) over the area.
TEST(triangle_response, IsSilentOutsideItsArrivalsAndIntegratesToTheAreaIntegral) {
  // Straight below corner 0 the edge 0-1 meets the direction of that corner at right angles.
  const point3 points[] = {
      {0.5e-3, 0.2e-3, 5e-3}, {1e-3, -6e-3, 4e-3}, {9e-3, -5e-3, 3e-3}, {-3e-3, -5e-3, 4e-3}};
  for (const point3& p : points) {
    const tri_element& t = scalene;
    double last = 0.0;  // farthest corner in the plane
    for (const point3& q : t.corners) last = std::max(last, distance(q[0] - p[0], q[1] - p[1]));
    const double first = nearest(t, p[0], p[1]);

    const response r = run(t, p);
    double integral = 0.0;
    for (size_t k = 0; k < r.v.size(); ++k) {
      const double lo = (r.start + k - 0.5) / fs, hi = (r.start + k + 0.5) / fs;
      if (hi <= distance(p[2], first) / c) {
        EXPECT_NEAR(r.v[k], 0.0, 1e-9 * c) << k;
      }
      if (lo >= distance(p[2], last) / c * (1 + 1e-12)) {
        EXPECT_EQ(r.v[k], 0.0) << k;
      }
      integral += r.v[k] / fs;
    }
    EXPECT_EQ(r.v.back(), 0.0);
    EXPECT_NEAR(integral, area_integral(t, p), 1e-3 * integral);
  }
}

TEST(triangle_response, EqualsTheSumOfItsTwoHalves) {
  // Corner 1 to 2 split at M; the halves (0, 1, M) and (0, M, 2) in their own corner orders.
  const point3 &a = scalene.corners[0], &b = scalene.corners[1], &d = scalene.corners[2];
  const point3 m = {0.3 * b[0] + 0.7 * d[0], 0.3 * b[1] + 0.7 * d[1], 0};
  const tri_element half1 = {{a, b, m}, 1.0, 0.0}, half2 = {{m, d, a}, 1.0, 0.0};
  // Inside; on the splitting line 0-M inside; beyond an edge; beyond a corner.
  const point3 points[] = {{0.5e-3, 0.2e-3, 5e-3},
                           {0.5 * (a[0] + m[0]), 0.5 * (a[1] + m[1]), 6e-3},
                           {1e-3, -6e-3, 4e-3},
                           {9e-3, -5e-3, 3e-3}};
  for (const element_grid& g : {grid, element_grid{c, fs, true}}) {
    embedded_console_take();
    for (const point3& p : points) {
      const double D0 = 3.3e-9;  // off the grid: each triangle moves its start time onto it
      const response whole = run(scalene, p, D0, g), h1 = run(half1, p, D0, g),
                     h2 = run(half2, p, D0, g);
      const int32_t lo = std::min({whole.start, h1.start, h2.start});
      const int32_t hi = std::max({whole.start + static_cast<int32_t>(whole.v.size()),
                                   h1.start + static_cast<int32_t>(h1.v.size()),
                                   h2.start + static_cast<int32_t>(h2.v.size())});
      for (int32_t k = lo; k < hi; ++k)
        EXPECT_NEAR(whole.at(k), h1.at(k) + h2.at(k), 1e-3 * c) << k;
    }
    EXPECT_EQ(embedded_console_take(), "");  // no clamped cosine, no failed integral
  }
}

// The three-point rule is exact but for the curvature of the crossing angles; it errs most where
// the circle first meets an edge at distance d: there the angle rises as A sqrt(t - t_d), with
// A = sqrt(2 c sqrt(h^2 + d^2)) / d, and the rule misses (2/3 - (1 + sqrt 2) / 4) A dt^(3/2) of
// each of the two crossing angles' integrals over one sample.
TEST(triangle_response, FastIntegrationChangesOnlyWithinTheRuleError) {
  const point3 p = {0.5e-3, 0.2e-3, 5e-3};
  const double d = line_distance(scalene, 0, 1, p[0], p[1]);  // the nearest edge
  const double A = std::sqrt(2 * c * distance(p[2], d)) / d;
  const double onset = 2 * (2.0 / 3 - (1 + std::sqrt(2.0)) / 4) * A / std::sqrt(fs);
  const double tolerance = c / (2 * pi) * onset + 1e-3 * c;  // and the slow rule's 0.1 %
  const response slow = run(scalene, p), fast = run(scalene, p, 0.0, {c, fs, true});
  ASSERT_EQ(fast.start, slow.start);
  ASSERT_EQ(fast.v.size(), slow.v.size());
  double worst = 0.0;
  for (size_t k = 0; k < slow.v.size(); ++k) {
    EXPECT_NEAR(fast.v[k], slow.v[k], tolerance) << k;
    worst = std::max(worst, std::fabs(fast.v[k] - slow.v[k]));
  }
  EXPECT_GT(worst, 0.0);  // the fast rule was used
}

TEST(triangle_response, BehindThePlaneIsTheMirrorImage) {
  const point3 p = {1e-3, -6e-3, 4e-3};
  const response front = run(scalene, p), behind = run(scalene, {p[0], p[1], -p[2]});
  EXPECT_EQ(behind.start, front.start);
  EXPECT_EQ(behind.v, front.v);
}

TEST(triangle_response, ZeroAreaGivesOneZeroSample) {
  const tri_element degenerate[] = {flat(0, 0, 1e-3, 1e-3, 3e-3, 3e-3),
                                    flat(1e-3, 0, 1e-3, 0, 1e-3, 0)};
  for (const tri_element& t : degenerate) {
    const response r = run(t, {0.5e-3, -1e-3, 5e-3});
    ASSERT_EQ(r.v.size(), 1u);
    EXPECT_EQ(r.v[0], 0.0);
  }
}
