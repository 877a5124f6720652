// Rectangle geometry from corners, and corners placed on concave and convex surfaces.
#include <cmath>

#include "apertures/geometry.h"
#include "harness.h"

namespace {
rect_element rect_of(point3 c1, point3 c2, point3 c3, point3 c4) {
  rect_element r;
  r.corners = {c1, c2, c3, c4};
  return r;
}

double dist(const point3& a, const point3& b) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

using geometry_test = orvel_test;
}  // namespace

TEST_F(geometry_test, FlatRectangleHasNoTilt) {
  rect_element r =
      rect_of({-1e-3, -2e-3, 0}, {-1e-3, 3e-3, 0}, {0.5e-3, 3e-3, 0}, {0.5e-3, -2e-3, 0});
  rect_geometry(r);
  EXPECT_DOUBLE_EQ(r.width, 1.5e-3);
  EXPECT_DOUBLE_EQ(r.height, 5e-3);
  EXPECT_EQ(r.tan_xz, 0.0);
  EXPECT_EQ(r.tan_yz, 0.0);
  EXPECT_EQ(r.cos_xz, 1.0);
  EXPECT_EQ(r.cos_yz, 1.0);
  EXPECT_EQ(r.sin_xz, 0.0);
  EXPECT_EQ(r.sin_yz, 0.0);
  EXPECT_EQ(r.tilted, 0);
  EXPECT_EQ(embedded_console_take(), "");
}

TEST_F(geometry_test, TiltFlagNeedsBothSlopes) {
  // Tilted in elevation only: the edge from corner 1 to 2 rises by 0.5 over 1 (slope 0.5).
  rect_element e = rect_of({0, 0, 0}, {0, 1, 0.5}, {2, 1, 0.5}, {2, 0, 0});
  rect_geometry(e);
  EXPECT_EQ(e.tan_xz, 0.0);
  EXPECT_DOUBLE_EQ(e.tan_yz, 0.5);
  EXPECT_EQ(e.tilted, 0);
  EXPECT_DOUBLE_EQ(e.height, std::sqrt(1.25));
  EXPECT_DOUBLE_EQ(e.cos_yz, 1 / std::sqrt(1.25));
  EXPECT_DOUBLE_EQ(e.sin_yz, 0.5 / std::sqrt(1.25));
  // Tilted in both planes: slopes 0.25 in x-z and 0.5 in y-z.
  rect_element b = rect_of({0, 0, 0}, {0, 1, 0.5}, {2, 1, 1.0}, {2, 0, 0.5});
  rect_geometry(b);
  EXPECT_DOUBLE_EQ(b.tan_xz, 0.25);
  EXPECT_DOUBLE_EQ(b.width, std::sqrt(4.25));
  EXPECT_DOUBLE_EQ(b.cos_xz, 1 / std::sqrt(1 + 0.0625));
  EXPECT_DOUBLE_EQ(b.sin_xz, 0.25 / std::sqrt(1 + 0.0625));
  EXPECT_EQ(b.tilted, 1);
}

TEST_F(geometry_test, CornerOrderWithCorner2AlongXGivesTheSameMeasures) {
  rect_element a = rect_of({0, 0, 0}, {0, 3, 0}, {2, 3, 0}, {2, 0, 0});  // corner 4 along x
  rect_element b = rect_of({0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 3, 0});  // corner 2 along x
  rect_geometry(a);
  rect_geometry(b);
  EXPECT_EQ(a.width, 2.0);
  EXPECT_EQ(a.height, 3.0);
  EXPECT_EQ(b.width, a.width);
  EXPECT_EQ(b.height, a.height);
}

TEST_F(geometry_test, ZeroWidthRectangleOnACurveHasFlatWidthAndItsCurvedHeight) {
  // A focused row of width 0: the height (corner 1 to 2, or 1 to 4) rises in z, and with no
  // side along x the curved side was once taken for the width, leaving an infinite slope.
  rect_element a = rect_of({0, 0, 0}, {0, 1, 0.5}, {0, 1, 0.5}, {0, 0, 0});  // width to corner 4
  rect_element b = rect_of({0, 0, 0}, {0, 0, 0}, {0, 1, 0.5}, {0, 1, 0.5});  // width to corner 2
  for (rect_element* r : {&a, &b}) {
    rect_geometry(*r);
    EXPECT_EQ(r->width, 0.0);
    EXPECT_EQ(r->tan_xz, 0.0);
    EXPECT_DOUBLE_EQ(r->tan_yz, 0.5);
    EXPECT_DOUBLE_EQ(r->height, std::sqrt(1.25));
  }
  EXPECT_EQ(embedded_console_take(), "");
}

TEST_F(geometry_test, SlopeOfExactlyTenIsSilentAndBeyondWarns) {
  rect_element ten = rect_of({0, 0, 0}, {0, 0.25, 2.5}, {1e-3, 0.25, 2.5}, {1e-3, 0, 0});
  rect_geometry(ten);
  EXPECT_EQ(ten.tan_yz, 10.0);
  EXPECT_EQ(embedded_console_take(), "");

  rect_element steep = rect_of({0, 0, 0}, {0, 0.25, 2.75}, {1e-3, 0.25, 2.75}, {1e-3, 0, 0});
  rect_geometry(steep);
  EXPECT_EQ(steep.tan_yz, 11.0);
  EXPECT_EQ(embedded_console_take(),
            "case 1\n"
            "Warning: Excessively large value for tan_xz or tan_yz\n"
            // 0 / (x1 - x4) with x1 < x4 is a negative zero.
            "Values are: tan_xz =  -0.000000,  tan_yz =  11.000000 \n"
            "Difference: dx = -1.000000e-03, dy = -2.500000e-01, dz = -2.750000e+00 \n"
            "Corner points are:   0.000000,   0.000000,   0.000000 \n"
            "Corner points are:   0.000000,   0.250000,   2.750000 \n"
            "Corner points are:   0.001000,   0.250000,   2.750000 \n"
            "Corner points are:   0.001000,   0.000000,   0.000000 \n"
            "Check one:   0.000000,   0.000000, 1 \n"
            "Check two:   0.000000,   0.000000, 1 \n");
}

TEST_F(geometry_test, VerticalRectangleWarnsWithCase2AndKeepsInfiniteSlope) {
  // Corners 1 and 4 share x; the height edge (corner 1 to 4) has dy = 0 and rises in z.
  rect_element r = rect_of({0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1});
  rect_geometry(r);
  EXPECT_TRUE(std::isinf(r.tan_yz));
  EXPECT_EQ(r.width, 1.0);
  EXPECT_EQ(r.height, 1.0);
  const std::string out = embedded_console_take();
  EXPECT_EQ(out.rfind("case 2\nWarning: Excessively large value for tan_xz or tan_yz\n", 0), 0u);
  EXPECT_NE(out.find("Check two:   0.000000,   0.000000, 1 \n"), std::string::npos);
}

TEST_F(geometry_test, ConcaveCornersLieOnTheSphere) {
  const double R = 0.08, s = 1e-3;
  rect_element r;
  concave_corners(r, 3e-3, -2e-3, s, R);
  const point3 centre_of_sphere = {0, 0, R};
  for (const point3& c : r.corners) EXPECT_NEAR(dist(c, centre_of_sphere), R, 1e-15);
  EXPECT_NEAR(dist(r.center, centre_of_sphere), R, 1e-15);
  EXPECT_DOUBLE_EQ(r.center[0], 3e-3);
  EXPECT_DOUBLE_EQ(r.corners[0][0], 2.5e-3);
  EXPECT_DOUBLE_EQ(r.corners[0][1], -2.5e-3);
  EXPECT_DOUBLE_EQ(r.corners[2][0], 3.5e-3);
  EXPECT_DOUBLE_EQ(r.corners[2][1], -1.5e-3);
  EXPECT_GT(r.center[2], 0.0);  // the bowl curves away from the medium
}

TEST_F(geometry_test, ConvexFocusedCornersFollowBothCurvatures) {
  const double Rc = 0.05, Rf = 0.04, half = std::asin(0.005 / Rf);
  const double zc0 = Rf * std::cos(half);
  const double theta = 0.1, dtheta = 0.01, y = -0.005, dy = 0.0025;
  rect_element r;
  convex_focused_corners(r, y, dy, Rc, Rf, zc0, theta, dtheta);
  // Corners 1 and 2 at azimuth theta, 3 and 4 at theta + dtheta, seen from (0, y, -Rc).
  EXPECT_NEAR(std::atan2(r.corners[0][0], r.corners[0][2] + Rc), theta, 1e-15);
  EXPECT_NEAR(std::atan2(r.corners[1][0], r.corners[1][2] + Rc), theta, 1e-15);
  EXPECT_NEAR(std::atan2(r.corners[2][0], r.corners[2][2] + Rc), theta + dtheta, 1e-15);
  EXPECT_NEAR(std::atan2(r.corners[3][0], r.corners[3][2] + Rc), theta + dtheta, 1e-15);
  // The outer edge of the elevation curve (|y| = 5 mm) lies on the azimuth circle itself.
  EXPECT_NEAR(std::hypot(r.corners[0][0], r.corners[0][2] + Rc), Rc, 1e-15);
  // Inner points lie deeper by the elevation sag.
  const double v = y + dy;
  const double sag = std::sqrt(Rf * Rf - v * v) - zc0;
  EXPECT_NEAR(std::hypot(r.corners[1][0], r.corners[1][2] + Rc), Rc - sag, 1e-15);
  EXPECT_EQ(r.corners[1][1], v);
  EXPECT_NEAR(std::atan2(r.center[0], r.center[2] + Rc), theta + dtheta / 2, 1e-15);
}
