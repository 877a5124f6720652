// The rectangle response against physics: the exact response of a rectangle (exact_rectangle.h,
// the arc of the circle of equal arrival time that lies inside it), the on-axis plateau c, and
// the trapezoid cases of a single rectangle.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "apertures/arrays.h"
#include "apertures/time_lines.h"
#include "calculation/rect_response.h"
#include "core/sys_con.h"
#include "exact_rectangle.h"
#include "harness.h"

namespace {
constexpr double pi = std::numbers::pi;

class rect_response_test : public orvel_test {
 protected:
  sys_con sys;
  aperture_ptr ap;
  void TearDown() override {
    free_aperture(sys, ap);
    EXPECT_EQ(sys.bytes_reserved, 0);
    orvel_test::TearDown();
  }
  // One rectangular element at the origin, w by h, divided into sx by sy rectangles.
  void piston(double w, double h, int sx, int sy) {
    ap = xdc_linear_array(sys, 1, w, h, 0.0, sx, sy, {0, 0, 0.05});
  }
};
}  // namespace

TEST_F(rect_response_test, FinelyDividedRectangleMatchesTheExactResponse) {
  const double w = 2e-3, h = 4e-3;
  piston(w, h, 40, 80);  // sub-rectangles of 50 um
  const point3 points[] = {{0, 0, 10e-3}, {1.5e-3, 1e-3, 8e-3}, {3e-3, 0.5e-3, 6e-3}};
  for (const point3& p : points) {
    signal_ptr s = rect_response(sys, *ap, p);
    ASSERT_TRUE(s);
    // Each sample holds the mean of the response over its interval around k / fs.
    double err = 0.0, norm = 0.0;
    for (int32_t k = 0; k < s->no_samples; ++k) {
      const double mean = exact_mean(sys.c, sys.fs, w, h, p.data(), (s->start_sample + k) / sys.fs);
      err += std::fabs(s->data[k] - mean);
      norm += std::fabs(mean);
    }
    // The far-field approximation of 50 um rectangles (worst near the axis, where the arcs of
    // equal arrival time are tightest): 0.5 % in the L1 sense.
    EXPECT_LT(err / norm, 5e-3) << p[0] << " " << p[1] << " " << p[2];
    free_signal(sys, s);
  }
}

TEST_F(rect_response_test, OnAxisPlateauIsTheSpeedOfSound) {
  sys.c = 1480.0;
  piston(6e-3, 6e-3, 120, 120);  // 50 um rectangles
  signal_ptr s = rect_response(sys, *ap, {0, 0, 20e-3});
  ASSERT_TRUE(s);
  // The circle of equal arrival time lies wholly inside the square for ct up to
  // sqrt(z^2 + 3 mm^2): a plateau of c for about 150 ns.
  const double t_end = std::hypot(20e-3, 3e-3) / sys.c;
  int plateau = 0;
  for (int32_t k = 0; k < s->no_samples; ++k) {
    const double t = (s->start_sample + k) / sys.fs;
    if (t > 20e-3 / sys.c + 2 / sys.fs && t < t_end - 2 / sys.fs) {
      EXPECT_NEAR(s->data[k], sys.c, sys.c * 3e-3) << k;
      ++plateau;
    }
  }
  EXPECT_GT(plateau, 10);
  free_signal(sys, s);
}

TEST_F(rect_response_test, NormalIncidenceLandsInOneSample) {
  const double w = 0.2e-3, h = 0.3e-3, z = 7.3e-3;
  piston(w, h, 1, 1);
  signal_ptr s = rect_response(sys, *ap, {0, 0, z});
  ASSERT_TRUE(s);
  const double tc = z / sys.c;
  const int32_t k_expected = static_cast<int32_t>(std::floor(tc * sys.fs + 0.5));
  int nonzero = 0;
  for (int32_t k = 0; k < s->no_samples; ++k) {
    if (s->data[k] == 0.0) continue;
    ++nonzero;
    const int32_t sample = s->start_sample + k;
    EXPECT_EQ(sample, k_expected);
    // The whole weight w h fs, spread by 1/(2 pi c t) at the sample's time.
    const double rho = 2 * pi * sys.c * (sample / sys.fs);
    EXPECT_NEAR(s->data[k], w * h * sys.fs / rho, 1e-12 * w * h * sys.fs / rho);
  }
  EXPECT_EQ(nonzero, 1);
  // The span starts at floor(t1 fs), t1 = t4 = tc, and reaches at least ceil(t4 fs) + 1 (its
  // sample count is truncated from a product of times, so the last zero may be cut).
  EXPECT_EQ(s->start_sample, static_cast<int32_t>(std::floor(tc * sys.fs)));
  EXPECT_GE(s->start_sample + s->no_samples - 1, static_cast<int32_t>(std::ceil(tc * sys.fs)) + 1);
  EXPECT_LE(s->start_sample + s->no_samples - 1, static_cast<int32_t>(std::ceil(tc * sys.fs)) + 2);
  free_signal(sys, s);
}

// Every sample of one rectangle's response, the 1/(2 pi r) weighting taken off, is w h fs times
// the area of its far-field trapezoid over the sample's interval [(g - 1/2) dt, (g + 1/2) dt]:
// a triangle (a point on the diagonal of a square) and trapezoids, each with its rise moved
// through its sample by the focusing delay. A rise late in its sample needs the window of the
// running integral extended past ceil((t4 - t1) fs) + 2 samples, or part of the area is lost.
TEST_F(rect_response_test, EverySampleHoldsTheTrapezoidsAreaOverItsInterval) {
  const double w = 0.3e-3, dt = 1 / sys.fs, c = sys.c;
  piston(w, w, 1, 1);
  const point3 points[] = {
      {2e-3, 2e-3, 5e-3}, {1e-3, 0.6e-3, 8e-3}, {2e-3, -0.5e-3, 8e-3}, {3e-3, -1e-3, 4e-3}};
  for (const point3& p : points)
    for (int q = 0; q < 20; ++q) {
      const double delay = q * dt / 20;
      xdc_focus_delays(sys, *ap, {0.0}, {{delay}});
      const double r = std::hypot(p[0], p[1], p[2]);
      const double A = std::fabs(w * p[0] / r / c), B = std::fabs(w * p[1] / r / c);
      const double a = std::min(A, B), b = std::max(A, B);
      const double t1 = r / c + delay - (a + b) / 2, t4 = t1 + a + b;
      // The trapezoid's running integral, as the sum of four parabolas from its corners.
      auto F = [&](double t) {
        if (t <= t1) return 0.0;
        if (t >= t4) return 1.0;
        auto ramp = [t](double from) { return t > from ? (t - from) * (t - from) : 0.0; };
        return (ramp(t1) - ramp(t1 + a) - ramp(t1 + b) + ramp(t4)) / (2 * a * b);
      };
      signal_ptr s = rect_response(sys, *ap, p);
      ASSERT_TRUE(s);
      for (int32_t k = 0; k < s->no_samples; ++k) {
        const double g = s->start_sample + k;
        const double v = s->data[k] * 2 * pi * c * (g * dt - delay) / (w * w * sys.fs);
        ASSERT_NEAR(v, F((g + 0.5) * dt) - F((g - 0.5) * dt), 1e-9) << p[0] << " " << q << " " << k;
      }
      free_signal(sys, s);
    }
}

TEST_F(rect_response_test, HeightOnlyProjectionGivesARectangularPulse) {
  // In the plane x = 0 the width projects to nothing: a = 0 < b = height |v| / c.
  const double h = 3e-3;
  piston(0.1e-3, h, 1, 1);
  const point3 p = {0, 4e-3, 9e-3};
  signal_ptr s = rect_response(sys, *ap, p);
  ASSERT_TRUE(s);
  const double r = std::hypot(4e-3, 9e-3), v = 4e-3 / r;
  const double b = h * v / sys.c, tc = r / sys.c;
  // Before the 1/(2 pi r) weighting every full sample inside the pulse holds the weight w h
  // times fs times the pulse's share dt / b of the unit area: w h / b.
  const double level = 0.1e-3 * h / b;
  int full = 0;
  for (int32_t k = 0; k < s->no_samples; ++k) {
    const double t = (s->start_sample + k) / sys.fs;
    if (t - 0.5 / sys.fs > tc - b / 2 && t + 0.5 / sys.fs < tc + b / 2) {
      EXPECT_NEAR(s->data[k] * 2 * pi * sys.c * t, level, level * 1e-9);
      ++full;
    }
    if (t + 0.5 / sys.fs < tc - b / 2 || t - 0.5 / sys.fs > tc + b / 2) {
      EXPECT_EQ(s->data[k], 0.0);
    }
  }
  EXPECT_GE(full, static_cast<int>(b * sys.fs) - 2);
  free_signal(sys, s);
}

TEST_F(rect_response_test, AccurateTimesAreBoundedByTheCorners) {
  piston(3e-3, 2e-3, 1, 1);
  sys.accurate_time_calc = 1;
  const point3 p = {4e-3, -1e-3, 5e-3};
  signal_ptr s = rect_response(sys, *ap, p);
  ASSERT_TRUE(s);
  double first = 1e9, last = -1e9;
  for (const point3& c : ap->phys_elements[0].rects[0].corners) {
    const double t = std::hypot(c[0] - p[0], c[1] - p[1], c[2] - p[2]) / sys.c;
    first = std::min(first, t);
    last = std::max(last, t);
  }
  for (int32_t k = 0; k < s->no_samples; ++k) {
    const double t = (s->start_sample + k) / sys.fs;
    if (s->data[k] != 0.0) {
      EXPECT_GT(t + 0.5 / sys.fs, first);
      EXPECT_LT(t - 0.5 / sys.fs, last);
    }
  }
  EXPECT_EQ(s->start_sample, static_cast<int32_t>(std::floor(first * sys.fs)));
  free_signal(sys, s);
}

TEST_F(rect_response_test, SoftBaffleVanishesInThePlaneAndObliquityElsewhere) {
  piston(1e-3, 1e-3, 4, 4);
  ap->soft_baffle = 1;
  signal_ptr flat = rect_response(sys, *ap, {5e-3, 0, 0});
  ASSERT_TRUE(flat);
  for (int32_t k = 0; k < flat->no_samples; ++k) EXPECT_EQ(flat->data[k], 0.0);
  free_signal(sys, flat);
  // Off the plane, each sample is the rigid one times z / r at the sample's distance.
  const point3 p = {3e-3, 0, 4e-3};
  signal_ptr soft = rect_response(sys, *ap, p);
  ap->soft_baffle = 0;
  signal_ptr rigid = rect_response(sys, *ap, p);
  ASSERT_EQ(soft->no_samples, rigid->no_samples);
  for (int32_t k = 0; k < soft->no_samples; ++k) {
    const double r = sys.c * (soft->start_sample + k) / sys.fs;
    EXPECT_NEAR(soft->data[k], rigid->data[k] * p[2] / r,
                1e-12 * std::fabs(rigid->data[k]) + 1e-300);
  }
  free_signal(sys, soft);
  free_signal(sys, rigid);
}

TEST_F(rect_response_test, AttenuationAndApodizationScaleEverySample) {
  piston(1e-3, 1e-3, 2, 2);
  const point3 p = {1e-3, 0, 30e-3};
  signal_ptr plain = rect_response(sys, *ap, p);
  sys.use_att = 1;
  sys.att = 50.0;  // dB/m
  ap->apod_line[0].values[0] = 0.5;
  signal_ptr damped = rect_response(sys, *ap, p);
  for (int32_t k = 0; k < plain->no_samples; ++k) {
    const double r = sys.c * (plain->start_sample + k) / sys.fs;
    const double factor = 0.5 * std::pow(10.0, -50.0 * r / 20);
    EXPECT_NEAR(damped->data[k], plain->data[k] * factor, 1e-9 * std::fabs(plain->data[k]));
  }
  free_signal(sys, plain);
  free_signal(sys, damped);
  ap->apod_line[0].values[0] = 0.0;  // nothing contributes
  EXPECT_FALSE(rect_response(sys, *ap, p));
}

TEST_F(rect_response_test, WaveformsApplyOnlyBeyondTheSpatialImpulseResponse) {
  piston(1e-3, 1e-3, 1, 1);
  const point3 p = {0, 0, 10e-3};
  signal_ptr h = rect_response(sys, *ap, p);
  ele_waveform(sys, *ap, {1}, 3, {{1.0, -2.0, 0.5}});
  signal_ptr h0 = rect_response(sys, *ap, p, false);  // calc_h ignores waveforms
  EXPECT_EQ(h0->data, h->data);
  signal_ptr hw = rect_response(sys, *ap, p, true);
  ASSERT_EQ(hw->no_samples, h->no_samples + 2);
  EXPECT_EQ(hw->start_sample, h->start_sample);
  for (int32_t k = 0; k < hw->no_samples; ++k) {
    double expected = 0.0;  // plain convolution, no factor 1/fs
    for (int32_t i = 0; i < 3; ++i)
      if (k - i >= 0 && k - i < h->no_samples)
        expected += h->data[k - i] * std::vector<double>{1.0, -2.0, 0.5}[i];
    EXPECT_DOUBLE_EQ(hw->data[k], expected);
  }
  free_signal(sys, h);
  free_signal(sys, h0);
  free_signal(sys, hw);
}

TEST_F(rect_response_test, TimeLinesAreReadAtEachElementsTimeOfFlight) {
  sys.c = 1000.0;
  ap = xdc_linear_array(sys, 1, 1e-3, 1e-3, 0, 1, 1, {0, 0, 0.05});
  // The point is 0.25 m from the element's centre: a time of flight of exactly 250 us.
  const point3 at = {0, 0, 0.25}, beyond = {0, 0, 0.2500001};
  xdc_apodization(sys, *ap, {0, 250e-6}, {{1.0}, {0.5}});
  xdc_focus_delays(sys, *ap, {0, 250e-6}, {{1e-6}, {2e-6}});
  double delay, apodization;
  focus_and_apodization(*ap, sys.c, at, &delay, &apodization);
  EXPECT_EQ(apodization, 1.0);  // an entry holds up to and including the next switch time
  EXPECT_EQ(delay, 1e-6);
  focus_and_apodization(*ap, sys.c, beyond, &delay, &apodization);
  EXPECT_EQ(apodization, 0.5);
  EXPECT_EQ(delay, 2e-6);
  // The first entry holds before its own time too.
  xdc_apodization(sys, *ap, {1.0, 2.0}, {{0.25}, {0.75}});
  focus_and_apodization(*ap, sys.c, at, &delay, &apodization);
  EXPECT_EQ(apodization, 0.25);
}

TEST_F(rect_response_test, DynamicFocusFollowsTheTimeOfFlight) {
  sys.c = 1500.0;
  ap = xdc_linear_array(sys, 3, 1e-3, 5e-3, 0, 1, 1, {0, 0, 0.05});
  xdc_dynamic_focusing(sys, *ap, 0.0, 0.0, 0.0);
  const point3 p = {0, 0, 30e-3};
  double delay[3], apodization[3];
  focus_and_apodization(*ap, sys.c, p, delay, apodization);
  for (int e = 0; e < 3; ++e) {
    const double x = (e - 1) * 1e-3;
    const double R = std::hypot(x, 30e-3);  // the focus is on the z axis at the element's path
    const double expected = R / sys.c - std::hypot(x, R) / sys.c;
    EXPECT_NEAR(delay[e], expected, 1e-21) << e;
    EXPECT_EQ(apodization[e], 1.0);
  }
  EXPECT_EQ(delay[1], 0.0);
  ap->quantize = 1;
  ap->quant_step = 20e-9;
  focus_and_apodization(*ap, sys.c, p, delay, apodization);
  EXPECT_NEAR(delay[0],
              std::floor((std::hypot(1e-3, 30e-3) - std::hypot(1e-3, std::hypot(1e-3, 30e-3))) /
                             sys.c / 20e-9 +
                         0.5) *
                  20e-9,
              1e-24);
}

TEST_F(rect_response_test, HeapSortSortsAnyOrder) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n : {0, 1, 2, 3, 4, 7, 64}) {
    std::vector<double> v(static_cast<size_t>(n));
    for (double& x : v) x = u(rng);
    if (n > 3) v[1] = v[2];  // a tie
    std::vector<double> expected = v;
    std::sort(expected.begin(), expected.end());
    sort_ascending(n, v.data());
    EXPECT_EQ(v, expected) << n;
  }
  ap = xdc_linear_array(sys, 1, 1e-3, 1e-3, 0, 1, 1, {0, 0, 0.05});
}

// The ramps of flat elements are computed four rectangles at a time; they must be exactly those
// of the one-at-a-time path (rect_arrival_terms, the ramp and window of each rectangle), here
// forced on the same elements: negative times from negative focusing delays, a point at a
// rectangle's centre, points near and far.
TEST_F(rect_response_test, FourAtATimeRampsEqualTheOneAtATimeRamps) {
  ap = xdc_focused_array(sys, 5, 0.4e-3, 5e-3, 0.05e-3, 20e-3, 3, 5, {0, 0, 0.02});
  xdc_focus_delays(sys, *ap, {0.0}, {{-40e-6, 3e-9, -7.5e-7, 0.0, 2e-6}});
  ele_delay(*ap, {2}, 15, {std::vector<double>(15, 1e-8)});
  std::mt19937 gen(41);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<point3> points = {ap->phys_elements[1].rects[4].center, {0, 0, 1e-4}, {0, 0, 0.3}};
  for (int k = 0; k < 40; ++k)
    points.push_back({8e-3 * u(gen), 3e-3 * u(gen), 25e-3 + 20e-3 * u(gen)});
  const response_plan lanes = plan_response(sys, *ap, false);
  response_plan single = lanes;
  std::fill(single.flat.begin(), single.flat.end(), 0);
  ASSERT_TRUE(std::all_of(lanes.flat.begin(), lanes.flat.end(), [](char f) { return f; }));
  response_workspace a(lanes), b(single);
  int negative = 0;
  for (const point3& p : points) {
    ASSERT_TRUE(rect_response(lanes, a, p));
    ASSERT_TRUE(rect_response(single, b, p));
    negative += a.out.start < 0;
    ASSERT_EQ(a.out.start, b.out.start);
    ASSERT_EQ(a.out.n, b.out.n);
    for (int32_t k = 0; k < a.out.n; ++k) ASSERT_EQ(a.out.v[k], b.out.v[k]) << k;  // bit for bit
  }
  EXPECT_GT(negative, 0);  // the delays made negative times
}
