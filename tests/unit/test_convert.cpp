// Conversion of rectangles to triangles and to bounding-line elements: the documented example
// rectangle, a tilted rectangle against the rotation's invariants, crossings, and the
// conversion of new apertures by the options.
#include <cmath>

#include "apertures/aperture.h"
#include "apertures/geometry.h"
#include "elements/convert.h"
#include "gateway/gateway.h"
#include "gateway/transducers.h"
#include "harness.h"

namespace {
constexpr double mm = 1e-3;

// One physical element holding the rectangles given, corners in mm.
aperture_rec one_element(std::initializer_list<std::array<point3, 4>> rects) {
  aperture_rec ap;
  ap.no_phys_elements = 1;
  ap.phys_elements.resize(1);
  phys_element& e = ap.phys_elements[0];
  for (const auto& c : rects) {
    rect_element r;
    for (int k = 0; k < 4; ++k)
      for (int i = 0; i < 3; ++i) r.corners[k][i] = c[k][i] * mm;
    for (int i = 0; i < 3; ++i)
      r.center[i] = (r.corners[0][i] + r.corners[1][i] + r.corners[2][i] + r.corners[3][i]) / 4;
    r.apodization = 0.5;
    r.delay = 2e-9;
    rect_geometry(r);
    e.rects.push_back(r);
  }
  e.no_rects = static_cast<int32_t>(e.rects.size());
  return ap;
}

// The 1 mm x 2 mm rectangle in the plane z = 0.
aperture_rec example() { return one_element({{{{0, 0, 0}, {1, 0, 0}, {1, 2, 0}, {0, 2, 0}}}}); }

void expect_point(const point3& p, double x, double y, double z) {
  EXPECT_NEAR(p[0], x * mm, 1e-15);
  EXPECT_NEAR(p[1], y * mm, 1e-15);
  EXPECT_NEAR(p[2], z * mm, 1e-15);
}

TEST(convert, triangles_split_along_the_diagonal_after_those_already_there) {
  aperture_rec ap = example();
  phys_element& e = ap.phys_elements[0];
  e.tris.push_back({});  // a triangle the element holds before the conversion
  e.no_tris = 1;
  convert_to_triangles(ap);
  EXPECT_EQ(ap.uses_rectangles, 0);
  EXPECT_EQ(ap.uses_triangles, 1);
  ASSERT_EQ(e.no_tris, 3);
  EXPECT_EQ(e.no_rects, 0);
  EXPECT_TRUE(e.rects.empty());
  const auto& t1 = e.tris[1].corners;
  expect_point(t1[0], 0, 0, 0);
  expect_point(t1[1], 1, 0, 0);
  expect_point(t1[2], 1, 2, 0);
  const auto& t2 = e.tris[2].corners;
  expect_point(t2[0], 0, 0, 0);
  expect_point(t2[1], 0, 2, 0);
  expect_point(t2[2], 1, 2, 0);
  EXPECT_EQ(e.tris[2].apodization, 0.5);
  EXPECT_EQ(e.tris[2].delay, 2e-9);

  // Converting again to lines finds no rectangles: both kinds are flagged, no line elements.
  convert_to_lines(ap);
  EXPECT_EQ(ap.uses_triangles + ap.uses_lines, 2);
  EXPECT_EQ(e.no_line_elems, 0);
  EXPECT_EQ(e.no_tris, 3);
}

TEST(convert, lines_of_the_example_rectangle_and_their_crossings_in_pair_order) {
  aperture_rec ap = example();
  convert_to_lines(ap);
  const phys_element& e = ap.phys_elements[0];
  ASSERT_EQ(e.no_line_elems, 1);
  EXPECT_EQ(ap.uses_rectangles, 0);
  EXPECT_EQ(ap.uses_lines, 1);
  const line_element& le = e.line_elems[0];
  EXPECT_EQ(le.cos_x, 1.0);
  EXPECT_EQ(le.sin_x, 0.0);  // -0.0 compares equal
  EXPECT_EQ(le.cos_y, 1.0);
  EXPECT_EQ(le.sin_y, 0.0);
  EXPECT_EQ(le.zc, 0.0);
  ASSERT_EQ(le.no_bounds, 4);
  const auto& b = le.bounds;
  EXPECT_TRUE(!b[0].vertical && b[0].slope == 0.0 && b[0].y1 == 0.0 && b[0].side == 1);
  EXPECT_TRUE(b[1].vertical && b[1].slope == 1e60 && b[1].x1 == 1 * mm && b[1].side == 1);
  EXPECT_TRUE(!b[2].vertical && b[2].slope == 0.0 && b[2].y1 == 2 * mm && b[2].side == 0);
  EXPECT_TRUE(b[3].vertical && b[3].x1 == 0.0 && b[3].side == 0);
  ASSERT_EQ(le.no_crossings, 4);
  expect_point(le.crossings[0], 1, 0, 0);
  expect_point(le.crossings[1], 0, 0, 0);
  expect_point(le.crossings[2], 1, 2, 0);
  expect_point(le.crossings[3], 0, 2, 0);
  EXPECT_EQ(le.apodization, 0.5);
  EXPECT_EQ(le.delay, 2e-9);
}

// A rectangle tilted both ways keeps its shape: in the element frame its corners lie at the
// height zc, and the crossings are the corners, 0.4 mm and 0.7 mm apart as on the rectangle.
TEST(convert, a_tilted_rectangle_lies_level_in_its_frame) {
  // Edges u = (0.4, 0, 0.3) * 0.8 and v = (0, 0.7, 0) rotated by 20 degrees about x.
  const double s = std::sin(0.35), c = std::cos(0.35);
  const point3 o = {1, 2, 3}, u = {0.32, 0, 0.24}, v = {0, 0.7 * c, 0.7 * s};
  auto at = [&](double a, double b) -> point3 {
    return {o[0] + a * u[0] + b * v[0], o[1] + a * u[1] + b * v[1], o[2] + a * u[2] + b * v[2]};
  };
  aperture_rec ap = one_element({{at(0, 0), at(0, 1), at(1, 1), at(1, 0)}});
  rect_element r = ap.phys_elements[0].rects[0];
  line_element le;
  rotate_to_plane(r, le);
  for (const point3& p : r.corners) EXPECT_NEAR(p[2], le.zc, 1e-15);
  convert_to_lines(ap);
  const line_element& l = ap.phys_elements[0].line_elems[0];
  ASSERT_EQ(l.no_crossings, 4);
  std::vector<double> gaps;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      gaps.push_back(
          std::hypot(l.crossings[i][0] - l.crossings[j][0], l.crossings[i][1] - l.crossings[j][1]));
  std::sort(gaps.begin(), gaps.end());
  EXPECT_NEAR(gaps[0], 0.4 * mm, 1e-12);
  EXPECT_NEAR(gaps[1], 0.4 * mm, 1e-12);
  EXPECT_NEAR(gaps[2], 0.7 * mm, 1e-12);
  EXPECT_NEAR(gaps[3], 0.7 * mm, 1e-12);
}

class convert_commands : public orvel_test {
 protected:
  void SetUp() override { init_quiet(); }
  double linear_array() {
    call_result r =
        orvel_call({1001, 2, 0.3e-3, 5e-3, 0.05e-3, 1, 2, embedded_matrix(1, 3, {0, 0, 0.03})}, 1);
    EXPECT_TRUE(r.ok) << r.error;
    return r.ok ? r.at(0, 0) : -1.0;
  }
};

TEST_F(convert_commands, lines_enclosing_nothing_are_reported_and_kept) {
  line_element le;
  bounding_line left, right;
  left.vertical = right.vertical = 1;
  left.x1 = 0.0;  // inside x <= 0
  left.side = 1;
  right.x1 = 1e-3;  // inside x >= 1 mm
  right.side = 0;
  bounding_line floor;  // inside y >= 0
  floor.side = 1;
  le.bounds = {left, right, floor};
  le.no_bounds = 3;
  find_crossings(le);
  EXPECT_EQ(le.no_crossings, 0);
  EXPECT_EQ(embedded_console_take(),
            "Internal error. Number of crossings is 0 and less than 4. Press RETURN: ");
}

TEST_F(convert_commands, options_and_commands_convert) {
  ASSERT_TRUE(orvel_call({5050, "use_triangles", 1.0}).ok);
  const double h = linear_array();
  const aperture_rec& ap = lookup_aperture(current_sys(), h);
  EXPECT_EQ(ap.uses_triangles, 1);
  EXPECT_EQ(ap.phys_elements[1].no_tris, 4);
  ASSERT_TRUE(orvel_call({5050, "use_lines", 1.0}).ok);
  const double g = linear_array();
  EXPECT_EQ(lookup_aperture(current_sys(), g).phys_elements[0].no_line_elems, 2);
  ASSERT_TRUE(orvel_call({5050, "use_rectangles", 1.0}).ok);
  const double f = linear_array();
  EXPECT_EQ(lookup_aperture(current_sys(), f).uses_rectangles, 1);

  ASSERT_TRUE(orvel_call({1031, f}).ok);
  EXPECT_EQ(lookup_aperture(current_sys(), f).phys_elements[0].no_line_elems, 2);

  ASSERT_TRUE(orvel_call({1040, f}).ok);
  EXPECT_EQ(orvel_call({1030, f}).error,
            "Orvel error: This aperture has been free_d and is not defined");
  EXPECT_EQ(orvel_call({1031, f}).error,
            "Orvel error: This aperture has been freed and is not defined");
  EXPECT_EQ(orvel_call({1030, 7.0}).error, "Orvel error: This aperture has not been defined");
}
}  // namespace

namespace {
// The piston and concave transducers warn that they are converted, unless the system is quiet;
// a user table converted by the same option does not.
TEST_F(orvel_test, single_element_transducers_warn_when_converted) {
  ASSERT_TRUE(orvel_call({5001, 0}).ok);
  ASSERT_TRUE(orvel_call({5050, "use_triangles", 1.0}).ok);
  call_result r = orvel_call({1010, 5e-3, 1e-3}, 1);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.console,
            "Warning: Triangles are currently not fully supported for piston apertures.\n"
            "         Some approximation in the responses might occur.\n");
  EXPECT_EQ(lookup_aperture(current_sys(), r.at(0, 0)).phys_elements[0].no_tris, 160);
  const std::vector<double> rect = {1, 0,    0, 0, 1e-3, 0,    0,      1e-3, 2e-3, 0,
                                    0, 2e-3, 0, 1, 1e-3, 2e-3, 0.5e-3, 1e-3, 0};
  r = orvel_call({1021, embedded_matrix(1, 19, rect), embedded_matrix(1, 3, {0, 0, 0}),
                  embedded_matrix(1, 3, {0, 0, 0.03})},
                 1);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(lookup_aperture(current_sys(), r.at(0, 0)).phys_elements[0].no_tris, 2);

  ASSERT_TRUE(orvel_call({5050, "use_lines", 1.0}).ok);
  r = orvel_call({1011, 5e-3, 40e-3, 1e-3}, 1);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.console,
            "Warning: Lines are currently not fully supported for concave apertures.\n"
            "         Some approximation in the responses will occur.\n");
  r = orvel_call({1010, 5e-3, 1e-3}, 1);
  EXPECT_EQ(r.console,
            "Warning: Lines are currently not fully supported for piston apertures.\n"
            "         Some approximation in the responses might occur.\n");
  embedded_unload();
  ASSERT_TRUE(orvel_call({5001, -1}).ok);  // quiet: converted without a word
  ASSERT_TRUE(orvel_call({5050, "use_lines", 1.0}).ok);
  r = orvel_call({1010, 5e-3, 1e-3}, 1);
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(lookup_aperture(current_sys(), r.at(0, 0)).phys_elements[0].no_line_elems, 80);
}
}  // namespace
