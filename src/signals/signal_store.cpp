#include "signals/signal_store.h"

#include <cstdint>
#include <limits>
#include <mutex>
#include <new>

#include "core/errors.h"
#include "core/sys_con.h"
#include "host/console.h"

namespace {
constexpr int64_t record_bytes = 40;  // the fixed charge of the record itself
constexpr int64_t sample_bytes = 8;

// The counters in sys_con change under this lock, so that they stay exact when signals are made
// and released on several threads of a calculation.
std::mutex counters_lock;

[[noreturn]] void allocation_failed(const sys_con& sys, const char* what, int32_t no_samples,
                                    int64_t charge) {
  host_printf("%s", what);
  host_printf("             Allocate signal %d, bytes=%lld (%d samples)\n", sys.next_signal_no,
              static_cast<long long>(charge), no_samples);
  host_printf("             Total number of bytes reserved is %d\n", sys.bytes_reserved);
  host_printf("Program terminated\n");
  throw command_error(
      format_text("Orvel error: Not enough memory for a signal of %d samples", no_samples));
}
}  // namespace

void signal_release::operator()(signal_rec* s) const {
  if (s->in_use && sys) {
    std::lock_guard<std::mutex> hold(counters_lock);
    sys->bytes_reserved -= s->bytes;
  }
  s->in_use = 0;
  delete s;
}

namespace {
// The counters are 32-bit: a charge they cannot hold is storage the store cannot give.
bool countable(const sys_con& sys, int32_t no_samples, int64_t charge) {
  return no_samples >= 0 &&
         static_cast<int64_t>(sys.bytes_reserved) + charge <= std::numeric_limits<int32_t>::max();
}
}  // namespace

signal_ptr alloc_signal(sys_con& sys, int32_t no_samples, int32_t start_sample) {
  if (sys.debug) {
    host_printf("Allocate signal %d samples", no_samples);
    host_printf(", Signal starts at sample %d \n", start_sample);
  }
  const int64_t charge = sample_bytes * no_samples + record_bytes;
  signal_ptr s(nullptr, signal_release{&sys});
  try {
    s.reset(new signal_rec);
  } catch (const std::bad_alloc&) {
    std::lock_guard<std::mutex> hold(counters_lock);
    allocation_failed(sys, "FATAL ERROR: Not possible to allocate storage for signal\n", no_samples,
                      charge);
  }
  const char* const no_data = "FATAL ERROR: Not possible to allocate data storage for signal\n";
  bool fits;
  {
    std::lock_guard<std::mutex> hold(counters_lock);
    fits = countable(sys, no_samples, charge);
  }
  try {
    if (!fits) throw std::bad_alloc();
    s->data.assign(static_cast<size_t>(no_samples), 0.0);
  } catch (const std::bad_alloc&) {
    std::lock_guard<std::mutex> hold(counters_lock);
    allocation_failed(sys, no_data, no_samples, charge);
  }
  s->start_sample = start_sample;
  s->no_samples = no_samples;
  s->fs = sys.fs;
  s->bytes = static_cast<int32_t>(charge);
  {
    // Charged only now that the storage is there; another thread may have charged meanwhile.
    std::lock_guard<std::mutex> hold(counters_lock);
    if (!countable(sys, no_samples, charge)) allocation_failed(sys, no_data, no_samples, charge);
    s->in_use = 1;
    sys.bytes_reserved += static_cast<int32_t>(charge);
    if (sys.bytes_reserved > sys.max_bytes_reserved) sys.max_bytes_reserved = sys.bytes_reserved;
    s->signal_no = sys.next_signal_no++;
  }
  if (sys.debug) {
    host_printf("Allocate signal %d, bytes=%d (%d samples), total number of bytes is %d\n",
                s->signal_no, s->bytes, no_samples, sys.bytes_reserved);
    host_printf("Signal starts at %e \n", start_sample / sys.fs);
  }
  return s;
}

void free_signal(sys_con& sys, signal_ptr& s) {
  if (!s) return;
  const bool released_before = !s->in_use;
  int32_t total;
  {
    std::lock_guard<std::mutex> hold(counters_lock);
    if (!released_before) sys.bytes_reserved -= s->bytes;
    total = sys.bytes_reserved;
  }
  if (sys.debug) {
    host_printf("Free signal %d, bytes=%d, total number of bytes is %d\n", s->signal_no, s->bytes,
                total);
    host_printf("Signal starts at sample %d  and contains %d samples\n", s->start_sample,
                s->no_samples);
  }
  if (released_before) {
    host_printf("ERROR: Signal has been previuosly freed\n");
    wait_for_user_input();
  }
  s->in_use = 0;  // the deleter then releases the storage without uncharging it again
  s.reset();
}

void wait_for_user_input() {
  host_printf("Waiting for user input : ");
  char word[64];  // the word is discarded; a longer one is cut by the read
  host_read_word(word, sizeof word);
  host_printf("\n");
}
