// Field calculation commands: apertures looked up, points copied, a driver called, and the
// signals it returns aligned on one time axis in a host matrix with the time of its first row.
// Every signal is released before the command returns, also when it ends in an error.
#include "gateway/calculations.h"

#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "calculation/drivers.h"
#include "calculation/non_linear.h"
#include "calculation/scat_all.h"
#include "core/check.h"
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
  for (size_t i = 0; i < n; ++i) require_weight(v[i], "The amplitude vector", i + 1);
  return std::vector<double>(v, v + n);
}

// Setting fs and c refuses values outside their ranges, so a bad grid here is a bug of ours.
// The attenuation's centre frequency must be one the grid holds: above fs / 2 its gain at the
// low frequencies (exp(att_f0 x freq_att x distance), relative to att_f0) overflows at any depth
// of interest.
void check_grid(const sys_con& sys) {
  ORVEL_ASSERT(sys.fs > 0.0 && std::isfinite(sys.fs) && sys.c > 0.0 && std::isfinite(sys.c));
  if (sys.use_att && sys.freq_att != 0.0 && !(sys.att_f0 <= sys.fs / 2))
    throw command_error(format_text(
        "Error: The attenuation centre frequency att_f0 (%g Hz) must be at most half the sampling "
        "frequency (%g Hz) for a calculation with frequency dependent attenuation",
        sys.att_f0, sys.fs / 2));
}

// What a calculation multiplies, to name the likely cause when its result overflows.
struct calc_inputs {
  const aperture_rec* tx;              // the aperture, or the transmit aperture
  const aperture_rec* rx;              // the receive aperture, or null
  std::span<const double> amplitudes;  // of the scatterers, or empty
};

double largest(std::span<const double> v) {
  double m = 0.0;
  for (double x : v) m = std::fmax(m, std::fabs(x));
  return m;
}

double largest(const signal_rec& s) {
  return largest(std::span<const double>(s.data.data(), static_cast<size_t>(s.no_samples)));
}

// The weights of an aperture with the largest magnitude: its pulses, its apodizations, its
// elements' waveforms. Writes what it is into what.
double largest_weight(const aperture_rec& ap, const char* role, std::string& what) {
  double most = 0.0;
  auto consider = [&](double m, const char* name) {
    if (m > most) {
      most = m;
      what = format_text("the %s of the %s", name, role);
    }
  };
  consider(largest(*ap.excitation), "excitation");
  consider(largest(*ap.impulse), "impulse response");
  for (const apod_entry& e : ap.apod_line) consider(largest(e.values), "apodization");
  for (const phys_element& e : ap.phys_elements) {
    if (e.waveform) consider(largest(*e.waveform), "element waveforms");
    for (const rect_element& r : e.rects) consider(std::fabs(r.apodization), "element apodization");
    for (const tri_element& t : e.tris) consider(std::fabs(t.apodization), "element apodization");
    for (const line_element& l : e.line_elems)
      consider(std::fabs(l.apodization), "element apodization");
  }
  return most;
}

// The likely cause of an overflow in a result that reaches end_sample: the attenuation's gain
// when that is vast, else the largest weight when that is far from 1, else the weights together.
std::string overflow_cause(const sys_con& sys, const calc_inputs& in, double end_sample) {
  // Decades of the attenuation's gain at zero frequency over the longest distance travelled.
  const double r = sys.c * end_sample / sys.fs;
  const double gain_decades =
      sys.use_att ? 0.11512925465 * sys.freq_att * sys.att_f0 * r / std::log(10.0) : 0.0;
  if (gain_decades > 100.0)
    return format_text(
        "the frequency dependent attenuation: over the %g m travelled its gain below att_f0 "
        "reaches 1e%.0f (freq_att %g dB/(m Hz), att_f0 %g Hz)",
        r, gain_decades, sys.freq_att, sys.att_f0);
  std::string what, rx_what;
  double most = largest_weight(*in.tx, in.rx ? "transmit aperture" : "aperture", what);
  if (in.rx) {
    const double m = largest_weight(*in.rx, "receive aperture", rx_what);
    if (m > most) most = m, what = rx_what;
  }
  if (largest(in.amplitudes) > most) most = largest(in.amplitudes), what = "the amplitudes";
  if (most > 1e10) return format_text("%s (values up to %g)", what.c_str(), most);
  return "the excitations, impulse responses, apodizations and amplitudes together";
}

// A result with an infinite or NaN sample is refused: it would pass for a field. Such a sample
// comes from products that left the double range although each input was within its own.
void refuse_overflow(const sys_con& sys, std::span<const signal_ptr> signals,
                     const calc_inputs& in) {
  double end_sample = 0.0;
  for (const signal_ptr& s : signals)
    if (s) end_sample = std::fmax(end_sample, static_cast<double>(s->start_sample) + s->no_samples);
  for (size_t k = 0; k < signals.size(); ++k) {
    if (!signals[k]) continue;
    const std::vector<double>& d = signals[k]->data;
    for (size_t j = 0; j < static_cast<size_t>(signals[k]->no_samples); ++j)
      if (!std::isfinite(d[j]))
        throw command_error(format_text(
            "Error: The result overflowed the double range (column %zu, sample %zu is %g); the "
            "likely cause is %s. Nothing was returned",
            k + 1, j + 1, d[j], overflow_cause(sys, in, end_sample).c_str()));
  }
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

// The columns of a map: the names of argument k and, when the host gave one more argument,
// the cw frequency [Hz]; the density is the option rho.
map_request read_map_request(const sys_con& sys, const command_args& args, int k) {
  char names[1024];
  read_text(args.arg(k), names, sizeof names, "The quantity list");
  const bool has_f = args.nrhs > k;
  const double f = has_f ? read_number(args.arg(k + 1), "The cw frequency") : 0.0;
  return parse_map_request(names, has_f, f, sys.rho);
}

// A map value that is infinite or NaN (other than t_peak's NaN of a point without a field)
// comes from a signal that left the double range: refused as refuse_overflow does. The signals
// reach at most the farthest point, there and back for a pulse-echo map.
void refuse_map_overflow(const sys_con& sys, const map_request& q, std::span<const double> v,
                         std::span<const point3> points, const calc_inputs& in) {
  const size_t n = points.size();
  for (size_t k = 0; k < q.columns.size(); ++k) {
    if (q.columns[k] == field_quantity::t_peak) continue;
    for (size_t i = 0; i < n; ++i) {
      if (std::isfinite(v[i + n * k])) continue;
      double r = 0.0;
      for (const point3& p : points) r = std::fmax(r, std::hypot(p[0], p[1], p[2]));
      const double end_sample = (in.rx ? 2 : 1) * r / sys.c * sys.fs;
      throw command_error(format_text(
          "Error: The map overflowed the double range (%s at point %zu is %g); the likely cause "
          "is %s. Nothing was returned",
          quantity_name(q.columns[k]), i + 1, v[i + n * k],
          overflow_cause(sys, in, end_sample).c_str()));
    }
  }
}

void return_map(const command_args& args, const std::vector<double>& v, size_t n, size_t k) {
  mxArray* m = host_new_matrix(n, k);
  std::copy(v.begin(), v.end(), host_matrix_values(m));
  set_result(args, 0, m);
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
  refuse_overflow(sys, signals, {&ap, nullptr, {}});
  return_aligned(sys, args, signals);
}

void cmd_calc_hp(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Calculating emitted ultrasound field. Calling calc_hp",
               "Internal Error 5: Too few parameters to calculate emitted ultrasound field");
  const aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const std::vector<point3> points = read_points(args.arg(3), "The point table");
  check_grid(sys);
  std::vector<signal_ptr> signals = calc_hp(sys, ap, points);
  refuse_overflow(sys, signals, {&ap, nullptr, {}});
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
  refuse_overflow(sys, signals, {&tx, &rx, {}});
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
  refuse_overflow(sys, std::span<const signal_ptr>(&s, 1), {&tx, &rx, amplitudes});
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
  refuse_overflow(sys, signals, {&tx, &rx, amplitudes});
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
  refuse_overflow(sys, signals, {&tx, &rx, amplitudes});
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
  refuse_overflow(sys, signals, {&ap, nullptr, {}});
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
  refuse_overflow(sys, signals, {&tx, &rx, {}});
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
  refuse_overflow(sys, std::span<const signal_ptr>(&s, 1), {&tx, &rx, amplitudes});
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
  refuse_overflow(sys, signals, {&tx, &rx, amplitudes});
  return_aligned(sys, args, signals);
}

void cmd_calc_hp_map(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Calculating a map of the emitted field. Calling calc_hp_map",
               "Error: calc_hp_map needs an aperture, the points and the quantities");
  const aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const std::vector<point3> points = read_points(args.arg(3), "The point table");
  const map_request q = read_map_request(sys, args, 4);
  check_grid(sys);
  std::vector<double> map(points.size() * q.columns.size());
  calc_hp_map(sys, ap, points, q, map);
  refuse_map_overflow(sys, q, map, points, {&ap, nullptr, {}});
  return_map(args, map, points.size(), q.columns.size());
}

void cmd_calc_hhp_map(sys_con& sys, const command_args& args) {
  open_command(sys, args, 5, "Calculating a map of the pulse-echo field. Calling calc_hhp_map",
               "Error: calc_hhp_map needs a transmit and a receive aperture, the points and the "
               "quantities");
  const aperture_rec& tx = lookup_aperture(sys, args.arg(2));
  const aperture_rec& rx = lookup_aperture(sys, args.arg(3));
  const std::vector<point3> points = read_points(args.arg(4), "The point table");
  const map_request q = read_map_request(sys, args, 5);
  check_grid(sys);
  std::vector<double> map(points.size() * q.columns.size());
  calc_hhp_map(sys, tx, rx, points, q, map);
  refuse_map_overflow(sys, q, map, points, {&tx, &rx, {}});
  return_map(args, map, points.size(), q.columns.size());
}
