#include "gateway/arguments.h"

#include <cmath>
#include <limits>

#include "host/errors.h"

namespace {
void require_real_double(const mxArray* a, const char* what) {
  if (!host_is_real_double(a))
    throw command_error(format_text(
        "Error: %s must be real double values (not text, logical, integer, single, complex or "
        "sparse data)",
        what));
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
