// The attenuation filter on packed spectra: the gain exp(-(att + freq_att (f - att_f0)) b r) and
// the dispersion phase at each bin, for the distance r travelled at the middle of the response.
// A gain beyond the double range leaves a zero component zero instead of making it NaN.
#include "calculation/attenuation.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/sys_con.h"

namespace {
constexpr double db_to_neper = 0.11512925465;  // ln 10 / 20
constexpr double pi = 3.141592653589793;
constexpr double pi_squared = 9.869604401089358;
constexpr double largest_transform = 1 << 30;  // beyond it no 32-bit count holds the spectrum

// One component u of the spectrum times the filter's gain. Far below att_f0 over a long
// distance the gain (relative to att_f0) passes the largest double, or the product does; the
// plain product would then be infinite, or NaN for a component of zero, and turn every sample
// of the inverse transform into NaN. There a component of zero stays zero, as under any finite
// gain, and any other is held at +-limit (and held is set). A finite product is the plain one.
inline double attenuated(double gain, double u, double limit, bool& held) {
  const double y = gain * u;
  if (std::isfinite(y) || !std::isfinite(u) || std::isnan(gain)) return y;
  held = true;
  return u == 0.0 ? 0.0 : std::copysign(limit, u);
}
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
  // A held value: a sample of the inverse transform is a sum of at most 2L - 2 such values (each
  // value of the L / 2 - 1 complex bins twice, the two real ones once): finite, with 2 to spare.
  const double limit = std::numeric_limits<double>::max() / (4.0 * L);
  bool held = false;
  y[0] = attenuated(amplitude(0.0), x[0], limit, held);         // zero frequency, real
  y[1] = attenuated(amplitude(sys.fs / 2), x[1], limit, held);  // half the sampling frequency
  for (int32_t k = 1; k < L / 2; k++) {
    const double f = k * sys.fs / L;
    const double omega = 2 * pi * f;
    const double phi = phase_per_radian * omega * (std::log(omega) - sys.tau_m);
    const double A = amplitude(f);
    const double re = x[2 * k], im = x[2 * k + 1];
    y[2 * k] = attenuated(A, std::cos(phi) * re - std::sin(phi) * im, limit, held);
    y[2 * k + 1] = attenuated(A, std::sin(phi) * re + std::cos(phi) * im, limit, held);
  }
  // Values just below the largest double would still add up past it: once one value is held,
  // every value beyond the limit is. A spectrum none of whose values overflowed is left as is.
  if (held)
    for (int32_t i = 0; i < L; i++)
      if (std::fabs(y[i]) > limit) y[i] = std::copysign(limit, y[i]);
}
