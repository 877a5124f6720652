// The calculation drivers against each other and against their definitions: the emitted field
// of unit pulses, pulse-echo with one aperture for both sides, the multi-element sum, attenuation
// with zero coefficients, and the store's byte count after every calculation.
#include <cmath>

#include "apertures/arrays.h"
#include "apertures/time_lines.h"
#include "calculation/drivers.h"
#include "calculation/rect_response.h"
#include "calculation/response.h"
#include "core/errors.h"
#include "core/sys_con.h"
#include "harness.h"
#include "reference.h"
#include "signal_checks.h"
#include "signals/signal_arith.h"

namespace {
class drivers_test : public orvel_test {
 protected:
  sys_con sys;
  aperture_ptr tx, rx;
  const std::vector<point3> points = {{0, 0, 20e-3}, {3e-3, 1e-3, 35e-3}, {-5e-3, 0, 12e-3}};
  void SetUp() override {
    sys.show_times = 0;
    tx = xdc_linear_array(sys, 8, 0.3e-3, 4e-3, 0.05e-3, 2, 3, {0, 0, 25e-3});
    rx = xdc_linear_array(sys, 8, 0.3e-3, 4e-3, 0.05e-3, 2, 3, {0, 0, 25e-3});
    base = sys.bytes_reserved;
  }
  void TearDown() override {
    EXPECT_EQ(sys.bytes_reserved, base);  // every intermediate signal released
    free_aperture(sys, tx);
    free_aperture(sys, rx);
    EXPECT_EQ(sys.bytes_reserved, 0);
    orvel_test::TearDown();
  }
  void release(std::vector<signal_ptr>& v) {
    for (signal_ptr& s : v) free_signal(sys, s);
  }
  // The per-element signals, added on the grid, equal the summed signal; both are released.
  void expect_parts_sum_to(std::vector<signal_ptr>& parts, signal_ptr& sum) {
    signal_ptr total = alloc_signal(sys, 0, parts[0]->start_sample);
    for (signal_ptr& p : parts) add_signal(sys, *p, total);
    expect_same(*total, *sum, 1e-10);
    free_signal(sys, total);
    free_signal(sys, sum);
    release(parts);
  }
  int32_t base = 0;
};
}  // namespace

TEST_F(drivers_test, EmittedFieldOfUnitPulsesIsTheResponseOverFsSquared) {
  std::vector<signal_ptr> h = calc_h(sys, *tx, points);
  std::vector<signal_ptr> hp = calc_hp(sys, *tx, points);
  for (size_t i = 0; i < points.size(); ++i) {
    ASSERT_TRUE(h[i] && hp[i]);
    EXPECT_EQ(hp[i]->start_sample, h[i]->start_sample);  // both pulses start at sample 0
    EXPECT_EQ(hp[i]->no_samples, h[i]->no_samples);
    for (int32_t k = 0; k < h[i]->no_samples; ++k)
      ASSERT_NEAR(hp[i]->data[k], h[i]->data[k] / (sys.fs * sys.fs),
                  1e-12 * peak(*h[i]) / (sys.fs * sys.fs));
  }
  release(h);
  release(hp);
}

TEST_F(drivers_test, EmittedFieldIsTheResponseConvolvedWithImpulseAndExcitation) {
  signal_ptr imp = alloc_signal(sys, 3, 0), exc = alloc_signal(sys, 4, 2);
  for (int k = 0; k < 3; ++k) imp->data[k] = 1.0 + k;
  for (int k = 0; k < 4; ++k) exc->data[k] = std::sin(k + 1.0);
  xdc_impulse(sys, *tx, std::move(imp));
  xdc_excitation(sys, *tx, std::move(exc));
  base = sys.bytes_reserved;
  std::vector<signal_ptr> h = calc_h(sys, *tx, points);
  std::vector<signal_ptr> hp = calc_hp(sys, *tx, points);
  for (size_t i = 0; i < points.size(); ++i) {
    // The definition, evaluated directly: h * impulse * excitation, each convolution / fs.
    signal_ptr p = convolve_direct(sys, *tx->impulse, *tx->excitation);
    signal_ptr expected = convolve_direct(sys, *h[i], *p);
    for (int32_t k = 0; k < expected->no_samples; ++k) expected->data[k] /= sys.fs * sys.fs;
    EXPECT_EQ(hp[i]->start_sample, h[i]->start_sample + 2);
    expect_same(*hp[i], *expected, 1e-12);
    free_signal(sys, p);
    free_signal(sys, expected);
  }
  release(h);
  release(hp);
}

TEST_F(drivers_test, PulseEchoOfOneApertureEqualsTwoAndTakesOneSignalPerPointAndSixForThePulse) {
  const int32_t before_same = sys.next_signal_no;
  std::vector<signal_ptr> same = calc_hhp(sys, *tx, *tx, points);
  const int32_t used_same = sys.next_signal_no - before_same;
  const int32_t before_two = sys.next_signal_no;
  std::vector<signal_ptr> two = calc_hhp(sys, *tx, *rx, points);
  const int32_t used_two = sys.next_signal_no - before_two;
  for (size_t i = 0; i < points.size(); ++i) expect_same(*same[i], *two[i], 1e-12);
  // Nothing is allocated per element or per response: each calculation takes one signal per
  // point and the six of its pulse (two FFT convolutions of three signals each).
  EXPECT_EQ(used_same, used_two);
  EXPECT_EQ(used_same, static_cast<int32_t>(points.size()) + 6);
  release(same);
  release(two);
}

TEST_F(drivers_test, ScatteredSignalOfOneScattererIsItsPulseEchoField) {
  std::vector<signal_ptr> hhp = calc_hhp(sys, *tx, *rx, {&points[1], 1});
  const double amplitude = 2.5;
  signal_ptr scat = calc_scat(sys, *tx, *rx, {&points[1], 1}, {&amplitude, 1});
  for (int32_t k = 0; k < hhp[0]->no_samples; ++k) hhp[0]->data[k] *= amplitude;
  expect_same(*scat, *hhp[0], 1e-12);
  free_signal(sys, scat);
  release(hhp);
  // All amplitudes 0: a zero signal spanning the responses.
  const std::vector<double> zeros(points.size(), 0.0);
  signal_ptr silent = calc_scat(sys, *tx, *rx, points, zeros);
  EXPECT_GT(silent->no_samples, 0);
  EXPECT_EQ(peak(*silent), 0.0);
  free_signal(sys, silent);
}

TEST_F(drivers_test, ScatteredSignalsPerElementSumToTheSummedSignal) {
  std::vector<double> amplitudes = {1.0, -0.5, 2.0};
  xdc_apodization(sys, *rx, {0, 20e-6},
                  {std::vector<double>(8, 1.0), {1, 0.5, 0.25, 1, 1, 2, 0, 1}});
  signal_ptr sum = calc_scat(sys, *tx, *rx, points, amplitudes);
  std::vector<signal_ptr> parts = calc_scat_multi(sys, *tx, *rx, points, amplitudes);
  ASSERT_EQ(parts.size(), 8u);
  expect_parts_sum_to(parts, sum);
  // One aperture for both sides: the transmission still uses the whole aperture.
  signal_ptr self = calc_scat(sys, *tx, *tx, points, amplitudes);
  std::vector<signal_ptr> self_parts = calc_scat_multi(sys, *tx, *tx, points, amplitudes);
  expect_parts_sum_to(self_parts, self);
}

TEST_F(drivers_test, CalculationRefusedForAPointBeyondTheGridReleasesItsSignals) {
  const std::vector<point3> far = {{0, 0, 20e-3}, {0, 0, 1e9}};  // beyond the time grid
  const std::vector<double> amplitudes = {1.0, 1.0};
  EXPECT_THROW(calc_scat_multi(sys, *tx, *rx, far, amplitudes), command_error);
  EXPECT_EQ(sys.bytes_reserved, base);
}

TEST_F(drivers_test, PointsNoElementReaches) {
  xdc_apodization(sys, *tx, {0}, {std::vector<double>(8, 0.0)});
  std::vector<signal_ptr> h = calc_h(sys, *tx, points);
  for (const signal_ptr& s : h) EXPECT_FALSE(s);
  std::vector<signal_ptr> hp = calc_hp(sys, *tx, points);
  for (const signal_ptr& s : hp) {
    ASSERT_TRUE(s);  // zeros spanning the one-sample pulse
    EXPECT_EQ(s->no_samples, 1);
    EXPECT_EQ(peak(*s), 0.0);
  }
  release(hp);
}

TEST_F(drivers_test, NoPointsNoSignals) {
  EXPECT_TRUE(calc_h(sys, *tx, {}).empty());
  EXPECT_TRUE(calc_hp(sys, *tx, {}).empty());
  EXPECT_TRUE(calc_hhp(sys, *tx, *rx, {}).empty());
  signal_ptr s = calc_scat(sys, *tx, *rx, {}, {});
  EXPECT_EQ(s->no_samples, 0);
  free_signal(sys, s);
  std::vector<signal_ptr> parts = calc_scat_multi(sys, *tx, *rx, {}, {});
  ASSERT_EQ(parts.size(), 8u);
  for (const signal_ptr& p : parts) EXPECT_FALSE(p);
}

TEST_F(drivers_test, AttenuationWithZeroCoefficientsChangesNothing) {
  std::vector<signal_ptr> h = calc_h(sys, *tx, points);
  std::vector<signal_ptr> hp = calc_hp(sys, *tx, points);
  signal_ptr scat = calc_scat(sys, *tx, *rx, points, std::vector<double>{1, 1, 1});
  sys.use_att = 1;
  std::vector<signal_ptr> ha = calc_h(sys, *tx, points);
  std::vector<signal_ptr> hpa = calc_hp(sys, *tx, points);
  signal_ptr scata = calc_scat(sys, *tx, *rx, points, std::vector<double>{1, 1, 1});
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_GE(ha[i]->no_samples, h[i]->no_samples);  // the whole transform comes back
    expect_same(*ha[i], *h[i], 1e-12);
    expect_same(*hpa[i], *hp[i], 1e-12);
  }
  expect_same(*scata, *scat, 1e-10);
  release(h);
  release(hp);
  release(ha);
  release(hpa);
  free_signal(sys, scat);
  free_signal(sys, scata);
}

TEST_F(drivers_test, FrequencyDependentAttenuationFollowsTheFrequencyLaw) {
  signal_ptr imp = alloc_signal(sys, 60, 0);
  for (int k = 0; k < 60; ++k)
    imp->data[k] = std::sin(2 * M_PI * 3e6 * k / sys.fs) * std::pow(std::sin(M_PI * k / 60), 2);
  xdc_impulse(sys, *tx, std::move(imp));
  base = sys.bytes_reserved;
  const std::vector<point3> axis = {{0, 0, 60e-3}};
  std::vector<signal_ptr> plain = calc_hp(sys, *tx, axis);
  std::vector<signal_ptr> h = calc_h(sys, *tx, axis);
  sys.use_att = 1;
  sys.freq_att = 0.5e-4;  // 0.5 dB/(cm MHz)
  sys.att_f0 = 3e6;
  std::vector<signal_ptr> damped = calc_hp(sys, *tx, axis);
  // The spectra of the two fields at f: the damped one is lower by exp(-(f - f0) beta
  // freq_att r) at the distance r travelled at the middle of the response (1.42 at 2 MHz, 0.70
  // at 4 MHz here). The field is cut to the length of the plain convolution while the
  // dispersion spreads the pulse a little: 10 % allowed.
  auto magnitude = [this](const signal_rec& s, double f) {
    double re = 0.0, im = 0.0;
    for (int32_t k = 0; k < s.no_samples; ++k) {
      const double phase = 2 * M_PI * f * (s.start_sample + k) / sys.fs;
      re += s.data[k] * std::cos(phase);
      im += s.data[k] * std::sin(phase);
    }
    return std::hypot(re, im);
  };
  const double r = sys.c * (h[0]->start_sample + h[0]->no_samples / 2) / sys.fs;
  for (double f : {2e6, 3e6, 4e6}) {
    const double expected = std::exp(-(f - 3e6) * 0.11512925465 * sys.freq_att * r);
    EXPECT_NEAR(magnitude(*damped[0], f) / magnitude(*plain[0], f), expected, 0.1 * expected) << f;
  }
  release(plain);
  release(damped);
  release(h);
}

// Far away, or on a grid of 1 Hz, the model's gain below att_f0 (relative to it) passes the
// largest double; the results must still be numbers. In tissue of 1.5 dB/cm at 3 MHz and
// 0.5 dB/(cm MHz), 100 m away, the frequency-independent loss alone, exp(-150 ln(10) / 20 r) with
// r > 99.9 m, is 0 in doubles: every response, and so every result, is exactly zero.
TEST_F(drivers_test, DistantPointsInAttenuatingTissueGiveNumbersNotNaN) {
  signal_ptr imp = alloc_signal(sys, 60, 0);
  for (int k = 0; k < 60; ++k)
    imp->data[k] = std::sin(2 * M_PI * 3e6 * k / sys.fs) * std::pow(std::sin(M_PI * k / 60), 2);
  xdc_impulse(sys, *tx, std::move(imp));
  base = sys.bytes_reserved;
  sys.use_att = 1;
  sys.freq_att = 0.5e-4;
  sys.att_f0 = 3e6;
  ASSERT_EQ(std::exp(-150 * std::log(10.0) / 20 * 99.9), 0.0);
  struct setting {
    double att, fs, z;
    bool zero;  // expected: exactly zero; otherwise finite
  };
  for (auto [att, fs, z, zero] : {setting{150, 100e6, 100, true}, setting{0, 100e6, 100, false},
                                  setting{150, 1, 0.05, false}}) {
    SCOPED_TRACE(testing::Message() << "att " << att << ", fs " << fs << ", z " << z);
    sys.att = att;
    sys.fs = fs;
    const std::vector<point3> far = {{0, 0, z}};
    std::vector<signal_ptr> all = calc_h(sys, *tx, far);
    auto take = [&all](std::vector<signal_ptr> v) {
      for (signal_ptr& s : v) all.push_back(std::move(s));
    };
    take(calc_hp(sys, *tx, far));
    take(calc_hhp(sys, *tx, *rx, far));
    take(calc_scat_multi(sys, *tx, *rx, far, std::vector<double>{1}));
    all.push_back(calc_scat(sys, *tx, *rx, far, std::vector<double>{1}));
    for (const signal_ptr& s : all) {
      ASSERT_TRUE(s);
      EXPECT_GT(s->no_samples, 0);
      for (int32_t k = 0; k < s->no_samples; ++k) {
        ASSERT_TRUE(std::isfinite(s->data[k])) << "signal " << &s - all.data() << ", sample " << k;
        if (zero) {
          ASSERT_EQ(s->data[k], 0.0) << "signal " << &s - all.data() << ", sample " << k;
        }
      }
    }
    release(all);
  }
  sys.fs = 100e6;
  // With c = 1e10 the samples before the focusing delay lie some 100 m before the aperture,
  // where the loss exp(-att beta r) is a gain of e^1727: capped, the response stays finite.
  sys.c = 1e10;
  sys.att = 150;
  std::vector<signal_ptr> h = calc_h(sys, *tx, std::vector<point3>{{0, 0, 0.05}});
  for (int32_t k = 0; k < h[0]->no_samples; ++k) ASSERT_TRUE(std::isfinite(h[0]->data[k])) << k;
  release(h);
}

// Which thread computes what never changes a number: every driver on a problem large enough to
// give every thread work, with waveforms and attenuation on, against one thread.
TEST_F(drivers_test, ResultsAreTheSameForEveryThreadCount) {
  aperture_ptr wide = xdc_focused_array(sys, 24, 0.3e-3, 4e-3, 0.05e-3, 20e-3, 2, 3, {0, 0, 25e-3});
  ele_waveform(sys, *wide, {2, 5}, 3, {{1.0, -0.5, 0.25}, {0.5, 1.0, 0.5}});
  signal_ptr imp = alloc_signal(sys, 30, 0);
  for (int k = 0; k < 30; ++k) imp->data[k] = std::sin(2 * M_PI * k / 20) * std::sin(M_PI * k / 30);
  xdc_impulse(sys, *wide, std::move(imp));
  std::vector<point3> field;
  std::vector<double> amplitudes;
  for (int k = 0; k < 60; ++k) {
    field.push_back({(k % 10 - 5) * 1e-3, (k % 3) * 0.5e-3, 10e-3 + k * 0.4e-3});
    amplitudes.push_back(std::cos(k * 0.7));
  }
  auto same = [](const std::vector<signal_ptr>& a, const std::vector<signal_ptr>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      ASSERT_EQ(!a[i], !b[i]) << i;
      if (!a[i]) continue;
      EXPECT_EQ(a[i]->start_sample, b[i]->start_sample) << i;
      ASSERT_EQ(a[i]->no_samples, b[i]->no_samples) << i;
      for (int32_t k = 0; k < a[i]->no_samples; ++k)
        ASSERT_EQ(a[i]->data[k], b[i]->data[k]) << i << " " << k;  // bit for bit
    }
  };
  auto all = [&](int32_t threads) {
    sys.threads = threads;
    std::vector<std::vector<signal_ptr>> r;
    r.push_back(calc_h(sys, *wide, field));
    r.push_back(calc_hp(sys, *wide, field));
    r.push_back(calc_hhp(sys, *wide, *rx, field));
    r.push_back(calc_hhp(sys, *wide, *wide, field));
    r.push_back(calc_scat_multi(sys, *wide, *rx, field, amplitudes));
    std::vector<signal_ptr> scat;
    scat.push_back(calc_scat(sys, *wide, *rx, field, amplitudes));
    r.push_back(std::move(scat));
    return r;
  };
  for (int16_t att : {0, 1}) {
    SCOPED_TRACE(att ? "with attenuation" : "without attenuation");
    sys.use_att = att;
    sys.att = 0.5;
    sys.freq_att = 0.5e-4;
    sys.att_f0 = 3e6;
    std::vector<std::vector<signal_ptr>> one = all(1);
    for (int32_t threads : {2, 3}) {
      std::vector<std::vector<signal_ptr>> many = all(threads);
      for (size_t c = 0; c < one.size(); ++c) {
        SCOPED_TRACE(c);
        same(one[c], many[c]);
      }
      for (std::vector<signal_ptr>& v : many) release(v);
    }
    for (std::vector<signal_ptr>& v : one) release(v);
  }
  free_aperture(sys, wide);
}

// Receive elements with long responses: the transmit response of each scatterer is then
// transformed once and its spectrum used for every element; the parts still sum to the
// summed signal.
TEST_F(drivers_test, LongReceiveResponsesThroughTheKeptSpectrumSumToTheSummedSignal) {
  aperture_ptr big = xdc_linear_array(sys, 3, 6e-3, 8e-3, 0.2e-3, 6, 8, {0, 0, 30e-3});
  const response_plan plan = plan_response(sys, *big, true);
  // Responses of some hundred samples each way: the transforms cost less than the direct sums.
  ASSERT_FALSE(
      direct_is_cheaper(300, plan.longest_element, fft_size(300 + plan.longest_element, 0), 2));
  const std::vector<double> amplitudes = {1.0, -0.5, 2.0};
  const std::vector<point3> near = {{0, 0, 8e-3}, {5e-3, 1e-3, 12e-3}, {-6e-3, -2e-3, 10e-3}};
  signal_ptr sum = calc_scat(sys, *big, *big, near, amplitudes);
  std::vector<signal_ptr> parts = calc_scat_multi(sys, *big, *big, near, amplitudes);
  expect_parts_sum_to(parts, sum);
  free_aperture(sys, big);
}

// With frequency-dependent attenuation each point is filtered on its own: calc_h and calc_hp
// against the signal-level operations on the point's response (its spectrum filtered and back;
// the pulse's spectrum filtered and convolved through the kept slot), point by point.
TEST_F(drivers_test, AttenuatedFieldsAreThoseOfTheSpectrumOperationsPointByPoint) {
  signal_ptr imp = alloc_signal(sys, 40, 0);
  for (int k = 0; k < 40; ++k) imp->data[k] = std::sin(2 * M_PI * k / 25) * std::sin(M_PI * k / 40);
  xdc_impulse(sys, *tx, std::move(imp));
  base = sys.bytes_reserved;
  sys.use_att = 1;
  sys.att = 0.4;  // the frequency independent term weights the responses themselves
  sys.freq_att = 0.7e-4;
  sys.att_f0 = 4e6;
  std::vector<signal_ptr> ha = calc_h(sys, *tx, points);
  std::vector<signal_ptr> hpa = calc_hp(sys, *tx, points);
  signal_ptr pulse = convolve_fft(sys, tx->impulse.get(), tx->excitation.get());
  for (size_t i = 0; i < points.size(); ++i) {
    SCOPED_TRACE(i);
    signal_ptr h = rect_response(sys, *tx, points[i]);
    const int32_t S = h->start_sample, n = h->no_samples;
    signal_ptr slot = signal_spectrum(sys, *h, fft_size(n, 0));
    signal_ptr a = attenuate_spectrum(sys, *h, slot, S, n, 0);
    inverse_spectrum(sys, *a, a->no_samples);
    EXPECT_EQ(ha[i]->no_samples, a->no_samples);
    expect_same(*ha[i], *a, 1e-12);
    signal_ptr cache = signal_spectrum(sys, *pulse, fft_size(n + pulse->no_samples, 0));
    signal_ptr filtered = attenuate_spectrum(sys, *pulse, cache, S, n, 0);
    signal_ptr y = convolve_fft_cached(sys, *h, *pulse, filtered);
    EXPECT_EQ(hpa[i]->no_samples, y->no_samples);
    expect_same(*hpa[i], *y, 1e-12);
    for (signal_ptr* s : {&h, &slot, &a, &cache, &filtered, &y}) free_signal(sys, *s);
  }
  free_signal(sys, pulse);
  release(ha);
  release(hpa);
}
