// Reading host arguments into plain values. Every reader refuses what it cannot read safely
// with an "Error: ..." text naming the argument and saying what was expected and what came,
// before anything changes. Numbers must be finite wherever they are read: a NaN or an infinity
// is refused where it enters instead of surfacing later as a wrong result or a misleading error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/host.h"

// One call of the entry point. Arguments are numbered as in the command tables: argument 1 is
// the command code, argument 2 the command's first own argument.
struct command_args {
  int nlhs;
  mxArray** plhs;
  int nrhs;
  const mxArray** prhs;
  const mxArray* arg(int k) const { return prhs[k - 1]; }
};

// floor(x + 0.5) as a 32-bit integer; NaN, infinities and values outside the range are refused.
int32_t round_whole(double x, const char* what);

// Refuses what is not a real double matrix (text, complex, sparse, other classes); an empty
// matrix passes.
void require_double_matrix(const mxArray* a, const char* what);

// Refuses a value that is NaN or infinite; index is 1-based for the text (0: a single value).
void require_finite(double v, const char* what, size_t index = 0);

// One finite number: a 1 x 1 real double matrix (a larger matrix is refused, not cut to its
// first element).
double read_number(const mxArray* a, const char* what);
// read_number rounded with round_whole.
int32_t read_whole(const mxArray* a, const char* what);
// read_whole as a 16-bit flag, as the system holds its flags; a value outside the 16-bit range
// is refused (a cut to 16 bits would turn 65536 into 0, a flag set into one cleared).
int16_t read_flag(const mxArray* a, const char* what);
int16_t round_flag(double x, const char* what);
// A one-row character array without embedded NUL characters, of at most size - 1 characters
// (a longer one is refused, not cut).
void read_text(const mxArray* a, char* buf, size_t size, const char* what);

// A point of an aperture's geometry: exactly three finite values within most_length (1 x 3 or
// 3 x 1 both serve).
struct point_value {
  double x, y, z;
};
point_value read_point(const mxArray* a, const char* what);

// A column of n >= 1 finite values: times or element numbers. A row of more than one value is
// refused (its values would otherwise be taken as one).
std::vector<double> read_column(const mxArray* a, const char* what);

// An n x cols table of finite values, one row per entry of what the rows belong to (per_row,
// e.g. "time"): value (i, c) at i + n * c of the data. Any other shape is refused.
std::vector<std::vector<double>> read_rows(const mxArray* a, size_t n, size_t cols,
                                           const char* what, const char* per_row);

// A row or column vector of exactly count finite values, one per entry of per_item (an empty
// matrix when count is 0); returns its data.
const double* read_vector(const mxArray* a, size_t count, const char* what, const char* per_item);

// The largest magnitude of a weight: a pulse or waveform sample, an apodization, an amplitude.
// A pulse-echo signal multiplies six of them (excitation, two impulse responses, two
// apodizations, an amplitude) with responses of up to c and sums of many terms; with each
// below 1e30 the product stays far inside the double range (1.8e308), which larger weights
// would leave, giving Inf or NaN samples.
constexpr double most_weight = 1e30;
// Refuses a value beyond most_weight in magnitude (every value is finite by then); index as
// for require_finite.
void require_weight(double v, const char* what, size_t index = 0);

// The largest coordinate or size of an aperture's geometry [m]: a million kilometres, far beyond
// any ultrasound field (a focus "at infinity" fits well within it) and far inside the lengths
// whose squares stay finite (1e154 m); a corner or a focus at 1e300 m left infinite slopes and
// delays in the aperture.
constexpr double most_length = 1e9;
// Refuses a length beyond most_length in magnitude; index as for require_finite.
void require_length(double v, const char* what, size_t index = 0);

// A whole number that must be at least 1 (an element or sub-element count).
int32_t read_count(const mxArray* a, const char* what);
