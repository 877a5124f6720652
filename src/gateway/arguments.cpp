// The readers of host arguments. Each checks the class, the shape and every value (finite,
// within its range) before it returns anything, so a refusal happens before a command changes
// anything; each text names the argument, what was expected and what came.
#include "gateway/arguments.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/errors.h"

void require_double_matrix(const mxArray* a, const char* what) {
  if (!host_is_real_double(a))
    throw command_error(format_text(
        "Error: %s must be real double values (not text, logical, integer, single, complex or "
        "sparse data)",
        what));
}

void require_finite(double v, const char* what, size_t index) {
  if (std::isfinite(v)) return;
  if (index == 0) throw command_error(format_text("Error: %s must be finite, but is %g", what, v));
  throw command_error(
      format_text("Error: %s must hold finite values, but value %zu is %g", what, index, v));
}

namespace {
size_t value_count(const mxArray* a) { return host_rows(a) * host_cols(a); }

void require_finite_values(const double* v, size_t n, const char* what) {
  for (size_t i = 0; i < n; ++i) require_finite(v[i], what, i + 1);
}

[[noreturn]] void refuse_shape(const mxArray* a, const char* what, const char* expected) {
  throw command_error(format_text("Error: %s must be %s, but is a %zu x %zu matrix", what, expected,
                                  host_rows(a), host_cols(a)));
}
}  // namespace

int32_t round_whole(double x, const char* what) {
  const double r = std::floor(x + 0.5);
  if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
    throw command_error(format_text(
        "Error: %s must be a finite whole number within the 32-bit range, but is %.15g", what, x));
  return static_cast<int32_t>(r);
}

namespace {
// The value of a 1 x 1 real double matrix, finite or not.
double read_scalar(const mxArray* a, const char* what) {
  require_double_matrix(a, what);
  if (value_count(a) == 0)
    throw command_error(format_text("Error: %s is empty; a value is needed", what));
  if (host_rows(a) != 1 || host_cols(a) != 1) refuse_shape(a, what, "one number (1 x 1)");
  return host_values(a)[0];
}
}  // namespace

double read_number(const mxArray* a, const char* what) {
  const double v = read_scalar(a, what);
  require_finite(v, what);
  return v;
}

int32_t read_whole(const mxArray* a, const char* what) {
  return round_whole(read_scalar(a, what), what);  // refuses non-finite values itself
}

int16_t round_flag(double x, const char* what) {
  const double r = std::floor(x + 0.5);
  if (!(r >= std::numeric_limits<int16_t>::min() && r <= std::numeric_limits<int16_t>::max()))
    throw command_error(format_text(
        "Error: %s must be a whole number from -32768 to 32767 (0 is off, any other value on), "
        "but is %.15g",
        what, x));
  return static_cast<int16_t>(r);
}

int16_t read_flag(const mxArray* a, const char* what) {
  return round_flag(read_scalar(a, what), what);
}

void require_length(double v, const char* what, size_t index) {
  if (std::fabs(v) <= most_length) return;
  if (index == 0)
    throw command_error(
        format_text("Error: %s must lie within +-%g m, but is %g", what, most_length, v));
  throw command_error(format_text("Error: %s must hold lengths within +-%g m, but value %zu is %g",
                                  what, most_length, index, v));
}

void require_weight(double v, const char* what, size_t index) {
  if (std::fabs(v) <= most_weight) return;
  if (index == 0)
    throw command_error(format_text(
        "Error: %s must lie within +-%g (larger values overflow a calculation), but is %g", what,
        most_weight, v));
  throw command_error(format_text(
      "Error: %s must hold values within +-%g (larger values overflow a calculation), but value "
      "%zu is %g",
      what, most_weight, index, v));
}

void read_text(const mxArray* a, char* buf, size_t size, const char* what) {
  if (!host_is_text(a)) throw command_error(format_text("Error: %s must be given as text", what));
  if (host_rows(a) > 1) refuse_shape(a, what, "one row of text");
  if (value_count(a) >= size)
    throw command_error(format_text("Error: %s must be at most %zu characters long, but has %zu",
                                    what, size - 1, value_count(a)));
  host_text(a, buf, size);
  // The copy stops at a NUL character; a shorter copy than the text means one was embedded.
  if (std::strlen(buf) < value_count(a))
    throw command_error(
        format_text("Error: %s must not contain NUL characters, but character %zu is one", what,
                    std::strlen(buf) + 1));
}

point_value read_point(const mxArray* a, const char* what) {
  require_double_matrix(a, what);
  if (value_count(a) != 3 || (host_rows(a) != 1 && host_cols(a) != 1))
    refuse_shape(a, what, "one point [x y z] (3 values)");
  const double* v = host_values(a);
  require_finite_values(v, 3, what);
  for (size_t k = 0; k < 3; ++k) require_length(v[k], what, k + 1);
  return {v[0], v[1], v[2]};
}

std::vector<double> read_column(const mxArray* a, const char* what) {
  require_double_matrix(a, what);
  if (value_count(a) == 0)
    throw command_error(format_text("Error: %s is empty; a value is needed", what));
  if (host_cols(a) != 1) refuse_shape(a, what, "a column of values (n x 1)");
  const double* v = host_values(a);
  require_finite_values(v, host_rows(a), what);
  return std::vector<double>(v, v + host_rows(a));
}

std::vector<std::vector<double>> read_rows(const mxArray* a, size_t n, size_t cols,
                                           const char* what, const char* per_row) {
  require_double_matrix(a, what);
  // One row may come as a column too: with a single row the order of its values is the same.
  const bool one_row_as_column = n == 1 && host_cols(a) == 1 && host_rows(a) == cols;
  if ((host_rows(a) != n || host_cols(a) != cols) && !one_row_as_column)
    throw command_error(format_text(
        "Error: %s must be a %zu x %zu matrix (one row per %s), but is a %zu x %zu matrix", what, n,
        cols, per_row, host_rows(a), host_cols(a)));
  const double* v = host_values(a);
  require_finite_values(v, n * cols, what);
  std::vector<std::vector<double>> rows(n, std::vector<double>(cols));
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < cols; ++c) rows[i][c] = v[i + n * c];
  return rows;
}

const double* read_vector(const mxArray* a, size_t count, const char* what, const char* per_item) {
  require_double_matrix(a, what);
  const size_t n = value_count(a);
  if (n != count)
    throw command_error(format_text("Error: %s must hold %zu value%s (one per %s), but holds %zu",
                                    what, count, count == 1 ? "" : "s", per_item, n));
  if (n > 1 && host_rows(a) != 1 && host_cols(a) != 1)
    refuse_shape(a, what, "a row or column vector");
  const double* v = host_values(a);
  require_finite_values(v, n, what);
  return v;
}

int32_t read_count(const mxArray* a, const char* what) {
  const int32_t n = read_whole(a, what);
  if (n < 1) throw command_error(format_text("Error: %s must be at least 1, not %d", what, n));
  return n;
}
