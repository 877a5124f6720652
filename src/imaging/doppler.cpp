// Slow-time processing: each signal (or, for the spectrogram, each window) is one task of the
// worker team, its sums run in a fixed order.
#include "imaging/doppler.h"

#include <algorithm>
#include <cmath>

#include "core/check.h"

namespace {
constexpr double pi = 3.141592653589793;

double sinc(double x) { return x == 0 ? 1.0 : std::sin(pi * x) / (pi * x); }

// An orthonormal basis of the polynomials of degree 0..order on n = 0..N-1 (in the centred,
// scaled index (n - (N - 1) / 2) / N, for conditioning), by Gram-Schmidt taken twice: column
// k of the N x (order + 1) result, column-major.
std::vector<double> polynomial_basis(size_t N, size_t order) {
  std::vector<double> b(N * (order + 1));
  for (size_t k = 0; k <= order; ++k) {
    double* v = &b[k * N];
    for (size_t n = 0; n < N; ++n)
      v[n] = std::pow(
          (static_cast<double>(n) - (static_cast<double>(N) - 1) / 2) / static_cast<double>(N),
          static_cast<double>(k));
    for (int pass = 0; pass < 2; ++pass)
      for (size_t j = 0; j < k; ++j) {
        const double* u = &b[j * N];
        double dot = 0;
        for (size_t n = 0; n < N; ++n) dot += u[n] * v[n];
        for (size_t n = 0; n < N; ++n) v[n] -= dot * u[n];
      }
    double norm = 0;
    for (size_t n = 0; n < N; ++n) norm += v[n] * v[n];
    norm = std::sqrt(norm);
    for (size_t n = 0; n < N; ++n) v[n] /= norm;
  }
  return b;
}
}  // namespace

std::vector<double> doppler_low_pass(double band, size_t K) {
  std::vector<double> h(2 * K + 1);
  double total = 0;
  for (size_t i = 0; i < h.size(); ++i) {
    const double k = static_cast<double>(i) - static_cast<double>(K);
    h[i] = band * sinc(band * k) * (0.5 + 0.5 * std::cos(pi * k / static_cast<double>(K + 1)));
    total += h[i];
  }
  for (double& v : h) v /= total;
  return h;
}

void iq_demodulate(worker_team& team, const double* rf, size_t samples, size_t signals, double t0,
                   double fs, double f0, double cutoff, size_t decimation, double* re, double* im) {
  ORVEL_ASSERT(fs > 0 && cutoff > 0 && decimation >= 1);
  const size_t K = static_cast<size_t>(std::ceil(2 * fs / cutoff));
  const std::vector<double> h = doppler_low_pass(2 * cutoff / fs, K);
  const size_t kept = (samples + decimation - 1) / decimation;
  // The mixer, the same for every signal.
  std::vector<double> mix_re(samples), mix_im(samples);
  for (size_t n = 0; n < samples; ++n) {
    const double phase = 2 * pi * f0 * (t0 + static_cast<double>(n) / fs);
    mix_re[n] = 2 * std::cos(phase);
    mix_im[n] = -2 * std::sin(phase);
  }
  team.run(static_cast<int64_t>(signals), 1, [&](int64_t s, int32_t) {
    const double* x = rf + static_cast<size_t>(s) * samples;
    double* out_re = re + static_cast<size_t>(s) * kept;
    double* out_im = im + static_cast<size_t>(s) * kept;
    for (size_t q = 0; q < kept; ++q) {
      // y_n = sum_k h_k m_{n-k}, k = -K..K: m_{n+K} first.
      const size_t n = q * decimation;
      // Tap i meets sample j = n + K - i: i from n + K - (samples - 1) to n + K.
      double sr = 0, si = 0;
      const size_t first = n + K >= samples ? n + K - (samples - 1) : 0;
      const size_t last = std::min(h.size() - 1, n + K);
      for (size_t i = first; i <= last; ++i) {
        const size_t j = n + K - i;
        const double m = x[j];
        sr += h[i] * (m * mix_re[j]);
        si += h[i] * (m * mix_im[j]);
      }
      out_re[q] = sr;
      out_im[q] = si;
    }
  });
}

void clutter_polynomial(worker_team& team, slow_time x, size_t order, double* re, double* im) {
  const size_t G = x.G, N = x.N;
  ORVEL_ASSERT(order + 1 < N);
  const std::vector<double> b = polynomial_basis(N, order);
  team.run(static_cast<int64_t>(G), 64, [&](int64_t g64, int32_t) {
    const size_t g = static_cast<size_t>(g64);
    for (int part = 0; part < 2; ++part) {
      const double* v = part ? x.im : x.re;
      double* out = part ? im : re;
      for (size_t n = 0; n < N; ++n) out[g + G * n] = v[g + G * n];
      for (size_t k = 0; k <= order; ++k) {
        const double* u = &b[k * N];
        double dot = 0;
        for (size_t n = 0; n < N; ++n) dot += u[n] * v[g + G * n];
        for (size_t n = 0; n < N; ++n) out[g + G * n] -= dot * u[n];
      }
    }
  });
}

size_t clutter_fir_half_length(double cutoff) {
  return static_cast<size_t>(std::ceil(0.5 / cutoff));
}

void clutter_fir(worker_team& team, slow_time x, double cutoff, double* re, double* im) {
  const size_t G = x.G, N = x.N, K = clutter_fir_half_length(cutoff);
  ORVEL_ASSERT(N >= 2 * K + 2);
  std::vector<double> g = doppler_low_pass(2 * cutoff, K);
  for (double& v : g) v = -v;
  g[K] += 1;
  const size_t M = N - 2 * K;
  team.run(static_cast<int64_t>(G), 64, [&](int64_t s, int32_t) {
    const size_t r = static_cast<size_t>(s);
    for (int part = 0; part < 2; ++part) {
      const double* v = part ? x.im : x.re;
      double* out = part ? im : re;
      for (size_t n = 0; n < M; ++n) {
        double sum = 0;  // sum_k g_k x_{n + K - k}, k = -K..K
        for (size_t i = 0; i < g.size(); ++i) sum += g[i] * v[r + G * (n + 2 * K - i)];
        out[r + G * n] = sum;
      }
    }
  });
}

void color_flow(worker_team& team, slow_time x, double prf, double f0, double c, double* velocity,
                double* power, double* variance) {
  const size_t G = x.G, N = x.N;
  ORVEL_ASSERT(N >= 2);
  team.run(static_cast<int64_t>(G), 256, [&](int64_t s, int32_t) {
    const size_t g = static_cast<size_t>(s);
    double r0 = 0, r1_re = 0, r1_im = 0;
    for (size_t n = 0; n < N; ++n) {
      const double a = x.re[g + G * n], b = x.im[g + G * n];
      r0 += a * a + b * b;
      if (n + 1 == N) continue;
      const double c2 = x.re[g + G * (n + 1)], d = x.im[g + G * (n + 1)];
      r1_re += a * c2 + b * d;  // conj(a + ib) (c + id)
      r1_im += a * d - b * c2;
    }
    r0 /= static_cast<double>(N);
    r1_re /= static_cast<double>(N - 1);
    r1_im /= static_cast<double>(N - 1);
    power[g] = r0;
    if (r0 > 0) {
      velocity[g] = c * prf / (4 * pi * f0) * std::atan2(r1_im, r1_re);
      variance[g] = 2 * prf * prf * (1 - std::hypot(r1_re, r1_im) / r0);
    } else {
      velocity[g] = 0.0;
      variance[g] = 0.0;
    }
  });
}

size_t doppler_windows(size_t N, size_t L, size_t overlap) {
  return L <= N && overlap < L ? (N - L) / (L - overlap) + 1 : 0;
}

void doppler_spectrum(worker_team& team, slow_time x, size_t L, size_t overlap, size_t nfft,
                      double* spectrum) {
  const size_t G = x.G, N = x.N, M = doppler_windows(N, L, overlap), H = L - overlap;
  ORVEL_ASSERT(M >= 1 && nfft >= L);
  std::vector<double> w(L), cos_t(nfft), sin_t(nfft);
  for (size_t k = 0; k < L; ++k)
    w[k] = 0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(k) / static_cast<double>(L));
  for (size_t k = 0; k < nfft; ++k) {
    const double a = 2 * pi * static_cast<double>(k) / static_cast<double>(nfft);
    cos_t[k] = std::cos(a);
    sin_t[k] = std::sin(a);
  }
  team.run(static_cast<int64_t>(M), 1, [&](int64_t m64, int32_t) {
    const size_t m = static_cast<size_t>(m64);
    double* column = spectrum + m * nfft;
    for (size_t j = 0; j < nfft; ++j) column[j] = 0.0;
    std::vector<double> xr(L), xi(L);
    for (size_t g = 0; g < G; ++g) {
      for (size_t k = 0; k < L; ++k) {
        xr[k] = w[k] * x.re[g + G * (m * H + k)];
        xi[k] = w[k] * x.im[g + G * (m * H + k)];
      }
      for (size_t bin = 0; bin < nfft; ++bin) {
        // Shifted: bin 0 is frequency -prf/2 (index j = bin - floor(nfft / 2), mod nfft).
        const size_t j = (bin + nfft - nfft / 2) % nfft;
        double sr = 0, si = 0;  // sum_k x_k exp(-i 2 pi j k / nfft)
        for (size_t k = 0; k < L; ++k) {
          const size_t t = (j * k) % nfft;
          sr += xr[k] * cos_t[t] + xi[k] * sin_t[t];
          si += xi[k] * cos_t[t] - xr[k] * sin_t[t];
        }
        column[bin] += sr * sr + si * si;
      }
    }
  });
}
