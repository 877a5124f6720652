// Piston and concave transducers, apertures from user tables, and the commands that make them
// and refuse bad tables, through the embedded host.
#include <cmath>
#include <vector>

#include "apertures/aperture.h"
#include "gateway/gateway.h"
#include "gateway/transducers.h"
#include "harness.h"

namespace {
constexpr double mm = 1e-3;

class user_apertures_test : public orvel_test {
 protected:
  void SetUp() override { init_quiet(); }
  static mxArray* point(double x, double y, double z) { return embedded_matrix(1, 3, {x, y, z}); }
  // The aperture a constructor command made; fails the test when the command failed.
  const aperture_rec& made(std::initializer_list<host_arg> args) {
    call_result r = orvel_call(args, 1);
    EXPECT_TRUE(r.ok) << r.error;
    if (!r.ok) throw std::runtime_error(r.error);
    return lookup_aperture(current_sys(), r.at(0, 0));
  }
};

// A table of rows given row by row, handed over column-major as the host stores it.
mxArray* table(const std::vector<std::vector<double>>& rows) {
  const size_t n = rows.size(), cols = rows.empty() ? 0 : rows[0].size();
  std::vector<double> v(n * cols);
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < cols; ++c) v[i + n * c] = rows[i][c];
  return embedded_matrix(n, cols, v);
}

// A rectangle row: element e, the flat square of side 1 mm with lower-left corner (x, y) mm.
std::vector<double> rect_row(double e, double x, double y, double apod = 1.0) {
  const double a = x * mm, b = y * mm, s = mm;
  return {e, a, b, 0, a, b + s, 0, a + s, b + s, 0, a + s, b, 0, apod, 9.0,
          9.0,  // width and height: replaced by the
                // measures of the corners
          a + s / 2, b + s / 2, 0};
}

const command_texts texts[] = {
    {1004, 9, "Defining new transducer. Calling xdc_convex_array",
     "Internal Error 5: Too few parameters to define convex array transducer"},
    {1005, 10, "Defining new transducer. Calling xdc_convex_focused_array",
     "Internal Error 5: Too few parameters to define convex focused array transducer"},
    {1010, 3, "Defining new transducer. Calling xdc_piston",
     "Internal Error 5: Too few parameters to define piston transducer"},
    {1011, 4, "Defining new transducer. Calling xdc_concave",
     "Internal Error 5: Too few parameters to define concave transducer"},
    {1014, 12, "Defining new transducer. Calling xdc_convex_focused_multirow",
     "Internal Error 5: Too few parameters to define convex, multi-row, elevation focused array "
     "transducer"},
    {1020, 5, "Defining new transducer. Calling xdc_triangles_old",
     "Internal Error 5: Too few parameters to define aperture with triangles"},
    {1021, 4, "Defining new transducer. Calling xdc_rectangles",
     "Internal Error 5: Too few parameters to define aperture with rectangles"},
    {1022, 4, "Defining new transducer. Calling xdc_line_elements",
     "Internal Error 5: Too few parameters to define aperture with lines"},
    {1023, 4, "Defining new transducer. Calling xdc_triangles",
     "Internal Error 5: Too few parameters to define aperture with triangles"},
};
}  // namespace

TEST_F(user_apertures_test, CommandsTraceThenCountTheirArguments) {
  ASSERT_TRUE(orvel_call({5010, 1}).ok);
  expect_traces_and_too_few(texts, 1);
  EXPECT_EQ(current_sys().no_apertures, 0);
}

TEST_F(user_apertures_test, PistonFillsTheCircleWithSquaresWhoseCentresLieInside) {
  const aperture_rec& ap = made({1010, 5 * mm, 1 * mm});
  EXPECT_STREQ(ap.name, "Single element piston transducer");
  ASSERT_EQ(ap.no_phys_elements, 1);
  const phys_element& e = ap.phys_elements[0];
  // Every centre on the half-millimetre grid inside the circle, rows from the lowest y.
  std::vector<std::pair<double, double>> expected;
  std::vector<int> per_row;
  for (int j = -5; j < 5; ++j) {
    per_row.push_back(0);
    for (int i = -5; i < 5; ++i) {
      const double x = i + 0.5, y = j + 0.5;
      if (x * x + y * y > 25.0) continue;
      expected.emplace_back(x * mm, y * mm);
      ++per_row.back();
    }
  }
  ASSERT_EQ(expected.size(), 80u);
  EXPECT_EQ(per_row.front(), 4);  // y = -4.5 mm
  EXPECT_EQ(per_row.back(), 4);   // y = +4.5 mm
  ASSERT_EQ(e.no_rects, 80);
  for (size_t k = 0; k < expected.size(); ++k) {
    const rect_element& r = e.rects[k];
    EXPECT_NEAR(r.center[0], expected[k].first, 1e-17) << k;
    EXPECT_NEAR(r.center[1], expected[k].second, 1e-17) << k;
    EXPECT_NEAR(r.corners[0][0], expected[k].first - 0.5 * mm, 1e-17);
    EXPECT_NEAR(r.corners[2][1], expected[k].second + 0.5 * mm, 1e-17);
    EXPECT_NEAR(r.width, 1 * mm, 1e-17);
    EXPECT_NEAR(r.height, 1 * mm, 1e-17);
    EXPECT_EQ(r.tilted, 0);
  }
  EXPECT_EQ(ap.focus_line[0].focus_point, (point3{0, 0, 100000.0}));

  // Squares of 2R or more: one physical element without rectangles.
  for (double s : {2 * mm, 3 * mm}) {
    const aperture_rec& none = made({1010, 1 * mm, s});
    ASSERT_EQ(none.no_phys_elements, 1);
    EXPECT_EQ(none.phys_elements[0].no_rects, 0);
    EXPECT_TRUE(none.phys_elements[0].rects.empty());
  }
}

TEST_F(user_apertures_test, ConcaveSquaresLieOnTheSphere) {
  const double Rf = 20 * mm;
  const aperture_rec& piston = made({1010, 5 * mm, 1 * mm});
  const aperture_rec& ap = made({1011, 5 * mm, Rf, 1 * mm});
  EXPECT_STREQ(ap.name, "Single element concave transducer");
  ASSERT_EQ(ap.phys_elements[0].no_rects, 80);
  auto sphere = [Rf](const point3& p) { return std::hypot(p[0], p[1], p[2] - Rf); };
  for (int k = 0; k < 80; ++k) {
    const rect_element& r = ap.phys_elements[0].rects[k];
    EXPECT_EQ(r.center[0], piston.phys_elements[0].rects[k].center[0]);
    EXPECT_EQ(r.center[1], piston.phys_elements[0].rects[k].center[1]);
    EXPECT_NEAR(sphere(r.center), Rf, 1e-17);
    for (const point3& c : r.corners) EXPECT_NEAR(sphere(c), Rf, 1e-17);
  }
  EXPECT_EQ(ap.focus_line[0].focus_point, (point3{0, 0, Rf}));
  EXPECT_EQ(ap.focus_line[0].delays, std::vector<double>{0.0});  // the centre at the origin
}

TEST_F(user_apertures_test, UserTablesGroupRowsIntoPhysicalElements) {
  // Rectangles numbered 1, 1, 2: two elements of 2 and 1 rectangles, measured from the corners.
  const aperture_rec& rects =
      made({1021, table({rect_row(1, 0, 0), rect_row(1, 1, 0, 0.5), rect_row(2, 3, 0)}),
            table({{0.5 * mm, 0, 0}, {3.5 * mm, 0, 0}}), point(0, 0, 0.03)});
  EXPECT_STREQ(rects.name, "User defined rectangles transducer");
  ASSERT_EQ(rects.no_phys_elements, 2);
  EXPECT_EQ(rects.phys_elements[0].no_rects, 2);
  EXPECT_EQ(rects.phys_elements[1].no_rects, 1);
  EXPECT_EQ(rects.phys_elements[1].center, (point3{3.5 * mm, 0, 0}));
  EXPECT_EQ(rects.phys_elements[0].rects[1].apodization, 0.5);
  EXPECT_EQ(rects.phys_elements[0].rects[1].width, 1 * mm);
  EXPECT_EQ(rects.phys_elements[1].rects[0].height, 1 * mm);
  EXPECT_EQ(rects.focus_line[0].delays.size(), 2u);

  // A gap: element 2 named by no row keeps no rectangles.
  const aperture_rec& gap = made(
      {1021, table({rect_row(1, 0, 0), rect_row(3, 2, 0)}), embedded_matrix(3, 3), point(0, 0, 1)});
  ASSERT_EQ(gap.no_phys_elements, 3);
  EXPECT_EQ(gap.phys_elements[1].no_rects, 0);
  EXPECT_EQ(gap.phys_elements[2].rects[0].corners[0][0], 2 * mm);

  const aperture_rec& tris = made({1023,
                                   table({{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0.25},
                                          {2, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0.75},
                                          {2, 0, 0, 0, 1, 0, 0, 0, -1, 0, 1.0}}),
                                   table({{0, 0, 0}, {0, -1, 0}}), point(0, 0, 0.03)});
  EXPECT_STREQ(tris.name, "User defined transducer using triangles");
  EXPECT_EQ(tris.uses_triangles, 1);
  EXPECT_EQ(tris.uses_rectangles, 0);
  EXPECT_EQ(tris.phys_elements[0].no_tris, 1);
  ASSERT_EQ(tris.phys_elements[1].no_tris, 2);
  EXPECT_EQ(tris.phys_elements[1].tris[0].corners[1], (point3{-1, 0, 0}));
  EXPECT_EQ(tris.phys_elements[1].tris[0].apodization, 0.75);

  const aperture_rec& old =
      made({1020, table({{0, 0, 0, 1, 0, 0, 0, 1, 0}, {1, 0, 0, 1, 1, 0, 0, 1, 0}}),
            embedded_matrix(2, 1, {0.5, 0.25}), point(0.5, 0.5, 0), 0.125});
  EXPECT_STREQ(old.name, "Physical element made of triangles");
  ASSERT_EQ(old.no_phys_elements, 1);
  ASSERT_EQ(old.phys_elements[0].no_tris, 2);
  EXPECT_EQ(old.phys_elements[0].tris[1].corners[2], (point3{0, 1, 0}));
  EXPECT_EQ(old.phys_elements[0].tris[1].apodization, 0.25);
  EXPECT_EQ(old.phys_elements[0].center, (point3{0.5, 0.5, 0}));
  EXPECT_EQ(old.focus_line[0].focus_point, (point3{0, 0, 1e30}));
  EXPECT_EQ(old.apod_line[0].values, std::vector<double>{0.125});
}

TEST_F(user_apertures_test, LineTablesFillTheNamedLineElements) {
  // The 1 mm x 2 mm rectangle as four lines, all of line element 2 of physical element 1:
  // y >= 0, x <= 1 mm, y <= 2 mm, x >= 0 (vertical flag and side given as near-whole values).
  call_result r = orvel_call({1022,
                              table({{1, 2, 0, 0, 0, 1},
                                     {1, 2, 0, 0.6, 1 * mm, 1},
                                     {1, 2, 0, 0, 2 * mm, 0.4},
                                     {1, 2, 0, 1, 0, 0}}),
                              point(0.5 * mm, 1 * mm, 0), point(0, 0, 0.03)},
                             1);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.console, "");
  const aperture_rec& ap = lookup_aperture(current_sys(), r.at(0, 0));
  EXPECT_STREQ(ap.name, "User defined transducer using lines");
  EXPECT_EQ(ap.uses_lines, 1);
  EXPECT_EQ(ap.uses_rectangles, 0);
  ASSERT_EQ(ap.no_phys_elements, 1);
  const phys_element& e = ap.phys_elements[0];
  ASSERT_EQ(e.no_line_elems, 2);
  EXPECT_EQ(e.line_elems[0].no_bounds, 0);
  EXPECT_EQ(e.line_elems[0].no_crossings, 0);
  const line_element& le = e.line_elems[1];
  ASSERT_EQ(le.no_bounds, 4);
  EXPECT_EQ(le.bounds[1].vertical, 1);
  EXPECT_EQ(le.bounds[1].x1, 1 * mm);
  EXPECT_EQ(le.bounds[2].y1, 2 * mm);
  EXPECT_EQ(le.bounds[2].side, 0);
  // The crossings of the pairs (0,1), (0,3), (1,2), (2,3), in that order.
  const point3 corners[] = {{1 * mm, 0, 0}, {0, 0, 0}, {1 * mm, 2 * mm, 0}, {0, 2 * mm, 0}};
  ASSERT_EQ(le.no_crossings, 4);
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(le.crossings[k][i], corners[k][i], 1e-18);

  // Lines that enclose no region (y >= 1 mm and y <= 0): reported, and the element kept.
  r = orvel_call({1022, table({{1, 1, 0, 0, 1 * mm, 1}, {1, 1, 0, 0, 0, 0}}), point(0, 0, 0),
                  point(0, 0, 0.03)},
                 1);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.console, "Internal error. Number of crossings is 0 and less than 4. Press RETURN: ");
  EXPECT_EQ(lookup_aperture(current_sys(), r.at(0, 0)).phys_elements[0].line_elems[0].no_bounds, 2);
}

TEST_F(user_apertures_test, BadInputIsRefusedBeforeAnythingIsMade) {
  auto p = [] { return point(0, 0, 0.03); };
  auto centres = [](size_t n) { return embedded_matrix(n, 3); };
  const std::vector<double> tri = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1};
  auto refused = [](const call_result& r, const char* text) {
    EXPECT_EQ(r.error, text);
    EXPECT_TRUE(r.out.empty());
  };
  // Physical element numbers: not whole, below 1, decreasing (a second run of element 1).
  refused(orvel_call({1021, table({rect_row(1, 0, 0), rect_row(1.5, 1, 0)}), centres(2), p()}, 1),
          "Error: The physical element numbers of the rectangle table (column 1) must be whole "
          "numbers from 1 up that never decrease, but row 2 holds 1.5");
  refused(
      orvel_call(
          {1023, table({std::vector<double>{0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1}}), centres(1), p()},
          1),
      "Error: The physical element numbers of the triangle table (column 1) must be whole numbers "
      "from 1 up that never decrease, but row 1 holds 0");
  refused(orvel_call({1021, table({rect_row(1, 0, 0), rect_row(2, 1, 0), rect_row(1, 2, 0)}),
                      centres(2), p()},
                     1),
          "Error: The physical element numbers of the rectangle table (column 1) must be whole "
          "numbers from 1 up that never decrease, but row 3 holds 1");
  refused(orvel_call({1022, table({{NAN, 1, 0, 0, 0, 1}}), centres(1), p()}, 1),
          "Error: The line table must hold finite values, but row 1, column 1 is nan");
  // Line element numbers decrease within element 2 (restarting at element 2 is fine).
  refused(
      orvel_call(
          {1022,
           table({{1, 2, 0, 0, 0, 1}, {2, 1, 0, 0, 0, 1}, {2, 3, 0, 0, 0, 1}, {2, 2, 0, 0, 0, 1}}),
           centres(2), p()},
          1),
      "Error: The line element numbers of the line table (column 2) must be whole numbers from 1 "
      "up that never decrease, but row 4 holds 2");
  refused(orvel_call({1022, table({{1, 1, 0, 1e6, 0, 1}}), centres(1), p()}, 1),
          "Error: The vertical flags and inside sides of the line table (columns 4 and 6) must be "
          "finite and within the 16-bit range, but row 1 holds 1e+06");
  // Too few columns or rows, never read past the host data.
  refused(orvel_call({1021, embedded_matrix(1, 18, {1}), centres(1), p()}, 1),
          "Error: The rectangle table must have at least 19 columns, but has 18");
  refused(orvel_call({1023, embedded_matrix(1, 10, {1}), centres(1), p()}, 1),
          "Error: The triangle table must have at least 11 columns, but has 10");
  refused(orvel_call({1020, embedded_matrix(2, 8), embedded_matrix(2, 1), p(), 1.0}, 1),
          "Error: The triangle table must have at least 9 columns, but has 8");
  refused(orvel_call({1022, embedded_matrix(1, 5, {1, 1}), centres(1), p()}, 1),
          "Error: The line table must have at least 6 columns, but has 5");
  refused(orvel_call({1021, embedded_matrix(0, 19), centres(1), p()}, 1),
          "Error: The rectangle table is empty; a value is needed");
  refused(orvel_call({1023, table({tri, tri}), embedded_matrix(2, 2), p()}, 1),
          "Error: The centre table must have at least 3 columns, but has 2");
  refused(orvel_call({1021, table({rect_row(1, 0, 0), rect_row(2, 1, 0)}), centres(1), p()}, 1),
          "Error: The centre table must have a row for each of the 2 physical elements, but has 1");
  refused(orvel_call({1020, embedded_matrix(3, 9), embedded_matrix(1, 2), p(), 1.0}, 1),
          "Error: The triangle apodization must hold 3 values (one per triangle), but holds 2");
  // Circles: sizes that are not positive and finite, too many squares, a sphere too small.
  refused(orvel_call({1010, 5 * mm, 0.0}, 1),
          "Error: The square size must be a positive length, but is 0");
  refused(orvel_call({1010, INFINITY, 1 * mm}, 1), "Error: The radius must be finite, but is inf");
  refused(orvel_call({1011, 5 * mm, NAN, 1 * mm}, 1),
          "Error: The focal radius must be finite, but is nan");
  refused(orvel_call({1010, 1.0, 1e-5}, 1),
          "Error: The radius is too large for the square size: more than 2^31 - 1 squares would be "
          "needed");
  refused(orvel_call({1011, 5 * mm, 5 * mm, 1 * mm}, 1),  // corners off the sphere
          "Error: The focal radius does not fit the radius and square size: the corners of the "
          "outer squares would lie off its sphere");
  refused(orvel_call({1011, 5 * mm, 1e300, 1 * mm}, 1),  // depths that would overflow
          "Error: The focal radius must lie within +-1e+09 m, but is 1e+300");
  EXPECT_EQ(current_sys().no_apertures, 0);
  EXPECT_EQ(current_sys().bytes_reserved, 0);
}

TEST_F(user_apertures_test, ConvexCommandsMakeTheirArrays) {
  const aperture_rec& a = made({1004, 5, 0.4e-3, 5e-3, 0.05e-3, 0.04, 2, 3, point(0, 0, 0.05)});
  EXPECT_STREQ(a.name, "Convex array transducer");
  EXPECT_EQ(a.no_phys_elements, 5);
  EXPECT_EQ(a.phys_elements[4].no_rects, 6);
  EXPECT_NEAR(a.phys_elements[2].center[2], 0.0, 1e-18);  // the middle element at the origin
  EXPECT_EQ(a.focus_line[0].focus_point, (point3{0, 0, 0.05}));
  const aperture_rec& b =
      made({1005, 4, 0.4e-3, 4e-3, 0.05e-3, 0.04, 0.03, 1, 5, point(0, 0, 0.05)});
  EXPECT_STREQ(b.name, "Convex focused array transducer");
  EXPECT_EQ(b.phys_elements[3].no_rects, 5);
  const aperture_rec& c = made({1014, 3, 0.4e-3, 2, embedded_matrix(1, 2, {1e-3, 3e-3}), 0.05e-3,
                                0.1e-3, 0.04, 0.03, 1, 2, point(0, 0, 0.05)});
  EXPECT_STREQ(c.name, "Convex focused multirow transducer");
  ASSERT_EQ(c.no_phys_elements, 6);
  // Rows 1 mm and 3 mm high with a 0.1 mm gap span y = -2.05 to -1.05 mm and -0.95 to 2.05 mm.
  EXPECT_NEAR(c.phys_elements[0].center[1], -1.55e-3, 1e-18);
  EXPECT_NEAR(c.phys_elements[5].center[1], 0.55e-3, 1e-18);
}
