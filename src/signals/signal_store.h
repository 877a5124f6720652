// The signal store: sampled time signals on the one global time grid, with the byte accounting,
// serial numbers and debug traces kept in sys_con.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct sys_con;

struct signal_rec {
  int16_t in_use = 0;        // 1 from allocation until release
  int32_t start_sample = 0;  // first sample on the global grid [1/fs]
  double fs = 0.0;           // sampling frequency of this signal [Hz]
  int32_t no_samples = 0;    // samples in use; may be lowered below data.size()
  std::vector<double> data;  // the samples as allocated, zero-filled
  int64_t signal_no = 0;     // serial number given at allocation; 64 bits never wrap
  int32_t bytes = 0;         // charged to the store: 8 per allocated sample + 40
};

// Deleter of an owned signal. free_signal is the path that releases a signal with its trace;
// a signal dropped on another path (a command ending in an error) is uncharged here silently,
// so that the store's byte count stays exact.
struct signal_release {
  sys_con* sys = nullptr;
  void operator()(signal_rec* s) const;
};

// A signal has exactly one owner.
using signal_ptr = std::unique_ptr<signal_rec, signal_release>;

// A new signal of no_samples zero samples from start_sample, charged 8 * no_samples + 40 bytes.
// A request that cannot be met prints the fatal texts and ends the command.
signal_ptr alloc_signal(sys_con& sys, int32_t no_samples, int32_t start_sample);

// Releases s (which becomes empty) and uncharges its bytes. A record released before is
// reported, followed by the debug pause, and is not uncharged again.
void free_signal(sys_con& sys, signal_ptr& s);

// The debug pause: prompts and reads one word from standard input (returns at end of input).
void wait_for_user_input();

// The most samples one signal holds: its charge, 8 per sample + 40, must fit the store's 32-bit
// byte count.
constexpr int64_t most_signal_samples = (INT32_MAX - 40) / 8;

// The most bytes a result (or a new aperture's records) may take now, and what sets that limit:
// the memory available on the machine (free, or cache the kernel can drop; on other POSIX
// systems its physical memory), what the memory cgroups of the process still allow, what is
// left of the process's address-space limit, or the environment variable ORVEL_MEMORY_LIMIT
// (bytes) where that is lower still (a share of a machine that others use too); where none is
// known, the largest object C++ allows.
struct memory_limit {
  uint64_t bytes;    // the limit [bytes]
  const char* what;  // what it is, after the count in a text
};
memory_limit result_memory();

// Refuses, before any of it is allocated, a calculation result of columns columns of samples
// samples each on the grid of fs: with signal set (each column one signal of the store), a
// column of more than most_signal_samples; and any result of more bytes than result_memory
// allows; an allocation that fails all the same says so. Throws "Error: The result would span ..."
// naming the span in seconds, the samples and the bytes.
void check_result_size(int64_t samples, int64_t columns, double fs, bool signal);
