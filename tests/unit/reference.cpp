#include "reference.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "calculation/attenuation.h"
#include "core/sys_con.h"
#include "signals/signal_arith.h"

namespace {
// Sample k of the full convolution of a and b: sum over i of a(i) b(k - i), ascending i.
double convolution_sample(const signal_rec& a, const signal_rec& b, int64_t k) {
  double sum = 0.0;
  for (int64_t i = 0; i < a.no_samples; ++i)
    if (k - i >= 0 && k - i < b.no_samples) sum += a.data[i] * b.data[k - i];
  return sum;
}
}  // namespace

void add_signal(sys_con& sys, const signal_rec& a, signal_ptr& b) {
  const int64_t a_end = int64_t{a.start_sample} + a.no_samples;
  const int64_t b_end = int64_t{b->start_sample} + b->no_samples;
  if (a.start_sample < b->start_sample || a_end > b_end) {
    const int32_t start = std::min(a.start_sample, b->start_sample);
    signal_ptr wide =
        alloc_signal(sys, static_cast<int32_t>(std::max(a_end, b_end) - start), start);
    std::copy_n(b->data.begin(), b->no_samples, wide->data.begin() + (b->start_sample - start));
    free_signal(sys, b);
    b = std::move(wide);
  }
  for (int32_t i = 0; i < a.no_samples; ++i)
    b->data[a.start_sample - b->start_sample + i] += a.data[i];
}

signal_ptr convolve_direct(sys_con& sys, const signal_rec& a, const signal_rec& b) {
  const int32_t n = std::max(a.no_samples + b.no_samples - 1, 0);
  signal_ptr r = alloc_signal(sys, n, a.start_sample + b.start_sample);
  for (int32_t k = 0; k < n; ++k) r->data[k] = convolution_sample(a, b, k);
  return r;
}

signal_ptr convolve_decimated(sys_con& sys, const signal_rec& a, const signal_rec& b, int32_t D,
                              double scale) {
  const int64_t summed = int64_t{a.start_sample} + b.start_sample;
  // The first multiple of D at or after the summed start, as a sample of the grid of fs / D.
  const int64_t start = summed >= 0 ? (summed + D - 1) / D : -(-summed / D);
  const int32_t full = a.no_samples + b.no_samples - 1;
  signal_ptr r = alloc_signal(sys, full / D + 1, static_cast<int32_t>(start));
  r->fs = sys.fs / D;
  for (int32_t m = 0; m < r->no_samples; ++m) {
    const int64_t k = (start + m) * D - summed;  // the sample of the full convolution
    if (k < full) r->data[m] = scale * convolution_sample(a, b, k);
  }
  return r;
}

signal_ptr attenuate_spectrum(sys_con& sys, const signal_rec& b, signal_ptr& slot, int32_t S,
                              int32_t n, int32_t e) {
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

signal_ptr convolve_fft_cached(sys_con& sys, const signal_rec& a, const signal_rec& b,
                               signal_ptr& slot) {
  const int32_t needed = a.no_samples + b.no_samples;
  const int32_t L = fft_size(needed, 0);
  if (slot->no_samples < needed) {
    free_signal(sys, slot);
    slot = signal_spectrum(sys, b, L);
  }
  signal_ptr P = signal_spectrum(sys, a, L);
  P->start_sample += slot->start_sample;
  // Bin k of L points lies at the frequency of bin k M / L of the slot's M points: every
  // (2 M / L)-th double of the slot.
  const int64_t step = 2 * int64_t{slot->no_samples} / L;
  const double* B = slot->data.data();
  double* p = P->data.data();
  p[0] *= B[0];
  p[1] *= B[1];
  for (int64_t k = 1; k < L / 2; ++k) {
    const double are = p[2 * k], aim = p[2 * k + 1];
    const double bre = B[k * step], bim = B[k * step + 1];
    p[2 * k] = are * bre - aim * bim;
    p[2 * k + 1] = aim * bre + are * bim;
  }
  for (int32_t i = 0; i < L; ++i) p[i] /= sys.fs;
  inverse_spectrum(sys, *P, std::max(needed - 1, 0));
  return P;
}
