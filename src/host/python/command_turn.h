// The Python host's turn of commands: threads that call the module run their commands one at a
// time. A call made on the thread that holds the turn (the console's Python code calling the
// module during that thread's own command) does not wait for itself: it is let through, and
// the module refuses it as it refuses every call during a command.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

class command_turn {
 public:
  // The turn for one call: taken unless the calling thread holds it already, and given back
  // by the call that took it.
  class scope {
   public:
    explicit scope(command_turn& turn) : turn_(turn) {
      const std::thread::id self = std::this_thread::get_id();
      if (turn_.holder_.load(std::memory_order_relaxed) == self) return;
      turn_.lock_.lock();
      turn_.holder_.store(self, std::memory_order_relaxed);
      took_ = true;
    }
    ~scope() {
      if (!took_) return;
      turn_.holder_.store(std::thread::id(), std::memory_order_relaxed);
      turn_.lock_.unlock();
    }
    scope(const scope&) = delete;
    scope& operator=(const scope&) = delete;

   private:
    command_turn& turn_;
    bool took_ = false;  // this call took the turn and gives it back
  };

 private:
  std::mutex lock_;  // held by the thread whose command runs
  // The thread holding the turn (none while free): written under the lock, read by every
  // caller before taking it, hence atomic. Relaxed is enough: a thread's own id is stored only
  // by that thread, so it reads its own id exactly while it holds the turn, whatever it sees of
  // the others' stores; everything else is ordered by the lock.
  std::atomic<std::thread::id> holder_;
};
