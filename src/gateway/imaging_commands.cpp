// The image formation command: RF data, the geometry of elements, points and transmits read
// from the host and checked, the delay-and-sum of imaging/das run on the threads of the option
// threads, the image returned.
#include <cmath>
#include <vector>

#include "calculation/progress.h"
#include "core/errors.h"
#include "core/thread_pool.h"
#include "gateway/gateway.h"
#include "gateway/transducers.h"
#include "imaging/das.h"

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
