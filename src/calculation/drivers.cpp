#include "calculation/drivers.h"

#include "calculation/attenuation.h"
#include "calculation/progress.h"
#include "calculation/rect_response.h"
#include "core/sys_con.h"
#include "signals/signal_arith.h"

namespace {
int32_t samples_of(const signal_ptr& s) { return s ? s->no_samples : 0; }

void scale(signal_rec& s, double factor) {
  for (int32_t k = 0; k < s.no_samples; ++k) s.data[k] *= factor;
}

// The pulse-echo pulse: transmit impulse * transmit excitation * receive impulse.
signal_ptr pulse_echo_pulse(sys_con& sys, const aperture_rec& tx, const aperture_rec& rx) {
  signal_ptr p1 = convolve_fft(sys, tx.impulse.get(), tx.excitation.get());
  signal_ptr p = convolve_fft(sys, rx.impulse.get(), p1.get());
  free_signal(sys, p1);
  return p;
}

// The response convolved with the pulse whose spectrum the cache holds; with attenuation the
// pulse is first filtered for the distance of the response.
signal_ptr apply_pulse(sys_con& sys, const signal_ptr& h, const signal_rec& pulse,
                       signal_ptr& cache) {
  if (!sys.use_att || !h) return convolve_fft_cached(sys, h.get(), &pulse, cache);
  signal_ptr filtered = attenuate_spectrum(sys, pulse, cache, h->start_sample, h->no_samples, 0);
  signal_ptr y = convolve_fft_cached(sys, h.get(), &pulse, filtered);
  free_signal(sys, filtered);
  return y;
}

// The pulse-echo response of one point: transmit response convolved with receive response
// (one response squared when both apertures are the same record).
signal_ptr pulse_echo_response(sys_con& sys, const aperture_rec& tx, const aperture_rec& rx,
                               const point3& p) {
  signal_ptr ht = aperture_response(sys, tx, p);
  signal_ptr hh;
  if (&tx == &rx) {
    hh = convolve_fft(sys, ht.get(), ht.get());
  } else {
    signal_ptr hr = aperture_response(sys, rx, p);
    hh = convolve_fft(sys, ht.get(), hr.get());
    free_signal(sys, hr);
  }
  free_signal(sys, ht);
  return hh;
}

// With attenuation, each scattered term carries the filtered pulse; without, the pulse is
// applied once to the sum afterwards.
signal_ptr scattered_term(sys_con& sys, signal_ptr hh, const signal_rec& pulse, signal_ptr& cache) {
  if (!sys.use_att) return hh;
  signal_ptr filtered = attenuate_spectrum(sys, pulse, cache, hh->start_sample, hh->no_samples, 0);
  signal_ptr y = convolve_fft_cached(sys, hh.get(), &pulse, filtered);
  free_signal(sys, filtered);
  free_signal(sys, hh);
  return y;
}

void accumulate(sys_con& sys, signal_ptr y, signal_ptr& sum) {
  if (!sum) {
    sum = std::move(y);
  } else {
    add_signal(sys, *y, sum);
    free_signal(sys, y);
  }
}

// The receive aperture's own apodization line is swapped out while single elements answer,
// and put back on every path out of the calculation.
struct apodization_swap {
  aperture_rec& ap;
  std::vector<apod_entry> other;
  bool swapped = false;
  void toggle() {
    ap.apod_line.swap(other);
    swapped = !swapped;
  }
  ~apodization_swap() {
    if (swapped) toggle();
  }
};
}  // namespace

signal_ptr aperture_response(sys_con& sys, const aperture_rec& ap, const point3& p) {
  // Rectangles are the one kind of mathematical element of this version; triangle and
  // bounding-line responses join the sum here, each kind's signal receiving the sum so far.
  if (ap.uses_rectangles) return rect_response(sys, ap, p);
  return signal_ptr();
}

std::vector<signal_ptr> calc_h(sys_con& sys, const aperture_rec& ap,
                               std::span<const point3> points) {
  sys.last_calc_type = 0;
  const int32_t n = static_cast<int32_t>(points.size());
  std::vector<signal_ptr> out(points.size());
  progress_state st = start_progress();
  for (int32_t i = 0; i < n; ++i) {
    signal_ptr h = aperture_response(sys, ap, points[i]);
    if (h && sys.use_att) {
      signal_ptr slot = signal_spectrum(sys, *h, fft_size(h->no_samples, 0));
      // Filtered in the frequency domain and back: all N samples of the transform. No factor
      // 1/fs: there is no convolution here, and the response keeps its unit (m/s).
      signal_ptr a = attenuate_spectrum(sys, *h, slot, h->start_sample, h->no_samples, 0);
      inverse_spectrum(sys, *a, a->no_samples);
      free_signal(sys, h);
      free_signal(sys, slot);
      h = std::move(a);
    }
    out[i] = std::move(h);
    show_progress(sys, st.t0, st, i, n);
  }
  show_elapsed(sys, st.t0, st);
  return out;
}

std::vector<signal_ptr> calc_hp(sys_con& sys, const aperture_rec& ap,
                                std::span<const point3> points) {
  sys.last_calc_type = 1;
  const int32_t n = static_cast<int32_t>(points.size());
  std::vector<signal_ptr> out(points.size());
  signal_ptr pulse = convolve_fft(sys, ap.impulse.get(), ap.excitation.get());
  signal_ptr cache;
  progress_state st = start_progress();
  for (int32_t i = 0; i < n; ++i) {
    signal_ptr h = aperture_response(sys, ap, points[i]);
    if (i == 0)
      cache = signal_spectrum(sys, *pulse, fft_size(samples_of(h) + pulse->no_samples, 0));
    out[i] = apply_pulse(sys, h, *pulse, cache);
    free_signal(sys, h);
    show_progress(sys, st.t0, st, i, n);
  }
  show_elapsed(sys, st.t0, st);
  free_signal(sys, pulse);
  free_signal(sys, cache);
  return out;
}

std::vector<signal_ptr> calc_hhp(sys_con& sys, const aperture_rec& transmit,
                                 const aperture_rec& receive, std::span<const point3> points) {
  sys.last_calc_type = 2;
  const int32_t n = static_cast<int32_t>(points.size());
  std::vector<signal_ptr> out(points.size());
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  signal_ptr cache;
  progress_state st = start_progress();
  for (int32_t i = 0; i < n; ++i) {
    signal_ptr hh = pulse_echo_response(sys, transmit, receive, points[i]);
    if (i == 0)
      cache = signal_spectrum(sys, *pulse, fft_size(pulse->no_samples + hh->no_samples, 0));
    out[i] = apply_pulse(sys, hh, *pulse, cache);
    free_signal(sys, hh);
    show_progress(sys, st.t0, st, i, n);
  }
  show_elapsed(sys, st.t0, st);
  free_signal(sys, pulse);
  free_signal(sys, cache);
  return out;
}

signal_ptr calc_scat(sys_con& sys, const aperture_rec& transmit, const aperture_rec& receive,
                     std::span<const point3> points, std::span<const double> amplitudes) {
  sys.last_calc_type = 3;
  const int32_t n = static_cast<int32_t>(points.size());
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  signal_ptr cache;
  if (sys.use_att) cache = signal_spectrum(sys, *pulse, fft_size(pulse->no_samples, 0));
  signal_ptr sum;
  progress_state st = start_progress();
  for (int32_t i = 0; i < n; ++i) {
    signal_ptr y =
        scattered_term(sys, pulse_echo_response(sys, transmit, receive, points[i]), *pulse, cache);
    scale(*y, amplitudes[i]);
    accumulate(sys, std::move(y), sum);
    show_progress(sys, st.t0, st, i, n);
  }
  signal_ptr result;
  if (!sum) {
    result = alloc_signal(sys, 0, 0);  // no scatterers: an empty signal
  } else if (!sys.use_att) {
    result = convolve_fft(sys, pulse.get(), sum.get());
    free_signal(sys, sum);
  } else {
    result = std::move(sum);
  }
  free_signal(sys, cache);
  show_elapsed(sys, st.t0, st);
  free_signal(sys, pulse);
  return result;
}

std::vector<signal_ptr> calc_scat_multi(sys_con& sys, const aperture_rec& transmit,
                                        aperture_rec& receive, std::span<const point3> points,
                                        std::span<const double> amplitudes) {
  sys.last_calc_type = 4;
  const int32_t n = static_cast<int32_t>(points.size());
  const size_t elements = static_cast<size_t>(receive.no_phys_elements);
  std::vector<signal_ptr> sums(elements);
  signal_ptr pulse = pulse_echo_pulse(sys, transmit, receive);
  signal_ptr cache;
  if (sys.use_att) cache = signal_spectrum(sys, *pulse, fft_size(pulse->no_samples, 0));

  // A shadow of the receive apodization line: same times, all weights 0 but one element's.
  apodization_swap shadow{receive, {}};
  for (const apod_entry& e : receive.apod_line)
    shadow.other.push_back({e.time, std::vector<double>(elements, 0.0)});

  progress_state st = start_progress();
  for (int32_t i = 0; i < n; ++i) {
    signal_ptr ht = aperture_response(sys, transmit, points[i]);  // with the own line in place
    shadow.toggle();
    const std::vector<apod_entry>& own = shadow.other;
    for (size_t j = 0; j < elements; ++j) {
      const size_t before = j > 0 ? j - 1 : elements - 1;
      for (size_t k = 0; k < own.size(); ++k) {
        if (elements > 1) receive.apod_line[k].values[before] = 0.0;
        receive.apod_line[k].values[j] = own[k].values[j];
      }
      signal_ptr hr = aperture_response(sys, receive, points[i]);
      signal_ptr hh = convolve_fft(sys, ht.get(), hr.get());
      signal_ptr y = scattered_term(sys, std::move(hh), *pulse, cache);
      scale(*y, amplitudes[i]);
      accumulate(sys, std::move(y), sums[j]);
      free_signal(sys, hr);
    }
    shadow.toggle();
    free_signal(sys, ht);
    show_progress(sys, st.t0, st, i, n);
  }
  if (!sys.use_att) {
    for (signal_ptr& s : sums) {
      if (!s) continue;
      signal_ptr shaped = convolve_fft(sys, pulse.get(), s.get());
      free_signal(sys, s);
      s = std::move(shaped);
    }
  } else {
    free_signal(sys, cache);
  }
  show_elapsed(sys, st.t0, st);
  free_signal(sys, pulse);
  return sums;
}
