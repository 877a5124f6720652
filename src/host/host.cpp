// The only file that calls the host's MEX and MX interface. Built against Octave's (or
// MATLAB's) mex.h for the module and against the embedded host for the tests.
#include "host.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console.h"
#include "core/errors.h"
#include "core/thread_pool.h"
#ifdef ORVEL_EMBEDDED_HOST
#include "embedded_host.h"
#endif

void host_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = format_text_v(fmt, ap);
  va_end(ap);
  if (defer_helper_text(text)) return;  // a helper thread never calls the host
  mexPrintf("%s", text.c_str());
}

void host_flush() {
  assert(!on_helper_thread());
#ifdef ORVEL_EMBEDDED_HOST
  embedded_flush();
#else
  std::fflush(stdout);
#endif
}

void host_eval(const char* command) {
  assert(!on_helper_thread());
  mexEvalString(command);
}

bool host_read_word(char* buf, size_t size) {
#ifdef ORVEL_EMBEDDED_HOST
  return embedded_read_word(buf, size);
#else
  if (size == 0) return false;
  int ch;
  do {
    ch = std::getchar();
  } while (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f');
  size_t n = 0;
  while (ch != EOF && ch != ' ' && ch != '\t' && ch != '\n' && ch != '\r' && ch != '\v' &&
         ch != '\f') {
    if (n + 1 < size) buf[n++] = static_cast<char>(ch);  // longer words are cut, not stored
    ch = std::getchar();
  }
  buf[n] = '\0';
  return n > 0;
#endif
}

size_t host_rows(const mxArray* a) { return mxGetM(a); }
size_t host_cols(const mxArray* a) { return mxGetN(a); }
const double* host_values(const mxArray* a) { return mxGetPr(a); }

bool host_is_real_double(const mxArray* a) {
  return mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

bool host_is_text(const mxArray* a) { return mxIsChar(a); }

void host_text(const mxArray* a, char* buf, size_t size) {
  if (size == 0) return;
  buf[0] = '\0';
  mxGetString(a, buf, size);  // a longer text is cut to size - 1 characters
  buf[size - 1] = '\0';
}

mxArray* host_new_matrix(size_t rows, size_t cols) {
  return mxCreateDoubleMatrix(rows, cols, mxREAL);
}

double* host_matrix_values(mxArray* a) { return mxGetPr(a); }

void host_error(const char* text) {
  mexErrMsgTxt(text);
  std::abort();  // not reached: the host's error call does not return
}

void host_at_exit(void (*routine)(void)) { mexAtExit(routine); }
