// All-element pulse-echo (calc_scat_all): every transmit/receive element pair's signal summed
// over the scatterers. Scatterers go in blocks of 32: their element responses are computed on
// the team and kept, each transmit response convolved with the pulse and split into the phases of
// the decimated grid, then every pair is summed by one thread over the block's scatterers in
// order. Invariants: a pair's sum sees the scatterers in one fixed order (sorted by distance, the
// farthest moved second) whatever the thread count; for one aperture the pair (e, j) is computed
// once and copied to (j, e), so the two are the same numbers.
#include "calculation/scat_all.h"

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

#include "calculation/attenuation.h"
#include "calculation/calculation_run.h"
#include "calculation/rect_response.h"
#include "calculation/response.h"
#include "core/heap_sort.h"
#include "core/sys_con.h"
#include "core/thread_pool.h"
#include "signals/fft.h"
#include "signals/signal_arith.h"

namespace {
constexpr int32_t scatterer_block = 32;  // scatterers whose element responses are kept at a time
constexpr int64_t response_grain = 4;    // element responses handed to a thread at a time
// Up to this decimation the transmit responses convolved with the pulse are kept split into
// the phases of the decimated grid; beyond it the phases would hold mostly zeros (about 2 D),
// and the few kept samples are summed straight from the plain signal.
constexpr int32_t most_phases = 64;

// Scratch of one thread.
struct pair_scratch {
  response_workspace transmit, receive;
  spectral_scratch spectra;
  std::vector<double> pulsed;   // a transmit response convolved with the (filtered) pulse
  std::vector<double> phased;   // ... split into phases, with attenuation
  std::vector<double> filter;   // the pulse's spectrum filtered for one pair's distance
  std::vector<double> product;  // spectrum of the filtered convolution, then its samples
  std::vector<double> y;        // one pair's decimated signal
  pair_scratch(const response_plan& tx, const response_plan& rx, stop_flag stop)
      : transmit(tx, stop), receive(rx, stop) {
    spectra.stop = stop;
  }
};

// What a transmit response contributes to every pair it takes part in. Without attenuation:
// T = ht * P / fs from grid sample start, n samples, split into phases (plain beyond
// most_phases). With attenuation the pulse depends on the pair: ht's spectrum of L values.
struct pulsed_rec {
  int32_t start = 0, n = 0;
  int32_t L = 0;
  std::vector<double> v;
};

// The element responses of a block of scatterers, kept while every pair uses them.
struct block_rec {
  int32_t T, R;                     // transmit and receive physical elements
  bool same;                        // one aperture both ways: hr is ht
  std::vector<grid_buffer> ht, hr;  // [i * T + e], [i * R + j]
  std::vector<char> has_t, has_r;   // the element has rectangles
  std::vector<int32_t> reach;       // per scatterer: its longest receive response, at least 1
  std::vector<pulsed_rec> pulsed;   // [i * T + e]
  block_rec(int32_t t, int32_t r, bool one)
      : T(t),
        R(r),
        same(one),
        ht(size_t{scatterer_block} * t),
        hr(one ? 0 : size_t{scatterer_block} * r),
        has_t(ht.size()),
        has_r(hr.size()),
        reach(scatterer_block),
        pulsed(ht.size()) {}
  const grid_buffer& receive(size_t i, int32_t j) const {
    return same ? ht[i * T + j] : hr[i * R + j];
  }
  bool receives(size_t i, int32_t j) const { return same ? has_t[i * T + j] : has_r[i * R + j]; }
};

// Element k of the responses of scatterer i (transmit elements first, then, for two apertures,
// the receive elements), kept in the block: the buffer taken from the thread's workspace, which
// gets the block's old one.
void element_of_block(const response_plan& tx, const response_plan& rx, block_rec& b, size_t i,
                      int32_t k, const point3& p, pair_scratch& s) {
  const bool transmit = k < b.T;
  response_workspace& ws = transmit ? s.transmit : s.receive;
  const int32_t e = transmit ? k : k - b.T;
  const size_t slot = transmit ? i * b.T + e : i * b.R + e;
  // An empty response (line elements far away) is no term: it would add a span of its own.
  const bool present = element_response(transmit ? tx : rx, ws, e, p) && ws.out.n > 0;
  (transmit ? b.has_t : b.has_r)[slot] = present;
  if (present) std::swap((transmit ? b.ht : b.hr)[slot], ws.out);
}

// T(e) for scatterer i: the transmit response convolved with the pulse (the direct sums or the
// pulse's kept spectra, whichever costs less) and split into phases for receive responses of up
// to the scatterer's reach; with attenuation, the transmit response's spectrum.
void pulse_transmit(const sys_con& sys, block_rec& b, size_t i, int32_t e, pulse_rec& pulse_of,
                    int32_t D, pair_scratch& s) {
  if (!b.has_t[i * b.T + e]) return;
  const grid_buffer& ht = b.ht[i * b.T + e];
  pulsed_rec& out = b.pulsed[i * b.T + e];
  const signal_rec& pulse = pulse_of.p;
  const int32_t np = pulse.no_samples;
  if (pulse_of.attenuated) {
    out.L = fft_size(ht.n + np, 0);  // the transform of T, as the plain convolution takes it
    packed_forward(out.L, ht.data(), ht.n, scratch_of(out.v, out.L));
    return;
  }
  out.start = ht.start + pulse.start_sample;
  out.n = std::max(ht.n + np - 1, 0);
  double* plain = scratch_of(s.pulsed, out.n);
  if (ht.n >= 1 && np >= 1)
    convolve_arrays(ht.data(), ht.n, pulse.data.data(), np, 1 / sys.fs, &pulse_of.spectra,
                    s.spectra, plain);
  else
    std::fill_n(plain, out.n, 0.0);  // an empty pulse
  if (D <= most_phases)
    split_phases(plain, out.n, b.reach[i], D,
                 scratch_of(out.v, phased_values(out.n, b.reach[i], D)));
  else
    std::copy_n(plain, out.n, scratch_of(out.v, out.n));
}

// With attenuation, T' for the pair (e, j) of scatterer i into s.pulsed: the pulse filtered for
// the distance travelled at the middle of the pair's signal, counted from twice the transmit
// response's start over its samples, the pulse's and the receive response's, then convolved
// with the transmit response through its kept spectrum.
const double* filtered_transmit(const sys_con& sys, const block_rec& b, size_t i, int32_t e,
                                const grid_buffer& hr, pulse_rec& pulse_of, pair_scratch& s) {
  const grid_buffer& ht = b.ht[i * b.T + e];
  const pulsed_rec& t = b.pulsed[i * b.T + e];
  const int32_t np = pulse_of.p.no_samples;
  if (np == 0) {  // an empty pulse: T' is zeros spanning the transmit response less a sample
    const int32_t n = std::max(ht.n - 1, 0);
    double* zeros = scratch_of(s.pulsed, n);
    std::fill_n(zeros, n, 0.0);
    return zeros;
  }
  const double r = attenuation_distance(sys, 2 * int64_t{ht.start}, ht.n + np, hr.n);
  double* filter = scratch_of(s.filter, t.L);
  attenuate_packed(sys, r, t.L, pulse_of.spectra.at(t.L), filter);
  double* product = scratch_of(s.product, t.L);
  multiply_packed(t.L, t.v.data(), filter, 1 / sys.fs, product);
  packed_inverse(t.L, product, product, 1.0 / t.L);
  return product;  // its first n values
}

// The decimated signal of the pair (e, j) for scatterer i, without scale, into s.y: Y =
// hr(j) * T(e) at every D-th sample of the grid. Returns its first sample on the grid of fs / D
// and its sample count.
std::pair<int32_t, int32_t> pair_signal(const sys_con& sys, const block_rec& b, size_t i, int32_t e,
                                        int32_t j, pulse_rec& pulse_of, int32_t D,
                                        pair_scratch& s) {
  const grid_buffer& hr = b.receive(i, j);
  const pulsed_rec& t = b.pulsed[i * b.T + e];
  const double* x = t.v.data();
  int32_t t_start = t.start, nt = t.n, reach = b.reach[i];
  if (pulse_of.attenuated) {
    const grid_buffer& ht = b.ht[i * b.T + e];
    t_start = ht.start + pulse_of.p.start_sample;
    nt = std::max(ht.n + pulse_of.p.no_samples - 1, 0);
    x = filtered_transmit(sys, b, i, e, hr, pulse_of, s);
    if (D <= most_phases) {
      reach = hr.n;
      double* phased = scratch_of(s.phased, phased_values(nt, reach, D));
      split_phases(x, nt, reach, D, phased);
      x = phased;
    }
  }
  const int64_t summed = echo_start(sys, int64_t{hr.start} + t_start);
  const int32_t start = decimated_start(summed, D);
  const int32_t k0 = static_cast<int32_t>(int64_t{start} * D - summed);
  const int32_t count = (hr.n + nt - 1) / D + 1;  // an upper bound of the samples kept
  double* y = scratch_of(s.y, count);
  // Responses of some hundred thousand samples (a rectangle that reaches far across) make
  // seconds of direct sums for one pair: they are summed in parts of about 2^24 terms, between
  // which a Ctrl-C stops them. The parts' sums are those of one call, term by term.
  const int32_t part = std::max<int32_t>(32, (int32_t{1} << 24) / std::max(hr.n, 1) / 32 * 32);
  for (int32_t m = 0; m < count; m += part) {
    if (m > 0 && s.transmit.stop.stopped()) break;  // the calculation is abandoned; y is not used
    const int32_t c = std::min(part, count - m);
    if (D <= most_phases)
      convolve_phased_part(hr.data(), hr.n, x, nt, reach, D, k0, m, c, y + m);
    else
      convolve_decimated_arrays(hr.data(), hr.n, x, nt, D,
                                static_cast<int32_t>(k0 + int64_t{m} * D), c, 1.0, y + m);
  }
  return {start, count};
}

// The pair (e, j) over the block's count scatterers in order, each signal added times its
// amplitude into the pair's sum; for one aperture (e <= j) into (j, e)'s sum as well, so that
// the two are the same numbers.
void add_pair(sys_con& sys, const block_rec& b, int32_t count, std::span<const double> amplitudes,
              int32_t e, int32_t j, pulse_rec& pulse_of, int32_t D, pair_scratch& s,
              std::vector<signal_ptr>& sums) {
  for (int32_t i = 0; i < count; ++i) {
    if (!b.has_t[static_cast<size_t>(i) * b.T + e] || !b.receives(i, j)) continue;
    const auto [start, n] = pair_signal(sys, b, i, e, j, pulse_of, D, s);
    add_scaled_samples(sys, s.y.data(), start, n, sums[static_cast<size_t>(e) * b.R + j],
                       amplitudes[i], D);
    if (b.same && e != j)
      add_scaled_samples(sys, s.y.data(), start, n, sums[static_cast<size_t>(j) * b.R + e],
                         amplitudes[i], D);
  }
}

// Every pair whose sum is computed: all of them for two apertures, e <= j for one.
std::vector<std::pair<int32_t, int32_t>> pairs_of(int32_t T, int32_t R, bool same) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (int32_t e = 0; e < T; ++e)
    for (int32_t j = same ? e : 0; j < R; ++j) pairs.emplace_back(e, j);
  return pairs;
}
}  // namespace

void sort_by_distance(int32_t n, point3* positions, double* amplitudes) {
  auto key = [positions](int32_t i) {
    const point3& p = positions[i];
    return p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
  };
  auto swap = [positions, amplitudes](int32_t a, int32_t b) {
    std::swap(positions[a], positions[b]);
    std::swap(amplitudes[a], amplitudes[b]);
  };
  heap_sort(
      n, [&key](int32_t a, int32_t b) { return key(a) < key(b); }, swap);
}

std::vector<std::vector<signal_ptr>> calc_scat_all(sys_con& sys, const aperture_rec& transmit,
                                                   const aperture_rec& receive,
                                                   std::span<const point3> points,
                                                   std::span<const double> amplitudes, int32_t D) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  const bool same = &transmit == &receive;
  const int32_t T = transmit.no_phys_elements, R = receive.no_phys_elements;
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  pulse_rec pulse_of(sys, *pulse);

  // Nearest and farthest first: the sums reach close to their full spans at once.
  const int64_t n = static_cast<int64_t>(points.size());
  std::vector<point3> where(points.begin(), points.end());
  std::vector<double> amplitude(amplitudes.begin(), amplitudes.begin() + n);
  if (n > 10) {
    sort_by_distance(static_cast<int32_t>(n), where.data(), amplitude.data());
    std::swap(where[1], where[n - 1]);
    std::swap(amplitude[1], amplitude[n - 1]);
  }
  const double dt = 1 / sys.fs;  // the sampling interval of the time-domain convolutions
  for (double& a : amplitude) a *= dt;

  calculation_run run(sys, n);
  std::vector<pair_scratch> scratch = scratch_per_thread<pair_scratch>(run, tx, rx);
  const std::vector<std::pair<int32_t, int32_t>> pairs = pairs_of(T, R, same);
  std::vector<signal_ptr> sums(static_cast<size_t>(T) * static_cast<size_t>(R));
  block_rec b(T, R, same);
  const int32_t responses = T + (same ? 0 : R);  // per scatterer
  for (int64_t first = 0; first < n && !pairs.empty(); first += scatterer_block) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(scatterer_block, n - first));
    const point3* p = where.data() + first;
    run.run(
        int64_t{count} * responses, response_grain,
        [&](int64_t k, int32_t w) {
          element_of_block(tx, rx, b, k / responses, static_cast<int32_t>(k % responses),
                           p[k / responses], scratch[w]);
        },
        first, 0);
    for (int32_t i = 0; i < count; ++i) {
      int32_t longest = 1;
      for (int32_t j = 0; j < R; ++j)
        if (b.receives(i, j)) longest = std::max(longest, b.receive(i, j).n);
      b.reach[i] = longest;
    }
    run.run(
        int64_t{count} * T, response_grain,
        [&](int64_t k, int32_t w) {
          pulse_transmit(sys, b, k / T, static_cast<int32_t>(k % T), pulse_of, D, scratch[w]);
        },
        first, 0);
    const std::span<const double> block_amplitudes(amplitude.data() + first, count);
    run.run(
        static_cast<int64_t>(pairs.size()), 1,
        [&](int64_t c, int32_t w) {
          add_pair(sys, b, count, block_amplitudes, pairs[c].first, pairs[c].second, pulse_of, D,
                   scratch[w], sums);
        },
        first, 0);
    run.show(first + count);
  }

  std::vector<std::vector<signal_ptr>> grid(static_cast<size_t>(T));
  for (int32_t e = 0; e < T; ++e)
    for (int32_t j = 0; j < R; ++j)
      grid[e].push_back(std::move(sums[static_cast<size_t>(e) * R + j]));
  run.finish();
  free_signal(sys, pulse);
  return grid;
}
