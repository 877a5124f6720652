// The embedded host: a substitute for the MEX and MX libraries with matrices of doubles in
// column-major order, character arrays, a captured console, a record of evaluated commands, an
// unload hook and a Ctrl-C that tests post. Its error call throws embedded_host_error, which
// unwinds the running command.
#include "embedded_host.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>

struct mxArray_tag {
  embedded_class cls = embedded_class::double_class;
  bool complex = false;
  bool sparse = false;
  size_t rows = 0;
  size_t cols = 0;
  std::vector<double> real;  // rows * cols values, column-major; characters as their codes
  const double* view = nullptr;  // or the front end's own values, read in place
};

namespace {
std::string console;
std::vector<std::string> evaluations;
std::function<void(const std::string&)> evaluation_hook;  // host code run by an evaluation
std::function<void(const std::string&)> output_hook;      // where the console goes, if set
std::function<bool()> poll_hook;                          // a front end's Ctrl-C, if set
std::istringstream input;
void (*at_exit_routine)(void) = nullptr;
size_t live_arrays = 0;
size_t flushes = 0;
size_t polls = 0;            // polls for a Ctrl-C since the last take
size_t interrupt_after = 0;  // polls until the posted Ctrl-C is reported; 0: none posted
volatile std::sig_atomic_t interrupt_next = 0;  // a Ctrl-C posted for the next poll

mxArray* make(embedded_class cls, size_t rows, size_t cols) {
  auto* a = new mxArray_tag;
  a->cls = cls;
  a->rows = rows;
  a->cols = cols;
  a->real.assign(rows * cols, 0.0);
  ++live_arrays;
  return a;
}
}  // namespace

mxArray* embedded_matrix(size_t rows, size_t cols, const std::vector<double>& values) {
  mxArray* a = make(embedded_class::double_class, rows, cols);
  for (size_t i = 0; i < values.size() && i < a->real.size(); ++i) a->real[i] = values[i];
  return a;
}

mxArray* embedded_matrix_view(size_t rows, size_t cols, const double* values) {
  mxArray* a = make(embedded_class::double_class, 0, 0);
  a->rows = rows;
  a->cols = cols;
  a->view = values;
  return a;
}

mxArray* embedded_scalar(double value) { return embedded_matrix(1, 1, {value}); }

mxArray* embedded_text(const std::string& text) {
  mxArray* a = make(embedded_class::char_class, text.empty() ? 0 : 1, text.size());
  for (size_t i = 0; i < text.size(); ++i) a->real[i] = static_cast<unsigned char>(text[i]);
  return a;
}

mxArray* embedded_special(embedded_class cls, size_t rows, size_t cols, bool complex, bool sparse) {
  mxArray* a = make(cls, rows, cols);
  a->complex = complex;
  a->sparse = sparse;
  return a;
}

std::string embedded_console_take() {
  std::string text;
  text.swap(console);
  return text;
}

void embedded_on_evaluation(std::function<void(const std::string&)> hook) {
  evaluation_hook = std::move(hook);
}

void embedded_on_output(std::function<void(const std::string&)> hook) {
  output_hook = std::move(hook);
}

void embedded_on_poll(std::function<bool()> hook) { poll_hook = std::move(hook); }

std::vector<std::string> embedded_evaluations_take() {
  std::vector<std::string> list;
  list.swap(evaluations);
  return list;
}

void embedded_console_input(const std::string& text) {
  input.clear();
  input.str(text);
}

size_t embedded_live_arrays() { return live_arrays; }

size_t embedded_flushes_take() {
  size_t n = flushes;
  flushes = 0;
  return n;
}

void embedded_flush() { ++flushes; }

void embedded_interrupt_at_poll(size_t k) {
  interrupt_after = k;
  if (k == 0) interrupt_next = 0;
}

void embedded_interrupt_now() { interrupt_next = 1; }

size_t embedded_polls_take() {
  size_t n = polls;
  polls = 0;
  return n;
}

bool embedded_take_interrupt() {
  ++polls;
  if (interrupt_next) {
    interrupt_next = 0;
    return true;
  }
  if (poll_hook && poll_hook()) return true;
  if (interrupt_after == 0) return false;
  return --interrupt_after == 0;
}

void embedded_unload() {
  void (*routine)(void) = at_exit_routine;
  at_exit_routine = nullptr;
  if (routine) routine();
}

// Reads one word of the embedded console's input; used by the host layer's console read.
bool embedded_read_word(char* buf, size_t size) {
  std::string word;
  if (!(input >> word)) return false;
  std::snprintf(buf, size, "%s", word.c_str());
  return true;
}

extern "C" {
int mexPrintf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n > 0) {
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, ap);
    text.resize(static_cast<size_t>(n));
    if (output_hook)
      output_hook(text);
    else
      console += text;
  }
  va_end(ap);
  return n;
}

void mexErrMsgTxt(const char* text) { throw embedded_host_error(text); }

int mexEvalString(const char* command) {
  evaluations.emplace_back(command);
  if (evaluation_hook) evaluation_hook(command);
  return 0;
}

int mexAtExit(void (*routine)(void)) {
  at_exit_routine = routine;
  return 0;
}

double mxGetScalar(const mxArray* a) {
  if (a->view) return a->rows * a->cols > 0 ? a->view[0] : 0.0;
  return a->real.empty() ? 0.0 : a->real[0];
}
double* mxGetPr(const mxArray* a) { return const_cast<double*>(a->view ? a->view : a->real.data()); }
size_t mxGetM(const mxArray* a) { return a->rows; }
size_t mxGetN(const mxArray* a) { return a->cols; }

int mxGetString(const mxArray* a, char* buf, mwSize buflen) {
  if (buflen == 0) return 1;
  buf[0] = '\0';
  if (a->cls != embedded_class::char_class) return 1;
  size_t n = a->real.size() < buflen - 1 ? a->real.size() : buflen - 1;
  for (size_t i = 0; i < n; ++i) buf[i] = static_cast<char>(a->real[i]);
  buf[n] = '\0';
  return n < a->real.size() ? 1 : 0;
}

bool mxIsDouble(const mxArray* a) { return a->cls == embedded_class::double_class; }
bool mxIsComplex(const mxArray* a) { return a->complex; }
bool mxIsSparse(const mxArray* a) { return a->sparse; }
bool mxIsChar(const mxArray* a) { return a->cls == embedded_class::char_class; }

mxArray* mxCreateDoubleMatrix(mwSize rows, mwSize cols, mxComplexity complexity) {
  mxArray* a = make(embedded_class::double_class, rows, cols);
  a->complex = complexity == mxCOMPLEX;
  return a;
}

void mxDestroyArray(mxArray* a) {
  if (!a) return;
  --live_arrays;
  delete a;
}
}
