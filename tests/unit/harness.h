// Calls of the module through the embedded host, exactly as a host makes them: an argument list
// of host matrices, result slots, the console captured and the error call caught.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "embedded_host.h"

struct array_deleter {
  void operator()(mxArray* a) const { mxDestroyArray(a); }
};
using host_array = std::unique_ptr<mxArray, array_deleter>;

// One argument: a number, a text, or a host matrix made by the caller (taken over).
struct host_arg {
  mxArray* a;
  host_arg(double v) : a(embedded_scalar(v)) {}
  host_arg(int v) : a(embedded_scalar(v)) {}
  host_arg(const char* text) : a(embedded_text(text)) {}
  host_arg(mxArray* m) : a(m) {}
};

struct call_result {
  bool ok = true;
  std::string error;    // the text of the host's error call
  std::string console;  // everything printed during the call
  std::vector<host_array> out;

  size_t rows(size_t k = 0) const { return mxGetM(out.at(k).get()); }
  size_t cols(size_t k = 0) const { return mxGetN(out.at(k).get()); }
  double at(size_t k, size_t i, size_t j = 0) const {
    return mxGetPr(out.at(k).get())[i + j * rows(k)];
  }
};

// Calls mexFunction with the arguments (the command code first) and nlhs result slots.
inline call_result orvel_call(const std::vector<host_arg>& args, int nlhs = 0) {
  std::vector<const mxArray*> prhs;
  for (const host_arg& a : args) prhs.push_back(a.a);
  std::vector<mxArray*> plhs(static_cast<size_t>(nlhs > 4 ? nlhs : 4), nullptr);
  call_result r;
  embedded_console_take();
  try {
    mexFunction(nlhs, plhs.data(), static_cast<int>(prhs.size()), prhs.data());
  } catch (const embedded_host_error& e) {
    r.ok = false;
    r.error = e.what();
  }
  r.console = embedded_console_take();
  for (const mxArray* a : prhs) mxDestroyArray(const_cast<mxArray*>(a));
  for (mxArray* a : plhs)
    if (a) r.out.emplace_back(a);
  return r;
}

inline call_result orvel_call(std::initializer_list<host_arg> args, int nlhs = 0) {
  return orvel_call(std::vector<host_arg>(args), nlhs);
}

// A command called with count arguments in all (the code included), the others zeros: what the
// argument-count checks see.
inline call_result orvel_call_with(int code, int count, int nlhs = 1) {
  std::vector<host_arg> args = {host_arg(code)};
  for (int k = 2; k <= count; ++k) args.emplace_back(0.0);
  return orvel_call(args, nlhs);
}

// The debug trace and too-few text of one command, and the least argument count it takes.
struct command_texts {
  int code;
  int min_args;
  const char* trace;
  const char* too_few;
};

// Each command called with one argument too few (debug on): its trace, then its too-few error,
// and no result.
template <size_t N>
void expect_traces_and_too_few(const command_texts (&texts)[N], int nlhs) {
  for (const command_texts& t : texts) {
    call_result r = orvel_call_with(t.code, t.min_args - 1, nlhs);
    EXPECT_EQ(r.error, t.too_few) << t.code;
    EXPECT_EQ(r.console, std::string("Orvel debug message: ") + t.trace + " \n") << t.code;
    EXPECT_TRUE(r.out.empty()) << t.code;
  }
}

// A fixture that leaves the module unloaded (uninitialised) after each test.
class orvel_test : public ::testing::Test {
 protected:
  void TearDown() override {
    embedded_unload();
    embedded_console_take();
    embedded_evaluations_take();
    embedded_console_input("");
  }
  // Initialises quietly and checks that it worked.
  void init_quiet() { ASSERT_TRUE(orvel_call({5001, -1}).ok); }
};
