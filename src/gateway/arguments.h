// Reading host arguments into plain values. Every reader refuses what it cannot read safely
// with an "Error: ..." text naming the argument, before anything changes.
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

// The first element of a real, non-empty double matrix.
double read_number(const mxArray* a, const char* what);
// read_number rounded with round_whole.
int32_t read_whole(const mxArray* a, const char* what);
// read_whole cut to 16 bits, as the flags of the system hold it.
int16_t read_flag(const mxArray* a, const char* what);
// A character array as text of at most size - 1 characters.
void read_text(const mxArray* a, char* buf, size_t size, const char* what);

// A point: the first three values of a matrix of at least three (1 x 3 or 3 x 1 both serve).
struct point_value {
  double x, y, z;
};
point_value read_point(const mxArray* a, const char* what);

// The first n values, n being the row count: a column of times or element numbers. Refused
// when empty.
std::vector<double> read_column(const mxArray* a, const char* what);

// Rows 0..n-1 of an n-row table with cols columns, value (i, c) at i + n * c of the data;
// refused when the matrix holds fewer than n * cols values.
std::vector<std::vector<double>> read_rows(const mxArray* a, size_t n, size_t cols,
                                           const char* what);

// A real double matrix with at least count values (possibly none); returns its data.
const double* read_values(const mxArray* a, size_t count, const char* what);

// A whole number that must be at least 1 (an element or sub-element count).
int32_t read_count(const mxArray* a, const char* what);
