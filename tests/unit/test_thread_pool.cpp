// The worker team: every index once, the calling thread reporting progress, helpers' console
// text printed by the calling thread, and an error of any thread stopping the work and reaching
// the caller.
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/thread_pool.h"
#include "harness.h"
#include "host/console.h"

using thread_pool_test = orvel_test;

TEST_F(thread_pool_test, EveryIndexRunsOnceAndProgressReachesTheEnd) {
  for (int32_t threads : {1, 2, 5}) {
    worker_team team(threads);
    EXPECT_EQ(team.size(), threads);
    for (int64_t n : {int64_t{0}, int64_t{1}, int64_t{1000}}) {
      std::vector<std::atomic<int>> runs(static_cast<size_t>(n));
      std::vector<int64_t> reported;
      team.run(
          n, 3,
          [&](int64_t i, int32_t w) {
            EXPECT_TRUE(w >= 0 && w < threads);
            EXPECT_EQ(host_on_helper_thread(), w != 0);
            runs[i]++;
          },
          [&](int64_t done) { reported.push_back(done); });
      for (int64_t i = 0; i < n; ++i) EXPECT_EQ(runs[i], 1) << threads << " " << i;
      if (n > 0) {
        ASSERT_FALSE(reported.empty());
        EXPECT_EQ(reported.back(), n);
        for (size_t k = 1; k < reported.size(); ++k) EXPECT_LE(reported[k - 1], reported[k]);
      }
    }
  }
}

TEST_F(thread_pool_test, HelpersTextIsPrintedByTheCallingThread) {
  worker_team team(3);
  std::atomic<int> printed{0};
  team.run(30, 1, [&](int64_t i, int32_t w) {
    if (w == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));  // leave work to them
    if (w != 0 && printed++ == 0) host_printf("from a helper %lld\n", static_cast<long long>(i));
  });
  ASSERT_GT(printed.load(), 0);
  EXPECT_NE(embedded_console_take().find("from a helper"), std::string::npos);
}

TEST_F(thread_pool_test, AnErrorOfAnyThreadStopsTheWorkAndReachesTheCaller) {
  for (int32_t threads : {1, 3}) {
    worker_team team(threads);
    std::atomic<int64_t> ran{0};
    EXPECT_THROW(team.run(100000, 1,
                          [&](int64_t i, int32_t) {
                            ran++;
                            if (i == 50) throw std::runtime_error("failed at 50");
                          }),
                 std::runtime_error);
    EXPECT_LT(ran.load(), 100000);  // the others stopped handing out work
    // The team is usable again after an error.
    std::atomic<int64_t> again{0};
    team.run(10, 1, [&](int64_t, int32_t) { again++; });
    EXPECT_EQ(again.load(), 10);
  }
}
