// The host's argument and result matrices and its error and unload calls, as the gateway uses
// them. Only the gateway includes this file; the core sees the console alone (console.h).
#pragma once

#include <cstddef>

#include "mex.h"  // the host's extension interface: Octave's, MATLAB's or the embedded host's

size_t host_rows(const mxArray* a);
size_t host_cols(const mxArray* a);
const double* host_values(const mxArray* a);  // column-major data of a real double matrix
bool host_is_real_double(const mxArray* a);   // double class, neither complex nor sparse
bool host_is_text(const mxArray* a);
// Copies a character array into buf as text of at most size - 1 characters, terminated.
void host_text(const mxArray* a, char* buf, size_t size);
// A new real matrix of zeros; the host owns it once it is in a result slot.
mxArray* host_new_matrix(size_t rows, size_t cols);
double* host_matrix_values(mxArray* a);

[[noreturn]] void host_error(const char* text);  // ends the command; never returns
// Once a command has ended and released everything: passes on an exit of the host that code
// the command ran asked for (Octave's exit inside a drawnow or orvel_logo of one's own); returns
// when there was none.
void host_pass_on_exit();
void host_at_exit(void (*routine)(void));
