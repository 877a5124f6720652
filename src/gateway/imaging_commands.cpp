// The image formation command: RF data, the geometry of elements, points and transmits read
// from the host and checked, the delay-and-sum of imaging/das run on the threads of the option
// threads, the image returned.
#include <algorithm>
#include <cmath>
#include <vector>

#include "calculation/progress.h"
#include "core/errors.h"
#include "core/thread_pool.h"
#include "gateway/gateway.h"
#include "gateway/transducers.h"
#include "imaging/das.h"
#include "imaging/doppler.h"

namespace {
// Refuses the first of v[0 .. n) that is not finite, naming it; the scan is an inline loop, as
// the RF data run to millions of values.
void require_all_finite(const double* v, size_t n, const char* what) {
  size_t k = 0;
  while (k < n && std::isfinite(v[k])) ++k;
  if (k < n) require_finite(v[k], what, k + 1);
}

// An n x cols table of finite values, n >= 1, column-major as the host holds it.
std::vector<double> read_table(const mxArray* a, size_t cols, const char* what,
                               const char* per_row) {
  require_double_matrix(a, what);
  const size_t n = host_rows(a);
  if (n == 0 || host_cols(a) != cols)
    throw command_error(
        format_text("Error: %s must be an n x %zu matrix (one row per %s, n >= 1), "
                    "but is a %zu x %zu matrix",
                    what, cols, per_row, n, host_cols(a)));
  const double* v = host_values(a);
  require_all_finite(v, n * cols, what);
  return std::vector<double>(v, v + n * cols);
}

std::vector<das_point> read_positions(const mxArray* a, const char* what, const char* per_row) {
  const std::vector<double> v = read_table(a, 3, what, per_row);
  const size_t n = v.size() / 3;
  std::vector<das_point> p(n);
  for (size_t i = 0; i < n; ++i) {
    p[i] = {v[i], v[i + n], v[i + 2 * n]};
    for (double x : p[i])
      if (!(std::fabs(x) <= most_length)) require_length(x, what);  // refuses it
  }
  return p;
}

double read_positive(const mxArray* a, const char* what, const char* unit) {
  const double v = read_number(a, what);
  if (!(v > 0))
    throw command_error(format_text("Error: %s must be positive, but is %g%s", what, v, unit));
  return v;
}

// Row k: kind (1 plane, 2 diverging, 3 focused, 4 element), source x y z (for a plane wave
// the angles ax, ay and 0), t_ref, origin x y z.
std::vector<das_transmit> read_transmits(const mxArray* a) {
  const char* what = "The transmit table";
  const std::vector<double> v = read_table(a, 8, what, "transmit");
  const size_t n = v.size() / 8;
  std::vector<das_transmit> t(n);
  for (size_t i = 0; i < n; ++i) {
    const double kind = v[i];
    if (!(kind == 1 || kind == 2 || kind == 3 || kind == 4))
      throw command_error(format_text(
          "Error: %s must give each transmit's kind in column 1 as 1 (plane), 2 (diverging), "
          "3 (focused) or 4 (element), but row %zu has %g",
          what, i + 1, kind));
    t[i].wave = static_cast<das_wave>(static_cast<int>(kind));
    t[i].source = {v[i + n], v[i + 2 * n], v[i + 3 * n]};
    t[i].t_ref = v[i + 4 * n];
    t[i].origin = {v[i + 5 * n], v[i + 6 * n], v[i + 7 * n]};
  }
  return t;
}

// [f_number, window (1 Hann, 2 Tukey, 3 boxcar), tukey_alpha, interpolation (1 linear,
// 2 cubic), per_transmit (0 or 1)].
void read_options(const mxArray* a, das_setup& s) {
  const double* o = read_vector(a, 5, "The option vector", "option");
  for (size_t k = 0; k < 5; ++k) require_finite(o[k], "The option vector", k + 1);
  if (!(o[0] > 0))
    throw command_error(format_text("Error: The f-number must be positive, but is %g", o[0]));
  if (!(o[1] == 1 || o[1] == 2 || o[1] == 3))
    throw command_error(format_text(
        "Error: The window must be 1 (Hann), 2 (Tukey) or 3 (boxcar), but is %g", o[1]));
  if (!(o[2] >= 0 && o[2] <= 1))
    throw command_error(
        format_text("Error: The Tukey window's alpha must be from 0 to 1, but is %g", o[2]));
  if (!(o[3] == 1 || o[3] == 2))
    throw command_error(
        format_text("Error: The interpolation must be 1 (linear) or 2 (cubic), but is %g", o[3]));
  s.f_number = o[0];
  s.window = o[2] == 0 && o[1] == 2 ? das_window::boxcar : static_cast<das_window>(int(o[1]));
  s.tukey_alpha = o[2];
  s.interpolation = static_cast<das_interpolation>(static_cast<int>(o[3]));
  s.per_transmit = o[4] != 0;
}
}  // namespace

void das_image_command(sys_con& sys, const command_args& args) {
  open_command(sys, args, 10, "Forming an image. Calling das_image",
               "Error: das_image needs rf, t0, fs, c, lag, the elements, the points, the "
               "transmits and the options");
  const mxArray* rf = args.arg(2);
  require_double_matrix(rf, "The RF data");
  das_setup s{};
  s.t0 = read_number(args.arg(3), "The start time t0");
  s.fs = read_positive(args.arg(4), "The sampling frequency fs", " Hz");
  s.c = read_positive(args.arg(5), "The speed of sound c", " m/s");
  s.lag = read_number(args.arg(6), "The lag");
  const std::vector<das_point> elements =
      read_positions(args.arg(7), "The element positions", "element");
  const std::vector<das_point> points = read_positions(args.arg(8), "The image points", "point");
  const std::vector<das_transmit> transmits = read_transmits(args.arg(9));
  read_options(args.arg(10), s);
  const size_t R = elements.size(), T = transmits.size(), P = points.size();
  if (host_cols(rf) != R * T)
    throw command_error(format_text(
        "Error: The RF data must have one column per element and transmit: %zu x %zu = %zu "
        "expected, %zu received",
        R, T, R * T, host_cols(rf)));
  const size_t samples = host_rows(rf);
  const double* v = host_values(rf);
  require_all_finite(v, samples * R * T, "The RF data");

  const size_t columns = s.per_transmit ? T : 1;
  std::vector<double> image(P * columns);
  worker_team team(calculation_threads(sys));
  das_image(team, s, v, static_cast<int64_t>(samples), elements, transmits, points, image.data(),
            [](int64_t) { stop_if_interrupted(); });
  mxArray* m = host_new_matrix(P, columns);
  std::copy(image.begin(), image.end(), host_matrix_values(m));
  args.plhs[0] = m;
}

// Slow-time processing. Complex data come and go as real and imaginary parts apart, each a
// G x N matrix (G signals of N firings).
namespace {
// A whole number of at least least, for counts and lengths.
size_t read_count(const mxArray* a, const char* what, double least) {
  const double v = read_number(a, what);
  if (!(v >= least && v == std::floor(v) && v <= 1e9))
    throw command_error(
        format_text("Error: %s must be a whole number from %g to 1e9, but is %g", what, least, v));
  return static_cast<size_t>(v);
}

// The parts of slow-time data: two real matrices of one shape, at least one value, finite.
slow_time read_slow_time(const command_args& args, int first) {
  const mxArray* re = args.arg(first);
  const mxArray* im = args.arg(first + 1);
  require_double_matrix(re, "The real part");
  require_double_matrix(im, "The imaginary part");
  const size_t G = host_rows(re), N = host_cols(re);
  if (G == 0 || N == 0 || host_rows(im) != G || host_cols(im) != N)
    throw command_error(format_text(
        "Error: The real and imaginary parts must be two G x N matrices of one shape (G "
        "signals, N firings, both at least 1), but are %zu x %zu and %zu x %zu",
        G, N, host_rows(im), host_cols(im)));
  require_all_finite(host_values(re), G * N, "The real part");
  require_all_finite(host_values(im), G * N, "The imaginary part");
  return {host_values(re), host_values(im), G, N};
}

// Refuses results that left the range of doubles (from finite data of huge magnitude).
void require_in_range(const double* v, size_t n, const char* what) {
  for (size_t k = 0; k < n; ++k)
    if (!std::isfinite(v[k]))
      throw command_error(
          format_text("Error: %s overflow the range of numbers; scale the data down", what));
}

void set_pair(const command_args& args, size_t rows, size_t cols, const std::vector<double>& re,
              const std::vector<double>& im) {
  mxArray* a = host_new_matrix(rows, cols);
  std::copy(re.begin(), re.end(), host_matrix_values(a));
  args.plhs[0] = a;
  if (args.nlhs < 2) return;
  mxArray* b = host_new_matrix(rows, cols);
  std::copy(im.begin(), im.end(), host_matrix_values(b));
  args.plhs[1] = b;
}
}  // namespace

void iq_demodulate_command(sys_con& sys, const command_args& args) {
  open_command(sys, args, 7, "Demodulating to IQ. Calling iq_demodulate",
               "Error: iq_demodulate needs rf, t0, fs, f0, the cutoff and the decimation");
  const mxArray* rf = args.arg(2);
  require_double_matrix(rf, "The RF data");
  const size_t samples = host_rows(rf), signals = host_cols(rf);
  if (samples == 0 || signals == 0)
    throw command_error(format_text(
        "Error: The RF data must be a samples x signals matrix with at least one value, but is "
        "%zu x %zu",
        samples, signals));
  require_all_finite(host_values(rf), samples * signals, "The RF data");
  const double t0 = read_number(args.arg(3), "The start time t0");
  const double fs = read_positive(args.arg(4), "The sampling frequency fs", " Hz");
  const double f0 = read_positive(args.arg(5), "The centre frequency f0", " Hz");
  const double cutoff = read_number(args.arg(6), "The cutoff");
  if (!(cutoff > 0 && cutoff < fs / 2))
    throw command_error(format_text(
        "Error: The cutoff must lie between 0 and fs/2 = %g Hz, but is %g", fs / 2, cutoff));
  if (2 * fs / cutoff > static_cast<double>(iq_most_half_length))
    throw command_error(format_text(
        "Error: The cutoff %g Hz is too low for fs = %g Hz: its filter would need more than "
        "%zu taps; the cutoff must be at least 2 fs / %zu = %g Hz",
        cutoff, fs, 2 * iq_most_half_length + 1, iq_most_half_length,
        2 * fs / static_cast<double>(iq_most_half_length)));
  const size_t decimation = read_count(args.arg(7), "The decimation", 1);
  const size_t kept = (samples + decimation - 1) / decimation;
  std::vector<double> re(kept * signals), im(kept * signals);
  worker_team team(calculation_threads(sys));
  iq_demodulate(team, host_values(rf), samples, signals, t0, fs, f0, cutoff, decimation, re.data(),
                im.data());
  set_pair(args, kept, signals, re, im);
}

void clutter_filter_command(sys_con& sys, const command_args& args) {
  open_command(sys, args, 5, "Filtering clutter. Calling clutter_filter",
               "Error: clutter_filter needs the real and imaginary parts, the method and its "
               "parameter");
  const slow_time x = read_slow_time(args, 2);
  const double method = read_number(args.arg(4), "The method");
  if (!(method == 1 || method == 2))
    throw command_error(
        format_text("Error: The method must be 1 (polynomial) or 2 (fir), but is %g", method));
  worker_team team(calculation_threads(sys));
  if (method == 1) {
    const size_t order = read_count(args.arg(5), "The order", 0);
    if (!(order + 1 < x.N))
      throw command_error(format_text(
          "Error: The ensemble (%zu firings) must be longer than order + 1 = %zu", x.N, order + 1));
    std::vector<double> re(x.G * x.N), im(x.G * x.N);
    clutter_polynomial(team, x, order, re.data(), im.data());
    require_in_range(re.data(), re.size(), "The filtered signals");
    require_in_range(im.data(), im.size(), "The filtered signals");
    set_pair(args, x.G, x.N, re, im);
    return;
  }
  const double cutoff = read_number(args.arg(5), "The cutoff");
  if (!(cutoff > 0 && cutoff < 0.5))
    throw command_error(format_text(
        "Error: The cutoff must lie between 0 and 0.5 (a fraction of the prf), but is %g", cutoff));
  const size_t K = clutter_fir_half_length(cutoff);
  if (x.N < 2 * K + 2)
    throw command_error(format_text(
        "Error: The ensemble (%zu firings) must be longer than the filter's %zu taps by at "
        "least one, for two outputs",
        x.N, 2 * K + 1));
  const size_t M = x.N - 2 * K;
  std::vector<double> re(x.G * M), im(x.G * M);
  clutter_fir(team, x, cutoff, re.data(), im.data());
  require_in_range(re.data(), re.size(), "The filtered signals");
  require_in_range(im.data(), im.size(), "The filtered signals");
  set_pair(args, x.G, M, re, im);
}

void color_flow_command(sys_con& sys, const command_args& args) {
  open_command(sys, args, 6, "Estimating flow. Calling color_flow",
               "Error: color_flow needs the real and imaginary parts, prf, f0 and c");
  const slow_time x = read_slow_time(args, 2);
  if (x.N < 2)
    throw command_error(
        format_text("Error: The ensemble must hold at least 2 firings, but holds %zu", x.N));
  const double prf = read_positive(args.arg(4), "The pulse repetition frequency prf", " Hz");
  const double f0 = read_positive(args.arg(5), "The centre frequency f0", " Hz");
  const double c = read_positive(args.arg(6), "The speed of sound c", " m/s");
  std::vector<double> out(3 * x.G);
  worker_team team(calculation_threads(sys));
  color_flow(team, x, prf, f0, c, out.data(), out.data() + x.G, out.data() + 2 * x.G);
  require_in_range(out.data(), out.size(), "The flow estimates");
  mxArray* m = host_new_matrix(x.G, 3);
  std::copy(out.begin(), out.end(), host_matrix_values(m));
  args.plhs[0] = m;
}

void doppler_spectrum_command(sys_con& sys, const command_args& args) {
  open_command(sys, args, 6, "Forming a spectrogram. Calling doppler_spectrum",
               "Error: doppler_spectrum needs the real and imaginary parts, the window length, "
               "the overlap and nfft");
  const slow_time x = read_slow_time(args, 2);
  const size_t L = read_count(args.arg(4), "The window length", 2);
  if (L > x.N)
    throw command_error(format_text(
        "Error: The window length must be from 2 to the ensemble's %zu firings, but is %zu", x.N,
        L));
  const size_t overlap = read_count(args.arg(5), "The overlap", 0);
  if (overlap >= L)
    throw command_error(format_text(
        "Error: The overlap must be below the window length %zu, but is %zu", L, overlap));
  const size_t nfft = read_count(args.arg(6), "nfft", 2);
  if (nfft < L)
    throw command_error(
        format_text("Error: nfft must be at least the window length %zu, but is %zu", L, nfft));
  const size_t M = doppler_windows(x.N, L, overlap);
  std::vector<double> spectrum(nfft * M);
  worker_team team(calculation_threads(sys));
  doppler_spectrum(team, x, L, overlap, nfft, spectrum.data());
  require_in_range(spectrum.data(), spectrum.size(), "The spectrum's powers");
  mxArray* m = host_new_matrix(nfft, M);
  std::copy(spectrum.begin(), spectrum.end(), host_matrix_values(m));
  args.plhs[0] = m;
}
