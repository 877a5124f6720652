// The only file that calls the host's MEX and MX interface. Built against Octave's (or
// MATLAB's) mex.h for the module and against the embedded host for the tests.
#include "host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

#include "console.h"
#include "core/check.h"
#include "core/errors.h"
#ifdef ORVEL_EMBEDDED_HOST
#include "embedded_host.h"
#elif defined(HAVE_OCTAVE)  // set by Octave's mex.h
#include "quit.h"           // octave_interrupt_state and the interrupt exception
#else
// MATLAB keeps the pending Ctrl-C in its library libut (link the module with -lut).
extern "C" bool utIsInterruptPending(void);
extern "C" bool utSetInterruptPending(bool pending);
#endif

namespace {
thread_local bool helper_thread = false;
std::mutex kept_lock;
std::string kept_text;  // printed by helper threads since the calling thread last printed it
}  // namespace

void host_mark_helper_thread() { helper_thread = true; }
bool host_on_helper_thread() { return helper_thread; }

void host_print_kept() {
  ORVEL_ASSERT(!helper_thread);
  std::string text;
  {
    std::lock_guard<std::mutex> hold(kept_lock);
    text.swap(kept_text);
  }
  if (!text.empty()) mexPrintf("%s", text.c_str());
}

void host_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = format_text_v(fmt, ap);
  va_end(ap);
  if (helper_thread) {  // a helper thread never calls the host
    std::lock_guard<std::mutex> hold(kept_lock);
    kept_text += text;
    return;
  }
  mexPrintf("%s", text.c_str());
}

void host_flush() {
  ORVEL_ASSERT(!helper_thread);
#ifdef ORVEL_EMBEDDED_HOST
  embedded_flush();
#else
  std::fflush(stdout);
#endif
}

#ifdef HAVE_OCTAVE
namespace {
// The exit that code run by a command asked of the host (exit in a drawnow.m of one's own): it
// waits here while the command stops and releases what it holds, then goes on to the host.
std::exception_ptr pending_exit;
}  // namespace
#endif

void host_eval(const char* command) {
  ORVEL_ASSERT(!helper_thread);
#ifdef HAVE_OCTAVE
  try {
    mexEvalString(command);
  } catch (const octave::exit_exception&) {
    pending_exit = std::current_exception();
    throw command_error(
        "Error: The host is exiting (host code that the command ran called exit); the command "
        "stopped");
  } catch (const octave::interrupt_exception&) {
    // A Ctrl-C pending when Octave runs the command ends it with this exception, which must not
    // unwind the module's frames. It is made pending again: for the running calculation to take
    // (host_take_interrupt), or for Octave to raise once the command is over.
    octave_interrupt_state = 1;
    octave_signal_caught = 1;
  }
#else
  mexEvalString(command);
#endif
}

bool host_take_interrupt() {
  ORVEL_ASSERT(!helper_thread);
#ifdef ORVEL_EMBEDDED_HOST
  return embedded_take_interrupt();
#elif defined(HAVE_OCTAVE)
  // Octave's handler of SIGINT counts the requests in octave_interrupt_state (> 0: pending) and
  // acts on them at its next check, after the command. Taken here, the command's own error is
  // what the user sees (and may catch), without a second interrupt after it.
  if (octave_interrupt_state <= 0) return false;
  octave_interrupt_state = 0;
  return true;
#else
  if (!utIsInterruptPending()) return false;
  utSetInterruptPending(false);
  return true;
#endif
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
  mxArray* m = nullptr;
  try {
    m = mxCreateDoubleMatrix(rows, cols, mxREAL);
  } catch (const std::bad_alloc&) {
  } catch (const std::runtime_error&) {
    // Octave's error call for storage it could not get; its text names the module, and the
    // error call at the boundary would name it again. (Its interrupt is no runtime_error.)
  }
  if (!m)  // MATLAB's documented answer to a failed allocation
    throw command_error(
        format_text("Error: Not enough memory for the result: %zu x %zu values (%.0f bytes)", rows,
                    cols, 8.0 * static_cast<double>(rows) * static_cast<double>(cols)));
  return m;
}

double* host_matrix_values(mxArray* a) { return mxGetPr(a); }

void host_pass_on_exit() {
#ifdef HAVE_OCTAVE
  if (!pending_exit) return;
  std::exception_ptr exit = pending_exit;
  pending_exit = nullptr;
  std::rethrow_exception(exit);  // to Octave, which ends the session with its status
#endif
}

void host_error(const char* text) {
  mexErrMsgTxt(text);
  std::abort();  // not reached: the host's error call does not return
}

void host_at_exit(void (*routine)(void)) { mexAtExit(routine); }
