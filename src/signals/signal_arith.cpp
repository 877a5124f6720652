// Sums and convolutions of signals on the global grid. Invariants: a receiver is widened only by
// a new record that covers both spans (the old one released through the store), so a pointer
// taken before a sum may be stale; time-domain convolutions sum each output in ascending index
// with one double, the decimated and phased paths in the order of the plain one; FFT sizes are
// powers of two of at least 4 that hold the whole linear convolution.
#include "signals/signal_arith.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/check.h"
#include "core/hot.h"
#include "core/lanes.h"
#include "core/sys_con.h"
#include "core/thread_pool.h"
#include "signals/fft.h"

namespace {
bool is_power_of_two(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

// r(k) = sum over i of a(i) b(k - i), one running double in ascending i.
double convolution_sample(const double* a, int32_t na, const double* b, int32_t nb, int32_t k) {
  const int32_t first = std::max(0, k - nb + 1);
  const int32_t last = std::min(k, na - 1);
  double sum = 0.0;
  for (int32_t i = first; i <= last; i++) sum += a[i] * b[k - i];
  return sum;
}

// The zero result of a convolution with an absent operand: the present one's span.
signal_ptr absent_operand_result(sys_con& sys, const signal_rec* a, const signal_rec* b) {
  if (!a && !b) return alloc_signal(sys, 0, 0);  // no span to give: an empty signal at 0
  const signal_rec& present = a ? *a : *b;
  return alloc_signal(sys, present.no_samples, present.start_sample);
}

// Sample count of the linear convolution; no samples at all when both operands are empty.
int32_t convolution_length(int32_t na, int32_t nb) { return std::max(na + nb - 1, 0); }
}  // namespace

namespace {
// The receiver b made to cover the span [start_a, end_a): when it does not (the decision looks at
// the spans only), a new record covering both replaces it, b's samples copied and b released.
// A span no signal can hold is refused first, b unchanged. True when b was replaced.
bool cover_span(sys_con& sys, int64_t start_a, int64_t end_a, signal_ptr& b) {
  const int64_t start_b = b->start_sample, end_b = start_b + b->no_samples;
  if (!(end_b < end_a || start_b > start_a)) return false;
  const int64_t start = std::min(start_a, start_b);
  const int64_t count = std::max(end_a, end_b) - start;
  check_result_size(count, 1, b->fs, true);
  ORVEL_ASSERT(count <= INT32_MAX && start >= INT32_MIN);
  signal_ptr wide = alloc_signal(sys, static_cast<int32_t>(count), static_cast<int32_t>(start));
  std::copy_n(b->data.begin(), b->no_samples, wide->data.begin() + (start_b - start));
  free_signal(sys, b);
  b = std::move(wide);
  return true;
}
}  // namespace

void add_scaled_samples(sys_con& sys, const double* a, int32_t start, int32_t n, signal_ptr& b,
                        double s, int32_t D) {
  ORVEL_ASSERT(D >= 1);
  if (!b) {  // no receiver yet: one of a's span
    b = alloc_signal(sys, n, start);
    b->fs = sys.fs / D;
  } else if (cover_span(sys, start, int64_t{start} + n, b)) {
    b->fs = sys.fs / D;
  }
  double* out = b->data.data() + (int64_t{start} - b->start_sample);
  for (int32_t i = 0; i < n; i++) out[i] += a[i] * s;
}

void convolve_plain(const double* a, int32_t na, const double* b, int32_t nb, double* out,
                    const stop_flag& stop) {
  const int32_t count = convolution_length(na, nb);
  // Two long operands (an element's waveform and its response) make seconds of sums: a Ctrl-C
  // is seen about every 2^22 products, asked between runs of outputs rather than per sample.
  const int64_t every = std::max<int64_t>(1, (int64_t{1} << 22) / std::max(std::min(na, nb), 1));
  for (int32_t k0 = 0, k1 = 0; k0 < count; k0 = k1) {
    if (k0 > 0 && stop.stopped()) return;  // abandoned; out is not used
    k1 = static_cast<int32_t>(std::min<int64_t>(int64_t{k0} + every, count));
    for (int32_t k = k0; k < k1; k++) out[k] = convolution_sample(a, na, b, nb, k);
  }
}

void convolve_decimated_arrays(const double* a, int32_t na, const double* b, int32_t nb, int32_t D,
                               int32_t k0, int32_t count, double scale, double* out) {
  const int64_t full = int64_t{na} + nb - 1;
  int32_t m = 0;
  for (int64_t k = k0; k < full && m < count; k += D, m++)
    out[m] = scale * convolution_sample(a, na, b, nb, static_cast<int32_t>(k));
  std::fill(out + m, out + count, 0.0);  // past the end of the full convolution
}

int32_t decimated_start(int64_t summed_start, int32_t D) {
  // Exact: a quotient that is not whole lies at least 1/D from the next whole number, far more
  // than the rounding of the division.
  return static_cast<int32_t>(std::ceil(static_cast<double>(summed_start) / D));
}

int32_t fft_size(int32_t a, int32_t b) {
  const int32_t m = std::max(a, b);
  ORVEL_ASSERT(m <= (1 << 30));  // the largest power of two a 32-bit count holds
  int32_t size = 4;
  if (m < 5) return size;
  while (size < m) size *= 2;
  return size;
}

signal_ptr signal_spectrum(sys_con& sys, const signal_rec& s, int32_t N) {
  ORVEL_ASSERT(is_power_of_two(N) && N >= 4 && s.no_samples <= N);
  signal_ptr S = alloc_signal(sys, N, s.start_sample);
  packed_forward(N, s.data.data(), s.no_samples, S->data.data());
  return S;
}

void multiply_packed(int32_t L, const double* a, const double* b, double dt, double* p) {
  p[0] = a[0] * b[0] * dt;
  p[1] = a[1] * b[1] * dt;
  for (int32_t k = 1; k < L / 2; k++) {
    const double are = a[2 * k], aim = a[2 * k + 1];
    const double bre = b[2 * k], bim = b[2 * k + 1];
    p[2 * k] = (are * bre - aim * bim) * dt;
    p[2 * k + 1] = (aim * bre + are * bim) * dt;
  }
}

namespace {
// The product of two packed spectra of equal length times 1/fs: the spectrum of the convolution
// integral.
signal_ptr multiply_spectra(sys_con& sys, const signal_rec& A, const signal_rec& B) {
  ORVEL_ASSERT(B.no_samples == A.no_samples);
  signal_ptr P = alloc_signal(sys, A.no_samples, A.start_sample + B.start_sample);
  multiply_packed(A.no_samples, A.data.data(), B.data.data(), 1.0 / sys.fs, P->data.data());
  return P;
}
}  // namespace

void inverse_spectrum(sys_con& /*sys*/, signal_rec& S, int32_t n) {
  const int32_t N = S.no_samples;
  ORVEL_ASSERT(is_power_of_two(N) && N >= 4 && n >= 0 && n <= N);
  packed_inverse(N, S.data.data(), S.data.data(), 1.0 / N);
  S.no_samples = n;
}

// Both operands absent is a case without a span: the result is then a signal of no samples at
// sample 0, which adds nothing wherever it is summed.
signal_ptr convolve_fft(sys_con& sys, const signal_rec* a, const signal_rec* b) {
  if (!a || !b) return absent_operand_result(sys, a, b);
  // Na + Nb, one more than the convolution needs, so the transform always has a spare sample.
  const int32_t N = fft_size(std::max(a->no_samples + b->no_samples, 0), 0);
  signal_ptr A = signal_spectrum(sys, *a, N);
  signal_ptr P;
  if (a == b) {
    P = multiply_spectra(sys, *A, *A);
  } else {
    signal_ptr B = signal_spectrum(sys, *b, N);
    P = multiply_spectra(sys, *B, *A);
    free_signal(sys, B);
  }
  free_signal(sys, A);
  inverse_spectrum(sys, *P, convolution_length(a->no_samples, b->no_samples));
  return P;
}

spectrum_cache::spectrum_cache(const double* x, int32_t n) : x_(x, x + n) {}

const double* spectrum_cache::at(int32_t L) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<double>& spectrum = spectra_[L];
  if (spectrum.empty()) {
    spectrum.resize(static_cast<size_t>(L));
    packed_forward(L, x_.data(), samples(), spectrum.data());
  }
  return spectrum.data();
}

namespace {
// Measured on the benchmark machine (Xeon, 2 cores, AVX-512): the direct sums take about
// 0.067 ns per product; a convolution through three real transforms of L values (FFTW plans by
// estimate, with the packing and the product) about 0.2 ns per L log2(L) and transform, for L
// from 1024 to 8192. A transform thus costs as much as about 2.5 L log2(L) products (a little
// less where the direct sums have only AVX2).
constexpr double transform_weight = 2.5;

int32_t log2_of(int32_t L) {
  int32_t k = 0;
  while ((int32_t{1} << k) < L) ++k;
  return k;
}

// Eight outputs of the direct sums: stored, or added times scale.
[[gnu::always_inline]] inline void put_group(const lanes8& sum, bool add, double dt, double scale,
                                             double* out) {
  if (add)
    lanes_at<lanes8>(out) += sum * dt * scale;
  else
    lanes_at<lanes8>(out) = sum * dt;
}

// y(k) = dt * sum_j b(j) x(k - j), summed in ascending j, for k = 0 .. count - 1, into
// out[k] = y(k), or added as out[k] += y(k) * scale; x may be read from x[-(nb - 1)] to
// x[count + 7], zeros outside the operand, so that every output sums over all of b. Four
// groups of eight outputs are formed at once, so that four sums advance side by side.
ORVEL_HOT_WIDE void direct_sums(const double* x, const double* b, int32_t nb, int32_t count,
                                double dt, bool add, double scale, double* out) {
  const lanes8 zero = {0, 0, 0, 0, 0, 0, 0, 0};
  int32_t k = 0;
  for (; k + 32 <= count; k += 32) {
    lanes8 s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    for (int32_t j = 0; j < nb; ++j) {
      const double w = b[j];
      const double* p = x + k - j;
      s0 += w * lanes_at<lanes8>(p);
      s1 += w * lanes_at<lanes8>(p + 8);
      s2 += w * lanes_at<lanes8>(p + 16);
      s3 += w * lanes_at<lanes8>(p + 24);
    }
    put_group(s0, add, dt, scale, out + k);
    put_group(s1, add, dt, scale, out + k + 8);
    put_group(s2, add, dt, scale, out + k + 16);
    put_group(s3, add, dt, scale, out + k + 24);
  }
  for (; k + 8 <= count; k += 8) {
    lanes8 sum = zero;
    for (int32_t j = 0; j < nb; ++j) sum += b[j] * lanes_at<lanes8>(x + k - j);
    put_group(sum, add, dt, scale, out + k);
  }
  for (; k < count; ++k) {
    double sum = 0.0;
    for (int32_t j = 0; j < nb; ++j) sum += b[j] * x[k - j];
    if (add)
      out[k] += sum * dt * scale;
    else
      out[k] = sum * dt;
  }
}

// The decimated sums from b split into phases (split_phases): out[m] = sum_i a(i) b(x - i) for
// x = k0 + m D, in groups of 32 outputs (four sums of eight side by side), then of eight, then
// one at a time. Term i of output m reads b(x - i) at row q = floor((x - i) / D) + lead of phase
// (x - i) mod D; the outputs of a group lie at q, q + 1, ... of the same phase. From one term to
// the next the phase steps back by one, and at phase 0 wraps to phase D - 1 one row earlier.
ORVEL_HOT_WIDE void phased_sums(const double* a, int32_t na, const double* phased, int32_t rows,
                                int32_t lead, int32_t D, int32_t k0, int32_t count, double* out) {
  const lanes8 zero = {0, 0, 0, 0, 0, 0, 0, 0};
  const ptrdiff_t wrap = static_cast<ptrdiff_t>(D - 1) * rows - 1;
  int32_t m = 0;
  for (; m + 32 <= count; m += 32) {
    const int64_t x = k0 + int64_t{m} * D;
    int32_t p = static_cast<int32_t>(x % D);
    ptrdiff_t r = static_cast<ptrdiff_t>(p) * rows + (x / D + lead);  // b(x - i)'s place
    lanes8 s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    for (int32_t i = 0; i < na; ++i) {
      const double w = a[i];
      s0 += w * lanes_at<lanes8>(phased + r);
      s1 += w * lanes_at<lanes8>(phased + r + 8);
      s2 += w * lanes_at<lanes8>(phased + r + 16);
      s3 += w * lanes_at<lanes8>(phased + r + 24);
      if (p == 0) {
        p = D - 1;
        r += wrap;
      } else {
        --p;
        r -= rows;
      }
    }
    lanes_at<lanes8>(out + m) = s0;
    lanes_at<lanes8>(out + m + 8) = s1;
    lanes_at<lanes8>(out + m + 16) = s2;
    lanes_at<lanes8>(out + m + 24) = s3;
  }
  for (; m + 8 <= count; m += 8) {
    const int64_t x = k0 + int64_t{m} * D;
    int32_t p = static_cast<int32_t>(x % D);
    ptrdiff_t r = static_cast<ptrdiff_t>(p) * rows + (x / D + lead);  // b(x - i)'s place
    lanes8 sum = zero;
    for (int32_t i = 0; i < na; ++i) {
      sum += a[i] * lanes_at<lanes8>(phased + r);
      if (p == 0) {
        p = D - 1;
        r += wrap;
      } else {
        --p;
        r -= rows;
      }
    }
    lanes_at<lanes8>(out + m) = sum;
  }
  for (; m < count; ++m) {
    const int64_t x = k0 + int64_t{m} * D;
    int32_t p = static_cast<int32_t>(x % D);
    ptrdiff_t r = static_cast<ptrdiff_t>(p) * rows + (x / D + lead);  // b(x - i)'s place
    double sum = 0.0;
    for (int32_t i = 0; i < na; ++i) {
      sum += a[i] * phased[r];
      if (p == 0) {
        p = D - 1;
        r += wrap;
      } else {
        --p;
        r -= rows;
      }
    }
    out[m] = sum;
  }
}

// Rows of each phase before the one holding b(0): the reach - 1 samples before b(0) that the
// first output's terms may read.
int32_t phase_lead(int32_t reach, int32_t D) { return (std::max(reach, 1) - 1 + D - 1) / D; }

// Rows of each phase: the lead, then up to the last output's first term, which reads b(x) for
// x = k0 + (count - 1) D <= D - 1 + na + nb - 1 (count bounded as convolve_phased requires).
int32_t phase_rows(int32_t nb, int32_t reach, int32_t D) {
  return phase_lead(reach, D) + (std::max(reach, 1) + std::max(nb, 0) + D - 2) / D + 1;
}
}  // namespace

int32_t phased_values(int32_t nb, int32_t reach, int32_t D) {
  const int64_t values = int64_t{D} * phase_rows(nb, reach, D);
  ORVEL_ASSERT(values <= INT32_MAX);
  return static_cast<int32_t>(values);
}

void split_phases(const double* b, int32_t nb, int32_t reach, int32_t D, double* phased) {
  const int32_t lead = phase_lead(reach, D), rows = phase_rows(nb, reach, D);
  for (int32_t p = 0; p < D; ++p) {
    double* row = phased + static_cast<ptrdiff_t>(p) * rows;
    for (int32_t q = 0; q < rows; ++q) {
      const int64_t k = p + (int64_t{q} - lead) * D;  // the sample of b at row q of phase p
      row[q] = k >= 0 && k < nb ? b[k] : 0.0;
    }
  }
}

void convolve_phased_part(const double* a, int32_t na, const double* phased, int32_t nb,
                          int32_t reach, int32_t D, int32_t k0, int32_t first, int32_t count,
                          double* out) {
  ORVEL_ASSERT(na >= 0 && na <= std::max(reach, 1) && k0 >= 0 && k0 < D && first >= 0);
  ORVEL_ASSERT(int64_t{first} + count <= (na + nb - 1) / D + 1);
  phased_sums(a, na, phased, phase_rows(nb, reach, D), phase_lead(reach, D), D,
              static_cast<int32_t>(k0 + int64_t{first} * D), count, out);
}

void convolve_phased(const double* a, int32_t na, const double* phased, int32_t nb, int32_t reach,
                     int32_t D, int32_t k0, int32_t count, double* out) {
  convolve_phased_part(a, na, phased, nb, reach, D, k0, 0, count, out);
}

void convolve_padded(const double* x, int32_t nx, const double* b, int32_t nb, double dt, bool add,
                     double scale, double* out) {
  direct_sums(x, b, nb, nx + nb - 1, dt, add, scale, out);
}

namespace {
// The direct sums with a the longer operand, window by window of the output: each window's part
// of a is copied between zeros (nb - 1 before, 8 after, which the last group of eight reads), so
// that a long operand is never copied whole, and a Ctrl-C is seen between windows. Every output
// sums over b in the same order as in one window, so the windows change no bit.
void direct_convolution(const double* a, int32_t na, const double* b, int32_t nb, double dt,
                        bool add, double scale, double* out, std::vector<double>& pad,
                        const stop_flag& stop) {
  if (na < nb) {
    std::swap(a, b);
    std::swap(na, nb);
  }
  const int64_t lead = nb - 1, total = int64_t{na} + nb - 1;
  const int64_t window = std::max<int64_t>(int64_t{1} << 16, 8 * int64_t{nb});
  for (int64_t k0 = 0; k0 < total; k0 += window) {
    if (k0 > 0 && stop.stopped()) return;  // the calculation is abandoned; out is not used
    const int64_t count = std::min(window, total - k0);
    const int64_t lo = k0 - lead, hi = k0 + count + 8;  // the samples of a that are read
    pad.assign(static_cast<size_t>(hi - lo), 0.0);
    const int64_t from = std::max<int64_t>(lo, 0), to = std::min<int64_t>(hi, na);
    if (from < to) std::copy(a + from, a + to, pad.begin() + (from - lo));
    direct_sums(pad.data() + lead, b, nb, static_cast<int32_t>(count), dt, add, scale, out + k0);
  }
}

}  // namespace

bool direct_is_cheaper(int64_t na, int64_t nb, int32_t L, int32_t transforms) {
  return static_cast<double>(na) * static_cast<double>(nb) <=
         transform_weight * transforms * static_cast<double>(L) * log2_of(L);
}

const double* convolve_with_spectrum(int32_t L, const double* a, int32_t na, const double* B,
                                     double dt, spectral_scratch& s) {
  double* A = scratch_of(s.a, L);
  packed_forward(L, a, na, A);
  double* P = scratch_of(s.p, L);
  multiply_packed(L, A, B ? B : A, dt, P);
  packed_inverse(L, P, P, 1.0 / L);
  return P;
}

namespace {
// The product of the spectra of a and b (b's from b_spectra when given) times dt, back in the
// time domain in s.p: the linear convolution in its first na + nb - 1 values.
const double* convolve_by_transforms(const double* a, int32_t na, const double* b, int32_t nb,
                                     double dt, spectrum_cache* b_spectra, spectral_scratch& s) {
  const int32_t L = fft_size(na + nb, 0);  // one spare sample, as in convolve_fft
  if (b == a && nb == na)                  // a response squared: one transform
    return convolve_with_spectrum(L, a, na, nullptr, dt, s);
  const double* B = nullptr;
  if (b_spectra) {
    B = b_spectra->at(L);
  } else {
    double* own = scratch_of(s.b, L);
    packed_forward(L, b, nb, own);
    B = own;
  }
  return convolve_with_spectrum(L, a, na, B, dt, s);
}
}  // namespace

void convolve_arrays(const double* a, int32_t na, const double* b, int32_t nb, double dt,
                     spectrum_cache* b_spectra, spectral_scratch& s, double* out) {
  if (na < 1 || nb < 1) {  // an empty operand (a response that reaches no sample): zeros
    std::fill_n(out, std::max(na + nb - 1, 0), 0.0);
    return;
  }
  if (direct_is_cheaper(na, nb, fft_size(na + nb, 0), b_spectra ? 2 : 3)) {
    direct_convolution(a, na, b, nb, dt, false, 0.0, out, s.pad, s.stop);
    return;
  }
  std::copy_n(convolve_by_transforms(a, na, b, nb, dt, b_spectra, s), na + nb - 1, out);
}

void convolve_add(const double* a, int32_t na, const double* b, int32_t nb, double dt, double scale,
                  spectral_scratch& s, double* out) {
  if (na < 1 || nb < 1) return;  // an empty operand adds nothing
  if (direct_is_cheaper(na, nb, fft_size(na + nb, 0), 3)) {
    direct_convolution(a, na, b, nb, dt, true, scale, out, s.pad, s.stop);
    return;
  }
  const double* y = convolve_by_transforms(a, na, b, nb, dt, nullptr, s);
  for (int32_t k = 0; k < na + nb - 1; ++k) out[k] += y[k] * scale;
}
