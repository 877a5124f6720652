// Progress and timing display: when the estimate and the progress lines appear, their three
// time forms each, the time used at the end, and the flushes and redraws after each line. The
// calendar clock is replaced by one the test sets.
#include <ctime>
#include <string>
#include <vector>

#include "calculation/progress.h"
#include "core/sys_con.h"
#include "harness.h"

namespace {
long long fake_now = 0;  // what the test clock reads [s]
long long test_clock() { return fake_now; }

std::string blanks(size_t n) { return std::string(n, ' '); }

const std::vector<std::string> one_redraw = {"drawnow;"};
const std::vector<std::string> two_redraws = {"drawnow;", "drawnow;"};

class progress_test : public orvel_test {
 protected:
  sys_con sys;  // show_times 1, time_interval 5
  progress_state st;

  // A calculation that began at t0 [s].
  void begin(long long t0) {
    fake_now = t0;
    st = start_progress(test_clock);
    embedded_console_take();
    embedded_evaluations_take();
    embedded_flushes_take();
  }
  // Point i of n is finished at time t [s]; returns what was printed.
  std::string point_done(long long t, int32_t i, int32_t n) {
    fake_now = t;
    show_progress(sys, st.t0, st, i, n);
    return embedded_console_take();
  }
  std::string elapsed_at(long long t) {
    fake_now = t;
    show_elapsed(sys, st.t0, st);
    return embedded_console_take();
  }
};

// Without a clock of its own a calculation starts at the calendar's time (the test clock's
// start is what every other test here builds on).
TEST_F(progress_test, StartTakesTheTimeOfTheCalendar) {
  const long long before = std::time(nullptr);
  const progress_state real = start_progress();
  EXPECT_GE(real.t0, before);
  EXPECT_LE(real.t0, std::time(nullptr));
}

TEST_F(progress_test, NoEstimateWithin30SecondsNorASecondOne) {
  begin(100);
  sys.time_interval = 1000;  // no progress lines in the way
  // 30 s for 1 of 1000 points: almost 8 1/3 hours still to go, but too early for an estimate.
  EXPECT_EQ(point_done(130, 0, 1000), "");
  EXPECT_EQ(st.estimate_printed, 0);
  EXPECT_EQ(st.now, 130);
  // 31 s, and exactly 30 s remaining (31 of 61 points at 1 s each): still none.
  EXPECT_EQ(point_done(131, 30, 61), "");
  // 31 s and 40 s remaining, but the estimate is already marked printed.
  st.estimate_printed = 1;
  EXPECT_EQ(point_done(131, 2, 7), "");
  EXPECT_EQ(point_done(600, 2, 10), "");  // 500 s for 3 of 10: 19 minutes to go, but printed
  EXPECT_TRUE(embedded_evaluations_take().empty());
  EXPECT_EQ(embedded_flushes_take(), 0u);
}

TEST_F(progress_test, EstimateForms) {
  sys.time_interval = 100000;
  struct estimate_case {
    long long elapsed;
    int32_t i, n;
    std::string text;
  };
  const estimate_case cases[] = {
      // 31 s for 32 of 63 points: per 0.96875 s, 30.03 s to go, total 61.03 s = 1 min 1 s.
      {31, 31, 63,
       "Calculation will take roughly   1 minutes  1 seconds to complete" + blanks(39) + "\n"},
      // 1800 s for 1 of 2 points: total exactly one hour, still the minutes form.
      {1800, 0, 2,
       "Calculation will take roughly  60 minutes  0 seconds to complete" + blanks(39) + "\n"},
      // 277 s for 1 of 13 points: total 3601 s, one second more than an hour.
      {277, 0, 13,
       "Calculation will take roughly   1 hours,  0 minutes  1 seconds to complete" + blanks(26) +
           "\n"},
      // 100 s for 1 of 100 points: total 10000 s = 2 h 46 min 40 s.
      {100, 0, 100,
       "Calculation will take roughly   2 hours, 46 minutes 40 seconds to complete" + blanks(26) +
           "\n"},
  };
  for (const estimate_case& c : cases) {
    SCOPED_TRACE(c.elapsed);
    begin(5000);
    EXPECT_EQ(point_done(5000 + c.elapsed, c.i, c.n), c.text);
    EXPECT_EQ(embedded_flushes_take(), 1u);
    EXPECT_EQ(embedded_evaluations_take(), one_redraw);
    EXPECT_EQ(st.estimate_printed, 1);
    EXPECT_EQ(st.last, 5000);  // no progress line was printed
  }
}

TEST_F(progress_test, EstimateFormOfAMinuteOrLess) {
  // A running calculation prints its estimate only past 61 s in all (EstimateForms); the
  // seconds form itself:
  print_estimate(60.0);
  EXPECT_EQ(embedded_console_take(),
            "Calculation will take roughly 60 seconds to complete" + blanks(56) + "\n");
  EXPECT_EQ(embedded_flushes_take(), 1u);
  EXPECT_EQ(embedded_evaluations_take(), one_redraw);
}

TEST_F(progress_test, ProgressLinesOnlyAfterMoreThanTheInterval) {
  begin(1000);
  // 10 points of 1 s each would leave 5 s after the fifth; time_interval is 5.
  EXPECT_EQ(point_done(1005, 4, 10), "");
  EXPECT_EQ(st.last, 1000);
  EXPECT_EQ(point_done(1006, 4, 10),
            "  50.0 % performed (roughly  6 seconds remaining)" + blanks(29) + "\r");
  EXPECT_EQ(st.last, 1006);
  EXPECT_EQ(embedded_flushes_take(), 1u);
  EXPECT_EQ(embedded_evaluations_take(), one_redraw);
  // Counted from the last line now: not at 1011, again at 1012 (8 of 10 after 12 s: 3 s left).
  EXPECT_EQ(point_done(1011, 6, 10), "");
  EXPECT_EQ(point_done(1012, 7, 10),
            "  80.0 % performed (roughly  3 seconds remaining)" + blanks(29) + "\r");
  // The last point: nothing remains, so no estimate even after 40 s.
  EXPECT_EQ(point_done(1040, 9, 10),
            " 100.0 % performed (roughly  0 seconds remaining)" + blanks(29) + "\r");
  EXPECT_EQ(embedded_flushes_take(), 2u);
  EXPECT_EQ(embedded_evaluations_take(), two_redraws);
  // An interval of 0 still needs one whole second.
  sys.time_interval = 0;
  EXPECT_EQ(point_done(1040, 9, 10), "");
}

TEST_F(progress_test, ProgressLineForms) {
  sys.time_interval = 0;
  struct line_case {
    long long elapsed;
    int32_t i, n;
    std::string text;
  };
  const line_case cases[] = {
      // 20 s for 1 of 4: exactly 60 s left, the seconds form.
      {20, 0, 4, "  25.0 % performed (roughly 60 seconds remaining)" + blanks(29) + "\r"},
      // 1 s for 1 of 62: 61 s left, 1 minute 1 second.
      {1, 0, 62,
       "   1.6 % performed (roughly  1 minutes  1 seconds remaining)" + blanks(15) + "\r"},
      // 1 s for 1 of 3601: exactly an hour left, still the minutes form.
      {1, 0, 3601,
       "   0.0 % performed (roughly 60 minutes  0 seconds remaining)" + blanks(15) + "\r"},
      // 1 s for 1 of 3602: 3601 s left, the hours form without blanks.
      {1, 0, 3602, "   0.0 % performed (roughly   1 hours,  0 minutes  1 seconds remaining)\r"},
      // 7 s for 1 of 1001: 7000 s = 1 h 56 min 40 s left.
      {7, 0, 1001, "   0.1 % performed (roughly   1 hours, 56 minutes 40 seconds remaining)\r"},
      // 30 s for 1 of 1000: 29970 s = 8 h 19 min 30 s left.
      {30, 0, 1000, "   0.1 % performed (roughly   8 hours, 19 minutes 30 seconds remaining)\r"},
  };
  for (const line_case& c : cases) {
    SCOPED_TRACE(c.n);
    begin(0);
    EXPECT_EQ(point_done(c.elapsed, c.i, c.n), c.text);
    EXPECT_EQ(embedded_flushes_take(), 1u);
    EXPECT_EQ(embedded_evaluations_take(), one_redraw);
    EXPECT_EQ(st.last, c.elapsed);
  }
}

TEST_F(progress_test, EstimateAndProgressLineOnTheSameCall) {
  begin(0);
  // 277 s for 1 of 13: total 3601 s, and 12 x 277 = 3324 s = 55 min 24 s remaining.
  EXPECT_EQ(point_done(277, 0, 13),
            "Calculation will take roughly   1 hours,  0 minutes  1 seconds to complete" +
                blanks(26) + "\n" + "   7.7 % performed (roughly 55 minutes 24 seconds remaining)" +
                blanks(15) + "\r");
  EXPECT_EQ(embedded_flushes_take(), 2u);
  EXPECT_EQ(embedded_evaluations_take(), two_redraws);
  EXPECT_EQ(st.estimate_printed, 1);
  EXPECT_EQ(st.last, 277);
}

TEST_F(progress_test, TheT0ArgumentIsTheStart) {
  begin(0);
  // The driver's t0 (40) rather than the state's: 9 s for 3 of 4 points, 3 s left.
  fake_now = 49;
  show_progress(sys, 40, st, 2, 4);
  EXPECT_EQ(embedded_console_take(),
            "  75.0 % performed (roughly  3 seconds remaining)" + blanks(29) + "\r");
  fake_now = 52;
  show_elapsed(sys, 40, st);
  EXPECT_EQ(embedded_console_take(), "12 seconds used for the calculation" + blanks(27) + "\n");
}

TEST_F(progress_test, NothingWithoutShowTimes) {
  sys.show_times = 0;
  begin(0);
  EXPECT_EQ(point_done(277, 0, 13), "");  // would print an estimate and a line
  EXPECT_EQ(st.estimate_printed, 0);
  EXPECT_EQ(st.last, 0);
  EXPECT_EQ(elapsed_at(5000), "");
  EXPECT_EQ(embedded_flushes_take(), 0u);
  EXPECT_TRUE(embedded_evaluations_take().empty());
}

TEST_F(progress_test, PointsOutsideTheCalculationPrintNothing) {
  begin(0);
  EXPECT_EQ(point_done(100, 0, 0), "");
  EXPECT_EQ(point_done(100, -1, 10), "");
  EXPECT_EQ(point_done(100, 10, 10), "");
  EXPECT_EQ(point_done(100, 0, -5), "");
  EXPECT_EQ(st.estimate_printed, 0);
  EXPECT_EQ(st.last, 0);
  EXPECT_TRUE(embedded_evaluations_take().empty());
  // A calculation without points still reports the time used.
  EXPECT_EQ(elapsed_at(100), " 1 minutes 40 seconds used for the calculation" + blanks(27) + "\n");
}

TEST_F(progress_test, TimeUsedForms) {
  begin(0);
  EXPECT_EQ(elapsed_at(0), "");
  EXPECT_EQ(elapsed_at(1), "");
  const std::string tail = blanks(27) + "\n";
  EXPECT_EQ(elapsed_at(2), " 2 seconds used for the calculation" + tail);
  EXPECT_EQ(elapsed_at(60), "60 seconds used for the calculation" + tail);
  EXPECT_EQ(elapsed_at(61), " 1 minutes  1 seconds used for the calculation" + tail);
  EXPECT_EQ(elapsed_at(3600), "60 minutes  0 seconds used for the calculation" + tail);
  EXPECT_EQ(elapsed_at(3601), "   1 hours,  0 minutes  1 seconds used for the calculation" + tail);
  // 2 h 30 min 5 s.
  EXPECT_EQ(elapsed_at(9005), "   2 hours, 30 minutes  5 seconds used for the calculation" + tail);
  EXPECT_EQ(st.now, 0);  // the state is only read
}
}  // namespace
