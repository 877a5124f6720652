// The signal store: allocation and release of signals with the documented byte charges (8 per
// sample + 40 per record), under one lock so the counters stay exact when threads allocate.
// A signal is charged once when made and uncharged once, by free_signal or by its deleter.
#include "signals/signal_store.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>

#include "core/errors.h"
#include "core/sys_con.h"
#include "host/console.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {
constexpr int64_t record_bytes = 40;  // the fixed charge of the record itself
constexpr int64_t sample_bytes = 8;

// The counters in sys_con change under this lock, so that they stay exact when signals are made
// and released on several threads of a calculation.
std::mutex counters_lock;

// The fixed texts of a failed request, then the error that ends the command. Despite the last
// fixed line only the command ends; the error says so, and why the request failed: the heap had
// no room (heap_full), or the 32-bit byte count could not have held the charge.
[[noreturn]] void allocation_failed(const sys_con& sys, const char* what, int32_t no_samples,
                                    int64_t charge, bool heap_full) {
  host_printf("%s", what);
  host_printf("             Allocate signal %lld, bytes=%lld (%d samples)\n",
              static_cast<long long>(sys.next_signal_no), static_cast<long long>(charge),
              no_samples);
  host_printf("             Total number of bytes reserved is %d\n", sys.bytes_reserved);
  host_printf("Program terminated\n");
  if (heap_full)
    throw command_error(format_text(
        "Error: Not enough memory for a signal of %d samples (%lld bytes); only this command "
        "has ended",
        no_samples, static_cast<long long>(charge)));
  throw command_error(format_text(
      "Error: A signal of %d samples (%lld bytes) would take the bytes reserved past %d, the most "
      "the signal store counts; only this command has ended",
      no_samples, static_cast<long long>(charge), std::numeric_limits<int32_t>::max()));
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
                      charge, true);
  }
  const char* const no_data = "FATAL ERROR: Not possible to allocate data storage for signal\n";
  {
    std::lock_guard<std::mutex> hold(counters_lock);
    if (!countable(sys, no_samples, charge))
      allocation_failed(sys, no_data, no_samples, charge, false);
  }
  try {
    s->data.assign(static_cast<size_t>(no_samples), 0.0);
  } catch (const std::bad_alloc&) {
    std::lock_guard<std::mutex> hold(counters_lock);
    allocation_failed(sys, no_data, no_samples, charge, true);
  }
  s->start_sample = start_sample;
  s->no_samples = no_samples;
  s->fs = sys.fs;
  s->bytes = static_cast<int32_t>(charge);
  {
    // Charged only now that the storage is there; another thread may have charged meanwhile.
    std::lock_guard<std::mutex> hold(counters_lock);
    if (!countable(sys, no_samples, charge))
      allocation_failed(sys, no_data, no_samples, charge, false);
    s->in_use = 1;
    sys.bytes_reserved += static_cast<int32_t>(charge);
    if (sys.bytes_reserved > sys.max_bytes_reserved) sys.max_bytes_reserved = sys.bytes_reserved;
    s->signal_no = sys.next_signal_no++;
  }
  if (sys.debug) {
    host_printf("Allocate signal %lld, bytes=%d (%d samples), total number of bytes is %d\n",
                static_cast<long long>(s->signal_no), s->bytes, no_samples, sys.bytes_reserved);
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
    host_printf("Free signal %lld, bytes=%d, total number of bytes is %d\n",
                static_cast<long long>(s->signal_no), s->bytes, total);
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

namespace {
#if defined(__linux__)
// The first number in a file of /proc or /sys (a count of kB after key, when key is given);
// false when the file or the number is missing, or the value is "max" (no limit).
bool read_number_file(const std::string& path, const char* key, uint64_t& value) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  char line[256];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, f)) {
    const char* text = line;
    if (key) {
      if (std::strncmp(line, key, std::strlen(key)) != 0) continue;
      text += std::strlen(key);
    }
    unsigned long long v = 0;
    found = std::sscanf(text, " %llu", &v) == 1;
    value = v;
  }
  std::fclose(f);
  return found;
}

// What the memory cgroups of this process (and every cgroup above them) still allow: their
// limit less their usage, the least over the chain. Version 2 names the process's cgroup in a
// line "0::path", version 1 in a line "n:...memory...:path"; inside a container the path may
// not exist under /sys/fs/cgroup, whose root is then the container's own cgroup.
bool cgroup_headroom(uint64_t& headroom) {
  std::FILE* f = std::fopen("/proc/self/cgroup", "r");
  if (!f) return false;
  std::string base, path, limit_file, usage_file;
  char line[1024];
  while (std::fgets(line, sizeof line, f)) {
    std::string l(line);
    if (!l.empty() && l.back() == '\n') l.pop_back();
    const size_t a = l.find(':'), b = l.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string controllers = l.substr(a + 1, b - a - 1);
    if (controllers.empty() && base.empty()) {  // version 2
      base = "/sys/fs/cgroup";
      path = l.substr(b + 1);
      limit_file = "/memory.max";
      usage_file = "/memory.current";
    } else if ((',' + controllers + ',').find(",memory,") != std::string::npos) {  // version 1
      base = "/sys/fs/cgroup/memory";
      path = l.substr(b + 1);
      limit_file = "/memory.limit_in_bytes";
      usage_file = "/memory.usage_in_bytes";
    }
  }
  std::fclose(f);
  if (base.empty()) return false;
  bool found = false;
  constexpr uint64_t no_limit = uint64_t{1} << 62;  // version 1 writes about 2^63 for none
  for (;;) {
    uint64_t limit = 0, usage = 0;
    const std::string dir = base + (path == "/" ? "" : path);
    if (read_number_file(dir + limit_file, nullptr, limit) && limit < no_limit &&
        read_number_file(dir + usage_file, nullptr, usage)) {
      const uint64_t left = usage < limit ? limit - usage : 0;
      headroom = found ? std::min(headroom, left) : left;
      found = true;
    }
    if (path.empty() || path == "/") break;
    const size_t slash = path.rfind('/');
    path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
  }
  return found;
}
#endif
}  // namespace

memory_limit result_memory() {
  // The largest object C++ can address: every limit below is at most this.
  memory_limit limit{static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max()),
                     "bytes of the largest object this machine addresses"};
  auto lower = [&limit](uint64_t bytes, const char* what) {
    if (bytes < limit.bytes) limit = {bytes, what};
  };
#if defined(__linux__)
  // What can be had now without swapping: free memory and the caches the kernel can drop.
  uint64_t kb = 0;
  if (read_number_file("/proc/meminfo", "MemAvailable:", kb) && kb <= limit.bytes / 1024)
    lower(kb * 1024, "bytes of memory available on this machine");
  uint64_t headroom = 0;
  if (cgroup_headroom(headroom)) lower(headroom, "bytes left under this process's memory limit");
#elif defined(__unix__) || defined(__APPLE__)
  const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0 &&
      static_cast<uint64_t>(pages) <= limit.bytes / static_cast<uint64_t>(page_size))
    lower(static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size),
          "bytes of physical memory");
#endif
#if defined(__unix__) || defined(__APPLE__)
  rlimit space;
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
    uint64_t used = 0;  // the address space the process holds already [bytes]
#if defined(__linux__)
    uint64_t pages_used = 0;
    const long page = sysconf(_SC_PAGESIZE);
    if (read_number_file("/proc/self/statm", nullptr, pages_used) && page > 0)
      used = pages_used * static_cast<uint64_t>(page);
#endif
    const uint64_t cap = static_cast<uint64_t>(space.rlim_cur);
    lower(used < cap ? cap - used : 0, "bytes left of this process's address-space limit");
  }
#endif
  if (const char* text = std::getenv("ORVEL_MEMORY_LIMIT")) {
    char* end = nullptr;
    const double bytes = std::strtod(text, &end);
    if (end != text && bytes >= 1 && bytes < static_cast<double>(limit.bytes))
      limit = {static_cast<uint64_t>(bytes), "bytes of ORVEL_MEMORY_LIMIT"};
  }
  return limit;
}

void check_result_size(int64_t samples, int64_t columns, double fs, bool signal) {
  const double span = static_cast<double>(samples) / fs;  // seconds of the grid covered
  if (signal && samples > most_signal_samples)
    throw command_error(format_text(
        "Error: The result would span %g s: %lld samples (%lld bytes), more than the %lld samples "
        "(%lld bytes) that one signal holds",
        span, static_cast<long long>(samples),
        static_cast<long long>(sample_bytes * samples + record_bytes),
        static_cast<long long>(most_signal_samples),
        static_cast<long long>(sample_bytes * most_signal_samples + record_bytes)));
  // In double: a product of two 64-bit counts may pass every integer type; its rounding beyond
  // 2^53 bytes does not matter against limits far below.
  const double bytes = static_cast<double>(sample_bytes) * static_cast<double>(samples) *
                       static_cast<double>(columns);
  const memory_limit limit = result_memory();
  if (bytes > static_cast<double>(limit.bytes))
    throw command_error(format_text(
        "Error: The result would span %g s: %lld samples x %lld columns (%.0f bytes), more than "
        "the %llu %s",
        span, static_cast<long long>(samples), static_cast<long long>(columns), bytes,
        static_cast<unsigned long long>(limit.bytes), limit.what));
}
