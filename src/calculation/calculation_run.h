// What the calculation drivers share (internal to calculation/): one calculation's threads with
// its progress display, the pulse it convolves the responses with, and sums of terms on the
// grid.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "apertures/aperture.h"
#include "calculation/progress.h"
#include "core/check.h"
#include "core/sys_con.h"
#include "core/thread_pool.h"
#include "signals/signal_arith.h"

// One calculation's threads and its progress display, which stays on the calling thread. Between
// the points (or items) that the calling thread finishes, and every tenth of a second while it
// waits for the helpers, it asks the host whether the user pressed Ctrl-C; if so the work stops
// and run throws the interruption error, every signal made so far released by its owner.
class calculation_run {
 public:
  calculation_run(sys_con& sys, int64_t points)
      : sys_(sys), team_(calculation_threads(sys)), points_(points), st_(start_progress()) {}
  int32_t threads() const { return team_.size(); }
  // The stop flag of thread w of the run, for its scratch.
  stop_flag stop_flag_of(int32_t w) { return team_.stop_flag_of(w); }

  // task(i, thread) for i in [0, count); finishing item i finishes points_per_item points.
  void run(int64_t count, int64_t grain, const worker_team::task_fn& task,
           int64_t points_before = 0, int64_t points_per_item = 1) {
    team_.run(count, grain, task, [&](int64_t done) {
      stop_if_interrupted();
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

// The grid sample at which an echo arrives, the sum of its transmit and receive start samples;
// one past the 32-bit grid is refused with an "Error: ..." naming its time.
int32_t echo_start(const sys_con& sys, int64_t start);

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

// out = (h * pulse) / fs, nh + n_pulse - 1 samples. With attenuation the pulse is first
// filtered (into filter) for the distance travelled at the middle of a response of nh samples
// from h_start.
void apply_pulse(const sys_con& sys, const double* h, int32_t nh, int32_t h_start,
                 pulse_rec& pulse_of, spectral_scratch& s, std::vector<double>& filter,
                 double* out);

// One scratch of type S per thread of the run, each made from the transmit and receive plans
// and the thread's stop flag.
template <class S, class Run, class Plan>
std::vector<S> scratch_per_thread(Run& run, const Plan& tx, const Plan& rx) {
  std::vector<S> s;
  s.reserve(static_cast<size_t>(run.threads()));
  for (int32_t w = 0; w < run.threads(); ++w) s.emplace_back(tx, rx, run.stop_flag_of(w));
  return s;
}

// A sum of terms on the grid of fs: the union of their spans, each sample the sum of the terms in
// the order they were added. The sum becomes one signal, one of the columns of a result whose
// rows span at least its own: a span that no signal could hold, or that many columns no memory,
// is refused (check_result_size) before the sum grows to it, the sum unchanged.
class grid_sum {
 public:
  explicit grid_sum(double fs, int64_t columns = 1) : fs_(fs), columns_(columns) {}
  bool empty() const { return !any_; }
  double fs() const { return fs_; }
  int64_t columns() const { return columns_; }

  // The sum's samples start .. start + n - 1, for a term to be added into; its span joins the
  // sum's. n >= 1.
  double* room(int32_t start, int32_t n) {
    ORVEL_ASSERT(n >= 1);  // a span of none or less would leave lo_ and hi_ outside the storage
    const int64_t end = int64_t{start} + n;
    const int64_t lo = any_ ? std::min(lo_, int64_t{start}) : start;
    const int64_t hi = any_ ? std::max(hi_, end) : end;
    if (!any_ || lo < lo_ || hi > hi_) check_result_size(hi - lo, columns_, fs_, true);
    if (start < base_ || end > base_ + static_cast<int64_t>(v_.size())) widen(start, end, !any_);
    lo_ = lo;
    hi_ = hi;
    any_ = true;
    return v_.data() + (start - base_);
  }
  void add(int32_t start, int32_t n, const double* y, double scale) {
    if (n <= 0) return;  // a term without samples adds nothing, not even a span
    double* out = room(start, n);
    for (int32_t k = 0; k < n; ++k) out[k] += y[k] * scale;
  }
  int32_t start() const { return static_cast<int32_t>(lo_); }
  int32_t samples() const { return static_cast<int32_t>(hi_ - lo_); }
  const double* data() const { return v_.data() + (lo_ - base_); }
  void clear() {
    any_ = false;
    std::fill(v_.begin(), v_.end(), 0.0);
  }

 private:
  // Room for [start, end) and what is there already (nothing when fresh: the old samples are
  // the zeros of a cleared sum), with slack on both sides so that a sum that grows a little at a
  // time is not copied each time.
  void widen(int64_t start, int64_t end, bool fresh) {
    if (fresh) v_.clear();
    const int64_t old_end = base_ + static_cast<int64_t>(v_.size());
    const int64_t lo = v_.empty() ? start : std::min(base_, start);
    const int64_t hi = v_.empty() ? end : std::max(old_end, end);
    const int64_t slack = std::max<int64_t>(64, (hi - lo) / 4);
    const int64_t new_base = lo - slack;
    std::vector<double> wider(static_cast<size_t>(hi - lo + 2 * slack), 0.0);
    if (!v_.empty()) std::copy(v_.begin(), v_.end(), wider.begin() + (base_ - new_base));
    v_.swap(wider);
    base_ = new_base;
  }
  double fs_;        // sampling frequency of the grid [Hz]
  int64_t columns_;  // columns of the result the sum is one of
  bool any_ = false;
  int64_t lo_ = 0, hi_ = 0;  // union of the spans added
  int64_t base_ = 0;         // grid sample of v_[0]
  std::vector<double> v_;
};

// The scatterers 0 .. n - 1 in fixed chunks of chunk: each chunk's sum made on its own by
// sum_chunk(from, to, thread, sum) (sum emptied first by it), a block of chunks at a time over
// the threads, and the chunk sums added into total in chunk order: the same sums for any number
// of threads.
template <class SumChunk>
void sum_in_chunks(calculation_run& run, int64_t n, int32_t chunk, SumChunk sum_chunk,
                   grid_sum& total) {
  const int64_t chunks = (n + chunk - 1) / chunk;
  const int64_t block = 4 * static_cast<int64_t>(run.threads());
  std::vector<grid_sum> partial(static_cast<size_t>(block), grid_sum(total.fs(), total.columns()));
  for (int64_t first = 0; first < chunks; first += block) {
    const int64_t count = std::min(block, chunks - first);
    auto one_chunk = [&](int64_t c, int32_t w) {
      const int64_t from = (first + c) * chunk;
      sum_chunk(from, std::min(from + chunk, n), w, partial[c]);
    };
    run.run(count, 1, one_chunk, first * chunk, chunk);
    for (int64_t c = 0; c < count; ++c)
      if (!partial[c].empty())
        total.add(partial[c].start(), partial[c].samples(), partial[c].data(), 1.0);
  }
}

// The sum as a new signal.
signal_ptr sum_signal(sys_con& sys, const grid_sum& sum);

// The pulse applied once to a sum of responses: (sum * pulse) / fs as a new signal.
signal_ptr pulse_on_sum(sys_con& sys, const grid_sum& sum, pulse_rec& pulse_of,
                        spectral_scratch& s);
