// The integrations of the triangle and line-element responses: the three-point rule, Romberg
// convergence, the straight-line extrapolation of POLINT, and the diagnostics of a failure.
#include <cmath>
#include <string>
#include <vector>

#include "elements/integration.h"
#include "harness.h"

namespace {
const element_grid grid = {1540.0, 100e6, false};

TEST(integration, a_constant_converges_at_the_first_extrapolation) {
  const double a = 1e-6, b = a + 0.5 / grid.fs;
  for (double g : {2.5, 0.0}) {
    int calls = 0;
    // Trapezoids of one and two intervals, then the straight-line extrapolation: 3 values.
    const double v = integrate_angle(
        grid, [&](double) { return ++calls, g; }, a, b);
    EXPECT_EQ(calls, 3);
    EXPECT_NEAR(v, g * (b - a), 1e-15 * g * (b - a));
    calls = 0;
    std::vector<int> recompute;
    const double w = integrate_inside_angle(
        grid, [&](double, int r) { return ++calls, recompute.push_back(r), g; }, a, b, 1, [] {});
    EXPECT_EQ(calls, 5);  // the midpoint twice at the discontinuity, to set up the arcs
    EXPECT_EQ(recompute, (std::vector<int>{1, 0, 0, 1, 0}));
    EXPECT_NEAR(w, g * (b - a), 1e-15 * g * (b - a));
  }
}

TEST(integration, short_intervals_and_fast_integration_take_the_three_point_rule) {
  const double a = 2e-6;
  for (const auto& [length, fast] : {std::pair{0.04 / grid.fs, false}, {0.5 / grid.fs, true}}) {
    const element_grid g = {grid.c, grid.fs, fast};
    const double b = a + length;
    std::vector<double> at;
    const double v = integrate_angle(
        g, [&](double t) { return at.push_back(t), t * t; }, a, b);
    EXPECT_EQ(at, (std::vector<double>{(a + b) / 2, a, b}));
    const double m = (a + b) / 2;
    EXPECT_DOUBLE_EQ(v, (b - a) / 4 * (a * a + 2 * m * m + b * b));
    std::vector<int> flags;
    integrate_inside_angle(
        g, [&](double, int r) { return flags.push_back(r), 1.0; }, a, b, 1, [] {});
    EXPECT_EQ(flags, (std::vector<int>{1, 1, 0}));
  }
}

TEST(integration, polint_extrapolates_a_straight_line) {
  const double xa[] = {1.0, 0.25}, ya[] = {1.0, 0.7};
  double y, dy;
  POLINT(xa, ya, 2, 0.0, y, dy);
  EXPECT_NEAR(y, (4 * 0.7 - 1.0) / 3, 1e-7);  // the correction is carried in single precision
  EXPECT_NEAR(dy, -(1.0 - 0.7) / 3, 1e-7);
}

class integration_failure : public orvel_test {};

TEST_F(integration_failure,
       an_integrand_that_never_converges_prints_the_diagnostics_in_order_and_goes_on) {
  const double a = 1e-6, b = a + 0.9 / grid.fs;
  // An integrand without a value never meets a convergence test.
  auto wild = [](double) { return std::nan(""); };
  embedded_console_take();
  const double v = integrate_angle(grid, wild, a, b);
  EXPECT_TRUE(std::isnan(v));  // the last estimate
  const std::string out = embedded_console_take();
  const char* const in_order[] = {"Not possible to find convergent integral for triangles \n",
                                  "Returning after 16 iterations \n",
                                  "Times are ",
                                  "Time difference ",
                                  "Step length in integration is ",
                                  "Sum is ",
                                  "Accuracy is ",
                                  "Polynomial order 9 \n",
                                  "Waiting for user input : \n"};
  size_t at = 0;
  for (const char* text : in_order) {
    const size_t found = out.find(text, at);
    ASSERT_NE(found, std::string::npos) << text << " in\n" << out;
    at = found;
  }
  int listed = 0;
  integrate_inside_angle(
      grid, [&](double t, int) { return wild(t); }, a, b, 0, [&] { ++listed; });
  EXPECT_EQ(listed, 1);
  EXPECT_EQ(embedded_console_take().rfind("Not possible to find convergent integral \n", 0), 0u);
}
}  // namespace
