// Non-linear propagation and its four calculations. A propagation steps the transmitted pressure
// over dz at a time, each sample moved by its own sound speed and interpolated back onto the
// grid; a sample whose source lies outside the signal is reported in one print, so reports of
// several threads never interleave. Work is split as in the linear drivers, so the results
// never depend on the thread count.
#include "calculation/non_linear.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "calculation/attenuation.h"
#include "calculation/calculation_run.h"
#include "calculation/response.h"
#include "core/check.h"
#include "core/sys_con.h"
#include "core/thread_pool.h"
#include "host/console.h"
#include "signals/fft.h"
#include "signals/signal_arith.h"

namespace {
// How the work is split, as in the linear drivers: results never depend on it.
constexpr int64_t point_grain = 8;       // points handed to a thread at a time
constexpr int32_t scatterer_chunk = 16;  // scatterers of one partial sum
constexpr int32_t scatterer_block = 64;  // scatterers whose transmitted fields are kept at a time

// The whole part of a shift for the report: saturated where it has no 32-bit value.
int32_t printable_whole(double whole) {
  if (whole >= INT_MIN && whole <= INT_MAX) return static_cast<int32_t>(whole);
  return whole > 0 ? INT_MAX : INT_MIN;  // NaN too
}

// The report of a sample whose interpolation source lies outside the signal. The step knows the
// sample value u (the pressure) but no particle velocity or sound-speed difference: U is u, and
// c_diff the local sound speed c (1 + B/2A u / (rho c^2)) less c. One print, so that reports
// made on several threads never interleave.
void report_outside(const sys_con& sys, double shift, double whole, double u) {
  const double c = sys.c;
  const double c_diff = c * (1.0 + sys.BdivA / 2 * u / (1000.0 * c * c)) - c;
  const double base = c * (1.0 + sys.BdivA / 2 * u / c);
  const double power = 2 / sys.BdivA + 1.0;
  host_printf(
      "Warning from Orvel: Index outside range found for non-linear propagation. \n"
      "                       Try to reduce dz to fix the problem. \n"
      "shift %20e, n_shift %d c_diff %20e \n"
      "U is %20e, pulse is %20e \n"
      "c*(1.0+sys_con->BdivA/2*U/c) %20e, (2/sys_con->BdivA+1.0)) %20e, "
      "pow(c*(1.0+sys_con->BdivA/2*U/c), (2/sys_con->BdivA+1.0)) %20e \n",
      shift, printable_whole(whole), c_diff, u, u, base, power, std::pow(base, power));
}
}  // namespace

void non_linear_propagate(const sys_con& sys, double* s, int32_t n, double distance,
                          const stop_flag& stop) {
  if (!(distance > 0)) return;  // the model has no way back
  // (1 + B/2A) / (rho c^3) with rho = 1000 kg/m^3: the time a pressure of 1 Pa gains per metre.
  const double kappa = (sys.BdivA * 0.5 + 1.0) / (sys.c * 1000.0 * sys.c * sys.c);
  const double steps = std::floor(distance / sys.dz + 0.5);
  if (!(steps >= 1)) return;
  ORVEL_ASSERT(steps <= INT_MAX);
  const int32_t m = static_cast<int32_t>(steps);
  const double dz = sys.dz, fs = sys.fs;
  for (int32_t step = 0; step < m; ++step) {
    // Many steps may take minutes: a Ctrl-C (or another thread's error) is seen between them.
    if (step % 64 == 63 && stop.stopped()) return;
    // Ascending, in place: samples before k already hold this step's values, those after k the
    // previous step's. The last sample never moves.
    for (int32_t k = 0; k + 1 < n; ++k) {
      const double shift = kappa * s[k] * dz * fs;  // samples this value gains in one step
      const double whole = std::floor(shift);
      // The value at k + shift lies between samples k + j and k + j + 1. Before the first
      // sample the field is zero (the signal spans the whole response), so a source there is
      // taken as 0, silently: the tiny negative values that rounding leaves at the start of a
      // signal would otherwise be reported at every step. Past the last sample the sample is
      // kept and reported.
      if (whole >= -k && whole < n - 1 - k) {
        const int32_t j = static_cast<int32_t>(whole);
        s[k] = (shift - j) * s[k + j + 1] + (j + 1 - shift) * s[k + j];
      } else if (whole < -k) {
        s[k] = whole == -k - 1 ? (shift - whole) * s[0] : 0.0;  // (shift - j) * s(k + j + 1)
      } else {
        report_outside(sys, shift, whole, s[k]);
      }
    }
  }
}

namespace {
// Per-thread scratch of a non-linear calculation.
struct nl_scratch {
  response_workspace transmit, receive;
  spectral_scratch spectra;
  std::vector<double> filter;          // the attenuated pulse spectrum
  std::vector<double> receive_filter;  // the attenuated spectrum of a receive response
  grid_buffer emitted, echo;           // the distorted transmitted field, it received
  nl_scratch(const response_plan& tx, const response_plan& rx, stop_flag stop)
      : transmit(tx, stop), receive(rx, stop) {
    spectra.stop = stop;
  }
};

// The field transmitted at a point, (ht * pulse) / fs, distorted over distance: ht.n + n_pulse - 1
// values into out. With attenuation the pulse is filtered for the distance travelled at the
// middle of ht counted from ht.start + filter_offset.
void transmitted_field(const sys_con& sys, const grid_buffer& ht, int32_t filter_offset,
                       double distance, pulse_rec& pulse_of, nl_scratch& s, double* out) {
  apply_pulse(sys, ht.data(), ht.n, ht.start + filter_offset, pulse_of, s.spectra, s.filter, out);
  non_linear_propagate(sys, out, std::max(ht.n + pulse_of.p.no_samples - 1, 0), distance,
                       s.transmit.stop);
}

// The transmitted field into y, the pulse filtered from the start of ht plus that of the pulse.
void transmitted_field(const sys_con& sys, const grid_buffer& ht, double distance,
                       pulse_rec& pulse_of, nl_scratch& s, grid_buffer& y) {
  const signal_rec& pulse = pulse_of.p;
  y.assign_zero(ht.start + pulse.start_sample, std::max(ht.n + pulse.no_samples - 1, 0));
  transmitted_field(sys, ht, pulse.start_sample, distance, pulse_of, s, y.data());
}

// z = (y * hr) / fs, y.n + hr.n - 1 values written into out, or added into it times scale. With
// attenuation hr's spectrum is filtered for the distance travelled at the middle of hr, at the
// frequencies of the transform of the product.
void received(const sys_con& sys, bool attenuated, const grid_buffer& y, const grid_buffer& hr,
              nl_scratch& s, bool add, double scale, double* out) {
  if (y.n == 0 || hr.n == 0) return;  // no samples to convolve
  const double dt = 1 / sys.fs;
  if (!attenuated) {
    if (add)
      convolve_add(y.data(), y.n, hr.data(), hr.n, dt, scale, s.spectra, out);
    else
      convolve_arrays(y.data(), y.n, hr.data(), hr.n, dt, nullptr, s.spectra, out);
    return;
  }
  const int32_t L = fft_size(y.n + hr.n, 0);
  double* H = scratch_of(s.receive_filter, L);
  packed_forward(L, hr.data(), hr.n, H);
  attenuate_packed(sys, attenuation_distance(sys, hr.start, hr.n, 0), L, H, H);
  const double* z = convolve_with_spectrum(L, y.data(), y.n, H, dt, s.spectra);
  const int32_t n = y.n + hr.n - 1;
  if (add)
    for (int32_t k = 0; k < n; ++k) out[k] += z[k] * scale;
  else
    std::copy_n(z, n, out);
}

// (z * impulse) / fs as a new signal; zeros spanning it when z is known to be zero.
signal_ptr with_impulse(sys_con& sys, const grid_buffer& z, bool zero, pulse_rec& impulse_of,
                        spectral_scratch& s) {
  const signal_rec& impulse = impulse_of.p;
  signal_ptr r =
      alloc_signal(sys, std::max(z.n + impulse.no_samples - 1, 0), z.start + impulse.start_sample);
  if (!zero && z.n > 0 && impulse.no_samples > 0)
    convolve_arrays(z.data(), z.n, impulse.data.data(), impulse.no_samples, 1 / sys.fs,
                    &impulse_of.spectra, s, r->data.data());
  return r;
}

// The transmit and receive responses at p, the receive one being the transmit one when both
// apertures are one record; false where none contributes.
struct responses {
  bool transmit, receive;
  const grid_buffer* hr;
};
responses both_responses(const response_plan& tx, const response_plan& rx, const point3& p,
                         nl_scratch& s) {
  const bool same = tx.ap == rx.ap;
  const bool has_t = aperture_response(tx, s.transmit, p);
  const bool has_r = same ? has_t : aperture_response(rx, s.receive, p);
  return {has_t, has_r, same ? &s.transmit.out : &s.receive.out};
}

// The echo of one point before the receive impulse into s.echo: the distorted transmitted field
// convolved with the receive response. A missing response gives zeros spanning what the other
// operand would have given (the pulse where nothing is transmitted); false when s.echo is zero.
bool echo_of(const sys_con& sys, const responses& r, double distance, pulse_rec& pulse_of,
             nl_scratch& s) {
  const signal_rec& pulse = pulse_of.p;
  const grid_buffer& hr = *r.hr;
  if (!r.transmit) {
    if (r.receive)
      s.echo.assign_zero(pulse.start_sample + hr.start, pulse.no_samples + hr.n - 1);
    else
      s.echo.assign_zero(pulse.start_sample, pulse.no_samples);
    return false;
  }
  transmitted_field(sys, s.transmit.out, distance, pulse_of, s, s.emitted);
  const grid_buffer& y = s.emitted;
  if (!r.receive) {
    s.echo.assign_zero(y.start, y.n);
    return false;
  }
  s.echo.assign_zero(echo_start(sys, int64_t{y.start} + hr.start), y.n + hr.n - 1);
  received(sys, pulse_of.attenuated, y, hr, s, false, 0.0, s.echo.data());
  return true;
}
}  // namespace

std::vector<signal_ptr> calc_hp_non_linear(sys_con& sys, const aperture_rec& ap,
                                           std::span<const point3> points,
                                           std::span<const double> distances) {
  const response_plan plan = plan_response(sys, ap, true);
  std::vector<signal_ptr> out(points.size());
  signal_ptr pulse = convolve_fft(sys, ap.impulse.get(), ap.excitation.get());
  pulse_rec pulse_of(sys, *pulse);
  calculation_run run(sys, static_cast<int64_t>(points.size()));
  std::vector<nl_scratch> scratch = scratch_per_thread<nl_scratch>(run, plan, plan);
  run.run(static_cast<int64_t>(points.size()), point_grain, [&](int64_t i, int32_t w) {
    nl_scratch& s = scratch[w];
    if (!aperture_response(plan, s.transmit, points[i])) {  // zeros spanning the pulse
      out[i] = alloc_signal(sys, pulse->no_samples, pulse->start_sample);
      return;
    }
    const grid_buffer& h = s.transmit.out;
    signal_ptr y =
        alloc_signal(sys, std::max(h.n + pulse->no_samples - 1, 0), h.start + pulse->start_sample);
    // The pulse filtered from the start of the response alone, as in the linear field.
    transmitted_field(sys, h, 0, distances[i], pulse_of, s, y->data.data());
    out[i] = std::move(y);
  });
  run.finish();
  free_signal(sys, pulse);
  return out;
}

std::vector<signal_ptr> calc_hhp_non_linear(sys_con& sys, const aperture_rec& transmit,
                                            const aperture_rec& receive,
                                            std::span<const point3> points,
                                            std::span<const double> distances) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  ORVEL_ASSERT(receive.impulse);
  std::vector<signal_ptr> out(points.size());
  // The transmit pulse alone: the receive impulse comes after the distortion.
  signal_ptr pulse = convolve_fft(sys, transmit.impulse.get(), transmit.excitation.get());
  pulse_rec pulse_of(sys, *pulse);
  pulse_rec impulse_of(sys, *receive.impulse);
  calculation_run run(sys, static_cast<int64_t>(points.size()));
  std::vector<nl_scratch> scratch = scratch_per_thread<nl_scratch>(run, tx, rx);
  run.run(static_cast<int64_t>(points.size()), point_grain, [&](int64_t i, int32_t w) {
    nl_scratch& s = scratch[w];
    const responses r = both_responses(tx, rx, points[i], s);
    const bool any = echo_of(sys, r, distances[i], pulse_of, s);
    out[i] = with_impulse(sys, s.echo, !any, impulse_of, s.spectra);
  });
  run.finish();
  free_signal(sys, pulse);
  return out;
}

namespace {
// The echoes of the scatterers in order into sum (emptied first), each times its amplitude. A
// scatterer that neither aperture reaches adds nothing, not even a span.
void sum_echoes(const sys_con& sys, const response_plan& tx, const response_plan& rx,
                std::span<const point3> points, std::span<const double> amplitudes,
                std::span<const double> distances, pulse_rec& pulse_of, nl_scratch& s,
                grid_sum& sum) {
  sum.clear();
  for (size_t i = 0; i < points.size(); ++i) {
    if (s.transmit.stop.stopped()) return;  // a Ctrl-C between two scatterers of a chunk
    const responses r = both_responses(tx, rx, points[i], s);
    if (!r.transmit && !r.receive) continue;
    echo_of(sys, r, distances[i], pulse_of, s);
    sum.add(s.echo.start, s.echo.n, s.echo.data(), amplitudes[i]);
  }
}
}  // namespace

signal_ptr calc_scat_non_linear(sys_con& sys, const aperture_rec& transmit,
                                const aperture_rec& receive, std::span<const point3> points,
                                std::span<const double> amplitudes,
                                std::span<const double> distances) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  ORVEL_ASSERT(receive.impulse);
  signal_ptr pulse = convolve_fft(sys, transmit.impulse.get(), transmit.excitation.get());
  pulse_rec pulse_of(sys, *pulse);
  pulse_rec impulse_of(sys, *receive.impulse);
  const int64_t n = static_cast<int64_t>(points.size());
  calculation_run run(sys, n);
  std::vector<nl_scratch> scratch = scratch_per_thread<nl_scratch>(run, tx, rx);

  grid_sum total(sys.fs);
  sum_in_chunks(
      run, n, scatterer_chunk,
      [&](int64_t from, int64_t to, int32_t w, grid_sum& sum) {
        sum_echoes(sys, tx, rx, points.subspan(from, to - from),
                   amplitudes.subspan(from, to - from), distances.subspan(from, to - from),
                   pulse_of, scratch[w], sum);
      },
      total);

  // The receive impulse applied once to the sum of all echoes.
  signal_ptr result = total.empty() ? alloc_signal(sys, 0, 0)
                                    : pulse_on_sum(sys, total, impulse_of, scratch[0].spectra);
  run.finish();
  free_signal(sys, pulse);
  return result;
}

std::vector<signal_ptr> calc_scat_multi_non_linear(sys_con& sys, const aperture_rec& transmit,
                                                   const aperture_rec& receive,
                                                   std::span<const point3> points,
                                                   std::span<const double> amplitudes,
                                                   std::span<const double> distances) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  ORVEL_ASSERT(receive.impulse);
  const int64_t elements = receive.no_phys_elements;
  signal_ptr pulse = convolve_fft(sys, transmit.impulse.get(), transmit.excitation.get());
  pulse_rec pulse_of(sys, *pulse);
  pulse_rec impulse_of(sys, *receive.impulse);
  const int64_t n = static_cast<int64_t>(points.size());
  calculation_run run(sys, n);
  std::vector<nl_scratch> scratch = scratch_per_thread<nl_scratch>(run, tx, rx);
  std::vector<grid_sum> sums(static_cast<size_t>(elements), grid_sum(sys.fs, elements));
  // The distorted transmitted field of each scatterer of a block, made once and used by every
  // receive element; absent where no transmit element reaches the scatterer.
  std::vector<grid_buffer> emitted(static_cast<size_t>(scatterer_block));
  std::vector<char> present(static_cast<size_t>(scatterer_block));

  for (int64_t first = 0; first < n; first += scatterer_block) {
    const int64_t count = std::min<int64_t>(scatterer_block, n - first);
    run.run(
        count, 1,
        [&](int64_t i, int32_t w) {
          nl_scratch& s = scratch[w];
          present[i] = aperture_response(tx, s.transmit, points[first + i]);
          if (present[i])
            transmitted_field(sys, s.transmit.out, distances[first + i], pulse_of, s, emitted[i]);
        },
        first, 0);
    // Every receive element alone, over the block's scatterers in order.
    run.run(
        elements, 1,
        [&](int64_t j, int32_t w) {
          nl_scratch& s = scratch[w];
          for (int64_t i = 0; i < count; ++i) {
            if (!present[i] ||
                !aperture_response(rx, s.receive, points[first + i], static_cast<int32_t>(j)))
              continue;
            const grid_buffer& y = emitted[i];
            const grid_buffer& hr = s.receive.out;
            if (y.n == 0 || hr.n == 0) continue;  // an empty response adds nothing
            double* into = sums[j].room(y.start + hr.start, y.n + hr.n - 1);
            received(sys, pulse_of.attenuated, y, hr, s, true, amplitudes[first + i], into);
          }
        },
        first, 0);
    run.show(first + count);
  }

  // The receive impulse applied once to each element's sum.
  std::vector<signal_ptr> out(static_cast<size_t>(elements));
  run.run(
      elements, 1,
      [&](int64_t j, int32_t w) {
        if (!sums[j].empty()) out[j] = pulse_on_sum(sys, sums[j], impulse_of, scratch[w].spectra);
      },
      n, 0);
  run.finish();
  free_signal(sys, pulse);
  return out;
}
