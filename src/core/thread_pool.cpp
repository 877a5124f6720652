// The worker team: helpers woken per job, indices handed out in grains from one atomic counter,
// the calling thread working too and reporting progress. The first error stops the job and is
// rethrown on the calling thread once every helper is idle; a helper's console text is kept by
// the console and printed by the calling thread.
#include "core/thread_pool.h"

#include <sched.h>

#include <chrono>
#include <system_error>

#include "host/console.h"

int32_t available_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n >= 1) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n >= 1 ? static_cast<int32_t>(n) : 1;
}

worker_team::worker_team(int32_t threads) {
  // A thread the system will not give leaves the team smaller; results do not depend on its size.
  for (int32_t w = 1; w < threads; ++w) {
    try {
      helpers_.emplace_back(&worker_team::helper_loop, this, w);
    } catch (const std::system_error&) {
      break;
    }
  }
}

worker_team::~worker_team() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void worker_team::fail(std::exception_ptr e) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!error_) error_ = e;
  stopped_ = true;
}

// Takes runs of indices until none is left or an error stopped the job; the calling thread
// reports after each index, so that a Ctrl-C is seen between two points even when it runs
// everything alone.
void worker_team::work(int32_t worker) {
  try {
    while (!stopped_.load(std::memory_order_relaxed)) {
      const int64_t first = next_.fetch_add(grain_);
      if (first >= n_) break;
      const int64_t last = std::min(first + grain_, n_);
      for (int64_t i = first; i < last && !stopped_.load(std::memory_order_relaxed); ++i) {
        (*task_)(i, worker);
        done_.fetch_add(1, std::memory_order_release);
        if (worker == 0) report();
      }
    }
  } catch (...) {
    fail(std::current_exception());
  }
}

// A job's question whether it has stopped; the calling thread reports first when a tenth of a
// second has passed, outside a job never.
bool worker_team::poll(bool calling_thread) {
  if (calling_thread && waiting_ &&
      std::chrono::steady_clock::now() - reported_ >= std::chrono::milliseconds(100))
    report();
  return stopped_.load(std::memory_order_relaxed);
}

bool stop_flag::stopped() const { return team_ && team_->poll(worker_ == 0); }

// Nothing is reported once the job has stopped: a stopped job shows no progress and is not
// stopped twice.
void worker_team::report() {
  reported_ = std::chrono::steady_clock::now();
  if (!*waiting_ || stopped_.load()) return;
  try {
    (*waiting_)(done_.load(std::memory_order_acquire));
  } catch (...) {
    fail(std::current_exception());
  }
}

void worker_team::helper_loop(int32_t worker) {
  host_mark_helper_thread();
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [&] { return closing_ || job_ != seen; });
      if (closing_) return;
      seen = job_;
    }
    work(worker);
    {
      std::lock_guard<std::mutex> hold(lock_);
      --busy_;
    }
    idle_.notify_one();
  }
}

void worker_team::run(int64_t n, int64_t grain, const task_fn& task, const wait_fn& waiting) {
  if (n <= 0) return;
  task_ = &task;
  waiting_ = &waiting;
  n_ = n;
  grain_ = grain < 1 ? 1 : grain;
  next_ = 0;
  done_ = 0;
  stopped_ = false;
  error_ = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    busy_ = static_cast<int32_t>(helpers_.size());
    ++job_;
  }
  wake_.notify_all();

  work(0);  // the calling thread works too
  // Then waits for the helpers, reporting at least every tenth of a second.
  {
    std::unique_lock<std::mutex> hold(lock_);
    while (busy_ > 0) {
      if (idle_.wait_for(hold, std::chrono::milliseconds(100), [&] { return busy_ == 0; })) break;
      hold.unlock();
      report();
      hold.lock();
    }
  }
  task_ = nullptr;
  if (!error_) report();  // everything done
  waiting_ = nullptr;
  host_print_kept();  // what helpers printed, in the order they printed it
  if (error_) std::rethrow_exception(error_);
}
