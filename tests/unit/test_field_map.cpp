// Field maps: the pressure of an analytic pulse by the derivative rule, the emitted field of a
// piston on its axis against the exact solution, and the refusals of bad requests.
#include <cmath>
#include <complex>
#include <vector>

#include "calculation/field_map.h"
#include "core/errors.h"
#include "harness.h"

namespace {
constexpr double pi = 3.141592653589793;

mxArray* row(const std::vector<double>& v) { return embedded_matrix(1, v.size(), v); }
mxArray* one_point(double x, double y, double z) { return embedded_matrix(1, 3, {x, y, z}); }

// exp(-(t / sigma)^2) sin(2 pi f0 t) and its derivative.
struct gauss_tone {
  double f0, sigma;
  double at(double t) const {
    return std::exp(-t * t / (sigma * sigma)) * std::sin(2 * pi * f0 * t);
  }
  double slope(double t) const {
    const double w = 2 * pi * f0;
    return std::exp(-t * t / (sigma * sigma)) *
           (w * std::cos(w * t) - 2 * t / (sigma * sigma) * std::sin(w * t));
  }
};
}  // namespace

// s(t) = g(t - t0) sampled at fs from grid sample 1000, with a pulse of one sample of value fs
// (V = 1): every pressure quantity against rho g' at the same sample times, and the cw
// component at f0 against the transform of the analytic pulse, rho w0 sigma sqrt(pi) / 2
// (1 - exp(-sigma^2 w0^2)) exp(-i w0 t0). A second-order difference would miss by 0.6 %.
TEST(field_map, PressureOfAnAnalyticPulseByTheDerivativeRule) {
  const double fs = 100e6, rho = 1050.0, c = 1540.0;
  const gauss_tone g{3e6, 0.3e-6};
  const int32_t start = 1000, n = 400;
  const double t0 = (start + n / 2) / fs;
  std::vector<double> s(n);
  for (int32_t j = 0; j < n; ++j) s[j] = g.at((start + j) / fs - t0);
  double hi = 0, lo = 0, energy = 0;
  for (int32_t j = -2; j < n + 2; ++j) {
    const double p = rho * g.slope((start + j) / fs - t0);
    hi = std::max(hi, p), lo = std::min(lo, p), energy += p * p / fs;
  }
  const map_request q =
      parse_map_request("p_plus, p_minus,p_peak,pii,p_rms,cw_amplitude,cw_phase", true, g.f0, rho);
  const double pulse = fs;
  const map_reducer reducer(q, fs, c, &pulse, 1, 0);
  map_reducer::scratch w;
  double out[7];
  reducer.reduce(s.data(), n, start, w, out, 1);
  EXPECT_NEAR(out[0], hi, 2e-4 * hi);
  EXPECT_NEAR(out[1], -lo, 2e-4 * hi);
  EXPECT_NEAR(out[2], std::max(hi, -lo), 2e-4 * hi);
  EXPECT_NEAR(out[3], energy / (rho * c), 4e-4 * energy / (rho * c));
  EXPECT_NEAR(out[4], std::sqrt(energy * fs), 2e-4 * std::sqrt(energy * fs));  // T = 1 / fs
  const double w0 = 2 * pi * g.f0;
  const std::complex<double> cw = rho * w0 * g.sigma * std::sqrt(pi) / 2 *
                                  (1 - std::exp(-g.sigma * g.sigma * w0 * w0)) *
                                  std::polar(1.0, -w0 * t0);
  EXPECT_NEAR(out[5], std::abs(cw), 1e-4 * std::abs(cw));
  EXPECT_NEAR(std::remainder(out[6] - std::arg(cw), 2 * pi), 0.0, 1e-9);
}

// On the axis of a baffled circular piston of radius R whose surface moves with velocity v(t),
// p(z, t) = rho c (v(t - z/c) - v(t - r/c)), r = sqrt(z^2 + R^2): the direct wave and the
// inverted edge wave. With the impulse response one sample of value fs the pulse is the
// excitation itself. Two pulses 1.35 us apart do not overlap, so p_peak = rho c max |v| and
// pii = integral p^2 / (rho c) = 2 rho c integral v^2; the continuous wave gives rho c (exp(-i k z)
// - exp(-i k r)), 2 rho c exp(-i k z) at the frequency where k (r - z) = pi. The piston is a
// staircase of 0.1 mm squares: the plateau is within 1 %, the edge wave blurred by 3 samples.
TEST_F(orvel_test, PistonOnItsAxisGivesTheExactPressure) {
  init_quiet();
  const double R = 5e-3, z = 5e-3, fs = 100e6, rho = 1000.0, c = 1540.0;
  const double r = std::hypot(z, R), f = c / (2 * (r - z));
  const gauss_tone g{2e6, 0.15e-6};
  std::vector<double> v;
  for (int k = 0; k < 120; ++k) v.push_back(g.at((k - 60) / fs));
  double most = 0, energy = 0;
  for (double x : v) most = std::max(most, std::fabs(x)), energy += x * x / fs;

  call_result th = orvel_call({1010, R, 0.1e-3}, 1);
  ASSERT_TRUE(th.ok) << th.error;
  const double h = th.at(0, 0);
  ASSERT_TRUE(orvel_call({1050, h, row({fs})}).ok);
  ASSERT_TRUE(orvel_call({1051, h, row(v)}).ok);
  call_result m =
      orvel_call({7002, h, one_point(0, 0, z), "p_peak,pii,cw_amplitude,cw_phase", f}, 1);
  ASSERT_TRUE(m.ok) << m.error;
  ASSERT_EQ(m.rows(), 1u);
  ASSERT_EQ(m.cols(), 4u);
  EXPECT_NEAR(m.at(0, 0, 0), rho * c * most, 0.01 * rho * c * most);
  EXPECT_NEAR(m.at(0, 0, 1), 2 * rho * c * energy, 0.03 * 2 * rho * c * energy);
  EXPECT_NEAR(m.at(0, 0, 2), 2 * rho * c, 0.01 * 2 * rho * c);
  // The pulse starts at sample 0 and is centred at sample 60: the wave's phase is that of
  // the delay z / c, within a tenth of a sample.
  EXPECT_NEAR(std::remainder(m.at(0, 0, 3) + 2 * pi * f * z / c, 2 * pi), 0.0,
              2 * pi * f * 0.1 / fs);
}

// Requests that cannot be met are refused, naming what is accepted; nothing is returned.
TEST_F(orvel_test, BadMapRequestsAreRefused) {
  init_quiet();
  call_result th = orvel_call({1010, 2e-3, 0.5e-3}, 1);
  ASSERT_TRUE(th.ok) << th.error;
  const double h = th.at(0, 0);
  const char* names =
      "p_plus, p_minus, p_peak, t_peak, pii, p_rms, cw_amplitude, cw_phase, raw_peak, raw_energy";
  auto refusal = [&](std::initializer_list<host_arg> args) {
    call_result r = orvel_call(args, 1);
    EXPECT_TRUE(r.out.empty());
    return r.error;
  };
  EXPECT_EQ(refusal({7002, h, one_point(0, 0, 0.01), "p_peak,p_max"}),
            std::string("Error: 'p_max' is not a field quantity; the quantities are ") + names);
  EXPECT_EQ(refusal({7002, h, one_point(0, 0, 0.01), " "}),
            std::string("Error: The quantities name none; give one or more of ") + names);
  EXPECT_EQ(refusal({7003, h, h, one_point(0, 0, 0.01), "p_peak,cw_phase"}),
            "Error: cw_amplitude and cw_phase need the frequency of the wave: give {'cw', f} "
            "(Octave) or (\"cw\", f) (Python) among the quantities, f in Hz");
  EXPECT_EQ(refusal({7002, h, one_point(0, 0, 0.01), "cw_amplitude", -3e6}),
            "Error: The cw frequency must be a positive, finite number of Hz, but is -3e+06");
  EXPECT_EQ(refusal({7002, h, one_point(0, 0, 0.01), "cw_amplitude", 60e6}),
            "Error: The cw frequency must be below half the sampling frequency (5e+07 Hz), but is "
            "6e+07 Hz");
  // Two samples two apart cancel at fs / 4.
  ASSERT_TRUE(orvel_call({1051, h, row({1, 0, 1})}).ok);
  EXPECT_EQ(refusal({7002, h, one_point(0, 0, 0.01), "cw_amplitude", 25e6})
                .rfind("Error: The pulse has no component at the cw frequency 2.5e+07 Hz", 0),
            0u);
  EXPECT_EQ(refusal({5050, "rho", 0.0}),
            "Error: The density rho must be greater than 0 kg/m^3 and at most 100000 kg/m^3, but "
            "is 0");
}
