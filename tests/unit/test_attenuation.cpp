// Frequency-dependent attenuation of a packed spectrum: the cases where it must leave the
// spectrum alone, the loss in decibels and the dispersion phase of single bins (the one at the
// centre frequency only turned), the transform size and distance a response asks for, and gains
// past the largest double.
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "calculation/attenuation.h"
#include "core/sys_con.h"
#include "harness.h"
#include "signals/fft.h"

namespace {
using cplx = std::complex<double>;
constexpr double eps = std::numeric_limits<double>::epsilon();

class attenuation_test : public orvel_test {
 protected:
  sys_con sys;
  std::vector<double> b;  // a pulse

  void SetUp() override {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    b.resize(20);
    for (double& v : b) v = u(gen);
  }
  // A realistic soft-tissue medium: 0.5 dB/(MHz cm) around 3 MHz.
  void tissue() {
    sys.c = 1540.0;
    sys.fs = 100e6;
    sys.freq_att = 0.5 / (1e6 * 0.01);
    sys.att_f0 = 3e6;
    sys.tau_m = 20.0;
  }
  // The packed spectrum of the pulse at L points.
  std::vector<double> spectrum(int32_t L) const {
    std::vector<double> x(L);
    packed_forward(L, b.data(), static_cast<int32_t>(b.size()), x.data());
    return x;
  }
  static cplx bin(const std::vector<double>& x, int k) { return {x[2 * k], x[2 * k + 1]}; }
  // The distance travelled at the middle of a response of n + e samples from sample S.
  double middle_distance(int S, int n_plus_e) const { return sys.c * (S + n_plus_e / 2) / sys.fs; }
  // The dispersion phase at frequency f for the distance r, with the constants derived here.
  double dispersion_phase(double f, double r) const {
    const double neper_per_db = std::log(10.0) / 20;
    const double w = 2 * std::numbers::pi * f;
    return -(neper_per_db * sys.freq_att * r / (std::numbers::pi * std::numbers::pi)) * w *
           (std::log(w) - sys.tau_m);
  }
};
}  // namespace

TEST_F(attenuation_test, NoLossNoDistanceLeavesTheSpectrumUnchanged) {
  const std::vector<double> x = spectrum(256);
  struct setting {
    double freq_att;
    int S, n, e;
  };
  // No frequency-dependent loss, whatever att_f0 and tau_m; and a one-sample response at
  // sample 0 (n + e = 1 either way), which has travelled no distance.
  for (auto [freq_att, S, n, e] :
       {setting{0.0, 5000, 100, 0}, setting{5e-5, 0, 1, 0}, setting{5e-5, 0, 0, 1}}) {
    sys.freq_att = freq_att;
    sys.att_f0 = 4.2e6;
    sys.tau_m = 17.5;
    std::vector<double> y(256);
    attenuate_packed(sys, attenuation_distance(sys, S, n, e), 256, x.data(), y.data());
    EXPECT_EQ(y, x);
  }
}

// The samples the attenuated convolution of the pulse (20 samples) may need: the plain
// convolution (n - 1 + 20) plus the extra samples e, and with loss a tail of
// freq_att * 0.59 * S * c samples; and the distance at the middle of the n + e samples.
TEST_F(attenuation_test, TransformSamplesAndDistanceOfAResponse) {
  EXPECT_EQ(attenuation_transform_samples(sys, 20, 300, 109, 0), 128);
  EXPECT_EQ(attenuation_transform_samples(sys, 20, 300, 109, 1), 129);
  tissue();
  // floor(90.86 + 20 - 1 + 20 + 0.5) and floor(90.86 + 100 - 1 + 20 + 0.5).
  EXPECT_EQ(attenuation_transform_samples(sys, 20, 2000, 20, 0), 130);
  EXPECT_EQ(attenuation_transform_samples(sys, 20, 2000, 100, 0), 210);
  EXPECT_DOUBLE_EQ(attenuation_distance(sys, 2000, 100, 0), 0.031570);   // 1540 * 2050 / 100e6
  EXPECT_DOUBLE_EQ(attenuation_distance(sys, 2000, 100, 3), 0.0315854);  // 103 / 2 = 51 samples
}

TEST_F(attenuation_test, LossInDecibelsGrowsWithFrequencyAndDistance) {
  tissue();
  sys.att_f0 = 8 * sys.fs / 256;                // on bin 8, 3.125 MHz, where a bin only turns
  const double r = middle_distance(2000, 100);  // 1540 * 2050 / 100e6 = 31.57 mm
  const std::vector<double> x = spectrum(256);
  std::vector<double> y(256);
  attenuate_packed(sys, r, 256, x.data(), y.data());
  // Gain in dB relative to att_f0: -freq_att * (f - att_f0) * r. The dB-to-neper constant
  // is rounded to 11 digits, so the comparison is to 1e-10 of the gain.
  const auto gain_db = [&](double f) { return -sys.freq_att * (f - sys.att_f0) * r; };
  EXPECT_NEAR(20 * std::log10(y[0] / x[0]), gain_db(0), 1e-10 * gain_db(0));
  EXPECT_NEAR(20 * std::log10(y[1] / x[1]), gain_db(sys.fs / 2), -1e-10 * gain_db(sys.fs / 2));
  for (int k : {1, 8, 9, 26, 127}) {
    SCOPED_TRACE(k);
    const double f = k * sys.fs / 256;
    if (k == 8) {  // a pure rotation: the magnitude kept to the rounding of the rotation itself
      EXPECT_NEAR(std::abs(bin(y, k)), std::abs(bin(x, k)), 4 * eps * std::abs(bin(x, k)));
    }
    EXPECT_NEAR(20 * std::log10(std::abs(bin(y, k)) / std::abs(bin(x, k))), gain_db(f),
                1e-10 * std::fabs(gain_db(f)) + 1e-13);
    const double phi = dispersion_phase(f, r);
    EXPECT_NEAR(std::remainder(std::arg(bin(y, k) / bin(x, k)) - phi, 2 * std::numbers::pi), 0.0,
                1e-9 * std::fabs(phi) + 1e-13);
  }
}

// 100 m of tissue: the gain relative to att_f0 is e^1727 at zero frequency and passes the largest
// double below 1.77 MHz (zero frequency and bins 1 to 4 of 256): those values are held at
// max / (4 L); above, the plain filter applies.
TEST_F(attenuation_test, GainPastTheLargestDoubleIsHeldFinite) {
  tissue();
  const int L = 256;
  const double r = 100.0, held = std::numeric_limits<double>::max() / (4.0 * L);
  const auto gain_exponent = [&](double f) {
    return -(f - sys.att_f0) * std::log(10.0) / 20 * sys.freq_att * r;
  };
  std::vector<double> x = b, y(L);
  x.resize(L, 0.5);
  attenuate_packed(sys, r, L, x.data(), y.data());
  EXPECT_EQ(y[0], std::copysign(held, x[0]));
  for (int k = 1; k < L / 2; ++k) {
    SCOPED_TRACE(k);
    const cplx in = {x[2 * k], x[2 * k + 1]}, out = {y[2 * k], y[2 * k + 1]};
    const double a = gain_exponent(k * sys.fs / L);
    if (a > std::log(std::numeric_limits<double>::max())) {
      EXPECT_EQ(std::fabs(out.real()), held);
      EXPECT_EQ(std::fabs(out.imag()), held);
    } else if (std::abs(out) > 0) {  // to the dB constant's 1e-10
      EXPECT_NEAR(std::log(std::abs(out) / std::abs(in)), a, 1e-10 * std::fabs(a));
    }
  }
}
