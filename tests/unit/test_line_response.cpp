// Response of one bounding-line element: the 1 mm square's critical times and plateau, silence
// outside the critical times, the total against the exact area integral, the fast rule, the
// delay placement, a tilted element against the level one, and degenerate inputs.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "apertures/geometry.h"
#include "elements/convert.h"
#include "elements/line_response.h"
#include "harness.h"

namespace {
constexpr double mm = 1e-3, c = 1540, fs = 100e6;
constexpr element_grid grid{c, fs, false};

// The square [-0.5, 0.5] mm x [-0.5, 0.5] mm of the plane z = 0: bottom, right, top, left.
line_element square(double apodization = 1) {
  auto sloped = [](double y1, int16_t side) {
    return bounding_line{.slope = 0, .slope_sq_plus_1 = 1, .y1 = y1, .side = side};
  };
  auto vertical = [](double x1, int16_t side) {
    return bounding_line{
        .slope = 1e60, .slope_sq_plus_1 = 0, .vertical = 1, .x1 = x1, .side = side};
  };
  line_element le;
  le.bounds = {sloped(-0.5 * mm, 1), vertical(0.5 * mm, 1), sloped(0.5 * mm, 0),
               vertical(-0.5 * mm, 0)};
  le.no_bounds = 4;
  le.apodization = apodization;
  find_crossings(le);
  return le;
}

// A response on the global grid; 0 outside the samples returned.
struct response {
  int32_t start;
  std::vector<double> v;
  double at(int32_t m) const {
    return m >= start && m < start + static_cast<int32_t>(v.size()) ? v[m - start] : 0.0;
  }
  int32_t end() const { return start + static_cast<int32_t>(v.size()); }
};

response respond(const line_element& le, const point3& p, double D = 0, bool fast = false) {
  line_scratch s;
  grid_buffer out;
  line_response({c, fs, fast}, p, le, D, s, out);
  return {out.start, std::vector<double>(out.v.begin(), out.v.begin() + out.n)};
}

// Largest sample difference of a and b over both ranges, b shifted by shift samples.
double max_difference(const response& a, const response& b, int32_t shift = 0) {
  double d = 0;
  for (int32_t m = std::min(a.start, b.start - shift); m < std::max(a.end(), b.end() - shift); ++m)
    d = std::max(d, std::fabs(a.at(m) - b.at(m + shift)));
  return d;
}

const point3 inside_point{0.3 * mm, -0.2 * mm, 0.8 * mm};
}  // namespace

TEST(line_response, SquareAboveCentreHasDocumentedTimesAndFullCirclePlateau) {
  const line_element le = square(0.5);
  line_geometry geo;
  line_setup(grid, le, {0, 0, 1 * mm}, geo);
  const double t_point = 1 * mm / c, t_foot = std::sqrt(1.25) * mm / c,
               t_corner = std::sqrt(1.5) * mm / c;
  ASSERT_EQ(geo.no_times, 9);
  EXPECT_DOUBLE_EQ(geo.times[0], t_point);
  for (int k = 1; k <= 4; ++k) EXPECT_DOUBLE_EQ(geo.times[k], t_foot);
  for (int k = 5; k <= 8; ++k) EXPECT_DOUBLE_EQ(geo.times[k], t_corner);

  // The whole circle lies on the element: Theta = 2 pi, response c times the apodization.
  const response r = respond(le, {0, 0, 1 * mm});
  int plateau = 0;
  for (int32_t m = r.start; m < r.end(); ++m) {
    if ((m - 0.5) / fs >= t_point && (m + 0.5) / fs <= t_foot) {
      EXPECT_NEAR(r.at(m), 0.5 * c, 1e-9 * c) << "sample " << m;
      ++plateau;
    }
  }
  EXPECT_GE(plateau, 6);  // (t_foot - t_point) fs = 7.7 samples
}

TEST(line_response, SilentBeforeFirstAndAfterLastCriticalTime) {
  // Projecting outside, 1.5 mm right of the right edge: first the foot on that edge, last the
  // far corner (-0.5, -0.5) mm; no time for the projected point itself.
  const line_element le = square();
  const point3 p{2 * mm, 0.3 * mm, 1 * mm};
  line_geometry geo;
  line_setup(grid, le, p, geo);
  const double t_first = std::sqrt(1 + 1.5 * 1.5) * mm / c;
  const double t_last = std::sqrt(1 + 2.5 * 2.5 + 0.8 * 0.8) * mm / c;
  ASSERT_EQ(geo.no_times, 6);  // four crossings, the feet on the right and left edges
  EXPECT_DOUBLE_EQ(geo.times[0], t_first);
  EXPECT_DOUBLE_EQ(geo.times[5], t_last);

  const response r = respond(le, p);
  double peak = 0;
  for (int32_t m = r.start; m < r.end(); ++m) {
    if ((m + 0.5) / fs <= t_first || (m - 0.5) / fs >= t_last) {
      EXPECT_EQ(r.at(m), 0.0) << "sample " << m;
    }
    peak = std::max(peak, r.at(m));
  }
  EXPECT_GT(peak, 0.01 * c);
}

TEST(line_response, TimeIntegralEqualsAreaIntegralOfInverseDistance) {
  // With R^2 = (c t)^2 - z^2, c dt = R dR / r: the integral of c / (2 pi) Theta dt is
  // 1 / (2 pi) times the integral of 1 / r over the element, r the distance to the point.
  auto F = [](double x, double y, double z) {  // antiderivative of 1 / r in x and y
    const double r = std::sqrt(x * x + y * y + z * z);
    return x * std::log(y + r) + y * std::log(x + r) - z * std::atan(x * y / (z * r));
  };
  const line_element le = square(0.7);
  for (const point3& p : {inside_point, point3{1.2 * mm, 0.7 * mm, 0.5 * mm}}) {
    const double x1 = -0.5 * mm - p[0], x2 = 0.5 * mm - p[0];
    const double y1 = -0.5 * mm - p[1], y2 = 0.5 * mm - p[1], z = p[2];
    const double area = F(x2, y2, z) - F(x1, y2, z) - F(x2, y1, z) + F(x1, y1, z);
    const response r = respond(le, p);
    double sum = 0;
    for (double v : r.v) sum += v;
    // Each interval's integral converges to 0.1 %.
    EXPECT_NEAR(sum / fs, 0.7 * area / (2 * std::numbers::pi), 1e-3 * sum / fs);
  }
}

TEST(line_response, FastRuleDiffersOnlyByIntegrationError) {
  const line_element le = square();
  const response romberg = respond(le, inside_point), fast = respond(le, inside_point, 0, true);
  // The three-point rule is exact where Theta is linear; its worst error is at a foot time, where
  // Theta falls like sqrt(t - t_foot): a few per cent of c over one sample.
  EXPECT_LT(max_difference(romberg, fast), 0.05 * c);
}

TEST(line_response, DelayIsPlacedToTheNearestSample) {
  const line_element le = square();
  const response r0 = respond(le, inside_point), r3 = respond(le, inside_point, 0.3 / fs),
                 r7 = respond(le, inside_point, 0.7 / fs);
  EXPECT_LT(max_difference(r0, r3), 1e-3 * c);
  EXPECT_LT(max_difference(r0, r7, 1), 1e-3 * c);
  EXPECT_GT(max_difference(r0, r7), 0.1 * c);  // the one-sample shift is visible
}

TEST(line_response, TiltedElementRespondsAsTheLevelOne) {
  // The square tilted by 30 degrees about y, turned by 25 degrees in its own plane and moved;
  // the point keeps its place relative to the square, so the response is the same.
  const double a = std::numbers::pi / 6, b = 25 * std::numbers::pi / 180;
  const point3 e1{std::cos(a), 0, -std::sin(a)}, e2{0, 1, 0}, n{std::sin(a), 0, std::cos(a)};
  const point3 origin{1 * mm, 2 * mm, 3 * mm};
  auto place = [&](double u, double w, double height) {
    const double x = u * std::cos(b) - w * std::sin(b), y = u * std::sin(b) + w * std::cos(b);
    point3 q;
    for (int i = 0; i < 3; ++i) q[i] = origin[i] + x * e1[i] + y * e2[i] + height * n[i];
    return q;
  };
  const double h = 0.5 * mm;
  aperture_rec ap;
  ap.no_phys_elements = 1;
  ap.phys_elements.resize(1);
  rect_element rect;
  rect.corners = {place(-h, -h, 0), place(-h, h, 0), place(h, h, 0), place(h, -h, 0)};
  rect.center = place(0, 0, 0);
  ap.phys_elements[0].rects = {rect};
  ap.phys_elements[0].no_rects = 1;
  convert_to_lines(ap);
  const line_element& tilted = ap.phys_elements[0].line_elems.at(0);
  const response level = respond(square(), inside_point);
  const response r = respond(tilted, place(inside_point[0], inside_point[1], inside_point[2]));
  EXPECT_LT(max_difference(level, r), 1e-3 * c);
}

TEST(line_response, PointBehindThePlaneGetsTheMirrorResponse) {
  const line_element le = square();
  const response front = respond(le, inside_point);
  const response back = respond(le, {inside_point[0], inside_point[1], -inside_point[2]});
  EXPECT_EQ(back.start, front.start);
  EXPECT_EQ(back.v, front.v);
}

TEST(line_response, FewerThanTwoCriticalTimesGiveNoResponse) {
  // One line bounding the half-plane y >= -0.5 mm, the point projecting below it: its foot is
  // the only critical time. The scratch first serves the square from farther away, so a stale
  // later time lies past it.
  line_element half = square();
  half.bounds.resize(1);
  half.no_bounds = 1;
  half.crossings.clear();
  half.no_crossings = 0;
  line_scratch s;
  grid_buffer out;
  line_response(grid, {0, 0, 5 * mm}, square(), 0, s, out);
  ASSERT_GT(out.n, 0);
  line_response(grid, {0, -1 * mm, 1 * mm}, half, 0, s, out);
  EXPECT_EQ(s.geometry.no_times, 1);
  for (int32_t i = 0; i < out.n; ++i) EXPECT_EQ(out.v[i], 0.0);
}
