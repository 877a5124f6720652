// Reading host arguments into plain values. Every reader refuses what it cannot read safely
// with an "Error: ..." text naming the argument, before anything changes.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The first element of a real, non-empty double matrix.
double read_number(const mxArray* a, const char* what);
// read_number rounded with round_whole.
int32_t read_whole(const mxArray* a, const char* what);
// read_whole cut to 16 bits, as the flags of the system hold it.
int16_t read_flag(const mxArray* a, const char* what);
// A character array as text of at most size - 1 characters.
void read_text(const mxArray* a, char* buf, size_t size, const char* what);
