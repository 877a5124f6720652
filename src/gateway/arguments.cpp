#include "gateway/arguments.h"

#include <cmath>
#include <limits>

#include "core/errors.h"

namespace {}  // namespace

void require_double_matrix(const mxArray* a, const char* what) {
  if (!host_is_real_double(a))
    throw command_error(format_text(
        "Error: %s must be real double values (not text, logical, integer, single, complex or "
        "sparse data)",
        what));
}

namespace {
void require_real_double(const mxArray* a, const char* what) {
  require_double_matrix(a, what);
  if (host_rows(a) == 0 || host_cols(a) == 0)
    throw command_error(format_text("Error: %s is empty; a value is needed", what));
}
}  // namespace

int32_t round_whole(double x, const char* what) {
  const double r = std::floor(x + 0.5);
  if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
    throw command_error(
        format_text("Error: %s must be a finite whole number within the 32-bit range", what));
  return static_cast<int32_t>(r);
}

double read_number(const mxArray* a, const char* what) {
  require_real_double(a, what);
  return host_values(a)[0];
}

int32_t read_whole(const mxArray* a, const char* what) {
  return round_whole(read_number(a, what), what);
}

int16_t read_flag(const mxArray* a, const char* what) {
  return static_cast<int16_t>(read_whole(a, what));  // modular cut to 16 bits
}

void read_text(const mxArray* a, char* buf, size_t size, const char* what) {
  if (!host_is_text(a)) throw command_error(format_text("Error: %s must be given as text", what));
  host_text(a, buf, size);
}

namespace {
size_t value_count(const mxArray* a) { return host_rows(a) * host_cols(a); }
}  // namespace

point_value read_point(const mxArray* a, const char* what) {
  const double* v = read_values(a, 3, what);
  return {v[0], v[1], v[2]};
}

std::vector<double> read_column(const mxArray* a, const char* what) {
  require_real_double(a, what);
  const double* v = host_values(a);
  return std::vector<double>(v, v + host_rows(a));
}

std::vector<std::vector<double>> read_rows(const mxArray* a, size_t n, size_t cols,
                                           const char* what) {
  const double* v = read_values(a, n * cols, what);
  std::vector<std::vector<double>> rows(n, std::vector<double>(cols));
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < cols; ++c) rows[i][c] = v[i + n * c];
  return rows;
}

const double* read_values(const mxArray* a, size_t count, const char* what) {
  require_double_matrix(a, what);
  if (value_count(a) < count)
    throw command_error(format_text("Error: %s must hold at least %zu value%s, but holds %zu", what,
                                    count, count > 1 ? "s" : "", value_count(a)));
  return host_values(a);
}

int32_t read_count(const mxArray* a, const char* what) {
  const int32_t n = read_whole(a, what);
  if (n < 1) throw command_error(format_text("Error: %s must be at least 1, not %d", what, n));
  return n;
}
