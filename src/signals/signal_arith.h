// Arithmetic on signals of the global time grid: sums of signals that start at different
// samples, linear convolution in the time domain (full, or only on every D-th sample) and linear
// convolution through a radix-2 real FFT.
//
// Two scalings, never mixed: the time-domain convolutions return the plain sum of products; the
// FFT convolutions return it times the sampling interval 1/fs, approximating the convolution
// integral. A convolution starts at the sum of its operands' start samples.
//
// A packed spectrum is a signal of N samples (N a power of two, at least 4) holding the real
// FFT of N real values: [0] the value at zero frequency, [1] the value at fs/2, and [2k], [2k+1]
// the real and imaginary part of bin k = 1 ... N/2 - 1, at k * fs / N Hz. Its start sample is
// that of the signal it was made from. The forward transform is
// X(k) = sum_j x(j) exp(+2 pi i j k / N); the attenuation filter relies on this sign.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "core/thread_pool.h"
#include "signals/signal_store.h"

struct sys_con;

// Adds s * a into the receiver b, a being the n samples from grid sample start: b[k] += a[k] * s.
// When b's span does not cover a's, b is replaced by a new record covering both spans (the old
// one released) with the sampling frequency fs / D; the decision looks at the spans only, so even
// n = 0 outside b widens it. An empty b gets one of a's span. Use b, not a copy of the old
// pointer, afterwards.
void add_scaled_samples(sys_con& sys, const double* a, int32_t start, int32_t n, signal_ptr& b,
                        double s, int32_t D);

// Full linear convolution on arrays: out[k] = sum over i of a(i) b(k - i), summed in ascending
// i, for k = 0 .. na + nb - 2; the plain sum of products. Long operands ask stop between runs of
// outputs and return, out unfinished, once the job has stopped.
void convolve_plain(const double* a, int32_t na, const double* b, int32_t nb, double* out,
                    const stop_flag& stop = stop_flag());

// The full convolution times scale, only at the outputs m = 0 .. count - 1 at k = k0 + m D
// (0 <= k0 < D): out[m] = scale * sum_i a(i) b(k - i), summed in ascending i, and 0 past the
// full convolution's end.
void convolve_decimated_arrays(const double* a, int32_t na, const double* b, int32_t nb, int32_t D,
                               int32_t k0, int32_t count, double scale, double* out);

// The first sample, on the grid of fs / D, of a convolution whose operands' start samples sum to
// summed_start: the first multiple of D at or after it, over D.
int32_t decimated_start(int64_t summed_start, int32_t D);

// The decimated convolution on arrays, for an operand b convolved with many others of at most
// reach samples: b is split once into the D phases of the decimated grid (phase p holding
// b(p), b(p + D), ... between zeros, phased_values(nb, reach, D) values in all), and
// convolve_phased then reads it without a test per product.
int32_t phased_values(int32_t nb, int32_t reach, int32_t D);
void split_phases(const double* b, int32_t nb, int32_t reach, int32_t D, double* phased);

// out[m] = sum over i of a(i) b(k0 + m D - i), summed in ascending i as convolve_decimated_arrays
// sums, for m = 0 .. count - 1, b given split by split_phases; na <= reach, 0 <= k0 < D and
// count <= (na + nb - 1) / D + 1. No scale.
void convolve_phased(const double* a, int32_t na, const double* phased, int32_t nb, int32_t reach,
                     int32_t D, int32_t k0, int32_t count, double* out);
// The outputs first .. first + count - 1 of the same sums, into out[0 .. count - 1]: a long
// convolution in parts.
void convolve_phased_part(const double* a, int32_t na, const double* phased, int32_t nb,
                          int32_t reach, int32_t D, int32_t k0, int32_t first, int32_t count,
                          double* out);

// The smallest power of two that is at least max(a, b), and never less than 4.
int32_t fft_size(int32_t a, int32_t b);

// The packed spectrum of s, zero-padded to N samples (N a power of two, 4 <= N, Ns <= N).
signal_ptr signal_spectrum(sys_con& sys, const signal_rec& s, int32_t N);

// Turns the packed spectrum S in place into the time signal of its first n samples (n <= N);
// its storage and byte charge stay as allocated.
void inverse_spectrum(sys_con& sys, signal_rec& S, int32_t n);

// Linear convolution times 1/fs through the FFT. nullptr is an absent (zero) operand.
signal_ptr convolve_fft(sys_con& sys, const signal_rec* a, const signal_rec* b);

// The same arithmetic on plain arrays, for the calculations' per-point work, which runs on
// several threads and keeps its intermediate signals in scratch of its own.

// P = A B dt for packed spectra of L values each.
void multiply_packed(int32_t L, const double* A, const double* B, double dt, double* P);

// The spectra of one signal at every transform size asked for, each made once: for the pulse
// that is convolved with the response of every point. Safe to use from several threads.
class spectrum_cache {
 public:
  spectrum_cache(const double* x, int32_t n);
  int32_t samples() const { return static_cast<int32_t>(x_.size()); }
  // The packed spectrum of the signal zero-padded to L values (L a power of two, at least 4
  // and at least samples()).
  const double* at(int32_t L);

 private:
  std::vector<double> x_;
  std::mutex lock_;
  std::map<int32_t, std::vector<double>> spectra_;  // by L; entries never move
};

// The array of v, grown to at least n values if it is shorter: scratch reused from call to call,
// which allocates only when a call needs more than any before.
inline double* scratch_of(std::vector<double>& v, int32_t n) {
  if (v.size() < static_cast<size_t>(n)) v.resize(static_cast<size_t>(n));
  return v.data();
}

// Scratch of one thread for the transforms below, with the question the long direct sums ask
// between windows (they return, the output unfinished, once the job has stopped).
struct spectral_scratch {
  std::vector<double> a, b, p;  // spectra and their product
  std::vector<double> pad;      // an operand of the direct sums between zeros
  stop_flag stop;               // the default never stops
};

// The linear convolution of the na values of a with the signal whose packed spectrum of L values
// is B (null: a's own spectrum, a squared), times dt, through transforms of L values (L at least
// na plus the other's length): its values are the first ones of the returned array (s.p).
const double* convolve_with_spectrum(int32_t L, const double* a, int32_t na, const double* B,
                                     double dt, spectral_scratch& s);

// Whether the direct sum over na x nb products costs less than `transforms` real transforms of
// L values (the way through the FFT).
bool direct_is_cheaper(int64_t na, int64_t nb, int32_t L, int32_t transforms);

// out[k] = dt * sum_i a(i) b(k - i), k = 0 .. na + nb - 2 (na, nb >= 1), by direct sums or
// through transforms of fft_size(na + nb) values, whichever costs less; the spectra of b come
// from b_spectra when given (b being its signal). The two ways agree to rounding.
void convolve_arrays(const double* a, int32_t na, const double* b, int32_t nb, double dt,
                     spectrum_cache* b_spectra, spectral_scratch& s, double* out);

// out[k] += y(k) * scale for y = (a * b) / fs as convolve_arrays gives it: a term added into a
// sum.
void convolve_add(const double* a, int32_t na, const double* b, int32_t nb, double dt, double scale,
                  spectral_scratch& s, double* out);

// The direct sums alone, y(k) = dt * sum_j b(j) x(k - j), summed in ascending j, for k = 0 ..
// nx + nb - 2, stored (out[k] = y(k)) or added (out[k] += y(k) * scale). x must be readable from
// x[-(nb - 1)] to x[nx + nb + 6] and hold zeros outside x[0 .. nx - 1]: an operand kept between
// zeros for many convolutions with short ones.
void convolve_padded(const double* x, int32_t nx, const double* b, int32_t nb, double dt, bool add,
                     double scale, double* out);
