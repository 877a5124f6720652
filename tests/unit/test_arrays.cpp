// Constructors of linear, multi-row, elevation-focused and 2-D arrays, checked against element
// positions and surfaces computed independently here.
#include <cmath>
#include <cstring>

#include "apertures/arrays.h"
#include "core/sys_con.h"
#include "harness.h"

namespace {
class arrays_test : public orvel_test {
 protected:
  sys_con sys;
  const point3 focus{0.0, 0.0, 0.03};
};

// Accumulated positions differ from exact ones by a few roundings of the largest coordinate.
constexpr double tol = 1e-17;
}  // namespace

TEST_F(arrays_test, LinearArrayElementCentresAndRectangles) {
  const double w = 0.28e-3, h = 5e-3, kerf = 0.03e-3, p = w + kerf;
  aperture_ptr one = xdc_linear_array(sys, 1, w, h, kerf, 1, 1, focus);
  EXPECT_EQ(one->phys_elements[0].center[0], 0.0);
  aperture_ptr two = xdc_linear_array(sys, 2, w, h, kerf, 1, 1, focus);
  EXPECT_NEAR(two->phys_elements[0].center[0], -p / 2, tol);
  EXPECT_NEAR(two->phys_elements[1].center[0], p / 2, tol);
  // One rectangle per element: its corners are the element's corners.
  const rect_element& r = two->phys_elements[1].rects[0];
  EXPECT_NEAR(r.corners[0][0], p / 2 - w / 2, tol);
  EXPECT_NEAR(r.corners[0][1], -h / 2, tol);
  EXPECT_NEAR(r.corners[1][1], h / 2, tol);
  EXPECT_NEAR(r.corners[2][0], p / 2 + w / 2, tol);
  EXPECT_NEAR(r.width, w, tol);
  EXPECT_NEAR(r.height, h, 1e-16);
  free_aperture(sys, one);
  free_aperture(sys, two);

  // Five elements of 2 x 3 rectangles, stored sub-row by sub-row from the lowest y.
  aperture_ptr ap = xdc_linear_array(sys, 5, w, h, kerf, 2, 3, focus);
  ASSERT_EQ(ap->no_phys_elements, 5);
  EXPECT_STREQ(ap->name, "Linear array transducer");
  for (int i = 0; i < 5; ++i) {
    const phys_element& e = ap->phys_elements[i];
    const double xc = (i - 2) * p;
    EXPECT_NEAR(e.center[0], xc, tol);
    ASSERT_EQ(e.no_rects, 6);
    ASSERT_EQ(e.rects.size(), 6u);
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 2; ++col) {
        const rect_element& q = e.rects[row * 2 + col];
        EXPECT_NEAR(q.center[0], xc - w / 2 + (col + 0.5) * w / 2, tol);
        EXPECT_NEAR(q.center[1], -h / 2 + (row + 0.5) * h / 3, 1e-16);
        EXPECT_NEAR(q.width, w / 2, tol);
        EXPECT_NEAR(q.height, h / 3, 1e-16);
        EXPECT_EQ(q.apodization, 1.0);
        EXPECT_EQ(q.delay, 0.0);
        EXPECT_EQ(q.corners[2][2], 0.0);
      }
    }
  }
  free_aperture(sys, ap);
  EXPECT_EQ(sys.bytes_reserved, 0);
}

TEST_F(arrays_test, NewApertureStartsWithUnitPulsesOneFocusAndUnitApodization) {
  sys.c = 1500.0;
  aperture_ptr ap = xdc_linear_array(sys, 3, 1e-3, 4e-3, 0.5e-3, 1, 1, focus);
  EXPECT_EQ(ap->impulse->no_samples, 1);
  EXPECT_EQ(ap->impulse->data[0], 1.0);
  EXPECT_EQ(ap->excitation->no_samples, 1);
  EXPECT_EQ(ap->excitation->start_sample, 0);
  EXPECT_EQ(sys.bytes_reserved, 2 * 48);
  ASSERT_EQ(ap->focus_line.size(), 1u);
  EXPECT_EQ(ap->single_focus, 1);
  EXPECT_EQ(ap->focus_line[0].time, 0.0);
  EXPECT_EQ(ap->focus_line[0].focus_point, focus);
  // Delays count from the origin: the centre element 0, the outer ones (farther) negative.
  const double outer = (0.03 - std::hypot(1.5e-3, 0.03)) / 1500.0;
  EXPECT_EQ(ap->focus_line[0].delays[1], 0.0);
  EXPECT_NEAR(ap->focus_line[0].delays[0], outer, 1e-20);
  EXPECT_NEAR(ap->focus_line[0].delays[2], outer, 1e-20);
  EXPECT_LT(outer, 0.0);
  ASSERT_EQ(ap->apod_line.size(), 1u);
  EXPECT_EQ(ap->single_apod, 1);
  EXPECT_EQ(ap->apod_line[0].values, std::vector<double>(3, 1.0));
  EXPECT_EQ(ap->uses_rectangles, 1);
  EXPECT_EQ(ap->uses_triangles + ap->uses_lines + ap->soft_baffle + ap->quantize, 0);
  free_aperture(sys, ap);
}

TEST_F(arrays_test, CreationTimeText) {
  char text[40];
  // 2026-03-05 07:08:09 UTC, shown in the local zone; only the layout is fixed here.
  format_created(1772694489, text);
  ASSERT_EQ(std::strlen(text), 25u);
  const std::string s(text);
  EXPECT_NE(std::string("SunMonTueWedThuFriSat").find(s.substr(0, 3)), std::string::npos);
  EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(s.substr(4, 3)),
            std::string::npos);
  EXPECT_EQ(s.substr(19, 6), " 2026\n");
  EXPECT_EQ(s[8] == ' ' || (s[8] >= '0' && s[8] <= '3'), true);  // day padded with a blank
}

TEST_F(arrays_test, MultiRowCentresFollowTheRowHeights) {
  const double heights[] = {1e-3, 2e-3, 1e-3};
  const double w = 0.5e-3, kx = 0.1e-3;
  aperture_ptr ap = xdc_linear_multirow(sys, 4, w, 3, heights, kx, 0.1e-3, 2, 4, focus);
  ASSERT_EQ(ap->no_phys_elements, 12);
  EXPECT_STREQ(ap->name, "Linear multi-row array transducer");
  const double row_y[] = {-1.6e-3, 0.0, 1.6e-3};
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 4; ++i) {
      const phys_element& e = ap->phys_elements[j * 4 + i];  // numbered row by row
      EXPECT_NEAR(e.center[1], row_y[j], 1e-18) << j;
      EXPECT_NEAR(e.center[0], (i - 1.5) * (w + kx), tol);
      for (const rect_element& r : e.rects) {
        EXPECT_EQ(r.cos_xz, 1.0);
        EXPECT_EQ(r.cos_yz, 1.0);
        EXPECT_EQ(r.tilted, 0);
        EXPECT_NEAR(r.height, heights[j] / 4, 1e-18);
      }
      EXPECT_NEAR(e.rects[0].corners[0][1], row_y[j] - heights[j] / 2, 1e-18);
      EXPECT_NEAR(e.rects[7].corners[2][1], row_y[j] + heights[j] / 2, 1e-18);
    }
  }
  free_aperture(sys, ap);
}

TEST_F(arrays_test, ElevationFocusedArrayLiesOnItsCylinder) {
  const double w = 0.4e-3, h = 6e-3, Rf = 0.02;
  aperture_ptr ap = xdc_focused_array(sys, 3, w, h, 0.1e-3, Rf, 2, 8, focus);
  EXPECT_STREQ(ap->name, "Linear elevation focused array transducer");
  // The cylinder's axis runs along x at depth zc0 (the plane through the long edges is z = 0).
  const double zc0 = std::sqrt(Rf * Rf - h * h / 4);
  double outer_slope = 0.0, inner_slope = 1e9;
  for (const phys_element& e : ap->phys_elements) {
    EXPECT_NEAR(e.center[2], zc0 - Rf, 1e-17);
    EXPECT_LT(e.center[2], 0.0);
    ASSERT_EQ(e.rects.size(), 16u);
    for (size_t k = 0; k < e.rects.size(); ++k) {
      const rect_element& r = e.rects[k];
      EXPECT_EQ(r.tan_xz, 0.0);
      EXPECT_EQ(r.tilted, 0);
      for (const point3& c : r.corners) EXPECT_NEAR(std::hypot(c[1], c[2] - zc0), Rf, 1e-16);
      const double s = std::fabs(r.tan_yz);
      if (k < 2 || k >= 14)
        outer_slope = std::max(outer_slope, s);
      else
        inner_slope = std::min(inner_slope, s);
    }
    // The long edges lie in the plane z = 0 at y = -h/2 and +h/2.
    EXPECT_NEAR(e.rects[0].corners[0][1], -h / 2, 1e-17);
    EXPECT_NEAR(e.rects[0].corners[0][2], 0.0, 1e-17);
    EXPECT_NEAR(e.rects[15].corners[2][1], h / 2, 1e-17);
    EXPECT_NEAR(e.rects[15].corners[2][2], 0.0, 1e-17);
  }
  EXPECT_GT(outer_slope, inner_slope);
  // Sub-rows are equal in angle: every sub-row subtends 2 asin(h / (2 Rf)) / 8.
  const phys_element& e = ap->phys_elements[0];
  const double step = 2 * std::asin(h / (2 * Rf)) / 8;
  for (int r = 0; r < 8; ++r) {
    const point3& lo = e.rects[r * 2].corners[0];
    const point3& hi = e.rects[r * 2].corners[1];
    const double angle = std::atan2(hi[1], zc0 - hi[2]) - std::atan2(lo[1], zc0 - lo[2]);
    EXPECT_NEAR(angle, step, 1e-12);
  }
  free_aperture(sys, ap);
}

TEST_F(arrays_test, FocusedMultiRowRowsShareOneCylinder) {
  const double heights[] = {2e-3, 3e-3, 2e-3};
  const double Rf = 0.025, kerf_y = 0.2e-3, total = 7e-3 + 2 * kerf_y;
  aperture_ptr ap =
      xdc_focused_multirow(sys, 2, 0.3e-3, 3, heights, 0.05e-3, kerf_y, Rf, 1, 3, focus);
  EXPECT_STREQ(ap->name, "Linear multi-row elevation focused array transducer");
  ASSERT_EQ(ap->no_phys_elements, 6);
  const double zc0 = std::sqrt(Rf * Rf - total * total / 4);
  for (const phys_element& e : ap->phys_elements) {
    EXPECT_NEAR(std::hypot(e.center[1], e.center[2] - zc0), Rf, 1e-16);
    for (const rect_element& r : e.rects)
      for (const point3& c : r.corners) EXPECT_NEAR(std::hypot(c[1], c[2] - zc0), Rf, 1e-16);
  }
  // Outer edges of the outermost rows in the plane z = 0; the middle row centred at y = 0.
  EXPECT_NEAR(ap->phys_elements[0].rects[0].corners[0][1], -total / 2, 1e-17);
  EXPECT_NEAR(ap->phys_elements[0].rects[0].corners[0][2], 0.0, 1e-17);
  EXPECT_NEAR(ap->phys_elements[5].rects[2].corners[1][2], 0.0, 1e-17);
  EXPECT_NEAR(ap->phys_elements[2].center[1], 0.0, 1e-18);
  EXPECT_NEAR(ap->phys_elements[1].center[0], (0.3e-3 + 0.05e-3) / 2, 1e-18);
  // Sub-rows are equal in y within a row.
  const rect_element& a = ap->phys_elements[2].rects[0];
  EXPECT_NEAR(a.corners[1][1] - a.corners[0][1], 1e-3, 1e-18);
  free_aperture(sys, ap);
}

TEST_F(arrays_test, TwoDimensionalArrayNumbersEnabledPositionsOnly) {
  const int nx = 3, ny = 2;
  const double w = 1e-3, h = 2e-3, kx = 0.5e-3, ky = 0.25e-3;
  // Checkerboard, position (i, j) at i + j * nx: enabled (0,0), (2,0), (1,1).
  const std::vector<int16_t> enabled = {1, 0, 1, 0, 1, 0};
  aperture_ptr ap = xdc_2d_array(sys, nx, ny, w, h, kx, ky, enabled, 1, 2, focus);
  EXPECT_STREQ(ap->name, "2-dimensional array transducer");
  ASSERT_EQ(ap->no_phys_elements, 3);
  const double px = w + kx, py = h + ky;
  EXPECT_NEAR(ap->phys_elements[0].center[0], -px, 1e-18);
  EXPECT_NEAR(ap->phys_elements[0].center[1], -py / 2, 1e-18);
  EXPECT_NEAR(ap->phys_elements[1].center[0], px, 1e-18);
  EXPECT_NEAR(ap->phys_elements[1].center[1], -py / 2, 1e-18);
  EXPECT_NEAR(ap->phys_elements[2].center[0], 0.0, 1e-18);
  EXPECT_NEAR(ap->phys_elements[2].center[1], py / 2, 1e-18);
  EXPECT_NEAR(ap->phys_elements[2].rects[1].corners[1][1], py / 2 + h / 2, 1e-18);
  EXPECT_EQ(ap->focus_line[0].delays.size(), 3u);
  free_aperture(sys, ap);

  aperture_ptr none =
      xdc_2d_array(sys, nx, ny, w, h, kx, ky, std::vector<int16_t>(6, 0), 1, 1, focus);
  EXPECT_EQ(none->no_phys_elements, 0);
  EXPECT_TRUE(none->phys_elements.empty());
  ASSERT_EQ(none->focus_line.size(), 1u);
  EXPECT_TRUE(none->focus_line[0].delays.empty());
  EXPECT_TRUE(none->apod_line[0].values.empty());
  free_aperture(sys, none);
}

namespace {
// Distance of a point from the axis of the azimuth arc, the line x = 0, z = -Rc along y.
double arc_distance(const point3& p, double Rc) { return std::hypot(p[0], p[2] + Rc); }
// Azimuth angle of a point about that axis, positive towards +x.
double arc_angle(const point3& p, double Rc) { return std::atan2(p[0], p[2] + Rc); }
// In elevation the surface is a circle of radius Rf whose centre lies zc0 in front of the arc:
// (Rc + zc0 - rho)^2 + y^2 = Rf^2, rho the distance from the arc's axis.
double elevation_circle(const point3& p, double Rc, double zc0) {
  return std::hypot(Rc + zc0 - arc_distance(p, Rc), p[1]);
}
}  // namespace

TEST_F(arrays_test, ConvexArrayElementsAreChordsOfTheArc) {
  const int n = 5;
  const double w = 0.4e-3, h = 5e-3, kerf = 0.05e-3, Rc = 0.04;
  aperture_ptr ap = xdc_convex_array(sys, n, w, h, kerf, Rc, 1, 2, focus);
  EXPECT_STREQ(ap->name, "Convex array transducer");
  ASSERT_EQ(ap->no_phys_elements, n);
  const double tw = std::asin(w / Rc);                   // angle spanned by one element's chord
  const double pitch_angle = tw + std::asin(kerf / Rc);  // element plus kerf
  const double chord = 2 * Rc * std::sin(tw / 2);
  for (int i = 0; i < n; ++i) {
    const phys_element& e = ap->phys_elements[i];
    const phys_element& mirror = ap->phys_elements[n - 1 - i];
    EXPECT_NEAR(arc_distance(e.center, Rc), Rc, 1e-17);
    EXPECT_NEAR(arc_angle(e.center, Rc), (i - 2) * pitch_angle, 1e-15);
    EXPECT_NEAR(e.center[0], -mirror.center[0], 1e-18);
    EXPECT_NEAR(e.center[2], mirror.center[2], 1e-18);
    ASSERT_EQ(e.rects.size(), 2u);
    for (int row = 0; row < 2; ++row) {
      const rect_element& r = e.rects[row];
      EXPECT_NEAR(r.width, chord, 1e-17);
      EXPECT_NEAR(r.height, h / 2, 1e-17);
      // The chord from angle t to t + tw slopes as the tangent at its middle angle.
      EXPECT_NEAR(r.tan_xz, -std::tan((i - 2) * pitch_angle), 1e-12);
      for (const point3& c : r.corners) EXPECT_NEAR(arc_distance(c, Rc), Rc, 1e-17);
      EXPECT_NEAR(r.corners[0][1], (row - 1) * h / 2, 1e-18);
      EXPECT_NEAR(r.corners[1][1], row * h / 2, 1e-18);
    }
  }
  // The middle element of an odd count sits at the origin, its chord level.
  EXPECT_NEAR(ap->phys_elements[2].center[0], 0.0, 1e-18);
  EXPECT_NEAR(ap->phys_elements[2].center[2], 0.0, 1e-18);
  EXPECT_EQ(ap->phys_elements[2].rects[0].tan_xz, 0.0);
  free_aperture(sys, ap);
}

TEST_F(arrays_test, ConvexFocusedArrayIsCurvedInElevationWithEqualAngles) {
  const double w = 0.5e-3, h = 4e-3, kerf = 0.1e-3, Rc = 0.05, Rf = 0.03;
  aperture_ptr ap = xdc_convex_focused_array(sys, 3, w, h, kerf, Rc, Rf, 2, 6, focus);
  EXPECT_STREQ(ap->name, "Convex focused array transducer");
  const double zc0 = std::sqrt(Rf * Rf - h * h / 4);
  const double pitch_angle = std::asin(w / Rc) + std::asin(kerf / Rc);
  const double step = 2 * std::asin(h / (2 * Rf)) / 6;  // elevation angle of one sub-row
  for (int i = 0; i < 3; ++i) {
    const phys_element& e = ap->phys_elements[i];
    // The centre lies on the surface at y = 0, Rf - zc0 behind the arc.
    EXPECT_NEAR(arc_distance(e.center, Rc), Rc - Rf + zc0, 1e-17);
    EXPECT_NEAR(arc_angle(e.center, Rc), (i - 1) * pitch_angle, 1e-15);
    ASSERT_EQ(e.rects.size(), 12u);
    for (size_t k = 0; k < e.rects.size(); ++k) {
      const rect_element& r = e.rects[k];
      for (const point3& c : r.corners) {
        EXPECT_NEAR(elevation_circle(c, Rc, zc0), Rf, 1e-16);
        if (std::fabs(std::fabs(c[1]) - h / 2) < 1e-15) {
          EXPECT_NEAR(arc_distance(c, Rc), Rc, 1e-17);
        }
      }
      const double lower = std::asin(r.corners[0][1] / Rf);
      EXPECT_NEAR(lower, -step * 3 + static_cast<double>(k / 2) * step, 1e-13);
    }
    // The outer edges y = -h/2 and +h/2 are the first and the last sub-row's.
    EXPECT_NEAR(e.rects[0].corners[0][1], -h / 2, 1e-17);
    EXPECT_NEAR(e.rects[11].corners[2][1], h / 2, 1e-17);
  }
  free_aperture(sys, ap);
}

TEST_F(arrays_test, ConvexFocusedMultiRowRowsShareOneSurfaceWithEqualSteps) {
  const double heights[] = {1e-3, 2e-3, 1e-3};
  const double Rc = 0.04, Rf = 0.02, kerf_y = 0.1e-3, total = 4e-3 + 2 * kerf_y;
  aperture_ptr ap =
      xdc_convex_focused_multirow(sys, 2, 0.3e-3, 3, heights, 0.05e-3, kerf_y, Rc, Rf, 1, 4, focus);
  EXPECT_STREQ(ap->name, "Convex focused multirow transducer");
  ASSERT_EQ(ap->no_phys_elements, 6);
  const double zc0 = std::sqrt(Rf * Rf - total * total / 4);
  const double row_y[] = {-1.6e-3, 0.0, 1.6e-3};
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 2; ++i) {
      const phys_element& e = ap->phys_elements[j * 2 + i];  // numbered row by row
      EXPECT_NEAR(e.center[1], row_y[j], 1e-18);
      EXPECT_NEAR(elevation_circle(e.center, Rc, zc0), Rf, 1e-16);
      ASSERT_EQ(e.rects.size(), 4u);
      for (int r = 0; r < 4; ++r) {
        const rect_element& q = e.rects[r];
        EXPECT_NEAR(q.corners[0][1], row_y[j] - heights[j] / 2 + r * heights[j] / 4, 1e-18);
        EXPECT_NEAR(q.corners[1][1] - q.corners[0][1], heights[j] / 4, 1e-18);
        for (const point3& c : q.corners) EXPECT_NEAR(elevation_circle(c, Rc, zc0), Rf, 1e-16);
      }
    }
  }
  // The outer edges of the outermost rows lie on the unfocused arc.
  EXPECT_NEAR(arc_distance(ap->phys_elements[0].rects[0].corners[0], Rc), Rc, 1e-17);
  EXPECT_NEAR(arc_distance(ap->phys_elements[5].rects[3].corners[2], Rc), Rc, 1e-17);
  EXPECT_LT(arc_angle(ap->phys_elements[4].center, Rc), 0.0);
  EXPECT_NEAR(ap->phys_elements[4].center[0], -ap->phys_elements[5].center[0], 1e-18);
  free_aperture(sys, ap);
}
