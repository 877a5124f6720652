// Apertures of triangles and of line elements in the calculations: a rectangle converted both
// ways against its exact response (exact_rectangle.h), and every calculation command on converted
// apertures against the rectangles'.
#include <algorithm>
#include <cmath>
#include <vector>

#include "exact_rectangle.h"
#include "harness.h"

namespace {
constexpr double c = 1540.0, fs = 100e6;

class element_kinds_test : public orvel_test {
 protected:
  void SetUp() override { init_quiet(); }
  // One physical element of one w x h rectangle centred at the origin of the plane z = 0.
  double rectangle(double w, double h) {
    // Element number, corners (-,-), (-,+), (+,+), (+,-), apodization, width, height, centre.
    const std::vector<double> table = {1,     -w / 2, -h / 2, 0, -w / 2, h / 2, 0, w / 2, h / 2, 0,
                                       w / 2, -h / 2, 0,      1, w,      h,     0, 0,     0};
    call_result r = orvel_call({1021, embedded_matrix(1, 19, table),
                                embedded_matrix(1, 3, {0, 0, 0}), embedded_matrix(1, 3, {0, 0, 1})},
                               1);
    EXPECT_TRUE(r.ok) << r.error;
    return r.at(0, 0);
  }
};
}  // namespace

TEST_F(element_kinds_test, ConvertedRectangleMatchesTheExactResponse) {
  const double w = 2e-3, h = 4e-3;
  const double points[][3] = {{0, 0, 8e-3}, {0.6e-3, 1.1e-3, 5e-3}, {3.5e-3, 1e-3, 6e-3}};
  for (int convert : {1030, 1031}) {
    const double Th = rectangle(w, h);
    ASSERT_TRUE(orvel_call({convert, Th}).ok);
    for (const auto& p : points) {
      call_result r = orvel_call({4001, Th, embedded_matrix(1, 3, {p[0], p[1], p[2]})}, 2);
      ASSERT_TRUE(r.ok) << r.error;
      double err = 0.0, norm = 0.0;
      // A few samples on either side too: nothing of the exact response may be missing.
      const int64_t rows = static_cast<int64_t>(r.rows());
      for (int64_t k = -3; k < rows + 3; ++k) {
        const double mean = exact_mean(c, fs, w, h, p, r.at(1, 0) + k / fs);
        const double v = k >= 0 && k < rows ? r.at(0, static_cast<size_t>(k)) : 0.0;
        err += std::fabs(v - mean);
        norm += std::fabs(mean);
      }
      EXPECT_GT(norm, 0.0);
      EXPECT_LT(err / norm, 1e-3) << convert << " at " << p[0] << " " << p[1] << " " << p[2];
    }
  }
}

// Every calculation on a two-element array of 1 x 4 mm elements, converted to triangles, to
// line elements and both ways: the two exact responses agree within the integration's 0.1 %, and
// the far-field response of the elements divided into 50 um rectangles within 1 %. The focusing
// delays are 0: line elements place their responses at the delay rounded to a whole sample,
// the other kinds at the delay itself.
TEST_F(element_kinds_test, EveryCalculationTakesTrianglesAndLines) {
  auto array = [](int sub_x, int sub_y) {
    call_result r = orvel_call(
        {1001, 2, 1e-3, 4e-3, 0.1e-3, sub_x, sub_y, embedded_matrix(1, 3, {0, 0, 20e-3})}, 1);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(orvel_call({1061, r.at(0, 0), 0.0, embedded_matrix(1, 2, {0, 0})}).ok);
    return r.at(0, 0);
  };
  const double rects = array(20, 80), tris = array(1, 1), lines = array(1, 1);
  ASSERT_TRUE(orvel_call({1030, tris}).ok);
  ASSERT_TRUE(orvel_call({1031, lines}).ok);
  // Converted both ways: the second conversion finds no rectangles, so the triangles answer.
  const double both = array(1, 1);
  ASSERT_TRUE(orvel_call({1030, both}).ok && orvel_call({1031, both}).ok);
  auto points = [] { return embedded_matrix(2, 3, {0.5e-3, 2e-3, 1e-3, 0.5e-3, 6e-3, 8e-3}); };
  auto run = [&](int code, double Th) {
    switch (code) {
      case 4001:
      case 4002:
        return orvel_call({code, Th, points()}, 2);
      case 4003:
        return orvel_call({code, Th, Th, points()}, 2);
      case 4007:
        return orvel_call({code, Th, Th, points(), embedded_matrix(2, 1, {1, -0.5}), 1}, 2);
      default:
        return orvel_call({code, Th, Th, points(), embedded_matrix(2, 1, {1, -0.5})}, 2);
    }
  };
  // Relative L1 difference of two results on their common time axis.
  auto difference = [](const call_result& a, const call_result& b) {
    EXPECT_EQ(a.cols(), b.cols());
    const int64_t shift = std::llround((b.at(1, 0) - a.at(1, 0)) * fs);  // rows of b after a's
    double err = 0.0, norm = 0.0;
    for (size_t j = 0; j < a.cols(); ++j)
      for (int64_t k = std::min<int64_t>(0, shift);
           k < std::max<int64_t>(a.rows(), shift + b.rows()); ++k) {
        const double x = k >= 0 && k < static_cast<int64_t>(a.rows()) ? a.at(0, k, j) : 0.0;
        const int64_t kb = k - shift;
        const double y = kb >= 0 && kb < static_cast<int64_t>(b.rows()) ? b.at(0, kb, j) : 0.0;
        err += std::fabs(x - y);
        norm += std::fabs(x);
      }
    EXPECT_GT(norm, 0.0);
    return err / norm;
  };
  for (int code : {4001, 4002, 4003, 4005, 4006, 4007}) {
    const call_result t = run(code, tris), l = run(code, lines), r = run(code, rects);
    ASSERT_TRUE(t.ok && l.ok && r.ok) << code << ": " << t.error << l.error << r.error;
    EXPECT_LT(difference(t, l), 1e-3) << code;
    EXPECT_LT(difference(r, t), 1e-2) << code;
    EXPECT_EQ(difference(run(code, both), t), 0.0) << code;
  }
}

// The soft baffle's obliquity z / r and the frequency independent attenuation exp(-a r), r the
// distance travelled at each sample (within one sample's path), on a rectangle converted to
// triangles; and the same numbers on one thread and on two.
TEST_F(element_kinds_test, BaffleAttenuationAndThreadsOnConvertedApertures) {
  const double Th = rectangle(2e-3, 4e-3);
  ASSERT_TRUE(orvel_call({1030, Th}).ok);
  const call_result rigid =
      orvel_call({4001, Th, embedded_matrix(1, 3, {0.6e-3, 1.1e-3, 5e-3})}, 2);
  ASSERT_TRUE(rigid.ok) << rigid.error;
  auto expect_factor = [&](const call_result& r, auto factor) {
    ASSERT_TRUE(r.ok) << r.error;
    // With attenuation the response goes through the (here flat) frequency-dependent filter: a
    // longer column whose samples carry the transform's rounding.
    ASSERT_GE(r.rows(), rigid.rows());
    double peak = 0.0;
    for (size_t k = 0; k < rigid.rows(); ++k) peak = std::max(peak, std::fabs(rigid.at(0, k)));
    for (size_t k = 0; k < rigid.rows(); ++k) {
      if (std::fabs(rigid.at(0, k)) < 1e-6 * peak) continue;
      const double t = rigid.at(1, 0) + k / fs;  // the sample's time
      const double lo = factor(c * (t + 1.5 / fs)), hi = factor(c * (t - 1.5 / fs));
      const double ratio = r.at(0, k) / rigid.at(0, k);
      EXPECT_TRUE(ratio >= std::min(lo, hi) && ratio <= std::max(lo, hi)) << k << " " << ratio;
    }
  };
  ASSERT_TRUE(orvel_call({1066, Th, 1}).ok);
  expect_factor(orvel_call({4001, Th, embedded_matrix(1, 3, {0.6e-3, 1.1e-3, 5e-3})}, 2),
                [](double r) { return 5e-3 / r; });
  ASSERT_TRUE(orvel_call({1066, Th, 0}).ok);
  ASSERT_TRUE(orvel_call({5050, "att", 200.0}).ok);  // dB/m
  ASSERT_TRUE(orvel_call({5050, "use_att", 1.0}).ok);
  expect_factor(orvel_call({4001, Th, embedded_matrix(1, 3, {0.6e-3, 1.1e-3, 5e-3})}, 2),
                [](double r) { return std::exp(-200.0 * std::log(10.0) / 20 * r); });
  ASSERT_TRUE(orvel_call({5050, "use_att", 0.0}).ok);

  const double lines = rectangle(2e-3, 4e-3);
  ASSERT_TRUE(orvel_call({1031, lines}).ok);
  for (double h : {Th, lines}) {
    std::vector<double> first;
    for (double threads : {1.0, 2.0}) {
      ASSERT_TRUE(orvel_call({5050, "threads", threads}).ok);
      const call_result r = orvel_call(
          {4006, h, h, embedded_matrix(3, 3, {0, 1e-3, -2e-3, 0, 0.5e-3, 0, 4e-3, 6e-3, 9e-3}),
           embedded_matrix(3, 1, {1, 0.5, -1})},
          2);
      ASSERT_TRUE(r.ok) << r.error;
      std::vector<double> v(mxGetPr(r.out[0].get()), mxGetPr(r.out[0].get()) + r.rows());
      if (first.empty())
        first = v;
      else
        EXPECT_EQ(v, first);
    }
  }
}
