// Frequency-dependent attenuation of a packed spectrum: the cases where it must leave the
// spectrum alone, the loss in decibels and the dispersion phase of single bins, and the
// enlargement of the spectrum slot.
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "calculation/attenuation.h"
#include "core/sys_con.h"
#include "harness.h"
#include "signals/signal_arith.h"
#include "signals/signal_store.h"

namespace {
using cplx = std::complex<double>;
constexpr double eps = std::numeric_limits<double>::epsilon();

class attenuation_test : public orvel_test {
 protected:
  sys_con sys;
  signal_ptr b;  // the pulse whose spectrum the slot holds

  void SetUp() override {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    b = alloc_signal(sys, 20, 4);
    for (double& v : b->data) v = u(gen);
  }
  // A realistic soft-tissue medium: 0.5 dB/(MHz cm) around 3 MHz.
  void tissue() {
    sys.c = 1540.0;
    sys.fs = 100e6;
    sys.freq_att = 0.5 / (1e6 * 0.01);
    sys.att_f0 = 3e6;
    sys.tau_m = 20.0;
  }
  static cplx bin(const signal_rec& s, int k) { return {s.data[2 * k], s.data[2 * k + 1]}; }
  // The distance travelled at the middle of a response of n + e samples from sample S.
  double middle_distance(int S, int n_plus_e) const { return sys.c * (S + n_plus_e / 2) / sys.fs; }
  // The dispersion phase at frequency f for the distance r, with the constants derived here.
  double dispersion_phase(double f, double r) const {
    const double neper_per_db = std::log(10.0) / 20;
    const double w = 2 * std::numbers::pi * f;
    return -(neper_per_db * sys.freq_att * r / (std::numbers::pi * std::numbers::pi)) * w *
           (std::log(w) - sys.tau_m);
  }
  template <typename... T>
  void release(T&... s) {
    (free_signal(sys, s), ...);
    free_signal(sys, b);
    EXPECT_EQ(sys.bytes_reserved, 0);
  }
};
}  // namespace

TEST_F(attenuation_test, NoLossNoDistanceLeavesTheSpectrumUnchanged) {
  signal_ptr slot = signal_spectrum(sys, *b, 256);
  const std::vector<double> before = slot->data;
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
    signal_ptr out = attenuate_spectrum(sys, *b, slot, S, n, e);
    EXPECT_NE(out.get(), slot.get());
    EXPECT_EQ(out->start_sample, 4);
    EXPECT_EQ(out->data, before);
    EXPECT_EQ(slot->data, before);
    free_signal(sys, out);
  }
  release(slot);
}

TEST_F(attenuation_test, AtTheCentreFrequencyABinOnlyTurns) {
  tissue();
  sys.att_f0 = 8 * sys.fs / 128;  // bin 8 of 128 points: 6.25 MHz
  signal_ptr slot = signal_spectrum(sys, *b, 128);
  const int S = 2000, n = 20;  // M = floor(90.86 + 20 - 1 + 20 + 0.5) = 130 > 128: enlarged
  signal_ptr out = attenuate_spectrum(sys, *b, slot, S, n, 0);
  ASSERT_EQ(slot->no_samples, 256);  // bin 8 of 128 is bin 16 of 256
  const cplx x = bin(*slot, 16), y = bin(*out, 16);
  // A pure rotation: the magnitude kept to the rounding of the rotation itself.
  EXPECT_NEAR(std::abs(y), std::abs(x), 4 * eps * std::abs(x));
  const double phi = dispersion_phase(sys.att_f0, middle_distance(S, n));
  EXPECT_NEAR(std::remainder(std::arg(y / x) - phi, 2 * std::numbers::pi), 0.0,
              1e-9 * std::fabs(phi));
  release(slot, out);
}

TEST_F(attenuation_test, LossInDecibelsGrowsWithFrequencyAndDistance) {
  tissue();
  signal_ptr slot = signal_spectrum(sys, *b, 256);
  const int S = 2000, n = 100, e = 0;  // M = floor(90.86 + 100 - 1 + 20 + 0.5) = 210 <= 256
  signal_ptr out = attenuate_spectrum(sys, *b, slot, S, n, e);
  const double r = middle_distance(S, n + e);  // 1540 * 2050 / 100e6 = 31.57 mm
  EXPECT_DOUBLE_EQ(r, 0.031570);
  // Gain in dB relative to att_f0: -freq_att * (f - att_f0) * r. The dB-to-neper constant
  // is rounded to 11 digits, so the comparison is to 1e-10 of the gain.
  const auto gain_db = [&](double f) { return -sys.freq_att * (f - sys.att_f0) * r; };
  EXPECT_NEAR(20 * std::log10(out->data[0] / slot->data[0]), gain_db(0), 1e-10 * gain_db(0));
  EXPECT_NEAR(20 * std::log10(out->data[1] / slot->data[1]), gain_db(sys.fs / 2),
              -1e-10 * gain_db(sys.fs / 2));
  for (int k : {1, 9, 26, 127}) {
    SCOPED_TRACE(k);
    const double f = k * sys.fs / 256;
    const cplx x = bin(*slot, k), y = bin(*out, k);
    EXPECT_NEAR(20 * std::log10(std::abs(y) / std::abs(x)), gain_db(f),
                1e-10 * std::fabs(gain_db(f)) + 1e-13);
    const double phi = dispersion_phase(f, r);
    EXPECT_NEAR(std::remainder(std::arg(y / x) - phi, 2 * std::numbers::pi), 0.0,
                1e-9 * std::fabs(phi) + 1e-13);
  }
  release(slot, out);
}

TEST_F(attenuation_test, SlotIsEnlargedOnlyWhenShorterThanNeeded) {
  // Without loss M = e + n - 1 + Nb: 128 for n = 109, e = 0; 129 for n = 109, e = 1.
  signal_ptr slot = signal_spectrum(sys, *b, 128);
  const int32_t kept_no = slot->signal_no;
  signal_ptr out = attenuate_spectrum(sys, *b, slot, 300, 109, 0);
  EXPECT_EQ(slot->signal_no, kept_no);
  EXPECT_EQ(out->no_samples, 128);
  free_signal(sys, out);

  const int32_t next = sys.next_signal_no;
  out = attenuate_spectrum(sys, *b, slot, 300, 109, 1);
  EXPECT_EQ(slot->signal_no, next);  // the new spectrum of b, then the result
  EXPECT_EQ(out->signal_no, next + 1);
  ASSERT_EQ(slot->no_samples, 256);
  EXPECT_EQ(slot->start_sample, 4);
  EXPECT_EQ(out->no_samples, 256);
  EXPECT_EQ(out->start_sample, 4);
  // The slot now holds b's spectrum at 256 points: bin 2k of it is bin k of 128 points.
  signal_ptr s128 = signal_spectrum(sys, *b, 128);
  double sum_b = 0.0;
  for (double v : b->data) sum_b += std::fabs(v);
  const double tol = 2 * 256 * eps * sum_b;  // two transforms of at most 256 * eps * sum |b|
  for (int k = 1; k < 64; k++) {
    EXPECT_NEAR(slot->data[4 * k], s128->data[2 * k], tol) << k;
    EXPECT_NEAR(slot->data[4 * k + 1], s128->data[2 * k + 1], tol) << k;
  }
  free_signal(sys, s128);

  // A slot far longer than needed is used as it is.
  tissue();
  signal_ptr long_slot = signal_spectrum(sys, *b, 1024);
  const int32_t long_no = long_slot->signal_no;
  signal_ptr long_out = attenuate_spectrum(sys, *b, long_slot, 2000, 100, 0);  // M = 210
  EXPECT_EQ(long_slot->signal_no, long_no);
  EXPECT_EQ(long_out->no_samples, 1024);
  free_signal(sys, long_slot);
  free_signal(sys, long_out);
  release(slot, out);
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
  std::vector<double> x(b->data.begin(), b->data.end()), y(L);
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
