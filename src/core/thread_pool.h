// A small team of std::thread workers for the calculations. The calling thread (the host's) takes
// part in the work and stays the only one that talks to the host: text that a helper prints is
// kept and printed by the calling thread when the work is done, and an error of any worker stops
// the others and is rethrown on the calling thread.
//
// Work is a range of indices, each run exactly once; which thread runs an index never changes
// what is computed for it, so results do not depend on the number of threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The cores this process may run on (its CPU affinity), at least 1.
int32_t available_cores();

class worker_team;

// For a task whose one index runs long (a non-linear propagation over many steps, a response
// of millions of samples): whether the running job has stopped, on an error or the user's
// Ctrl-C, so that the task may return at once (what it leaves is discarded with the job). On
// the calling thread it first asks for the Ctrl-C, at most every tenth of a second. Each thread
// of a team has its own (worker_team::stop_flag_of), handed to the kernels with their scratch;
// the default flag never stops.
class stop_flag {
 public:
  stop_flag() = default;
  bool stopped() const;

 private:
  friend class worker_team;
  stop_flag(worker_team* team, int32_t worker) : team_(team), worker_(worker) {}
  worker_team* team_ = nullptr;
  int32_t worker_ = 0;  // 0: the calling thread, which reports as it asks
};

class worker_team {
 public:
  using task_fn = std::function<void(int64_t index, int32_t worker)>;
  using wait_fn = std::function<void(int64_t done)>;

  // threads >= 1: the calling thread and threads - 1 helpers, started here and joined by the
  // destructor. One thread runs everything on the calling thread, without helpers.
  explicit worker_team(int32_t threads);
  ~worker_team();
  worker_team(const worker_team&) = delete;
  worker_team& operator=(const worker_team&) = delete;

  int32_t size() const { return static_cast<int32_t>(helpers_.size()) + 1; }

  // Runs task(i, w) for i = 0 .. n - 1, handed out in runs of grain indices; w (0 .. size() - 1)
  // names the thread, 0 being the calling thread, so that tasks can use per-thread scratch.
  // The calling thread calls waiting(done), done being the number of finished indices, after
  // each index it runs itself and at least every tenth of a second while it waits for the
  // helpers: there it may show progress or end the job by throwing (the user's Ctrl-C). The
  // first exception of any thread (waiting included) stops the handing out; the indices already
  // running are finished, and it is rethrown here once every thread has left the task, helpers'
  // console text printed before.
  void run(int64_t n, int64_t grain, const task_fn& task, const wait_fn& waiting = {});

  // The stop flag of thread w of the team, for the scratch its tasks use.
  stop_flag stop_flag_of(int32_t w) { return stop_flag(this, w); }

 private:
  void helper_loop(int32_t worker);
  void work(int32_t worker);
  void report();
  void fail(std::exception_ptr e);
  bool poll(bool calling_thread);
  friend class stop_flag;

  std::vector<std::thread> helpers_;
  std::mutex lock_;
  std::condition_variable wake_;  // helpers wait here for a new job or the end
  std::condition_variable idle_;  // the calling thread waits here for the helpers
  uint64_t job_ = 0;              // number of the current job; helpers run each once
  int32_t busy_ = 0;              // helpers still inside the current job
  bool closing_ = false;
  const task_fn* task_ = nullptr;
  const wait_fn* waiting_ = nullptr;  // called on the calling thread alone
  int64_t n_ = 0, grain_ = 1;
  std::atomic<int64_t> next_{0};      // next index to hand out
  std::atomic<int64_t> done_{0};      // indices finished
  std::atomic<bool> stopped_{false};  // an error stops the handing out
  std::exception_ptr error_;
  std::chrono::steady_clock::time_point reported_;  // the calling thread's last report
};
