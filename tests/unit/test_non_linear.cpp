// Non-linear propagation: the step against the exact pre-shock solution of a plane sine wave and
// its Fubini harmonics, its edge cases and out-of-range report; the drivers' linear limit, the
// place of the distortion in the pulse-echo chain and their thread independence; the commands'
// reports and refusals.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "apertures/arrays.h"
#include "calculation/drivers.h"
#include "calculation/non_linear.h"
#include "core/sys_con.h"
#include "gateway/gateway.h"
#include "harness.h"
#include "reference.h"

namespace {
constexpr double pi = 3.141592653589793;
constexpr double rho = 1000.0;  // the density of the model [kg/m^3]

class non_linear_test : public orvel_test {
 protected:
  sys_con sys;
  aperture_ptr tx, rx;
  void SetUp() override { sys.show_times = 0; }
  void TearDown() override {
    if (tx) free_aperture(sys, tx);
    if (rx) free_aperture(sys, rx);
    EXPECT_EQ(sys.bytes_reserved, 0);  // every signal released
    orvel_test::TearDown();
  }
  // Linear arrays with a windowed 3 MHz impulse, the transmit one excited for about 1 MPa.
  void arrays(int32_t transmit_elements, int32_t receive_elements) {
    tx = xdc_linear_array(sys, transmit_elements, 0.3e-3, 4e-3, 0.05e-3, 2, 3, {0, 0, 25e-3});
    rx = xdc_linear_array(sys, receive_elements, 0.3e-3, 4e-3, 0.05e-3, 2, 3, {0, 0, 25e-3});
    for (aperture_ptr* ap : {&tx, &rx}) {
      signal_ptr imp = alloc_signal(sys, 60, 3);
      for (int k = 0; k < 60; ++k)
        imp->data[k] = std::sin(2 * pi * 3e6 * k / sys.fs) * std::pow(std::sin(pi * k / 60), 2);
      xdc_impulse(sys, **ap, std::move(imp));
    }
    signal_ptr exc = alloc_signal(sys, 1, 0);
    exc->data[0] = 2e18;
    xdc_excitation(sys, *tx, std::move(exc));
  }
  void release(std::vector<signal_ptr>& v) {
    for (signal_ptr& s : v) free_signal(sys, s);
  }
};

// The five lines of the out-of-range report.
std::string report(double shift, int j, double c_diff, double u, double base, double power) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "Warning from Orvel: Index outside range found for non-linear propagation. \n"
                "                       Try to reduce dz to fix the problem. \n"
                "shift %20e, n_shift %d c_diff %20e \n"
                "U is %20e, pulse is %20e \n"
                "c*(1.0+sys_con->BdivA/2*U/c) %20e, (2/sys_con->BdivA+1.0)) %20e, "
                "pow(c*(1.0+sys_con->BdivA/2*U/c), (2/sys_con->BdivA+1.0)) %20e \n",
                shift, j, c_diff, u, u, base, power, std::pow(base, power));
  return text;
}

// The largest |a - b| over the samples of a (b as long, or none: |a|).
double largest(const signal_rec& a, const signal_rec* b = nullptr) {
  double m = 0.0;
  for (int32_t k = 0; k < a.no_samples; ++k)
    m = std::max(m, std::fabs(a.data[k] - (b ? b->data[k] : 0.0)));
  return m;
}

// A Gaussian pulse of the given peak at sample 200 of 400.
std::vector<double> bump(double peak) {
  std::vector<double> v(400);
  for (int k = 0; k < 400; ++k) v[k] = peak * std::exp(-std::pow((k - 200) / 15.0, 2));
  return v;
}
}  // namespace

TEST_F(non_linear_test, ZerosStayAndEachValueMovesInProportionToItself) {
  sys.dz = 0.1e-3;
  const double d = 50e-3, p = 2e6;
  std::vector<double> zeros(64, 0.0);
  non_linear_propagate(sys, zeros.data(), 64, d);
  EXPECT_EQ(zeros, std::vector<double>(64, 0.0));

  // A peak keeps its value and gains (1 + B/2A) p d / (rho c^3) in time: earlier when positive,
  // later when negative (9.9 samples here; the interpolation may blur it by a sample).
  const double moved = (1 + sys.BdivA / 2) * p * d / (rho * std::pow(sys.c, 3)) * sys.fs;
  for (double sign : {1.0, -1.0}) {
    std::vector<double> v = bump(sign * p);
    non_linear_propagate(sys, v.data(), 400, d);
    const auto peak = std::max_element(
        v.begin(), v.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_NEAR(peak - v.begin(), 200 - sign * moved, 1.0) << sign;
  }

  // B/A = 0 still leaves 1 / (rho c^3): half the coefficient of B/A = 2, so twice the distance
  // in steps twice as long makes the very same shifts.
  sys.BdivA = 2.0;
  std::vector<double> a = bump(p);
  non_linear_propagate(sys, a.data(), 400, d);
  sys.BdivA = 0.0;
  sys.dz *= 2;
  std::vector<double> b = bump(p);
  non_linear_propagate(sys, b.data(), 400, 2 * d);
  EXPECT_EQ(a, b);
  EXPECT_NE(b, bump(p));
}

// A plane sine wave p0 sin(w t) propagated over half the shock distance x_sh = rho c^3 / ((1 +
// B/2A) w p0). Before the shock the exact waveform is the implicit p(t) = p0 sin(w (t + (1 +
// B/2A) p d / (rho c^3))), and its harmonics have the Fubini amplitudes B_n = 2 J_n(n sigma) /
// (n sigma), sigma = d / x_sh. Tolerances: the linear interpolation of each step smooths the
// signal, a component of angular frequency n w losing about S (n w / fs)^2 / 2 of its amplitude
// over a total shift of S samples (S <= sigma fs / w = 16 here, 200 samples per period): 0.8 %
// for the fundamental, 3 % for the second harmonic at most. The waveform is held to 2 % of p0,
// B_1 to 2 %, B_2 to 10 %.
TEST_F(non_linear_test, SineWaveDistortsIntoTheFubiniSolution) {
  sys.dz = 0.05e-3;  // 0.005 samples of shift per step at p0: the sweep's own bias is negligible
  const double beta = 1 + sys.BdivA / 2, c3 = sys.c * sys.c * sys.c, fs = sys.fs;
  const double f0 = 0.5e6, w = 2 * pi * f0, p0 = 1e6;
  const int per = 200, lead = 100, n = lead + 30 * per + lead;  // 30 periods between zeros
  const double x_sh = rho * c3 / (beta * w * p0);
  const double d = std::floor(0.5 * x_sh / sys.dz + 0.5) * sys.dz;  // what the steps cover
  const double sigma = d / x_sh;
  std::vector<double> p(n, 0.0);
  for (int k = 0; k < 30 * per; ++k) p[lead + k] = p0 * std::sin(w * k / fs);
  non_linear_propagate(sys, p.data(), n, d);

  // Periods 10 to 19 of the burst, far from its ends.
  const int first = lead + 10 * per, count = 10 * per;
  double worst = 0.0;
  std::complex<double> harmonic[3] = {};
  for (int k = first; k < first + count; ++k) {
    const double t = (k - lead) / fs;
    double exact = 0.0;  // by fixed-point iteration, a contraction of factor sigma = 0.5 at most
    for (int it = 0; it < 100; ++it) exact = p0 * std::sin(w * (t + beta * exact * d / (rho * c3)));
    worst = std::max(worst, std::fabs(p[k] - exact));
    for (int h = 1; h <= 2; ++h) harmonic[h] += p[k] * std::polar(1.0, -h * w * t);
  }
  EXPECT_LT(worst, 0.02 * p0);
  for (int h = 1; h <= 2; ++h) {
    const double fubini = 2 * std::cyl_bessel_j(h, h * sigma) / (h * sigma);
    EXPECT_NEAR(2.0 * std::abs(harmonic[h]) / count / p0, fubini, (h == 1 ? 0.02 : 0.10) * fubini)
        << "harmonic " << h;
  }
}

// c = 1000 m/s and B/A = 2 make the coefficient 2e-12 s/(Pa m): with dz = 1 mm and fs = 1 MHz a
// value of 1.25e9 Pa shifts by 2.5 samples in the one step. c_diff is the local sound speed c (1
// + B/2A p / (rho c^2)) less c.
TEST_F(non_linear_test, SourcesPastTheEndAreReportedAndBeforeTheStartAreZero) {
  sys.c = 1000.0;
  sys.BdivA = 2.0;
  sys.dz = 1e-3;
  sys.fs = 1e6;
  embedded_console_take();
  std::vector<double> late = {0, 0, 1.25e9, 0};  // the source of sample 2 lies past the last
  non_linear_propagate(sys, late.data(), 4, 1e-3);
  EXPECT_EQ(late, (std::vector<double>{0, 0, 1.25e9, 0}));
  EXPECT_EQ(embedded_console_take(), report(2.5, 2, 1250.0, 1.25e9, 1000.0 + 1.25e9, 2.0));
  // Sources before the signal, where the field is 0, are never read (the vectors hold exactly
  // four values, which the address sanitizer watches): half a sample back takes half the first
  // sample, two and a half samples back takes nothing. No report.
  std::vector<double> early = {-2.5e8, 0, 0, 0};
  non_linear_propagate(sys, early.data(), 4, 1e-3);
  EXPECT_EQ(early, (std::vector<double>{-1.25e8, 0, 0, 0}));
  early = {-1.25e9, 0, 0, 0};
  non_linear_propagate(sys, early.data(), 4, 1e-3);
  EXPECT_EQ(early, (std::vector<double>{0, 0, 0, 0}));
  EXPECT_EQ(embedded_console_take(), "");
}

TEST_F(non_linear_test, DriversFollowTheLinearFieldAndDistortOnlyTheTransmittedWave) {
  arrays(8, 5);
  const std::vector<point3> points = {{0, 0, 20e-3}, {3e-3, 1e-3, 35e-3}};
  // Distances below dz / 2, and negative ones, take no step: the linear field, number for number.
  std::vector<signal_ptr> linear = calc_hp(sys, *tx, points);
  std::vector<signal_ptr> none =
      calc_hp_non_linear(sys, *tx, points, std::vector<double>{0.49 * sys.dz, -1.0});
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(none[i]->start_sample, linear[i]->start_sample);
    EXPECT_EQ(none[i]->data, linear[i]->data);
  }
  // The pulse-echo field is the emitted field distorted over 20 mm (by over 10 % of its peak of
  // about 1 MPa) convolved with the receive response and the receive impulse (each / fs), made
  // here by the signal operations.
  const std::span<const point3> one(points.data(), 1);
  const std::vector<double> d = {20e-3};
  std::vector<signal_ptr> emitted = calc_hp_non_linear(sys, *tx, one, d);
  std::vector<signal_ptr> hr = calc_h(sys, *rx, one);
  std::vector<signal_ptr> hhp = calc_hhp_non_linear(sys, *tx, *rx, one, d);
  EXPECT_GT(largest(*emitted[0], linear[0].get()), 0.1 * largest(*linear[0]));
  signal_ptr z = convolve_direct(sys, *emitted[0], *hr[0]);
  signal_ptr expected = convolve_direct(sys, *z, *rx->impulse);
  for (double& v : expected->data) v /= sys.fs * sys.fs;
  EXPECT_EQ(hhp[0]->start_sample, expected->start_sample);
  ASSERT_EQ(hhp[0]->no_samples, expected->no_samples);
  EXPECT_LT(largest(*hhp[0], expected.get()), 1e-12 * largest(*expected));
  for (signal_ptr* s : {&z, &expected}) free_signal(sys, *s);
  for (auto* v : {&linear, &none, &emitted, &hr, &hhp}) release(*v);
}

// Which thread computes what never changes a number: the scattered signals of 40 scatterers (3
// chunks, every receive element busy), with both paths attenuated, on one thread and on two.
TEST_F(non_linear_test, ScatteredSignalsAreTheSameForEveryThreadCount) {
  arrays(12, 6);
  std::vector<point3> points;
  std::vector<double> amplitudes, distances;
  for (int k = 0; k < 40; ++k) {
    points.push_back({(k % 10 - 5) * 1e-3, (k % 3) * 0.5e-3, 10e-3 + k * 0.5e-3});
    amplitudes.push_back(std::cos(k * 0.7));
    distances.push_back(points.back()[2]);
  }
  sys.use_att = 1;
  sys.freq_att = 0.5e-4;
  sys.att_f0 = 3e6;
  auto both = [&](int32_t threads) {
    sys.threads = threads;
    std::vector<signal_ptr> r =
        calc_scat_multi_non_linear(sys, *tx, *rx, points, amplitudes, distances);
    r.push_back(calc_scat_non_linear(sys, *tx, *rx, points, amplitudes, distances));
    return r;
  };
  std::vector<signal_ptr> one = both(1), two = both(2);
  ASSERT_EQ(one.size(), 7u);
  for (size_t c = 0; c < one.size(); ++c) {
    ASSERT_TRUE(one[c] && two[c]) << c;
    EXPECT_EQ(one[c]->start_sample, two[c]->start_sample) << c;
    EXPECT_EQ(one[c]->data, two[c]->data) << c;  // bit for bit
  }
  release(one);
  release(two);
}

namespace {
class non_linear_commands : public orvel_test {
 protected:
  void SetUp() override {
    init_quiet();
    call_result r =
        orvel_call({1001, 4, 0.3e-3, 5e-3, 0.05e-3, 1, 2, embedded_matrix(1, 3, {0, 0, 0.03})}, 1);
    ASSERT_TRUE(r.ok) << r.error;
    ap = r.at(0, 0);
  }
  static mxArray* two_points() { return embedded_matrix(2, 3, {0, 1e-3, 0, 0, 20e-3, 30e-3}); }
  static mxArray* two(double a, double b) { return embedded_matrix(2, 1, {a, b}); }
  double ap = 0;
};
}  // namespace

// A field of some GPa shifts samples past the ends of the signals. Each report keeps its five
// lines together, also when the 24 points (three runs of eight) are shared by two threads, and
// the command releases every signal.
TEST_F(non_linear_commands, OutOfRangeReportsOfACommandKeepTheirLinesTogether) {
  ASSERT_TRUE(orvel_call({5050, "threads", 2}).ok);
  ASSERT_TRUE(orvel_call({1051, ap, 1e22}).ok);
  std::vector<double> xyz(72, 0.0);
  for (int i = 0; i < 24; ++i) {
    xyz[i] = (i - 12) * 0.5e-3;
    xyz[i + 48] = 20e-3 + i * 1e-3;
  }
  const int32_t bytes = current_sys().bytes_reserved;
  call_result r = orvel_call(
      {4012, ap, embedded_matrix(24, 3, xyz), embedded_matrix(24, 1, std::vector(24, 1e-3))}, 2);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
  EXPECT_EQ(current_sys().last_calc_type, 1);
  const std::string fixed = report(0, 0, 0, 0, 0, 0), lines = fixed.substr(0, fixed.find("shift"));
  size_t reports = 0;
  for (size_t at = 0; at < r.console.size(); ++reports) {
    ASSERT_EQ(r.console.compare(at, lines.size(), lines), 0) << r.console.substr(at, 200);
    at += lines.size();
    for (const std::string start : {"shift ", "U is ", "c*(1.0+sys_con->BdivA/2*U/c) "}) {
      ASSERT_EQ(r.console.compare(at, start.size(), start), 0) << r.console.substr(at, 200);
      at = r.console.find('\n', at);
      ASSERT_NE(at++, std::string::npos);
    }
  }
  EXPECT_GT(reports, 24u);
}

// Bad distances, and a step that cannot count a positive distance, are refused before the
// driver runs: the kind of the last calculation and the store stay as they were.
TEST_F(non_linear_commands, UncountableDistancesAreRefused) {
  const int32_t bytes = current_sys().bytes_reserved;
  EXPECT_EQ(orvel_call({4012, ap, two_points(), 1e-3}, 2).error,
            "Error: The distance vector must hold 2 values (one per point), but holds 1");
  EXPECT_EQ(orvel_call({4013, ap, ap, two_points(), two(1e-3, NAN)}, 2).error,
            "Error: The distance vector must hold finite values, but value 2 is nan");
  EXPECT_EQ(orvel_call({4014, ap, ap, two_points(), two(1, 1), two(-INFINITY, 0)}, 2).error,
            "Error: The distance vector must hold finite values, but value 1 is -inf");
  // A step of 0 or less is refused when it is set (OptionsAreRefusedOutsideTheirRanges); without
  // a positive distance nothing is propagated, so the step does not matter.
  ASSERT_TRUE(orvel_call({5050, "dz", 1e-300}).ok);
  EXPECT_TRUE(orvel_call({4015, ap, ap, two_points(), two(1, 1), two(0.0, -1.0)}, 2).ok);
  EXPECT_EQ(
      orvel_call({4012, ap, two_points(), two(1.0, 0)}, 2).error,
      "Error: The distance 1 m takes more than 2147483647 propagation steps of dz = 1e-300 m");
  EXPECT_EQ(current_sys().last_calc_type, 4);  // the accepted 4015, none of the refused
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
}
