// The aperture report (console text of every section and level) and the aperture query
// (shapes, row layouts, and never a value written outside the matrix).
#include <algorithm>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "apertures/aperture.h"
#include "apertures/report.h"
#include "core/sys_con.h"
#include "harness.h"

namespace {
const char* const created = "Mon Jan  1 00:00:00 2024\n";

// The header of a fresh aperture of n elements, unchanged settings.
std::string plain_header(int n) {
  return "Aperture name: Linear array transducer \n"
         "Created: Mon Jan  1 00:00:00 2024\n \n"
         "Impulse response consists of 1 samples\n"
         "Excitation response consists of 1 samples\n"
         "All elements uses same excitation\n"
         "No quantization of phase delays are used.\n"
         "Aperture uses the rigid baffle boundary condition\n"
         "The reference point for focusing is at  (x,y,z) = (    0.0000,     0.0000,     0.0000) "
         "mm\n"
         "The aperture consists of " +
         std::to_string(n) + " physical elements. \n";
}

class report_test : public orvel_test {
 protected:
  sys_con sys;  // declared first: the aperture's signals go back to it
  aperture_ptr ap;

  // An aperture of n physical elements without mathematical elements or time lines.
  void make(int n) {
    ap = new_aperture(sys, "Linear array transducer");
    std::strcpy(ap->created, created);
    ap->no_phys_elements = n;
    ap->phys_elements.resize(static_cast<size_t>(n));
  }
  std::string show(int32_t level) {
    embedded_console_take();
    xdc_show(sys, *ap, level);
    return embedded_console_take();
  }
  // The query into a matrix of exactly its size, so that the sanitizer sees any overrun.
  std::vector<double> get(int32_t kind, size_t& rows, size_t& cols) {
    EXPECT_TRUE(xdc_get_shape(*ap, kind, rows, cols));
    std::vector<double> m(rows * cols, 0.0);
    xdc_get(sys, *ap, kind, m.data(), rows, cols);
    return m;
  }
};

rect_element rect(double xc, double apod) {  // 0.4 mm by 5 mm at (xc, 0, 0)
  rect_element r;
  r.center = {xc, 0, 0};
  r.width = 0.4e-3;
  r.height = 5e-3;
  r.apodization = apod;
  r.corners = {point3{xc - 0.2e-3, -2.5e-3, 0}, point3{xc + 0.2e-3, -2.5e-3, 0},
               point3{xc + 0.2e-3, 2.5e-3, 0}, point3{xc - 0.2e-3, 2.5e-3, 0}};
  return r;
}

// A line element with nb bounding lines and nc crossings, values numbered from base.
line_element line_elem(int nb, int nc, double base) {
  line_element le;
  le.apodization = base;
  le.delay = base + 1;
  le.cos_x = base + 2, le.sin_x = base + 3, le.cos_y = base + 4, le.sin_y = base + 5;
  le.zc = base + 6;
  for (int l = 0; l < nb; ++l) le.bounds.push_back({base + 10 * l, 0, 1, base + 1, base + 2, 1});
  for (int k = 0; k < nc; ++k) le.crossings.push_back({base + k, base - k, 0});
  le.no_bounds = nb;
  le.no_crossings = nc;
  return le;
}
}  // namespace

TEST_F(report_test, TwoElementsAtLevelTwoShowHeaderAndOneFocusEntry) {
  make(2);
  ap->focus_line.push_back({0.0, 0, {1.5e-8, -2.25e-7}, {0, 0, 0.03}, 0, 0});
  ap->apod_line.push_back({0.0, {1.0, 1.0}});
  EXPECT_EQ(show(2), plain_header(2) +
                         "\nTime line for focusing:\n"
                         "Time [us]  Focal point [mm] or focal direction \n"
                         "  0.0000   (  0.0000,   0.0000,  30.0000) \n"
                         "Delay times [s] (Element: Value) \n"
                         "            (  1,  1.500e-08)  (  2, -2.250e-07)  \n");
  // Levels outside 0 to 3 print the header only.
  EXPECT_EQ(show(4), plain_header(2));
  EXPECT_EQ(show(-1), plain_header(2));
}

TEST_F(report_test, HeaderVariantsAndDebugLine) {
  make(0);
  xdc_impulse(sys, *ap, alloc_signal(sys, 64, 0));
  ap->individual_excitation = 1;
  ap->quantize = 1;
  ap->quant_step = 12.5e-9;
  ap->soft_baffle = 1;
  ap->ref_point = {1e-3, -2e-3, 0.5e-3};
  sys.debug = 1;
  EXPECT_EQ(
      show(7),
      "Orvel debug message: Entering xdc_show\n"
      "Aperture name: Linear array transducer \n"
      "Created: Mon Jan  1 00:00:00 2024\n \n"
      "Impulse response consists of 64 samples\n"
      "Excitation response consists of 1 samples\n"
      "Physical elements uses individual excitation\n"
      "Quantized phase delay is used. Quantization =    12.5000 ns\n"
      "Aperture uses the soft-baffle boundary condition\n"
      "The reference point for focusing is at  (x,y,z) = (    1.0000,    -2.0000,     0.5000) "
      "mm\n"
      "The aperture consists of 0 physical elements. \n");
}

TEST_F(report_test, FourRectanglesGiveThreeTablesOfFourRows) {
  make(1);
  phys_element& e = ap->phys_elements[0];
  e.rects = {rect(-0.6e-3, 1.0), rect(-0.2e-3, 0.5), rect(0.2e-3, 0.25), rect(0.6e-3, 1.0)};
  e.rects[0].tan_xz = 0.125;
  e.rects[0].tan_yz = -0.5;
  e.no_rects = 4;
  ap->focus_line.push_back({0.0, 0, {0.0}, {0, 0, 0.03}, 0, 0});
  ap->apod_line.push_back({0.0, {1.0}});
  // Level 1: the elements, and neither time line.
  EXPECT_EQ(
      show(1),
      plain_header(1) +
          "Physical element number 1 consists of 4 rectangles and 0 triangles and 0 line "
          "elements \n"
          "The center point is at (x,y,z) = (    0.0000,     0.0000,     0.0000) mm. \n"
          "    Rectangular elements are given by (all measures in mm):\n"
          "    Unit vectors \n"
          "    No.     Width    Height   Apodization    tan_xz     tan_yz\n"
          "       1    0.4000    5.0000    1.0000       0.1250   -0.5000 \n"
          "       2    0.4000    5.0000    0.5000       0.0000    0.0000 \n"
          "       3    0.4000    5.0000    0.2500       0.0000    0.0000 \n"
          "       4    0.4000    5.0000    1.0000       0.0000    0.0000 \n"
          "    Center points are given by (all measures in mm):  \n"
          "    No.         Center\n"
          "       1  (  -0.6000,    0.0000,    0.0000)  \n"
          "       2  (  -0.2000,    0.0000,    0.0000)  \n"
          "       3  (   0.2000,    0.0000,    0.0000)  \n"
          "       4  (   0.6000,    0.0000,    0.0000)  \n"
          "    Corners are given by (all measures in mm):  \n"
          "    No.                (1)                      (2)                      (3)        "
          "              (4) \n"
          "       1  ( -0.80,  -2.50,   0.00) ( -0.40,  -2.50,   0.00) ( -0.40,   2.50,   0.00) "
          "( -0.80,   2.50,   0.00) \n"
          "       2  ( -0.40,  -2.50,   0.00) (  0.00,  -2.50,   0.00) (  0.00,   2.50,   0.00) "
          "( -0.40,   2.50,   0.00) \n"
          "       3  (  0.00,  -2.50,   0.00) (  0.40,  -2.50,   0.00) (  0.40,   2.50,   0.00) "
          "(  0.00,   2.50,   0.00) \n"
          "       4  (  0.40,  -2.50,   0.00) (  0.80,  -2.50,   0.00) (  0.80,   2.50,   0.00) "
          "(  0.40,   2.50,   0.00) \n");
}

TEST_F(report_test, TrianglesWaveformAndLineElements) {
  make(1);
  phys_element& e = ap->phys_elements[0];
  e.center = {0, 1e-3, 0};
  e.waveform = alloc_signal(sys, 3, 0);
  e.has_waveform = 1;
  e.tris.push_back({{point3{0, 0, 0}, point3{1e-3, 0, 0}, point3{0, 1e-3, 0}}, 0.5, 0});
  e.no_tris = 1;
  line_element le;
  le.cos_x = 1, le.sin_x = 0, le.cos_y = 0.8, le.sin_y = 0.6;
  le.zc = 2e-3;
  le.apodization = 0.75;
  le.delay = 0.25e-6;
  le.bounds.push_back({0, 1, 1, 0, 1e-3, 1});        // vertical at x = 1 mm
  le.bounds.push_back({0.5, 1.25, 0, -2e-3, 0, 0});  // sloped, crossing y at -2 mm
  le.no_bounds = 2;
  le.crossings.push_back({1e-3, -1.5e-3, 0});
  le.no_crossings = 1;
  e.line_elems = {le};
  e.no_line_elems = 1;
  const std::string elements =
      "Physical element number 1 consists of 0 rectangles and 1 triangles and 1 line "
      "elements \n"
      "The center point is at (x,y,z) = (    0.0000,     1.0000,     0.0000) mm. \n"
      "    This physical element uses an individual excitation with 3 samples\n"
      "    Triangular elements: \n"
      "    Corners are given by (all measures in mm):  \n"
      "    No.     Apodization           (1)                      (2)                      (3)  \n"
      "       1    0.50  (  0.00,   0.00,   0.00) (  1.00,   0.00,   0.00) (  0.00,   1.00,   "
      "0.00) \n"
      "  Line elements: \n"
      "    Lines are given by (all measures in mm):  \n"
      "    Direction cosine for x =   1.000000, sine for x =   0.000000, cosine for y =   "
      "0.800000, sine for y =   0.600000, \n"
      "    Projected plane height zc =     2.0000 mm \n"
      "    There are 1 crossings between bounding lines \n"
      "    Crossing no.   Position (x, y, z) mm \n"
      "         0     1.000000     -1.500000      0.000000 \n"
      "    Element apodization value =     0.7500,  Delay value =     0.2500 us\n"
      "    Element no.   Line no.      Slope        Intersection      Above or left   "
      "Apodization   \n"
      "        1            1        Infinite       x1=    1.0000           1        0.750000\n"
      "        1            2          0.5000       y1=   -2.0000           0        0.750000\n";
  // Level 0 with empty time lines: the apodization section still ends in its newline.
  EXPECT_EQ(show(0), plain_header(1) + elements + "\nTime line for focusing:\n" +
                         "Time line for apodization:\nTime [us]  Apodization (Element: Value)\n");
}

TEST_F(report_test, TimeLinesBreakDelaysAfterFourAndValuesAfterFive) {
  make(9);
  focus_entry fixed{0.0, 0, {}, {0, 0, 0.04}, 0, 0};
  for (int k = 1; k <= 9; ++k) fixed.delays.push_back(k * 1e-7);
  ap->focus_line = {fixed, {10e-6, 1, {}, {}, std::numbers::pi / 6, -std::numbers::pi / 4}};
  const std::string delays9 =
      "(  1,  1.000e-07)  (  2,  2.000e-07)  (  3,  3.000e-07)  (  4,  4.000e-07)  \n"
      "            (  5,  5.000e-07)  (  6,  6.000e-07)  (  7,  7.000e-07)  (  8,  8.000e-07)  \n"
      "            (  9,  9.000e-07)  \n";
  EXPECT_EQ(show(2), plain_header(9) +
                         "\nTime line for focusing:\n"
                         "Time [us]  Focal point [mm] or focal direction \n"
                         "  0.0000   (  0.0000,   0.0000,  40.0000) \n"
                         "Delay times [s] (Element: Value) \n            " +
                         delays9 +
                         "Time [us]  Focal point [mm] or focal direction \n"
                         " 10.0000  Dynamic along:   30.0000 deg. (z-x),  -45.0000 deg. (z-y)) \n");

  make(10);
  apod_entry a{0.0, {}};
  for (int k = 1; k <= 10; ++k) a.values.push_back(k / 10.0);
  // An entry with fewer values than elements shows what it has and reads no further.
  ap->apod_line = {a, {5e-6, {1, 1, 1, 1, 1, 1, 1}}};
  EXPECT_EQ(show(3), plain_header(10) +
                         "Time line for apodization:\n"
                         "Time [us]  Apodization (Element: Value)\n"
                         "   0.0000   (  1, 0.1000)  (  2, 0.2000)  (  3, 0.3000)  (  4, 0.4000)  "
                         "(  5, 0.5000)  \n"
                         "            (  6, 0.6000)  (  7, 0.7000)  (  8, 0.8000)  (  9, 0.9000)  "
                         "( 10, 1.0000)  \n            \n"
                         "   5.0000   (  1, 1.0000)  (  2, 1.0000)  (  3, 1.0000)  (  4, 1.0000)  "
                         "(  5, 1.0000)  \n"
                         "            (  6, 1.0000)  (  7, 1.0000)  \n");
}

TEST_F(report_test, QueryShapesAndRectangleAndTriangleRows) {
  make(2);
  ap->phys_elements[0].rects = {rect(-0.6e-3, 1.0)};
  ap->phys_elements[0].no_rects = 1;
  phys_element& e = ap->phys_elements[1];
  e.center = {7, 8, 9};
  e.rects = {rect(0.2e-3, 0.5), rect(0.6e-3, 0.25)};
  e.rects[1].tan_xz = 0.1, e.rects[1].tan_yz = 0.2, e.rects[1].delay = 3e-9;
  e.no_rects = 2;
  size_t rows = 0, cols = 0;
  EXPECT_FALSE(xdc_get_shape(*ap, 6, rows, cols));
  EXPECT_FALSE(xdc_get_shape(*ap, 0, rows, cols));
  std::vector<double> m = get(1, rows, cols);
  ASSERT_EQ(rows, 26u);
  ASSERT_EQ(cols, 3u);
  const std::array<point3, 4>& c = e.rects[1].corners;
  const std::vector<double> third = {
      1,       1,       0.4e-3, 5e-3,    0.25,    0.1, 0.2,  // numbers, size, apodization, slopes
      0.6e-3,  0,       0,                                   // centre
      c[0][0], -2.5e-3, 0,      c[1][0], -2.5e-3, 0,         // corners 1 and 2
      c[2][0], 2.5e-3,  0,      c[3][0], 2.5e-3,  0,         // corners 3 and 4
      3e-9,    7,       8,      9};                          // delay, the element's centre
  EXPECT_EQ(std::vector<double>(m.begin() + 52, m.end()), third);
  EXPECT_EQ(m[26], 1.0);  // second column: element 1, rectangle 0
  EXPECT_EQ(m[27], 0.0);
  // No triangles: 15 rows, no columns, nothing to write.
  m = get(2, rows, cols);
  EXPECT_EQ(rows, 15u);
  EXPECT_EQ(cols, 0u);

  e.tris.push_back({{point3{1, 2, 3}, point3{4, 5, 6}, point3{7, 8, 9}}, 0.5, 1e-6});
  e.no_tris = 1;
  m = get(2, rows, cols);
  ASSERT_EQ(cols, 1u);
  EXPECT_EQ(m, (std::vector<double>{1, 0, 0.5, 7, 8, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  // An aperture of triangles has no rectangles.
  const tri_element t = e.tris[0];
  make(1);
  ap->uses_rectangles = 0;
  ap->uses_triangles = 1;
  ap->phys_elements[0].tris = {t};
  ap->phys_elements[0].no_tris = 1;
  get(1, rows, cols);
  EXPECT_EQ(rows, 26u);
  EXPECT_EQ(cols, 0u);
}

TEST_F(report_test, QueryTimeLines) {
  make(3);
  ap->focus_line.push_back({0.0, 0, {1e-7, 2e-7, 3e-7}, {0, 0, 0.03}, 0, 0});
  ap->apod_line = {{0.0, {1, 0.5, 0.25}}, {4e-6, {0, 1, 0}}};
  size_t rows = 0, cols = 0;
  EXPECT_EQ(get(4, rows, cols), (std::vector<double>{0, 1e-7, 2e-7, 3e-7}));
  EXPECT_EQ(rows, 4u);
  EXPECT_EQ(get(5, rows, cols), (std::vector<double>{0, 1, 0.5, 0.25, 4e-6, 0, 1, 0}));
  EXPECT_EQ(cols, 2u);
  // Dynamic focusing replaces the time line by one entry without delays.
  ap->focus_line = {{2e-6, 1, {}, {}, 0.1, 0.2}};
  EXPECT_EQ(get(4, rows, cols), (std::vector<double>{2e-6, 0, 0, 0}));
  EXPECT_EQ(cols, 1u);
}

TEST_F(report_test, QueryLineElementsStaysWithinTheMatrix) {
  make(2);
  ap->phys_elements[0].line_elems = {line_elem(4, 4, 100), line_elem(4, 4, 200)};
  ap->phys_elements[0].no_line_elems = 2;
  ap->phys_elements[1].center = {7, 8, 9};
  ap->phys_elements[1].line_elems = {line_elem(4, 4, 300)};
  ap->phys_elements[1].no_line_elems = 1;
  size_t rows = 0, cols = 0;
  std::vector<double> m = get(3, rows, cols);
  ASSERT_EQ(rows, 46u);
  ASSERT_EQ(cols, 3u);  // 4 bounding lines and 4 crossings: one column each
  const std::vector<double> third = {
      1,   0,   300, 301, 7,   8,   9,  // numbers, apodization, delay, the element's centre
      302, 303, 304, 305, 306, 4,       // cos_x, sin_x, cos_y, sin_y, zc, bounding lines
      300, 1,   301, 302, 1,   310, 1, 301, 302, 1,  // slope, vertical, y1, x1, side
      320, 1,   301, 302, 1,   330, 1, 301, 302, 1,  //
      4,   300, 300, 0,   301, 299, 0,               // crossings
      302, 298, 0,   303, 297, 0};
  EXPECT_EQ(std::vector<double>(m.begin() + 92, m.end()), third);
  EXPECT_EQ(m[46], 0.0);  // second column: element 0, line element 1
  EXPECT_EQ(m[47], 1.0);

  // 6 lines and 5 crossings take 14 + 30 + 15 = 59 values: 3 such need 177 values, 4 columns.
  for (phys_element& e : ap->phys_elements)
    for (line_element& le : e.line_elems) le = line_elem(6, 5, 100);
  m = get(3, rows, cols);
  ASSERT_EQ(cols, 4u);
  EXPECT_EQ(m[59 + 1], 1.0);  // the second element starts right after the first
  EXPECT_EQ(m[118], 1.0);     // the third: physical element 1
  EXPECT_EQ(m[174], 104.0);   // its last crossing (x, y) at the last values written
  EXPECT_EQ(m[175], 96.0);
  // 3 lines and 3 crossings take 38 values: 3 such fill 114 of the 3 columns.
  for (phys_element& e : ap->phys_elements)
    for (line_element& le : e.line_elems) le = line_elem(3, 3, 100);
  m = get(3, rows, cols);
  EXPECT_EQ(cols, 3u);
  EXPECT_EQ(m[39], 1.0);
  EXPECT_EQ(m[76], 1.0);
  EXPECT_EQ(m[112], 98.0);

  // A matrix smaller than its shape is filled up to its end and no further.
  std::vector<double> small(46 + 8, -1.0);
  xdc_get(sys, *ap, 3, small.data(), 46, 1);
  EXPECT_EQ(small[1], 0.0);
  for (size_t i = 46; i < small.size(); ++i) EXPECT_EQ(small[i], -1.0) << i;
  // An unknown kind writes nothing.
  std::fill(small.begin(), small.end(), -1.0);
  xdc_get(sys, *ap, 6, small.data(), 46, 1);
  xdc_get(sys, *ap, 0, small.data(), 46, 1);
  for (double v : small) EXPECT_EQ(v, -1.0);
}
