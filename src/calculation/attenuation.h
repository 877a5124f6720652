// Frequency-dependent attenuation of the pulse: a filter in the frequency domain, evaluated for
// the distance travelled at the middle of the response the pulse is convolved with.
#pragma once

#include <cstdint>

struct sys_con;

// ln of the largest double: exp of any larger exponent overflows. The frequency-independent loss
// exp(-att beta r) grows past it only at a sample before the focusing delay, at an absurd
// negative distance (an enormous c or a grid of a few Hz); its exponent is capped here, which
// keeps a zero sample zero instead of making it NaN, and changes no factor that was finite.
constexpr double largest_exponent = 709.78271289338397;

// The distance [m] travelled at the middle of a response of n samples from sample S and e extra
// samples the result must hold beyond it: c * (S + (n + e) / 2) / fs, the half rounded down.
double attenuation_distance(const sys_con& sys, int64_t S, int32_t n, int32_t e);

// Samples the attenuated convolution of b (nb samples) with that response may need.
int32_t attenuation_transform_samples(const sys_con& sys, int32_t nb, int32_t S, int32_t n,
                                      int32_t e);

// The filter for the distance r, a loss of freq_att dB/(m Hz) relative to att_f0 with the
// matching dispersion phase, applied to the packed spectrum x of L values, into y (which may
// be x). Where the gain far below att_f0 over a long distance would take a value past the largest
// double, a zero component stays zero and every value is held to max double / (4 L), so that
// the inverse transform gives numbers, not NaN; otherwise the filter is applied as it stands.
void attenuate_packed(const sys_con& sys, double r, int32_t L, const double* x, double* y);
