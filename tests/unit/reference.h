// Signal operations written out the plain way, for the tests to hold the calculations against:
// sums on the grid, convolutions in the time domain, and the attenuated convolution through
// spectra of whole signals kept in a slot. None of the calculations runs these.
#pragma once

#include <cstdint>

#include "signals/signal_store.h"

struct sys_con;

// Adds a into the receiver b, which is first replaced by a record covering both spans when it
// does not cover a's.
void add_signal(sys_con& sys, const signal_rec& a, signal_ptr& b);

// Full linear convolution, Na + Nb - 1 samples from the sum of the start samples; each sample
// the plain sum of products in ascending index of a.
signal_ptr convolve_direct(sys_con& sys, const signal_rec& a, const signal_rec& b);

// The full convolution times scale at the grid samples that are multiples of D only, as a
// signal of sampling frequency fs / D: (Na + Nb - 1) / D + 1 samples, zero past the end.
signal_ptr convolve_decimated(sys_con& sys, const signal_rec& a, const signal_rec& b, int32_t D,
                              double scale);

// The packed spectrum in slot (that of b) attenuated over the distance travelled at the middle
// of a response of n + e samples from sample S. A slot shorter than the attenuated convolution
// may need is first replaced by a longer spectrum of b, which stays there. Returns a new
// spectrum of the slot's length and start sample.
signal_ptr attenuate_spectrum(sys_con& sys, const signal_rec& b, signal_ptr& slot, int32_t S,
                              int32_t n, int32_t e);

// The linear convolution of a and b times 1/fs, through a transform of fft_size(Na + Nb) points,
// with b's spectrum taken from slot (replaced by a spectrum of that size when shorter); a longer
// slot is read at the bins of the same frequencies.
signal_ptr convolve_fft_cached(sys_con& sys, const signal_rec& a, const signal_rec& b,
                               signal_ptr& slot);
