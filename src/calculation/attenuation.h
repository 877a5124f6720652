// Frequency-dependent attenuation of the pulse: a filter in the frequency domain, evaluated for
// the distance travelled at the middle of the response the pulse is convolved with.
#pragma once

#include <cstdint>

#include "signals/signal_store.h"

struct sys_con;

// The packed spectrum in slot (that of b) attenuated over the distance c * (S + (n + e) / 2) / fs:
// by freq_att dB/(m Hz) relative to att_f0, with the matching dispersion phase. When the slot
// holds fewer samples than the attenuated convolution may need, it is replaced by a longer
// spectrum of b, which stays there for later calls. Returns a new spectrum of the slot's length
// and start sample, owned by the caller. S: start sample and n: sample count of the response,
// e: extra samples the result must hold beyond it.
signal_ptr attenuate_spectrum(sys_con& sys, const signal_rec& b, signal_ptr& slot, int32_t S,
                              int32_t n, int32_t e);

// The distance [m] travelled at the middle of a response of n + e samples from sample S.
double attenuation_distance(const sys_con& sys, int64_t S, int32_t n, int32_t e);

// Samples the attenuated convolution of b (nb samples) with that response may need.
int32_t attenuation_transform_samples(const sys_con& sys, int32_t nb, int32_t S, int32_t n,
                                      int32_t e);

// The filter for the distance r applied to the packed spectrum x of L values, into y (which may
// be x).
void attenuate_packed(const sys_con& sys, double r, int32_t L, const double* x, double* y);
