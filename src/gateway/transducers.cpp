// Transducer commands: host arguments in, aperture constructors and operations called, the
// handle or the aperture's data out. Every argument is read and checked before anything
// changes, so a refused command leaves the table and its apertures as they were.
#include "gateway/transducers.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "apertures/arrays.h"
#include "apertures/time_lines.h"
#include "apertures/user_apertures.h"
#include "core/errors.h"
#include "elements/convert.h"
#include "host/console.h"
#include "signals/signal_store.h"

void open_command(const sys_con& sys, const command_args& args, int min_args, const char* trace,
                  const char* too_few) {
  debug_trace(sys, trace);
  if (args.nrhs < min_args) throw command_error(too_few);
}

point3 to_point(const point_value& p) { return {p.x, p.y, p.z}; }

namespace {
// A width, height or kerf: 0 or more. A negative one would mirror the element about its edge
// and overlap its neighbours.
double read_size(const mxArray* a, const char* what) {
  const double v = read_number(a, what);
  if (!(v >= 0.0))
    throw command_error(
        format_text("Error: %s must not be negative (a size in metres), but is %g", what, v));
  require_length(v, what);
  return v;
}

// A radius of curvature: either sign, within most_length.
double read_radius(const mxArray* a, const char* what) {
  const double v = read_number(a, what);
  require_length(v, what);
  return v;
}

// A width or height that is not 0 must give sub-elements of at least 1 nm: no transducer has
// features that small, and far below it the corners of a sub-element melt into one in double
// precision (a width of 1e-300 m gave infinite slopes).
void check_sub_size(double size, int32_t parts, const char* what) {
  constexpr double least = 1e-9;  // [m]
  if (size == 0.0 || size / parts >= least) return;
  throw command_error(format_text(
      "Error: %s (%g m) in %d sub-element%s gives sub-elements of %g m; a size that is not 0 "
      "must give sub-elements of at least %g m",
      what, size, parts, parts == 1 ? "" : "s", size / parts, least));
}

// The widths and heights of an array's sub-elements: width / sub_x, and each of the rows'
// heights / sub_y.
void check_sub_sizes(double width, int32_t sub_x, const double* heights, int32_t rows,
                     int32_t sub_y) {
  check_sub_size(width, sub_x, "The element width");
  for (int32_t j = 0; j < rows; ++j)
    check_sub_size(heights[j], sub_y, rows == 1 ? "The element height" : "A row height");
}

// The row heights of a multi-row array: ny sizes.
const double* read_row_heights(const mxArray* a, int32_t ny) {
  const double* h = read_vector(a, static_cast<size_t>(ny), "The row heights", "row");
  for (int32_t j = 0; j < ny; ++j)
    if (!(h[j] >= 0.0))
      throw command_error(format_text(
          "Error: The row heights must not be negative (sizes in metres), but value %d is %g",
          j + 1, h[j]));
  for (int32_t j = 0; j < ny; ++j)
    require_length(h[j], "The row heights", static_cast<size_t>(j) + 1);
  return h;
}
}  // namespace

void check_sizes(int64_t elements, int32_t sub_x, int32_t sub_y) {
  const int64_t limit = std::numeric_limits<int32_t>::max();
  if (elements > limit || int64_t{sub_x} * sub_y > limit || elements * sub_x * sub_y > limit)
    throw command_error(
        "Error: Too many elements or sub-elements requested: the counts exceed 2^31 - 1");
  check_records(elements, elements * sub_x * sub_y);
}

namespace {
// The arc and cylinder constructions take asin(length / radius): a radius of 0, or a length
// beyond the radius, has no angle and would leave every corner NaN.
void check_radius(double radius, const char* what) {
  if (radius == 0.0) throw command_error(format_text("Error: %s must not be 0", what));
}

void check_on_arc(double length, double radius, const char* what, const char* radius_what) {
  if (!(std::fabs(length) <= std::fabs(radius)))
    throw command_error(
        format_text("Error: %s (%g m) is larger than %s (%g m), so it has no angle on the arc",
                    what, length, radius_what, radius));
}

void check_elevation(double height, double rf) {
  check_radius(rf, "The elevation focus radius");
  if (!(std::fabs(height) <= 2.0 * std::fabs(rf)))
    throw command_error(format_text(
        "Error: The element height (%g m) is larger than twice the elevation focus radius (%g m), "
        "so it does not fit on the focusing cylinder",
        height, rf));
}

// Every row edge must lie within the elevation focus radius of the centre line.
void check_rows_elevation(int32_t rows, const double* heights, double kerf_y, double rf) {
  check_radius(rf, "The elevation focus radius");
  double total;
  const std::vector<double> yc = row_centres(rows, heights, kerf_y, total);
  double reach = std::fabs(total) * 0.5;
  for (int32_t j = 0; j < rows; ++j)
    reach = std::fmax(reach, std::fabs(yc[static_cast<size_t>(j)]) + std::fabs(heights[j]) * 0.5);
  // The total must fit exactly (asin); the edges, summed row by row, may pass it by rounding.
  if (!(std::fabs(total) <= 2.0 * std::fabs(rf) && reach <= std::fabs(rf) * (1.0 + 1e-12)))
    throw command_error(format_text(
        "Error: The rows reach %g m from the centre line in elevation, farther than the elevation "
        "focus radius (%g m), so they do not fit on the focusing cylinder",
        reach, rf));
}

void check_convex(double width, double kerf, double rc) {
  check_radius(rc, "The convex radius");
  check_on_arc(width, rc, "The element width", "the convex radius");
  check_on_arc(kerf, rc, "The kerf", "the convex radius");
}
}  // namespace

void check_records(int64_t elements, int64_t rectangles) {
  // Each physical element: its record, the heap block of its rectangles, and its entries in the
  // focus and apodization time lines.
  constexpr double element_bytes = sizeof(phys_element) + 16 + 2 * sizeof(double);
  const double bytes = static_cast<double>(rectangles) * sizeof(rect_element) +
                       static_cast<double>(elements) * element_bytes;
  const memory_limit most = result_memory();
  if (bytes > static_cast<double>(most.bytes))
    throw command_error(format_text(
        "Error: Too many elements or sub-elements requested: %lld elements of %lld rectangles in "
        "all take %.0f bytes, more than the %llu %s",
        static_cast<long long>(elements), static_cast<long long>(rectangles), bytes,
        static_cast<unsigned long long>(most.bytes), most.what));
}

namespace {
// The conversion the options ask for, with the warnings of the single-element transducers
// unless the system is quiet.
void convert_new_aperture(const sys_con& sys, aperture_rec& ap, aperture_origin origin) {
  if (origin == aperture_origin::user_elements) return;
  const char* kind = origin == aperture_origin::piston    ? "piston"
                     : origin == aperture_origin::concave ? "concave"
                                                          : nullptr;
  const bool warn = kind && !sys.quiet;
  if (sys.use_triangles) {
    convert_to_triangles(ap);
    if (warn) {
      host_printf("Warning: Triangles are currently not fully supported for %s apertures.\n", kind);
      host_printf("         Some approximation in the responses might occur.\n");
    }
  }
  if (sys.use_lines) {
    convert_to_lines(ap);
    if (warn) {
      host_printf("Warning: Lines are currently not fully supported for %s apertures.\n", kind);
      host_printf("         Some approximation in the responses %s occur.\n",
                  origin == aperture_origin::concave ? "will" : "might");
    }
  }
}
}  // namespace

void return_handle(sys_con& sys, const command_args& args, aperture_ptr ap,
                   aperture_origin origin) {
  convert_new_aperture(sys, *ap, origin);
  mxArray* result = host_new_matrix(1, 1);
  args.plhs[0] = result;
  host_matrix_values(result)[0] = register_aperture(sys, std::move(ap));
}

namespace {

// A pulse: a row of n >= 1 finite samples. A column or a matrix is refused: its first row alone
// would be taken as the pulse.
signal_ptr read_pulse(sys_con& sys, const mxArray* a, const char* what) {
  require_double_matrix(a, what);
  if (host_rows(a) != 1 || host_cols(a) == 0)
    throw command_error(
        format_text("Error: %s must be a row of samples (1 x n, n at least 1), but is a %zu x "
                    "%zu matrix",
                    what, host_rows(a), host_cols(a)));
  const size_t n = host_cols(a);
  const double* v = host_values(a);
  for (size_t k = 0; k < n; ++k) {
    require_finite(v[k], what, k + 1);
    require_weight(v[k], what, k + 1);
  }
  if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw command_error(format_text("Error: %s has too many samples", what));
  signal_ptr s = alloc_signal(sys, static_cast<int32_t>(n), 0);
  for (size_t k = 0; k < n; ++k) s->data[k] = v[k];
  return s;
}

// The aperture, its element numbers (1-based, rounded) and their rows of m values, for the
// element settings.
struct element_rows {
  aperture_rec& ap;
  std::vector<int32_t> numbers;
  int32_t m;
  std::vector<std::vector<double>> rows;
};

// Every value of a table of weights (apodizations, waveforms) within most_weight.
void require_weights(const std::vector<std::vector<double>>& rows, const char* what) {
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t c = 0; c < rows[i].size(); ++c)
      if (!(std::fabs(rows[i][c]) <= most_weight))
        throw command_error(format_text(
            "Error: %s must hold values within +-%g (larger values overflow a calculation), but "
            "row %zu, column %zu is %g",
            what, most_weight, i + 1, c + 1, rows[i][c]));
}

element_rows read_element_rows(sys_con& sys, const command_args& args, bool weights) {
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  std::vector<int32_t> numbers;
  for (double x : read_column(args.arg(3), "The element number vector"))
    numbers.push_back(round_whole(x, "Each element number"));
  require_double_matrix(args.arg(4), "The value table");
  const size_t cols = host_cols(args.arg(4));
  if (cols > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw command_error("Error: The value table has too many columns");
  // Without columns too the table has one (empty) row per element number.
  std::vector<std::vector<double>> rows =
      read_rows(args.arg(4), numbers.size(), cols, "The value table", "element number");
  if (weights) require_weights(rows, "The value table");
  return {ap, std::move(numbers), static_cast<int32_t>(cols), std::move(rows)};
}

// Times (a column of n values) and an n-row table with one column per physical element.
void read_time_table(const aperture_rec& ap, const command_args& args, const char* mismatch,
                     const char* table_name, bool weights, std::vector<double>& times,
                     std::vector<std::vector<double>>& rows) {
  times = read_column(args.arg(3), "The time vector");
  require_double_matrix(args.arg(4), table_name);
  if (host_cols(args.arg(4)) != static_cast<size_t>(ap.no_phys_elements))
    throw command_error(mismatch);
  rows = read_rows(args.arg(4), times.size(), host_cols(args.arg(4)), table_name, "time");
  if (weights) require_weights(rows, table_name);
}
}  // namespace

int32_t register_aperture(sys_con& sys, aperture_ptr ap) {
  for (size_t h = 0; h < sys.apertures.size(); ++h) {
    if (!sys.apertures[h]) {
      sys.apertures[h] = std::move(ap);
      return static_cast<int32_t>(h);
    }
  }
  sys.apertures.push_back(std::move(ap));
  sys.no_apertures = static_cast<int32_t>(sys.apertures.size());
  return sys.no_apertures - 1;
}

int32_t handle_index(double handle) {
  const int32_t h = round_whole(handle, "The aperture handle");
  // A handle comes back as the constructor gave it, or from arithmetic that rounds by far less
  // than this; 1.5 or 0.4 is no handle, and rounding it would reach another aperture.
  if (!(std::fabs(handle - h) <= 1e-9 * std::fmax(1.0, std::fabs(handle))))
    throw command_error(format_text(
        "Error: The aperture handle must be a whole number (as its constructor returned it), but "
        "is %.15g",
        handle));
  return h;
}

size_t lookup_slot(sys_con& sys, double handle) {
  const int32_t h = handle_index(handle);
  if (h < 0 || h >= sys.no_apertures)
    throw command_error("Orvel error: This aperture has not been defined");
  if (!sys.apertures[static_cast<size_t>(h)])
    throw command_error("Orvel error: This aperture has been freed and is not defined");
  return static_cast<size_t>(h);
}

aperture_rec& lookup_aperture(sys_con& sys, double handle) {
  return *sys.apertures[lookup_slot(sys, handle)];
}

aperture_rec& lookup_aperture(sys_con& sys, const mxArray* handle) {
  return lookup_aperture(sys, read_number(handle, "The aperture handle"));
}

void cmd_linear_array(sys_con& sys, const command_args& args) {
  open_command(sys, args, 8, "Defining new transducer. Calling xdc_linear_array",
               "Internal Error 5: Too few parameters to define linear array transducer");
  const int32_t n = read_count(args.arg(2), "The number of elements");
  const double width = read_size(args.arg(3), "The element width");
  const double height = read_size(args.arg(4), "The element height");
  const double kerf = read_size(args.arg(5), "The kerf");
  const int32_t sub_x = read_count(args.arg(6), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(7), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(8), "The focus point"));
  check_sizes(n, sub_x, sub_y);
  check_sub_sizes(width, sub_x, &height, 1, sub_y);
  return_handle(sys, args, xdc_linear_array(sys, n, width, height, kerf, sub_x, sub_y, focus));
}

void cmd_2d_array(sys_con& sys, const command_args& args) {
  open_command(sys, args, 11, "Defining new transducer. Calling xdc_2d_array",
               "Internal Error 5: Too few parameters to define 2d array transducer");
  const int32_t nx = read_count(args.arg(2), "The number of elements in x");
  const int32_t ny = read_count(args.arg(3), "The number of elements in y");
  const double width = read_size(args.arg(4), "The element width");
  const double height = read_size(args.arg(5), "The element height");
  const double kerf_x = read_size(args.arg(6), "The kerf in x");
  const double kerf_y = read_size(args.arg(7), "The kerf in y");
  check_sizes(int64_t{nx} * ny, 1, 1);
  const size_t positions = static_cast<size_t>(nx) * static_cast<size_t>(ny);
  const std::vector<std::vector<double>> table =
      read_rows(args.arg(8), static_cast<size_t>(nx), static_cast<size_t>(ny), "The enabled table",
                "position along x");
  const int32_t sub_x = read_count(args.arg(9), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(10), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(11), "The focus point"));
  check_sizes(int64_t{nx} * ny, sub_x, sub_y);
  check_sub_sizes(width, sub_x, &height, 1, sub_y);
  std::vector<int16_t> enabled(positions);
  for (size_t k = 0; k < positions; ++k)
    enabled[k] = table[k % static_cast<size_t>(nx)][k / static_cast<size_t>(nx)] > 0.5 ? 1 : 0;
  return_handle(
      sys, args,
      xdc_2d_array(sys, nx, ny, width, height, kerf_x, kerf_y, enabled, sub_x, sub_y, focus));
}

void cmd_focused_array(sys_con& sys, const command_args& args) {
  open_command(sys, args, 9, "Defining new transducer. Calling xdc_focused_array",
               "Internal Error 5: Too few parameters to define focused array transducer");
  const int32_t n = read_count(args.arg(2), "The number of elements");
  const double width = read_size(args.arg(3), "The element width");
  const double height = read_size(args.arg(4), "The element height");
  const double kerf = read_size(args.arg(5), "The kerf");
  const double rf = read_radius(args.arg(6), "The elevation focus radius");
  const int32_t sub_x = read_count(args.arg(7), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(8), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(9), "The focus point"));
  check_sizes(n, sub_x, sub_y);
  check_sub_sizes(width, sub_x, &height, 1, sub_y);
  check_elevation(height, rf);
  return_handle(sys, args, xdc_focused_array(sys, n, width, height, kerf, rf, sub_x, sub_y, focus));
}

void cmd_linear_multirow(sys_con& sys, const command_args& args) {
  open_command(sys, args, 10, "Defining new transducer. Calling xdc_linear_multirow",
               "Internal Error 5: Too few parameters to define linear multi-row array transducer");
  const int32_t nx = read_count(args.arg(2), "The number of elements in x");
  const double width = read_size(args.arg(3), "The element width");
  const int32_t ny = read_count(args.arg(4), "The number of rows");
  const double* heights = read_row_heights(args.arg(5), ny);
  const double kerf_x = read_size(args.arg(6), "The kerf in x");
  const double kerf_y = read_size(args.arg(7), "The kerf in y");
  const int32_t sub_x = read_count(args.arg(8), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(9), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(10), "The focus point"));
  check_sizes(int64_t{nx} * ny, sub_x, sub_y);
  check_sub_sizes(width, sub_x, heights, ny, sub_y);
  return_handle(
      sys, args,
      xdc_linear_multirow(sys, nx, width, ny, heights, kerf_x, kerf_y, sub_x, sub_y, focus));
}

void cmd_focused_multirow(sys_con& sys, const command_args& args) {
  open_command(sys, args, 11, "Defining new transducer. Calling xdc_focused_multirow",
               "Internal Error 5: Too few parameters to define linear multi-row, elevation "
               "focused array transducer");
  const int32_t nx = read_count(args.arg(2), "The number of elements in x");
  const double width = read_size(args.arg(3), "The element width");
  const int32_t ny = read_count(args.arg(4), "The number of rows");
  const double* heights = read_row_heights(args.arg(5), ny);
  const double kerf_x = read_size(args.arg(6), "The kerf in x");
  const double kerf_y = read_size(args.arg(7), "The kerf in y");
  const double rf = read_radius(args.arg(8), "The elevation focus radius");
  const int32_t sub_x = read_count(args.arg(9), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(10), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(11), "The focus point"));
  check_sizes(int64_t{nx} * ny, sub_x, sub_y);
  check_sub_sizes(width, sub_x, heights, ny, sub_y);
  check_rows_elevation(ny, heights, kerf_y, rf);
  return_handle(
      sys, args,
      xdc_focused_multirow(sys, nx, width, ny, heights, kerf_x, kerf_y, rf, sub_x, sub_y, focus));
}

void cmd_free(sys_con& sys, const command_args& args) {
  open_command(sys, args, 2, "Freeing aperture. Calling xdc_free",
               "Internal Error 5: Too few parameters to free_memory aperture");
  const size_t slot = lookup_slot(sys, read_number(args.arg(2), "The aperture handle"));
  free_aperture(sys, sys.apertures[slot]);  // the slot stays, empty, for the next aperture
}

void cmd_impulse(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Setting impulse response for aperture. Calling xdc_impulse",
               "Internal Error 5: Too few parameters to set aperture impulse response");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  xdc_impulse(sys, ap, read_pulse(sys, args.arg(3), "The impulse response"));
}

void cmd_excitation(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Setting excitation for aperture. Calling xdc_excitation",
               "Internal Error 5: Too few parameters to set aperture excitation pulse");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  xdc_excitation(sys, ap, read_pulse(sys, args.arg(3), "The excitation"));
}

void cmd_focus(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Setting focus time line. Calling xdc_focus",
               "Internal Error 5: Too few parameters to set focus time line");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const std::vector<double> times = read_column(args.arg(3), "The time vector");
  const std::vector<std::vector<double>> rows =
      read_rows(args.arg(4), times.size(), 3, "The focus point table", "time");
  std::vector<point3> points;
  for (const auto& r : rows) {
    for (double v : r) require_length(v, "The focus point table");
    points.push_back({r[0], r[1], r[2]});
  }
  xdc_focus(sys, ap, times, points);
}

void cmd_focus_delays(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Setting focus time line. Calling xdc_focus",
               "Internal Error 5: Too few parameters to set focus time line");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  std::vector<double> times;
  std::vector<std::vector<double>> rows;
  read_time_table(ap, args,
                  "Error: Delay mxArray must have one column for each physical aperture element",
                  "The delay table", false, times, rows);
  xdc_focus_delays(sys, ap, times, std::move(rows));
}

void cmd_dynamic_focusing(sys_con& sys, const command_args& args) {
  open_command(sys, args, 5, "Setting dynamic focus time line. Calling xdc_dynamic_focusing",
               "Internal Error 5: Too few parameters to set dynamic focus time line");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  const double time = read_number(args.arg(3), "The time");
  const double angle_xz = read_number(args.arg(4), "The angle in the x-z plane");
  const double angle_yz = read_number(args.arg(5), "The angle in the y-z plane");
  xdc_dynamic_focusing(sys, ap, time, angle_xz, angle_yz);
}

void cmd_center_focus(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Setting focus center point. Calling xdc_center_focus",
               "Internal Error 5: Too few parameters to set focus center point");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  xdc_center_focus(sys, ap, to_point(read_point(args.arg(3), "The reference point")));
}

void cmd_quantization(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Setting quantization for aperture",
               "Internal Error 5: Too few parameters to set quantization of delays");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  xdc_quantization(ap, read_number(args.arg(3), "The quantization step"));
  host_printf("Warning: Remember to set the focus time line for this aperture\n");
}

void cmd_baffle(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Setting baffle condition for aperture",
               "Internal Error 5: Too few parameters to set baffle condition for aperture");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  xdc_baffle(ap, read_whole(args.arg(3), "The baffle flag") != 0);
}

void cmd_apodization(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Setting apodization time line. Calling xdc_apodization",
               "Internal Error 5: Too few parameters to set apodization time line");
  aperture_rec& ap = lookup_aperture(sys, args.arg(2));
  std::vector<double> times;
  std::vector<std::vector<double>> rows;
  read_time_table(
      ap, args,
      "Error: Apodization mxArray must have one column for each physical aperture element",
      "The apodization table", true, times, rows);
  xdc_apodization(sys, ap, times, std::move(rows));
}

void cmd_ele_apodization(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4,
               "Setting apodization for mathematical elements. Calling ele_apodization",
               "Internal Error 5: Too few parameters to set apodization for mathematical elements");
  const element_rows r = read_element_rows(sys, args, true);
  ele_apodization(r.ap, r.numbers, r.m, r.rows);
}

void cmd_ele_delay(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Setting delay values for mathematical elements. Calling ele_delay",
               "Internal Error 5: Too few parameters to set delay for mathematical elements");
  const element_rows r = read_element_rows(sys, args, false);
  ele_delay(r.ap, r.numbers, r.m, r.rows);
}

void cmd_ele_waveform(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Setting waveform for physical elements. Calling ele_waveform",
               "Internal Error 5: Too few parameters to set waveform for physical elements");
  const element_rows r = read_element_rows(sys, args, true);
  ele_waveform(sys, r.ap, r.numbers, r.m, r.rows);
}

void cmd_convex_array(sys_con& sys, const command_args& args) {
  open_command(sys, args, 9, "Defining new transducer. Calling xdc_convex_array",
               "Internal Error 5: Too few parameters to define convex array transducer");
  const int32_t n = read_count(args.arg(2), "The number of elements");
  const double width = read_size(args.arg(3), "The element width");
  const double height = read_size(args.arg(4), "The element height");
  const double kerf = read_size(args.arg(5), "The kerf");
  const double rc = read_radius(args.arg(6), "The convex radius");
  const int32_t sub_x = read_count(args.arg(7), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(8), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(9), "The focus point"));
  check_sizes(n, sub_x, sub_y);
  check_sub_sizes(width, sub_x, &height, 1, sub_y);
  check_convex(width, kerf, rc);
  return_handle(sys, args, xdc_convex_array(sys, n, width, height, kerf, rc, sub_x, sub_y, focus));
}

void cmd_convex_focused_array(sys_con& sys, const command_args& args) {
  open_command(sys, args, 10, "Defining new transducer. Calling xdc_convex_focused_array",
               "Internal Error 5: Too few parameters to define convex focused array transducer");
  const int32_t n = read_count(args.arg(2), "The number of elements");
  const double width = read_size(args.arg(3), "The element width");
  const double height = read_size(args.arg(4), "The element height");
  const double kerf = read_size(args.arg(5), "The kerf");
  const double rc = read_radius(args.arg(6), "The convex radius");
  const double rf = read_radius(args.arg(7), "The elevation focus radius");
  const int32_t sub_x = read_count(args.arg(8), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(9), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(10), "The focus point"));
  check_sizes(n, sub_x, sub_y);
  check_sub_sizes(width, sub_x, &height, 1, sub_y);
  check_convex(width, kerf, rc);
  check_elevation(height, rf);
  return_handle(sys, args,
                xdc_convex_focused_array(sys, n, width, height, kerf, rc, rf, sub_x, sub_y, focus));
}

void cmd_convex_focused_multirow(sys_con& sys, const command_args& args) {
  open_command(sys, args, 12, "Defining new transducer. Calling xdc_convex_focused_multirow",
               "Internal Error 5: Too few parameters to define convex, multi-row, elevation "
               "focused array transducer");
  const int32_t nx = read_count(args.arg(2), "The number of elements in x");
  const double width = read_size(args.arg(3), "The element width");
  const int32_t ny = read_count(args.arg(4), "The number of rows");
  const double* heights = read_row_heights(args.arg(5), ny);
  const double kerf_x = read_size(args.arg(6), "The kerf in x");
  const double kerf_y = read_size(args.arg(7), "The kerf in y");
  const double rc = read_radius(args.arg(8), "The convex radius");
  const double rf = read_radius(args.arg(9), "The elevation focus radius");
  const int32_t sub_x = read_count(args.arg(10), "The number of sub-divisions in x");
  const int32_t sub_y = read_count(args.arg(11), "The number of sub-divisions in y");
  const point3 focus = to_point(read_point(args.arg(12), "The focus point"));
  check_sizes(int64_t{nx} * ny, sub_x, sub_y);
  check_sub_sizes(width, sub_x, heights, ny, sub_y);
  check_convex(width, kerf_x, rc);
  check_rows_elevation(ny, heights, kerf_y, rf);
  return_handle(sys, args,
                xdc_convex_focused_multirow(sys, nx, width, ny, heights, kerf_x, kerf_y, rc, rf,
                                            sub_x, sub_y, focus));
}

namespace {
// A length that must be positive and finite.
double read_length(const mxArray* a, const char* what) {
  const double v = read_number(a, what);
  if (!(v > 0.0 && v <= std::numeric_limits<double>::max()))
    throw command_error(format_text("Error: %s must be a positive length, but is %g", what, v));
  require_length(v, what);
  return v;
}

// The squares of the circle filling must be countable in the 32-bit counts of the records.
void check_circle(double radius, double square_size) {
  if (!(circle_capacity(radius, square_size) <= std::numeric_limits<int32_t>::max()))
    throw command_error(
        "Error: The radius is too large for the square size: more than 2^31 - 1 squares would "
        "be needed");
  check_records(1, static_cast<int64_t>(circle_capacity(radius, square_size)));
}
}  // namespace

void cmd_piston(sys_con& sys, const command_args& args) {
  open_command(sys, args, 3, "Defining new transducer. Calling xdc_piston",
               "Internal Error 5: Too few parameters to define piston transducer");
  const double radius = read_length(args.arg(2), "The radius");
  const double size = read_length(args.arg(3), "The square size");
  check_circle(radius, size);
  return_handle(sys, args, xdc_piston(sys, radius, size), aperture_origin::piston);
}

void cmd_concave(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Defining new transducer. Calling xdc_concave",
               "Internal Error 5: Too few parameters to define concave transducer");
  const double radius = read_length(args.arg(2), "The radius");
  const double focal_radius = read_length(args.arg(3), "The focal radius");
  const double size = read_length(args.arg(4), "The square size");
  check_circle(radius, size);
  if (!concave_fits(radius, focal_radius, size))
    throw command_error(
        "Error: The focal radius does not fit the radius and square size: the corners of the "
        "outer squares would lie off its sphere");
  return_handle(sys, args, xdc_concave(sys, radius, focal_radius, size), aperture_origin::concave);
}

namespace {
// A table the constructor reads in place: at least one row, min_cols columns, finite values.
table_view read_table(const mxArray* a, size_t min_cols, const char* what) {
  require_double_matrix(a, what);
  const size_t rows = host_rows(a), cols = host_cols(a);
  if (rows == 0 || cols == 0)
    throw command_error(format_text("Error: %s is empty; a value is needed", what));
  if (cols < min_cols)
    throw command_error(
        format_text("Error: %s must have at least %zu columns, but has %zu", what, min_cols, cols));
  if (rows > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw command_error(format_text("Error: %s has more than 2^31 - 1 rows", what));
  const double* v = host_values(a);
  for (size_t k = 0; k < rows * cols; ++k)
    if (!std::isfinite(v[k]))
      throw command_error(
          format_text("Error: %s must hold finite values, but row %zu, column %zu "
                      "is %g",
                      what, k % rows + 1, k / rows + 1, v[k]));
  return {v, rows};
}

void check_weight_column(const table_view& t, size_t col, const char* what) {
  for (size_t k = 0; k < t.rows; ++k) require_weight(t.at(k, col), what, k + 1);
}

// Coordinates and sizes in columns first .. last (0-based) within most_length.
void check_length_columns(const table_view& t, size_t first, size_t last, const char* what) {
  for (size_t col = first; col <= last; ++col)
    for (size_t k = 0; k < t.rows; ++k)
      if (!(std::fabs(t.at(k, col)) <= most_length))
        throw command_error(
            format_text("Error: %s must hold lengths within +-%g m, but row %zu, column %zu is %g",
                        what, most_length, k + 1, col + 1, t.at(k, col)));
}

// Element numbers from 1 up that never decrease from first to end in column col, so that the
// rows of one element follow each other and no element is named by two runs.
void check_numbers(const table_view& t, size_t col, size_t first, size_t end, const char* what) {
  double previous = 1.0;
  for (size_t k = first; k < end; ++k) {
    const double v = t.at(k, col);
    if (!(v >= previous && v <= std::numeric_limits<int32_t>::max() && v == std::floor(v)))
      throw command_error(
          format_text("Error: %s must be whole numbers from 1 up that never "
                      "decrease, but row %zu holds %g",
                      what, k + 1, v));
    previous = v;
  }
}

// The physical element numbers of column 1 of a user table; gives the number of physical
// elements, the last row's number.
int32_t check_element_numbers(const table_view& t, const char* what) {
  check_numbers(t, 0, 0, t.rows, what);
  return static_cast<int32_t>(t.at(t.rows - 1, 0));
}

// The centre table: x, y, z for each of the n physical elements.
table_view read_centres(const mxArray* a, int32_t n) {
  const table_view t = read_table(a, 3, "The centre table");
  check_length_columns(t, 0, 2, "The centre table");
  if (t.rows < static_cast<size_t>(n))
    throw command_error(format_text(
        "Error: The centre table must have a row for each of the %d physical elements, but has "
        "%zu",
        n, t.rows));
  return t;
}

// A line table: line element numbers that never decrease within each physical element, no more
// line elements in all than the 32-bit counts hold, and vertical flags and inside sides that
// round to 16-bit values.
void check_line_table(const table_view& t) {
  const double limit = std::numeric_limits<int32_t>::max();
  double line_elems = 0.0;
  size_t k = 0;
  while (k < t.rows) {
    size_t end = k + 1;
    while (end < t.rows && t.at(end, 0) == t.at(k, 0)) ++end;
    check_numbers(t, 1, k, end, "The line element numbers of the line table (column 2)");
    line_elems += t.at(end - 1, 1);
    k = end;
  }
  if (!(line_elems <= limit))
    throw command_error("Error: The line table names more than 2^31 - 1 line elements in all");
  for (size_t row = 0; row < t.rows; ++row) {
    for (size_t col : {3, 5}) {
      const double r = std::floor(t.at(row, col) + 0.5);
      if (!(r >= std::numeric_limits<int16_t>::min() && r <= std::numeric_limits<int16_t>::max()))
        throw command_error(format_text(
            "Error: The vertical flags and inside sides of the line table (columns 4 and 6) must "
            "be finite and within the 16-bit range, but row %zu holds %g",
            row + 1, t.at(row, col)));
    }
  }
}
}  // namespace

void cmd_triangles_old(sys_con& sys, const command_args& args) {
  open_command(sys, args, 5, "Defining new transducer. Calling xdc_triangles_old",
               "Internal Error 5: Too few parameters to define aperture with triangles");
  const table_view tris = read_table(args.arg(2), 9, "The triangle table");
  check_length_columns(tris, 0, 8, "The triangle table");
  const double* apod = read_vector(args.arg(3), tris.rows, "The triangle apodization", "triangle");
  for (size_t k = 0; k < tris.rows; ++k) require_weight(apod[k], "The triangle apodization", k + 1);
  const point3 center = to_point(read_point(args.arg(4), "The element centre"));
  const double element_apod = read_number(args.arg(5), "The element apodization");
  require_weight(element_apod, "The element apodization");
  return_handle(sys, args, xdc_triangles_old(sys, tris, apod, center, element_apod),
                aperture_origin::user_elements);
}

void cmd_rectangles(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Defining new transducer. Calling xdc_rectangles",
               "Internal Error 5: Too few parameters to define aperture with rectangles");
  const table_view rects = read_table(args.arg(2), 19, "The rectangle table");
  check_weight_column(rects, 13, "The apodizations of the rectangle table (column 14)");
  check_length_columns(rects, 1, 12, "The rectangle table");
  check_length_columns(rects, 14, 18, "The rectangle table");
  const int32_t n = check_element_numbers(
      rects, "The physical element numbers of the rectangle table (column 1)");
  const table_view centres = read_centres(args.arg(3), n);
  const point3 focus = to_point(read_point(args.arg(4), "The focus point"));
  return_handle(sys, args, xdc_rectangles(sys, rects, centres, focus), aperture_origin::array);
}

void cmd_line_elements(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Defining new transducer. Calling xdc_line_elements",
               "Internal Error 5: Too few parameters to define aperture with lines");
  const table_view lines = read_table(args.arg(2), 6, "The line table");
  check_length_columns(lines, 4, 4, "The line table");
  const int32_t n =
      check_element_numbers(lines, "The physical element numbers of the line table (column 1)");
  check_line_table(lines);
  const table_view centres = read_centres(args.arg(3), n);
  const point3 focus = to_point(read_point(args.arg(4), "The focus point"));
  return_handle(sys, args, xdc_line_elements(sys, lines, centres, focus),
                aperture_origin::user_elements);
}

void cmd_triangles(sys_con& sys, const command_args& args) {
  open_command(sys, args, 4, "Defining new transducer. Calling xdc_triangles",
               "Internal Error 5: Too few parameters to define aperture with triangles");
  const table_view tris = read_table(args.arg(2), 11, "The triangle table");
  check_weight_column(tris, 10, "The apodizations of the triangle table (column 11)");
  check_length_columns(tris, 1, 9, "The triangle table");
  const int32_t n =
      check_element_numbers(tris, "The physical element numbers of the triangle table (column 1)");
  const table_view centres = read_centres(args.arg(3), n);
  const point3 focus = to_point(read_point(args.arg(4), "The focus point"));
  return_handle(sys, args, xdc_triangles(sys, tris, centres, focus),
                aperture_origin::user_elements);
}
