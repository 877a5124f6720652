// The Python host's turn of commands: one thread at a time, and a call made again on the thread
// holding the turn let through without giving the turn away. Run under the thread sanitizer,
// this also shows that the question "does this thread hold the turn?" races with no one.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/python/command_turn.h"

TEST(command_turn_test, OneThreadAtATimeAndACallAgainOnTheHolderGoesThrough) {
  constexpr int threads = 4, calls = 300;
  command_turn turn;
  std::atomic<int> inside{0};
  std::atomic<bool> crowded{false};
  auto command = [&] {
    if (++inside > 1) crowded = true;
    std::this_thread::yield();  // leave time for another thread to come in wrongly
    --inside;
  };
  std::vector<std::thread> team;
  for (int t = 0; t < threads; ++t)
    team.emplace_back([&] {
      for (int k = 0; k < calls; ++k) {
        command_turn::scope outer(turn);
        command();
        {
          command_turn::scope inner(turn);  // waiting here would wait for itself forever
          command();
        }
        command();  // the inner call gave nothing back: the turn is still this thread's
      }
    });
  for (std::thread& t : team) t.join();
  EXPECT_FALSE(crowded);
}
