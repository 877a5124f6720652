// The progress display of the calculations: a running percentage with the remaining time after
// each point, once an estimate of the total time, and at the end the time used; printed and
// flushed by the calling thread only. And the user's Ctrl-C, tested beside the display.
#include "calculation/progress.h"

#include <cmath>
#include <ctime>

#include "core/errors.h"
#include "core/sys_con.h"
#include "host/console.h"

namespace {
constexpr double minute = 60.0;          // [s]
constexpr double hour = 3600.0;          // [s]
constexpr double estimate_after = 30.0;  // elapsed and remaining time before an estimate [s]

// A duration x [s] split into whole hours, whole minutes and the seconds left.
struct hours_form {
  double hours, minutes, seconds;
  explicit hours_form(double x)
      : hours(std::floor(x / hour)),
        minutes(std::floor((x - hours * hour) / minute)),
        seconds(x - std::floor(x / minute) * minute) {}
};

// A duration x [s] split into whole minutes and the seconds left.
struct minutes_form {
  double minutes, seconds;
  explicit minutes_form(double x)
      : minutes(std::floor(x / minute)), seconds(x - minutes * minute) {}
};

// Makes the host show what was printed, during a long calculation too.
void flush_and_draw() {
  host_flush();
  host_eval("drawnow;");
}

}  // namespace

// The blanks after each text wipe the rest of a longer line printed before it.
void print_estimate(double total) {
  if (total <= minute) {
    host_printf("Calculation will take roughly %2.0f seconds to complete%*s\n", total, 56, "");
  } else if (total > hour) {
    const hours_form t(total);
    host_printf(
        "Calculation will take roughly %3.0f hours, %2.0f minutes %2.0f seconds to complete%*s\n",
        t.hours, t.minutes, t.seconds, 26, "");
  } else {
    const minutes_form t(total);
    host_printf("Calculation will take roughly %3.0f minutes %2.0f seconds to complete%*s\n",
                t.minutes, t.seconds, 39, "");
  }
  flush_and_draw();
}

namespace {
void print_progress_line(double percent, double remaining) {
  if (remaining <= minute) {
    host_printf("%6.1f %% performed (roughly %2.0f seconds remaining)%*s\r", percent, remaining, 29,
                "");
  } else if (remaining > hour) {
    const hours_form t(remaining);
    host_printf("%6.1f %% performed (roughly %3.0f hours, %2.0f minutes %2.0f seconds remaining)\r",
                percent, t.hours, t.minutes, t.seconds);
  } else {
    const minutes_form t(remaining);
    host_printf("%6.1f %% performed (roughly %2.0f minutes %2.0f seconds remaining)%*s\r", percent,
                t.minutes, t.seconds, 15, "");
  }
  flush_and_draw();
}
}  // namespace

long long calendar_seconds() { return static_cast<long long>(std::time(nullptr)); }

progress_state start_progress(long long (*clock)()) {
  progress_state st;
  st.clock = clock;
  st.t0 = st.last = st.now = clock();
  return st;
}

void show_progress(sys_con& sys, long long t0, progress_state& st, int32_t i, int32_t n) {
  if (!sys.show_times) return;
  // No point of a calculation lies outside 0 .. n - 1; the checks keep the divisions defined.
  if (n <= 0 || i < 0 || i >= n) return;
  st.now = st.clock();
  const long long elapsed = st.now - t0;
  const double per = static_cast<double>(elapsed) / (static_cast<double>(i) + 1.0);
  const double remaining = static_cast<double>(n - i - 1) * per;

  if (elapsed > estimate_after && !st.estimate_printed && remaining > estimate_after) {
    print_estimate(static_cast<double>(n) * per);
    st.estimate_printed = 1;
  }
  if (st.now - st.last > sys.time_interval) {
    print_progress_line((static_cast<double>(i) + 1.0) / n * 100.0, remaining);
    st.last = st.now;
  }
}

void show_elapsed(sys_con& sys, long long t0, const progress_state& st) {
  if (!sys.show_times) return;
  const long long used_seconds = st.clock() - t0;
  if (used_seconds <= 1) return;
  const double used = static_cast<double>(used_seconds);
  if (used <= minute) {
    host_printf("%2.0f seconds used for the calculation%*s\n", used, 27, "");
  } else if (used > hour) {
    const hours_form t(used);
    host_printf(" %3.0f hours, %2.0f minutes %2.0f seconds used for the calculation%*s\n", t.hours,
                t.minutes, t.seconds, 27, "");
  } else {
    const minutes_form t(used);
    host_printf("%2.0f minutes %2.0f seconds used for the calculation%*s\n", t.minutes, t.seconds,
                27, "");
  }
}

void stop_if_interrupted() {
  if (host_take_interrupt())
    throw command_error(
        "Error: The calculation was interrupted (Ctrl-C) and stopped; nothing was returned");
}
