#include "calculation/attenuation.h"

#include <cassert>
#include <cmath>
#include <cstdint>

#include "core/sys_con.h"
#include "signals/signal_arith.h"

namespace {
constexpr double db_to_neper = 0.11512925465;  // ln 10 / 20
constexpr double pi = 3.141592653589793;
constexpr double pi_squared = 9.869604401089358;
constexpr double largest_transform = 1 << 30;  // beyond it no 32-bit count holds the spectrum

}  // namespace

// The plain convolution (n - 1 + Nb) plus the extra samples, plus a tail that grows with the
// distance (the dispersion delays and spreads the pulse, more the later the response starts).
int32_t attenuation_transform_samples(const sys_con& sys, int32_t nb, int32_t S, int32_t n,
                                      int32_t e) {
  const double m = std::floor(e + sys.freq_att * 0.59 * S * sys.c + n - 1 + nb + 0.5);
  if (!(m < largest_transform)) return static_cast<int32_t>(largest_transform);  // NaN too
  return m > 0 ? static_cast<int32_t>(m) : 0;
}

double attenuation_distance(const sys_con& sys, int64_t S, int32_t n, int32_t e) {
  return sys.c * static_cast<double>(S + (int64_t{n} + e) / 2) / sys.fs;
}

void attenuate_packed(const sys_con& sys, double r, int32_t L, const double* x, double* y) {
  // Loss over the distance r relative to that at att_f0: lower frequencies gain, higher lose.
  auto amplitude = [&sys, r](double f) {
    return std::exp(-(f - sys.att_f0) * db_to_neper * sys.freq_att * r);
  };
  // The dispersion that goes with this loss: a phase that grows like w (ln w - tau_m).
  const double phase_per_radian = -(db_to_neper * sys.freq_att * r / pi_squared);
  y[0] = amplitude(0.0) * x[0];         // zero frequency, real
  y[1] = amplitude(sys.fs / 2) * x[1];  // half the sampling frequency, real
  for (int32_t k = 1; k < L / 2; k++) {
    const double f = k * sys.fs / L;
    const double omega = 2 * pi * f;
    const double phi = phase_per_radian * omega * (std::log(omega) - sys.tau_m);
    const double A = amplitude(f);
    const double re = x[2 * k], im = x[2 * k + 1];
    y[2 * k] = A * (std::cos(phi) * re - std::sin(phi) * im);
    y[2 * k + 1] = A * (std::sin(phi) * re + std::cos(phi) * im);
  }
}

signal_ptr attenuate_spectrum(sys_con& sys, const signal_rec& b, signal_ptr& slot, int32_t S,
                              int32_t n, int32_t e) {
  assert(slot);
  const double r = attenuation_distance(sys, S, n, e);
  const int32_t M = attenuation_transform_samples(sys, b.no_samples, S, n, e);
  if (slot->no_samples < M) {
    free_signal(sys, slot);
    slot = signal_spectrum(sys, b, fft_size(M, 0));
  }
  const int32_t L = slot->no_samples;
  signal_ptr out = alloc_signal(sys, L, slot->start_sample);
  attenuate_packed(sys, r, L, slot->data.data(), out->data.data());
  return out;
}
