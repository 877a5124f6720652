// What the calculation drivers share (internal to calculation/): one calculation's threads with
// its progress display, and the pulse it convolves the responses with.
#pragma once

#include <algorithm>
#include <cstdint>

#include "apertures/aperture.h"
#include "calculation/progress.h"
#include "core/sys_con.h"
#include "core/thread_pool.h"
#include "signals/signal_arith.h"

// One calculation's threads and its progress display, which stays on the calling thread.
class calculation_run {
 public:
  calculation_run(sys_con& sys, int64_t points)
      : sys_(sys), team_(calculation_threads(sys)), points_(points), st_(start_progress()) {}
  int32_t threads() const { return team_.size(); }

  // task(i, thread) for i in [0, count); finishing item i finishes points_per_item points.
  void run(int64_t count, int64_t grain, const worker_team::task_fn& task,
           int64_t points_before = 0, int64_t points_per_item = 1) {
    team_.run(count, grain, task, [&](int64_t done) {
      show(std::min(points_before + done * points_per_item, points_));
    });
  }
  // After the first done points are finished.
  void show(int64_t done) {
    if (done <= shown_) return;
    shown_ = done;
    show_progress(sys_, st_.t0, st_, static_cast<int32_t>(done - 1), static_cast<int32_t>(points_));
  }
  void finish() { show_elapsed(sys_, st_.t0, st_); }

 private:
  sys_con& sys_;
  worker_team team_;
  int64_t points_;
  progress_state st_;
  int64_t shown_ = 0;
};

// The pulse-echo pulse: transmit impulse * transmit excitation * receive impulse, each FFT
// convolution carrying 1/fs.
signal_ptr pulse_echo_pulse(sys_con& sys, const aperture_rec& tx, const aperture_rec& rx);

// The pulse of a calculation, its spectra, and whether the medium attenuates it.
struct pulse_rec {
  const signal_rec& p;
  spectrum_cache spectra;
  bool attenuated;  // use_att, read once for the calculation
  pulse_rec(const sys_con& sys, const signal_rec& pulse)
      : p(pulse), spectra(pulse.data.data(), pulse.no_samples), attenuated(sys.use_att != 0) {}
};
