// Field calculation commands: apertures looked up, points copied, a driver called, and the
// signals it returns aligned on one time axis in a host matrix with the time of its first row.
// Every signal is released before the command returns, also when it ends in an error.
#include "gateway/calculations.h"

#include <cmath>
#include <limits>
#include <span>

#include "calculation/drivers.h"
#include "calculation/non_linear.h"
#include "calculation/scat_all.h"
#include "core/errors.h"
#include "gateway/transducers.h"
#include "signals/signal_store.h"

namespace {
// Points: an n-row table of x, y, z [m], n its row count. Coordinates must be finite.
std::vector<point3> read_points(const mxArray* a, const char* what) {
  require_double_matrix(a, what);
  const size_t n = host_rows(a);
  if (n == 0) return {};
  if (host_cols(a) != 3)
    throw command_error(format_text(
        "Error: %s must have 3 columns (one row [x y z] per point), but is a %zu x %zu matrix",
        what, n, host_cols(a)));
  if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw command_error(format_text("Error: %s has too many rows", what));
  const double* v = host_values(a);
  std::vector<point3> points(n);
  for (size_t i = 0; i < n; ++i) {
    points[i] = {v[i], v[i + n], v[i + 2 * n]};
    for (double x : points[i])
      if (!std::isfinite(x))
        throw command_error(format_text(
            "Error: %s must hold finite coordinates, but row %zu does not", what, i + 1));
  }
  return points;
}

std::vector<double> read_amplitudes(const mxArray* a, size_t n) {
  const double* v = read_vector(a, n, "The amplitude vector", "point");
  return std::vector<double>(v, v + n);
}

// The grid must be usable before any sample index is formed from it.
void check_grid(const sys_con& sys) {
  if (!(sys.fs > 0.0 && std::isfinite(sys.fs)))
    throw command_error("Error: The sampling frequency must be positive for a calculation");
  if (!(sys.c > 0.0 && std::isfinite(sys.c)))
    throw command_error("Error: The speed of sound must be positive for a calculation");
}

// Propagation distances [m]: one finite value per point.
std::vector<double> read_distances(const mxArray* a, size_t n) {
  const double* v = read_vector(a, n, "The distance vector", "point");
  return std::vector<double>(v, v + n);
}

// A distance that gives propagation steps needs a step count the propagation can count: dz
// positive (with dz 0, negative or NaN the count of any positive distance is not finite), at
// most 2^31 - 1 steps, and a finite B/A. Zero and negative distances take no steps.
void check_steps(const sys_con& sys, std::span<const double> distances) {
  for (double d : distances) {
    if (!(d > 0)) continue;
    if (!(sys.dz > 0))
      throw command_error(
          format_text("Error: The propagation step dz must be positive for a non-linear "
                      "calculation over a positive distance, but it is %g m",
                      sys.dz));
    if (!(std::floor(d / sys.dz + 0.5) <= std::numeric_limits<int32_t>::max()))
      throw command_error(format_text(
          "Error: The distance %g m takes more than 2147483647 propagation steps of dz = %g m", d,
          sys.dz));
    if (!std::isfinite(sys.BdivA))
      throw command_error(
          "Error: The non-linearity parameter BdivA must be finite for a non-linear calculation");
  }
}

void set_result(const command_args& args, int slot, mxArray* m) {
  // The host has room for max(nlhs, 1) results: a result it did not ask for is not made.
  if (slot < (args.nlhs > 1 ? args.nlhs : 1)) args.plhs[slot] = m;
}

}  // namespace

void return_aligned(sys_con& sys, const command_args& args, std::vector<signal_ptr>& signals) {
  bool any = false;
  int64_t S = 0, E = 0;
  double fs = sys.fs;
  for (const signal_ptr& s : signals) {
    if (!s || s->no_samples == 0) continue;  // nothing to place: no say in the time range
    const int64_t start = s->start_sample, end = start + s->no_samples;
    if (!any) {
      S = start;
      E = end;
      fs = s->fs;
      any = true;
    } else {
      S = std::min(S, start);
      E = std::max(E, end);
    }
  }
  // The matrix is refused before either result is made when no memory could hold it.
  if (!signals.empty())
    check_result_size(E - S + 1, static_cast<int64_t>(signals.size()), fs, false);
  const size_t rows = signals.empty() ? 0 : static_cast<size_t>(E - S + 1);
  if (args.nlhs >= 2) {
    mxArray* t = host_new_matrix(1, 1);
    host_matrix_values(t)[0] = static_cast<double>(S) / fs;
    set_result(args, 1, t);
  }
  mxArray* m = host_new_matrix(rows, signals.size());
  double* out = host_matrix_values(m);
  for (size_t k = 0; k < signals.size(); ++k) {
    const signal_ptr& s = signals[k];
    if (!s || s->no_samples == 0) continue;
    double* column = out + k * rows + static_cast<size_t>(s->start_sample - S);
    for (int32_t j = 0; j < s->no_samples; ++j) column[j] = s->data[j];
  }
  set_result(args, 0, m);
  for (signal_ptr& s : signals) free_signal(sys, s);
}

void return_single(sys_con& sys, const command_args& args, signal_ptr& s) {
  if (args.nlhs >= 2) {
    mxArray* t = host_new_matrix(1, 1);
    host_matrix_values(t)[0] = s->start_sample / s->fs;
    set_result(args, 1, t);
  }
  mxArray* m = host_new_matrix(static_cast<size_t>(s->no_samples), 1);
  double* out = host_matrix_values(m);
  for (int32_t j = 0; j < s->no_samples; ++j) out[j] = s->data[j];
  set_result(args, 0, m);
  free_signal(sys, s);
}

void cmd_calc_h(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Calculating h. Calling calc_h",
               "Internal Error 5: Too few parameters to calculate spatial impulse response");
  const aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const std::vector<point3> points = read_points(args.arg(3), "The point table");
  check_grid(sys);
  std::vector<signal_ptr> signals = calc_h(sys, ap, points);
  return_aligned(sys, args, signals);
}

void cmd_calc_hp(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Calculating emitted ultrasound field. Calling calc_hp",
               "Internal Error 5: Too few parameters to calculate emitted ultrasound field");
  const aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const std::vector<point3> points = read_points(args.arg(3), "The point table");
  check_grid(sys);
  std::vector<signal_ptr> signals = calc_hp(sys, ap, points);
  return_aligned(sys, args, signals);
}

void cmd_calc_hhp(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Calculating h*h*p. Calling calc_hhp",
               "Internal Error 5: Too few parameters to calculate pulse-echo field");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The point table");
  check_grid(sys);
  std::vector<signal_ptr> signals = calc_hhp(sys, tx, rx, points);
  return_aligned(sys, args, signals);
}

void cmd_calc_scat(sys_con& sys, const command_args& args) {
  open_command(sys, args, 5, "Calculating scattered field. Calling calc_scat",
               "Internal Error 5: Too few parameters to calculate scattered field");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The scatterer position table");
  const std::vector<double> amplitudes = read_amplitudes(args.arg(5), points.size());
  check_grid(sys);
  signal_ptr s = calc_scat(sys, tx, rx, points, amplitudes);
  return_single(sys, args, s);
}

void cmd_calc_scat_multi(sys_con& sys, const command_args& args) {
  open_command(sys, args, 5, "Calculating scattered field. Calling calc_scat_multi",
               "Internal Error 5: Too few parameters to calculate scattered field");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The scatterer position table");
  const std::vector<double> amplitudes = read_amplitudes(args.arg(5), points.size());
  check_grid(sys);
  std::vector<signal_ptr> signals = calc_scat_multi(sys, tx, rx, points, amplitudes);
  return_aligned(sys, args, signals);
}

void cmd_calc_scat_all(sys_con& sys, const command_args& args) {
  open_command(
      sys, args, 6, "Calculating pulse-echo ultrasound fields. Calling calc_scat_all",
      "Internal Error 5: Too few parameters to calculate ultrasound field from all elements");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The scatterer position table");
  const std::vector<double> amplitudes = read_amplitudes(args.arg(5), points.size());
  const int32_t D = read_count(args.arg(6), "The decimation factor");
  check_grid(sys);
  std::vector<std::vector<signal_ptr>> grid = calc_scat_all(sys, tx, rx, points, amplitudes, D);
  // Column t R + r: the R receive elements of transmit element 0 first.
  std::vector<signal_ptr> signals;
  signals.reserve(static_cast<size_t>(tx.no_phys_elements) * rx.no_phys_elements);
  for (std::vector<signal_ptr>& row : grid)
    for (signal_ptr& s : row) signals.push_back(std::move(s));
  return_aligned(sys, args, signals);
}

void cmd_calc_hp_non_linear(sys_con& sys, const command_args& args) {
  open_command(
      sys, args, 4, "Calculating non-linear emitted ultrasound field. Calling calc_hp_non_linear",
      "Internal Error 5: Too few parameters to calculate non-linear emitted ultrasound field");
  const aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const std::vector<point3> points = read_points(args.arg(3), "The point table");
  const std::vector<double> distances = read_distances(args.arg(4), points.size());
  check_grid(sys);
  check_steps(sys, distances);
  std::vector<signal_ptr> signals = calc_hp_non_linear(sys, ap, points, distances);
  return_aligned(sys, args, signals);
}

void cmd_calc_hhp_non_linear(sys_con& sys, const command_args& args) {
  open_command(sys, args, 5, "Calculating h*h*p non-linearly. Calling calc_hhp_non_linear",
               "Internal Error 5: Too few parameters to calculate non-linear pulse-echo field");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The point table");
  const std::vector<double> distances = read_distances(args.arg(5), points.size());
  check_grid(sys);
  check_steps(sys, distances);
  std::vector<signal_ptr> signals = calc_hhp_non_linear(sys, tx, rx, points, distances);
  return_aligned(sys, args, signals);
}

void cmd_calc_scat_non_linear(sys_con& sys, const command_args& args) {
  open_command(sys, args, 6,
               "Calculating scattered signal non-linearly. Calling calc_scat_non_linear",
               "Internal Error 5: Too few parameters to calculate non-linear scattered field");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The scatterer position table");
  const std::vector<double> amplitudes = read_amplitudes(args.arg(5), points.size());
  const std::vector<double> distances = read_distances(args.arg(6), points.size());
  check_grid(sys);
  check_steps(sys, distances);
  signal_ptr s = calc_scat_non_linear(sys, tx, rx, points, amplitudes, distances);
  return_single(sys, args, s);
}

void cmd_calc_scat_multi_non_linear(sys_con& sys, const command_args& args) {
  open_command(sys, args, 6, "Calculating scattered field. Calling calc_scat_multi_non_linear",
               "Internal Error 5: Too few parameters to calculate scattered field with "
               "calc_scat_multi_non_linear");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The scatterer position table");
  const std::vector<double> amplitudes = read_amplitudes(args.arg(5), points.size());
  const std::vector<double> distances = read_distances(args.arg(6), points.size());
  check_grid(sys);
  check_steps(sys, distances);
  std::vector<signal_ptr> signals =
      calc_scat_multi_non_linear(sys, tx, rx, points, amplitudes, distances);
  return_aligned(sys, args, signals);
}
