// The real transforms in the packed layout, through FFTW3. Plans are estimated (never measured)
// so that a size always gets the same plan and the same rounding; they are made under one lock
// and kept for the life of the process; each thread transforms in its own aligned scratch.
#include "signals/fft.h"

#include <fftw3.h>

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "core/check.h"

namespace {
enum class plan_kind { real_forward, real_backward };

std::mutex planner_lock;  // FFTW's planner is not thread-safe; execution is
// Kept for the life of the process (never destroyed at exit, where a plan may still be in use
// by the host's unload of the module): release_fft_plans empties it.
auto& plans = *new std::map<std::pair<plan_kind, int32_t>, fftw_plan>;
bool planner_guarded = false;

// A plan over arrays of the alignment of fftw_malloc, which the scratch below has too. Plans are
// estimated, not measured, so that the same size always gives the same plan and the same
// rounding, run after run. The host may have set FFTW to plan with several threads for its
// own transforms; ours run inside threads of their own and are planned with one.
fftw_plan plan_for(plan_kind kind, int32_t n) {
  std::lock_guard<std::mutex> hold(planner_lock);
  auto found = plans.find({kind, n});
  if (found != plans.end()) return found->second;
  if (!planner_guarded) {
    fftw_make_planner_thread_safe();  // the host's own planning may happen on other threads
    planner_guarded = true;
  }
  const int host_threads = fftw_planner_nthreads();
  if (host_threads != 1) fftw_plan_with_nthreads(1);
  const size_t complex_count = static_cast<size_t>(n) + 2;  // n / 2 + 1 for the real kinds
  double* real = fftw_alloc_real(2 * complex_count);
  fftw_complex* cplx = fftw_alloc_complex(complex_count);
  fftw_plan p = nullptr;
  if (real && cplx) {
    const unsigned flags = FFTW_ESTIMATE;
    switch (kind) {
      case plan_kind::real_forward:
        p = fftw_plan_dft_r2c_1d(n, real, cplx, flags);
        break;
      case plan_kind::real_backward:
        p = fftw_plan_dft_c2r_1d(n, cplx, real, flags);
        break;
    }
  }
  fftw_free(real);
  fftw_free(cplx);
  if (host_threads != 1) fftw_plan_with_nthreads(host_threads);
  if (!p) throw std::bad_alloc();
  plans.emplace(std::pair{kind, n}, p);
  return p;
}

// Aligned input and output arrays of the calling thread, grown to the largest transform.
struct scratch {
  double* in = nullptr;
  fftw_complex* out = nullptr;
  size_t capacity = 0;  // complex values in each
  ~scratch() {
    fftw_free(in);
    fftw_free(out);
  }
  void reserve(size_t complex_count) {
    if (complex_count <= capacity) return;
    fftw_free(in);
    fftw_free(out);
    in = fftw_alloc_real(2 * complex_count);
    out = fftw_alloc_complex(complex_count);
    capacity = in && out ? complex_count : 0;
    if (!capacity) throw std::bad_alloc();
  }
};

scratch& thread_scratch(size_t complex_count) {
  thread_local scratch s;
  s.reserve(complex_count);
  return s;
}
}  // namespace

void packed_forward(int32_t N, const double* in, int32_t n, double* out) {
  ORVEL_ASSERT(N >= 4 && (N & (N - 1)) == 0 && n >= 0 && n <= N);
  const fftw_plan p = plan_for(plan_kind::real_forward, N);
  scratch& s = thread_scratch(static_cast<size_t>(N) / 2 + 1);
  if (n > 0) std::memcpy(s.in, in, sizeof(double) * static_cast<size_t>(n));  // in may be null
  std::memset(s.in + n, 0, sizeof(double) * static_cast<size_t>(N - n));
  fftw_execute_dft_r2c(p, s.in, s.out);
  // FFTW's forward exponent is negative: the packed bins are its conjugates.
  const int32_t half = N / 2;
  out[0] = s.out[0][0];
  out[1] = s.out[half][0];
  for (int32_t k = 1; k < half; ++k) {
    out[2 * k] = s.out[k][0];
    out[2 * k + 1] = -s.out[k][1];
  }
}

void packed_inverse(int32_t N, const double* in, double* out, double scale) {
  ORVEL_ASSERT(N >= 4 && (N & (N - 1)) == 0);
  const fftw_plan p = plan_for(plan_kind::real_backward, N);
  scratch& s = thread_scratch(static_cast<size_t>(N) / 2 + 1);
  const int32_t half = N / 2;
  s.out[0][0] = in[0];
  s.out[0][1] = 0.0;
  s.out[half][0] = in[1];
  s.out[half][1] = 0.0;
  for (int32_t k = 1; k < half; ++k) {
    s.out[k][0] = in[2 * k];
    s.out[k][1] = -in[2 * k + 1];
  }
  fftw_execute_dft_c2r(p, s.out, s.in);  // FFTW's backward sum has the positive exponent
  for (int32_t j = 0; j < N; ++j) out[j] = s.in[j] * scale;
}

void release_fft_plans() {
  std::lock_guard<std::mutex> hold(planner_lock);
  for (auto& entry : plans) fftw_destroy_plan(entry.second);
  plans.clear();
}
