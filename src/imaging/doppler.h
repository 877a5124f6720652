// Slow-time processing on the worker team: IQ demodulation of RF signals, clutter filters along
// slow time, the lag-one (colour-flow) estimators and the spectral Doppler of a range gate.
// Plain arrays in and out. Complex data are held as real and imaginary parts apart; slow-time
// data as G signals of N firings, G x N column-major (signal g, firing n at g + G n). Every
// result is the same for every thread count: each value is summed by one thread in a fixed
// order.
#pragma once

#include <cstddef>
#include <vector>

#include "core/thread_pool.h"

struct slow_time {
  const double* re;
  const double* im;
  size_t G;  // signals
  size_t N;  // firings
};

// The low-pass of 2K + 1 taps at the normalised cutoff band / 2 (band = 2 fc / fs): h_k =
// band sinc(band k) (0.5 + 0.5 cos(pi k / (K + 1))), k = -K..K, sinc(x) = sin(pi x) / (pi x),
// divided by their sum. Returned from k = -K.
std::vector<double> doppler_low_pass(double band, size_t K);

// rf: samples x signals, sample n at t0 + n / fs. Each signal mixed to baseband, 2 x(n)
// exp(-i 2 pi f0 t_n), low-passed
// by doppler_low_pass(2 cutoff / fs, K = ceil(2 fs / cutoff)) (centred, the signal taken as 0
// beyond its ends) and every decimation-th sample kept from the first: re, im hold
// ceil(samples / decimation) x signals. Only the taps that meet the signal are summed, so the
// time does not grow with K beyond the signal's length; the filter itself is made whole (its
// sum normalises it), so callers bound K: iq_most_half_length.
constexpr size_t iq_most_half_length = size_t{1} << 24;
void iq_demodulate(worker_team& team, const double* rf, size_t samples, size_t signals, double t0,
                   double fs, double f0, double cutoff, size_t decimation, double* re, double* im);

// Removes from each signal its least-squares polynomial of degree order in the firing index
// (0 <= order, order + 1 < N); re, im: G x N.
void clutter_polynomial(worker_team& team, slow_time x, size_t order, double* re, double* im);

// The high-pass delta - h, h = doppler_low_pass(2 cutoff, K = ceil(0.5 / cutoff)) (cutoff =
// fc / prf in (0, 0.5)), along slow time, its fully overlapped outputs only:
// y_n = sum_k g_k x_{n + K - k}; re, im hold G x (N - 2K), N >= 2K + 2.
size_t clutter_fir_half_length(double cutoff);
void clutter_fir(worker_team& team, slow_time x, double cutoff, double* re, double* im);

// Per signal (N >= 2): R0 = mean |x_n|^2, R1 = mean conj(x_n) x_{n+1}; velocity =
// c prf / (4 pi f0) arg(R1) (positive towards the transducer), power = R0, variance =
// 2 prf^2 (1 - |R1| / R0); velocity and variance 0 where R0 is 0. Each output: G values.
void color_flow(worker_team& team, slow_time x, double prf, double f0, double c, double* velocity,
                double* power, double* variance);

// The spectrogram of a range gate: windows of L firings (periodic Hann, w_k = 0.5 - 0.5
// cos(2 pi k / L)) every L - overlap firings, each padded to nfft >= L; the power of each
// bin summed over the gate's G signals, the bins from frequency -prf/2 upwards (bin j at
// (j - floor(nfft / 2)) prf / nfft). spectrum: nfft x M, M = (N - L) / (L - overlap) + 1.
size_t doppler_windows(size_t N, size_t L, size_t overlap);
void doppler_spectrum(worker_team& team, slow_time x, size_t L, size_t overlap, size_t nfft,
                      double* spectrum);
