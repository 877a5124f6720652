// Progress and timing display of the field calculations: after each point a running percentage
// with the remaining time, once an estimate of the total time, and at the end the time used;
// and the user's Ctrl-C, tested beside the display.
#pragma once

#include <cstdint>

struct sys_con;

long long calendar_seconds();  // the calendar clock in whole seconds

// Progress state of one calculation. clock gives the calendar time in whole seconds; it is the
// real calendar clock unless a test replaces it.
struct progress_state {
  long long t0 = 0;              // calendar time when the calculation began [s]
  long long now = 0;             // updated by show_progress [s]
  long long last = 0;            // time of the last progress line [s]; starts at t0
  int16_t estimate_printed = 0;  // the estimate is printed at most once
  long long (*clock)() = calendar_seconds;
};

// A new state for a calculation that begins now: t0 = last = now = clock().
progress_state start_progress(long long (*clock)() = calendar_seconds);

// Called after point i (from 0) of n is finished; prints only when show_times is set. The
// estimate ends in a newline, a progress line in a carriage return so that the next one
// overwrites it; each is followed by a flush and a redraw of the host's windows.
void show_progress(sys_con& sys, long long t0, progress_state& st, int32_t i, int32_t n);

// Called once at the end of a calculation: the time used since t0, when more than 1 second.
void show_elapsed(sys_con& sys, long long t0, const progress_state& st);

// Throws the error that ends an interrupted calculation when the user has pressed Ctrl-C since
// the last test; calling thread only.
void stop_if_interrupted();

// The estimate of the total time [s] of a calculation in its seconds (up to a minute),
// minutes or hours form; show_progress prints it once, when a calculation runs long.
void print_estimate(double total);
