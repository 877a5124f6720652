// ORVEL_ASSERT: a bug of ours, never a user's error (those are command errors with their own
// texts, refused at the gateway). On in every build, so the tests of every build see a broken
// invariant; keep it out of per-sample loops. A failure throws internal_error naming the
// condition and its place: the command ends with "Orvel error: Unexpected failure: ..." and
// the host survives, as the thread pool carries a worker's exception to the calling thread.
#pragma once

#include <stdexcept>

struct internal_error : std::logic_error {
  using std::logic_error::logic_error;
};

[[noreturn]] void assertion_failed(const char* condition, const char* file, int line);

#define ORVEL_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : assertion_failed(#condition, __FILE__, __LINE__))
