// Slow-time processing: the same results for one and three threads (under the thread
// sanitizer, without a race); a tone's lag-one velocity and its spectrogram's peak bin.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/thread_pool.h"
#include "imaging/doppler.h"

namespace {
constexpr double pi = 3.141592653589793;

std::vector<double> every_result(int32_t threads, const std::vector<double>& re,
                                 const std::vector<double>& im, size_t G, size_t N) {
  worker_team team(threads);
  const slow_time x{re.data(), im.data(), G, N};
  std::vector<double> all, a(G * N), b(G * N);
  std::vector<double> rf(300 * 4);
  for (size_t k = 0; k < rf.size(); ++k) rf[k] = std::sin(0.3 * k) + 0.1 * std::cos(0.07 * k);
  std::vector<double> iq_re(150 * 4), iq_im(150 * 4);
  iq_demodulate(team, rf.data(), 300, 4, 1e-6, 40e6, 5e6, 4e6, 2, iq_re.data(), iq_im.data());
  all.insert(all.end(), iq_re.begin(), iq_re.end());
  all.insert(all.end(), iq_im.begin(), iq_im.end());
  clutter_polynomial(team, x, 2, a.data(), b.data());
  all.insert(all.end(), a.begin(), a.end());
  clutter_fir(team, x, 0.2, a.data(), b.data());
  all.insert(all.end(), b.begin(), b.end());
  std::vector<double> v(G), p(G), s(G);
  color_flow(team, x, 4e3, 5e6, 1540, v.data(), p.data(), s.data());
  all.insert(all.end(), v.begin(), v.end());
  std::vector<double> spectrum(32 * doppler_windows(N, 16, 8));
  doppler_spectrum(team, x, 16, 8, 32, spectrum.data());
  all.insert(all.end(), spectrum.begin(), spectrum.end());
  return all;
}
}  // namespace

TEST(doppler, ResultsAreTheSameForEveryThreadCountAndATonesVelocityIsExact) {
  const size_t G = 300, N = 40;
  const double w = 0.9;  // radians per firing
  std::vector<double> re(G * N), im(G * N);
  for (size_t g = 0; g < G; ++g)
    for (size_t n = 0; n < N; ++n) {
      const double a = w * n + 0.01 * g;
      re[g + G * n] = (1 + 0.001 * g) * std::cos(a);
      im[g + G * n] = (1 + 0.001 * g) * std::sin(a);
    }
  EXPECT_EQ(every_result(1, re, im, G, N), every_result(3, re, im, G, N));

  worker_team team(2);
  const slow_time x{re.data(), im.data(), G, N};
  std::vector<double> v(G), p(G), s(G);
  color_flow(team, x, 4e3, 5e6, 1540, v.data(), p.data(), s.data());
  EXPECT_NEAR(v[7], 1540 * 4e3 / (4 * pi * 5e6) * w, 1e-12);
  EXPECT_NEAR(s[7], 0.0, 1e-6);  // one tone: no spread
  // The spectrogram's peak: bin j (from -prf/2) nearest to w N_fft / (2 pi) + nfft / 2.
  const size_t nfft = 64;
  std::vector<double> spectrum(nfft * doppler_windows(N, 32, 0));
  doppler_spectrum(team, x, 32, 0, nfft, spectrum.data());
  size_t peak = 0;
  for (size_t j = 1; j < nfft; ++j)
    if (spectrum[j] > spectrum[peak]) peak = j;
  EXPECT_EQ(peak, static_cast<size_t>(std::lround(w * nfft / (2 * pi))) + nfft / 2);
}
