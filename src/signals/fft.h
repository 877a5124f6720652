// Fast Fourier transforms through FFTW3: plans are made once per size and kind (under a lock,
// single-threaded whatever the host set for its own transforms) and kept until the system is
// released; they run from any thread on per-thread aligned scratch.
//
// The real transforms use the packed layout of the signal arithmetic: [0] the value at zero
// frequency, [1] the value at fs/2, [2k], [2k+1] the real and imaginary part of bin k, and the
// positive exponent forward: X(k) = sum_j x(j) exp(+2 pi i j k / N).
#pragma once

#include <cstdint>

// X = the packed transform of the n values of in, zero-padded to N (N a power of two, at least
// 4, n <= N). out holds N doubles and may be in.
void packed_forward(int32_t N, const double* in, int32_t n, double* out);

// x(j) = scale * sum_k X(k) exp(-2 pi i j k / N) for the packed spectrum in of N values, the
// sum over all N bins of the full spectrum; scale = 1 / N is the inverse. out may be in.
void packed_inverse(int32_t N, const double* in, double* out, double scale);

// Destroys every kept plan; the next transform plans anew. Only while no transform runs.
void release_fft_plans();
