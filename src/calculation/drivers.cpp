// The linear calculation drivers: calc_h, calc_hp, calc_hhp, calc_scat and calc_scat_multi.
// Each plans once, then runs points (or receive elements, or fixed chunks of scatterers) on the
// worker team with per-thread scratch. Invariants: a point's signal is computed by one thread;
// scatterers are summed in their given order within a chunk and chunks in chunk order, so the
// result never depends on the thread count; nothing is allocated per element.
#include "calculation/drivers.h"

#include <algorithm>
#include <cstdint>

#include "calculation/attenuation.h"
#include "calculation/calculation_run.h"
#include "calculation/response.h"
#include "core/errors.h"
#include "core/sys_con.h"
#include "signals/fft.h"
#include "signals/signal_arith.h"

int32_t echo_start(const sys_con& sys, int64_t start) {
  if (!(start >= INT32_MIN && start <= INT32_MAX))
    throw command_error(format_text(
        "Error: The echo of this point arrives at %g s, beyond the reach of the time grid",
        static_cast<double>(start) / sys.fs));
  return static_cast<int32_t>(start);
}

signal_ptr pulse_echo_pulse(sys_con& sys, const aperture_rec& tx, const aperture_rec& rx) {
  signal_ptr p1 = convolve_fft(sys, tx.impulse.get(), tx.excitation.get());
  signal_ptr p = convolve_fft(sys, rx.impulse.get(), p1.get());
  free_signal(sys, p1);
  return p;
}

void apply_pulse(const sys_con& sys, const double* h, int32_t nh, int32_t h_start,
                 pulse_rec& pulse_of, spectral_scratch& s, std::vector<double>& filter,
                 double* out) {
  const signal_rec& pulse = pulse_of.p;
  spectrum_cache& pulse_spectra = pulse_of.spectra;
  const int32_t np = pulse.no_samples;
  const double dt = 1 / sys.fs;
  if (nh == 0 || np == 0) {
    std::fill_n(out, std::max(nh + np - 1, 0), 0.0);  // a zero operand
    return;
  }
  if (!pulse_of.attenuated) {
    convolve_arrays(h, nh, pulse.data.data(), np, dt, &pulse_spectra, s, out);
    return;
  }
  // The filter evaluated at the frequencies of the transform of the product.
  const int32_t L = fft_size(nh + np, 0);
  double* filtered = scratch_of(filter, L);
  attenuate_packed(sys, attenuation_distance(sys, h_start, nh, 0), L, pulse_spectra.at(L),
                   filtered);
  std::copy_n(convolve_with_spectrum(L, h, nh, filtered, dt, s), nh + np - 1, out);
}

signal_ptr sum_signal(sys_con& sys, const grid_sum& sum) {
  signal_ptr s = alloc_signal(sys, sum.samples(), sum.start());
  std::copy_n(sum.data(), sum.samples(), s->data.begin());
  return s;
}

signal_ptr pulse_on_sum(sys_con& sys, const grid_sum& sum, pulse_rec& pulse_of,
                        spectral_scratch& s) {
  const signal_rec& pulse = pulse_of.p;
  // The pulse lengthens the sum: refused before the signal and the transform are made.
  check_result_size(int64_t{sum.samples()} + pulse.no_samples - 1, 1, sys.fs, true);
  signal_ptr y = alloc_signal(sys, std::max(sum.samples() + pulse.no_samples - 1, 0),
                              sum.start() + pulse.start_sample);
  if (pulse.no_samples > 0)
    convolve_arrays(sum.data(), sum.samples(), pulse.data.data(), pulse.no_samples, 1 / sys.fs,
                    &pulse_of.spectra, s, y->data.data());
  return y;
}

namespace {
constexpr int64_t point_grain = 8;       // points handed to a thread at a time
constexpr int32_t scatterer_chunk = 16;  // scatterers of one partial sum of calc_scat
constexpr int32_t scatterer_block = 64;  // scatterers whose transmit responses calc_scat_multi
                                         // keeps at a time

signal_ptr to_signal(sys_con& sys, const grid_buffer& b) {
  signal_ptr s = alloc_signal(sys, b.n, b.start);
  std::copy_n(b.data(), b.n, s->data.begin());
  return s;
}

// Per-thread scratch of a calculation.
struct thread_scratch {
  response_workspace transmit, receive;
  spectral_scratch spectra;
  grid_buffer hh, y;           // pulse-echo response, and a term of a sum
  std::vector<double> filter;  // the attenuated pulse spectrum
  thread_scratch(const response_plan& tx, const response_plan& rx, stop_flag stop)
      : transmit(tx, stop), receive(rx, stop) {
    spectra.stop = stop;
  }
};

// The response of a point convolved with the pulse, into y; zeros spanning the pulse where
// nothing contributes.
void pulse_field(const sys_con& sys, const grid_buffer* h, pulse_rec& pulse_of, thread_scratch& s,
                 grid_buffer& y) {
  const signal_rec& pulse = pulse_of.p;
  if (!h) {
    y.assign_zero(pulse.start_sample, pulse.no_samples);
    return;
  }
  y.assign_zero(h->start + pulse.start_sample, h->n + pulse.no_samples - 1);
  apply_pulse(sys, h->data(), h->n, h->start, pulse_of, s.spectra, s.filter, y.data());
}

// The same as a new signal.
signal_ptr pulse_field(sys_con& sys, const grid_buffer* h, pulse_rec& pulse_of, thread_scratch& s) {
  const signal_rec& pulse = pulse_of.p;
  if (!h) return alloc_signal(sys, pulse.no_samples, pulse.start_sample);
  signal_ptr y =
      alloc_signal(sys, std::max(h->n + pulse.no_samples - 1, 0), h->start + pulse.start_sample);
  apply_pulse(sys, h->data(), h->n, h->start, pulse_of, s.spectra, s.filter, y->data.data());
  return y;
}

// hh = (ht * hr) / fs at one point into s.hh: zeros spanning the one response present when the
// other is missing, no samples at all when both are. The same aperture answers once.
void pulse_echo_response(const sys_con& sys, const response_plan& tx, const response_plan& rx,
                         const point3& p, thread_scratch& s) {
  const bool has_t = aperture_response(tx, s.transmit, p);
  const bool same = tx.ap == rx.ap;
  const bool has_r = same ? has_t : aperture_response(rx, s.receive, p);
  const grid_buffer& ht = s.transmit.out;
  const grid_buffer& hr = same ? s.transmit.out : s.receive.out;
  if (has_t && has_r) {
    s.hh.assign_zero(echo_start(sys, int64_t{ht.start} + hr.start), ht.n + hr.n - 1);
    convolve_arrays(ht.data(), ht.n, hr.data(), hr.n, 1 / sys.fs, nullptr, s.spectra, s.hh.data());
  } else if (has_t || has_r) {
    const grid_buffer& present = has_t ? ht : hr;
    s.hh.assign_zero(present.start, present.n);
  } else {
    s.hh.assign_zero(0, 0);
  }
}

// The scattered signal of the scatterers in order into sum (emptied first): each pulse-echo
// response times its amplitude, carrying the filtered pulse when the medium attenuates.
void sum_scattered(const sys_con& sys, const response_plan& tx, const response_plan& rx,
                   std::span<const point3> points, std::span<const double> amplitudes,
                   pulse_rec& pulse_of, thread_scratch& s, grid_sum& sum) {
  const signal_rec& pulse = pulse_of.p;
  sum.clear();
  for (size_t i = 0; i < points.size(); ++i) {
    if (s.transmit.stop.stopped()) return;  // a Ctrl-C between two scatterers of a chunk
    pulse_echo_response(sys, tx, rx, points[i], s);
    const grid_buffer* y = &s.hh;
    if (pulse_of.attenuated && s.hh.n > 0) {
      s.y.assign_zero(s.hh.start + pulse.start_sample, s.hh.n + pulse.no_samples - 1);
      apply_pulse(sys, s.hh.data(), s.hh.n, s.hh.start, pulse_of, s.spectra, s.filter, s.y.data());
      y = &s.y;
    }
    sum.add(y->start, y->n, y->data(), amplitudes[i]);
  }
}
}  // namespace

std::vector<signal_ptr> calc_h(sys_con& sys, const aperture_rec& ap,
                               std::span<const point3> points) {
  const response_plan plan = plan_response(sys, ap, false);
  const bool attenuated = sys.use_att != 0;
  std::vector<signal_ptr> out(points.size());
  calculation_run run(sys, static_cast<int64_t>(points.size()));
  std::vector<thread_scratch> scratch = scratch_per_thread<thread_scratch>(run, plan, plan);
  run.run(static_cast<int64_t>(points.size()), point_grain, [&](int64_t i, int32_t w) {
    thread_scratch& s = scratch[w];
    if (!aperture_response(plan, s.transmit, points[i])) return;
    const grid_buffer& h = s.transmit.out;
    if (!attenuated) {
      out[i] = to_signal(sys, h);
      return;
    }
    // Filtered in the frequency domain and back: all L samples of the transform, L the size
    // the attenuated response may need. No factor 1/fs: there is no convolution here, and the
    // response keeps its unit (m/s).
    const int32_t M = attenuation_transform_samples(sys, h.n, h.start, h.n, 0);
    const int32_t L = std::max(fft_size(h.n, 0), fft_size(M, 0));
    signal_ptr a = alloc_signal(sys, L, h.start);
    double* x = a->data.data();
    packed_forward(L, h.data(), h.n, x);
    attenuate_packed(sys, attenuation_distance(sys, h.start, h.n, 0), L, x, x);
    packed_inverse(L, x, x, 1.0 / L);
    out[i] = std::move(a);
  });
  run.finish();
  return out;
}

std::vector<signal_ptr> calc_hp(sys_con& sys, const aperture_rec& ap,
                                std::span<const point3> points) {
  const response_plan plan = plan_response(sys, ap, true);
  std::vector<signal_ptr> out(points.size());
  signal_ptr pulse = convolve_fft(sys, ap.impulse.get(), ap.excitation.get());
  pulse_rec pulse_of(sys, *pulse);
  calculation_run run(sys, static_cast<int64_t>(points.size()));
  std::vector<thread_scratch> scratch = scratch_per_thread<thread_scratch>(run, plan, plan);
  run.run(static_cast<int64_t>(points.size()), point_grain, [&](int64_t i, int32_t w) {
    thread_scratch& s = scratch[w];
    const bool any = aperture_response(plan, s.transmit, points[i]);
    out[i] = pulse_field(sys, any ? &s.transmit.out : nullptr, pulse_of, s);
  });
  run.finish();
  free_signal(sys, pulse);
  return out;
}

std::vector<signal_ptr> calc_hhp(sys_con& sys, const aperture_rec& transmit,
                                 const aperture_rec& receive, std::span<const point3> points) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  std::vector<signal_ptr> out(points.size());
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  pulse_rec pulse_of(sys, *pulse);
  calculation_run run(sys, static_cast<int64_t>(points.size()));
  std::vector<thread_scratch> scratch = scratch_per_thread<thread_scratch>(run, tx, rx);
  run.run(static_cast<int64_t>(points.size()), point_grain, [&](int64_t i, int32_t w) {
    thread_scratch& s = scratch[w];
    pulse_echo_response(sys, tx, rx, points[i], s);
    out[i] = pulse_field(sys, &s.hh, pulse_of, s);
  });
  run.finish();
  free_signal(sys, pulse);
  return out;
}

namespace {
// A map's thread: the calculation's scratch and the reduction's.
struct map_scratch {
  thread_scratch calc;
  map_reducer::scratch reduce;
  map_scratch(const response_plan& tx, const response_plan& rx, stop_flag stop)
      : calc(tx, rx, stop) {}
};

// The map of the field whose signal at a point field_at(point, scratch) leaves in scratch.y.
template <class FieldAt>
void field_map(sys_con& sys, const response_plan& tx, const response_plan& rx,
               const signal_rec& pulse, std::span<const point3> points, const map_request& q,
               std::span<double> out, FieldAt field_at) {
  const size_t n = points.size();
  ORVEL_ASSERT(out.size() == n * q.columns.size());
  const map_reducer reducer(q, sys.fs, sys.c, pulse.data.data(), pulse.no_samples,
                            pulse.start_sample);
  calculation_run run(sys, static_cast<int64_t>(n));
  std::vector<map_scratch> scratch = scratch_per_thread<map_scratch>(run, tx, rx);
  run.run(static_cast<int64_t>(n), point_grain, [&](int64_t i, int32_t w) {
    map_scratch& s = scratch[w];
    field_at(points[i], s.calc);
    reducer.reduce(s.calc.y.data(), s.calc.y.n, s.calc.y.start, s.reduce, out.data() + i, n);
  });
  run.finish();
}
}  // namespace

void calc_hp_map(sys_con& sys, const aperture_rec& ap, std::span<const point3> points,
                 const map_request& q, std::span<double> out) {
  const response_plan plan = plan_response(sys, ap, true);
  signal_ptr pulse = convolve_fft(sys, ap.impulse.get(), ap.excitation.get());
  pulse_rec pulse_of(sys, *pulse);
  field_map(sys, plan, plan, *pulse, points, q, out, [&](const point3& p, thread_scratch& s) {
    const bool any = aperture_response(plan, s.transmit, p);
    pulse_field(sys, any ? &s.transmit.out : nullptr, pulse_of, s, s.y);
  });
  free_signal(sys, pulse);
}

void calc_hhp_map(sys_con& sys, const aperture_rec& transmit, const aperture_rec& receive,
                  std::span<const point3> points, const map_request& q, std::span<double> out) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  pulse_rec pulse_of(sys, *pulse);
  field_map(sys, tx, rx, *pulse, points, q, out, [&](const point3& p, thread_scratch& s) {
    pulse_echo_response(sys, tx, rx, p, s);
    pulse_field(sys, &s.hh, pulse_of, s, s.y);
  });
  free_signal(sys, pulse);
}

signal_ptr calc_scat(sys_con& sys, const aperture_rec& transmit, const aperture_rec& receive,
                     std::span<const point3> points, std::span<const double> amplitudes) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  pulse_rec pulse_of(sys, *pulse);
  const int64_t n = static_cast<int64_t>(points.size());
  calculation_run run(sys, n);
  std::vector<thread_scratch> scratch = scratch_per_thread<thread_scratch>(run, tx, rx);

  grid_sum total(sys.fs);
  sum_in_chunks(
      run, n, scatterer_chunk,
      [&](int64_t from, int64_t to, int32_t w, grid_sum& sum) {
        sum_scattered(sys, tx, rx, points.subspan(from, to - from),
                      amplitudes.subspan(from, to - from), pulse_of, scratch[w], sum);
      },
      total);

  signal_ptr result;
  if (total.empty())
    result = alloc_signal(sys, 0, 0);  // no scatterers, or none that any element reaches
  else if (pulse_of.attenuated)
    result = sum_signal(sys, total);
  else  // the pulse applied once to the sum of all pulse-echo responses
    result = pulse_on_sum(sys, total, pulse_of, scratch[0].spectra);
  run.finish();
  free_signal(sys, pulse);
  return result;
}

namespace {
// The transmit responses of a block of scatterers, kept while every receive element uses them:
// each between zeros, for the direct sums with receive responses of up to margin + 1 samples,
// and with its spectrum where those are long enough for the transforms to pay.
struct transmit_block {
  int32_t margin;                             // zeros before and (with 8 more) after
  std::vector<grid_buffer> h;                 // h[i].v: margin zeros, the samples, zeros
  std::vector<char> present;                  //
  std::vector<std::vector<double>> spectrum;  // empty: the direct sums serve
  std::vector<int32_t> L;                     // transform size of spectrum
  transmit_block(size_t n, int32_t longest_receive)
      : margin(std::max(longest_receive - 1, 0)), h(n), present(n), spectrum(n), L(n) {}
  const double* samples(size_t i) const { return h[i].data() + margin; }

  // The transmit response of scatterer i of the block, at p, with the whole aperture.
  void compute(size_t i, const response_plan& tx, response_workspace& ws, const point3& p) {
    present[i] = aperture_response(tx, ws, p);
    spectrum[i].clear();
    if (!present[i]) return;
    keep(i, ws.out);
    const int32_t n = h[i].n, longest_receive = margin + 1;
    L[i] = fft_size(n + longest_receive, 0);
    if (!direct_is_cheaper(n, longest_receive, L[i], 2)) {
      spectrum[i].resize(static_cast<size_t>(L[i]));
      packed_forward(L[i], samples(i), n, spectrum[i].data());
    }
  }

  // Takes the response in r (r gets the block's old buffer) and puts it between zeros.
  void keep(size_t i, grid_buffer& r) {
    std::swap(h[i], r);
    grid_buffer& k = h[i];
    k.v.resize(static_cast<size_t>(k.n) + 2 * margin + 8);
    std::copy_backward(k.v.begin(), k.v.begin() + k.n, k.v.begin() + margin + k.n);
    std::fill_n(k.v.begin(), margin, 0.0);
    std::fill(k.v.begin() + margin + k.n, k.v.end(), 0.0);
  }
};

// y = (ht * hr) / fs for scatterer i of the block, written into out or added into it times
// scale: by the direct sums over the kept zeros, or through ht's kept spectrum when it has one
// and the transforms cost less.
void transmit_receive(const sys_con& sys, const transmit_block& b, size_t i, const grid_buffer& hr,
                      thread_scratch& s, bool add, double scale, double* out) {
  const grid_buffer& ht = b.h[i];
  const double* x = b.samples(i);
  const double dt = 1 / sys.fs;
  const int32_t L = b.L[i];
  const int32_t n = ht.n + hr.n - 1;
  const bool fits = !b.spectrum[i].empty() && ht.n + hr.n <= L;
  if (!fits || direct_is_cheaper(ht.n, hr.n, L, 2)) {
    // The padded sums run over hr for every output: they serve while hr is the shorter
    // operand. A receive response far longer than the transmit one (an element that reaches
    // far across) goes to the sums over the shorter operand instead: n x hr.n products would
    // take seconds for one scatterer where n x ht.n take microseconds.
    if (hr.n - 1 <= b.margin && hr.n <= ht.n)
      convolve_padded(x, ht.n, hr.data(), hr.n, dt, add, scale, out);
    else if (add)
      convolve_add(x, ht.n, hr.data(), hr.n, dt, scale, s.spectra, out);
    else
      convolve_arrays(x, ht.n, hr.data(), hr.n, dt, nullptr, s.spectra, out);
    return;
  }
  // The product's factors commute exactly, so hr may take the place of the first operand.
  const double* P = convolve_with_spectrum(L, hr.data(), hr.n, b.spectrum[i].data(), dt, s.spectra);
  if (add)
    for (int32_t k = 0; k < n; ++k) out[k] += P[k] * scale;
  else
    std::copy_n(P, n, out);
}

// The terms of the block's scatterers (from first on) for receive element j alone, added into
// its sum in scatterer order.
void add_receive_terms(const sys_con& sys, const response_plan& rx, const transmit_block& b,
                       std::span<const point3> points, std::span<const double> amplitudes,
                       int32_t j, pulse_rec& pulse_of, thread_scratch& s, grid_sum& sum) {
  const signal_rec& pulse = pulse_of.p;
  for (size_t i = 0; i < points.size(); ++i) {
    if (s.receive.stop.stopped()) return;  // a Ctrl-C between two scatterers of a chunk
    if (!b.present[i] || !aperture_response(rx, s.receive, points[i], j)) continue;
    const grid_buffer& ht = b.h[i];
    const grid_buffer& hr = s.receive.out;
    if (ht.n == 0 || hr.n == 0) continue;  // an empty response (line elements far away)
    const int32_t start = echo_start(sys, int64_t{ht.start} + hr.start);
    if (!pulse_of.attenuated) {  // the term goes straight into the element's sum
      double* into = sum.room(start, ht.n + hr.n - 1);
      transmit_receive(sys, b, i, hr, s, true, amplitudes[i], into);
      continue;
    }
    s.hh.assign_zero(start, ht.n + hr.n - 1);
    transmit_receive(sys, b, i, hr, s, false, 0.0, s.hh.data());
    s.y.assign_zero(s.hh.start + pulse.start_sample, s.hh.n + pulse.no_samples - 1);
    apply_pulse(sys, s.hh.data(), s.hh.n, s.hh.start, pulse_of, s.spectra, s.filter, s.y.data());
    sum.add(s.y.start, s.y.n, s.y.data(), amplitudes[i]);
  }
}
}  // namespace

std::vector<signal_ptr> calc_scat_multi(sys_con& sys, const aperture_rec& transmit,
                                        const aperture_rec& receive, std::span<const point3> points,
                                        std::span<const double> amplitudes) {
  const response_plan tx = plan_response(sys, transmit, true);
  const response_plan rx = plan_response(sys, receive, true);
  const int64_t elements = receive.no_phys_elements;
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  pulse_rec pulse_of(sys, *pulse);
  const int64_t n = static_cast<int64_t>(points.size());
  calculation_run run(sys, n);
  std::vector<thread_scratch> scratch = scratch_per_thread<thread_scratch>(run, tx, rx);
  std::vector<grid_sum> sums(static_cast<size_t>(elements), grid_sum(sys.fs, elements));
  transmit_block b(scatterer_block, rx.longest_element);

  for (int64_t first = 0; first < n; first += scatterer_block) {
    const int64_t count = std::min<int64_t>(scatterer_block, n - first);
    const std::span<const point3> block_points = points.subspan(first, count);
    const std::span<const double> block_amplitudes = amplitudes.subspan(first, count);
    run.run(
        count, 1,
        [&](int64_t i, int32_t w) {
          b.compute(static_cast<size_t>(i), tx, scratch[w].transmit, block_points[i]);
        },
        first, 0);
    // Every receive element alone, over the block's scatterers in order.
    run.run(
        elements, 1,
        [&](int64_t j, int32_t w) {
          add_receive_terms(sys, rx, b, block_points, block_amplitudes, static_cast<int32_t>(j),
                            pulse_of, scratch[w], sums[j]);
        },
        first, 0);
    run.show(first + count);
  }

  std::vector<signal_ptr> out(static_cast<size_t>(elements));
  run.run(
      elements, 1,
      [&](int64_t j, int32_t w) {
        if (sums[j].empty()) return;
        out[j] = pulse_of.attenuated ? sum_signal(sys, sums[j])
                                     : pulse_on_sum(sys, sums[j], pulse_of, scratch[w].spectra);
      },
      n, 0);
  run.finish();
  free_signal(sys, pulse);
  return out;
}
