// Controls of the embedded host, for the tests and for front ends built on it (the Python
// module): making host values, capturing or passing on the console, feeding the console's input,
// the record of evaluated host commands, the unload hook and Ctrl-C.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mex.h"

// Classes of host values that the embedded host can make; only double is numeric data the
// module accepts, the others exist so that refusals can be tested.
enum class embedded_class { double_class, char_class, logical_class, int32_class, single_class };

// Thrown by mexErrMsgTxt: the host's error call ends the running command.
struct embedded_host_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A real double matrix of rows x cols, filled column-major from values (zeros if shorter).
mxArray* embedded_matrix(size_t rows, size_t cols, const std::vector<double>& values = {});
// A real double matrix that reads rows * cols values at values in place, without a copy (the
// front end's arrays, which may be large). The values must outlive it; commands only read
// their arguments.
mxArray* embedded_matrix_view(size_t rows, size_t cols, const double* values);
mxArray* embedded_scalar(double value);
mxArray* embedded_text(const std::string& text);  // a 1 x n character array
// A matrix of another class, or complex or sparse double, for tests of refusals.
mxArray* embedded_special(embedded_class cls, size_t rows, size_t cols, bool complex = false,
                          bool sparse = false);

std::string embedded_console_take();                   // console text since the last take
std::vector<std::string> embedded_evaluations_take();  // commands evaluated since the last take
// Host code that an evaluation runs, such as a script that calls the module again (none: the
// evaluation is only recorded).
void embedded_on_evaluation(std::function<void(const std::string&)> hook);
// Where the console's text goes instead of the capture (none: captured for
// embedded_console_take), for a front end that shows it as it comes.
void embedded_on_output(std::function<void(const std::string&)> hook);
// A source of Ctrl-C that every poll also asks (none: only the posted ones), for a front end
// whose user can press it.
void embedded_on_poll(std::function<bool()> hook);
void embedded_console_input(const std::string& text);  // what standard input will deliver
size_t embedded_live_arrays();                         // arrays made and not yet destroyed

// Unloads the module as the host does: runs the registered at-exit routine once, if any.
void embedded_unload();

size_t embedded_flushes_take();  // console flushes since the last take

// Posts a Ctrl-C that the host reports at the polls-th poll of the module from now (1: the
// next one), as if the user pressed it just before; 0 withdraws one not reported yet.
void embedded_interrupt_at_poll(size_t polls);
size_t embedded_polls_take();  // the module's polls for a Ctrl-C since the last take
// Posts a Ctrl-C for the next poll, from a signal handler too (a timer's); withdrawn, if not
// reported yet, by embedded_interrupt_at_poll(0).
void embedded_interrupt_now();

// Used by the host layer built for the embedded host (not by tests).
bool embedded_read_word(char* buf, size_t size);
void embedded_flush();
bool embedded_take_interrupt();  // a poll: true once, at the poll posted
