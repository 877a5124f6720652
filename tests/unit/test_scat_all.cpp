// The all-element pulse-echo calculation: each pair against calc_scat of its two elements alone,
// against the signal operations of its definition under attenuation, the decimated grid, the
// mirror pairs of one aperture, many scatterers against runs of ten, thread counts, and the
// command's columns, start time and refusals.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "apertures/arrays.h"
#include "apertures/time_lines.h"
#include "calculation/drivers.h"
#include "calculation/rect_response.h"
#include "calculation/response.h"
#include "calculation/scat_all.h"
#include "core/sys_con.h"
#include "gateway/gateway.h"
#include "harness.h"
#include "reference.h"
#include "signal_checks.h"
#include "signals/signal_arith.h"

namespace {
using grid_t = std::vector<std::vector<signal_ptr>>;

class scat_all_test : public orvel_test {
 protected:
  sys_con sys;
  aperture_ptr arr, other;  // 4 and 3 elements, both focused at 25 mm
  std::vector<point3> points;
  std::vector<double> amplitudes;
  void SetUp() override {
    sys.show_times = 0;
    arr = xdc_linear_array(sys, 4, 0.3e-3, 4e-3, 0.05e-3, 2, 3, {0, 0, 25e-3});
    other = xdc_linear_array(sys, 3, 0.4e-3, 5e-3, 0.1e-3, 1, 2, {1e-3, 0, 30e-3});
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> x(-4e-3, 4e-3), z(8e-3, 20e-3), a(-1, 1);
    for (int k = 0; k < 25; ++k) {
      points.push_back({x(gen), x(gen) / 4, z(gen)});
      amplitudes.push_back(a(gen));
    }
  }
  void TearDown() override {
    free_aperture(sys, arr);
    free_aperture(sys, other);
    EXPECT_EQ(sys.bytes_reserved, 0);  // every signal of every calculation released
    orvel_test::TearDown();
  }
  void release(grid_t& g) {
    for (auto& row : g)
      for (signal_ptr& s : row) free_signal(sys, s);
  }
  signal_ptr element_signal(const aperture_rec& ap, int32_t e, const point3& p) {
    const response_plan plan = plan_response(sys, ap, true);
    response_workspace ws(plan);
    EXPECT_TRUE(element_response(plan, ws, e, p));
    signal_ptr s = alloc_signal(sys, ws.out.n, ws.out.start);
    std::copy_n(ws.out.data(), ws.out.n, s->data.begin());
    return s;
  }
};
}  // namespace

// Without focusing and apodization, pair (e, j) is what calc_scat gives with transmit element e
// and receive element j alone and no focusing delays, element waveforms included, but for the
// distance of each response's 1/r weighting, taken one sample later here: per response a factor
// between s / (s + 1) and 1 (s its first sample), and exp(-att ln(10)/20 c / fs) more with
// attenuation. With positive amplitudes every term is positive, so the bound holds sample by
// sample.
TEST_F(scat_all_test, EachPairIsTheScatteredSignalOfItsTwoElementsAlone) {
  ele_waveform(sys, *arr, {3}, 2, {{1.0, 0.5}});
  const std::vector<point3> some(points.begin(), points.begin() + 3);
  const std::vector<double> positive = {1.0, 0.5, 2.0};
  double z_min = some[0][2];
  for (const point3& p : some) z_min = std::min(z_min, p[2]);
  // No response starts before the arrival from the aperture's plane, less the few samples the
  // far-field ramps and the grid's rounding reach back.
  const double s = sys.fs * z_min / sys.c - 4;
  for (int16_t att : {0, 1}) {
    SCOPED_TRACE(att);
    sys.use_att = att;
    sys.att = 50.0;  // dB/m; no frequency-dependent part
    const double lowest = std::pow(s / (s + 1), 2) *
                          (att ? std::exp(-2 * sys.att * 0.11512925465 * sys.c / sys.fs) : 1.0);
    ASSERT_LT(lowest, 1 - 1e-4);  // the bound is not trivially tight
    // Computed before, then regardless of, the focusing and apodization calc_scat is given.
    grid_t grid = calc_scat_all(sys, *arr, *other, some, positive, 1);
    xdc_focus_delays(sys, *arr, {0.0}, {std::vector<double>(4, 0.0)});
    xdc_focus_delays(sys, *other, {0.0}, {std::vector<double>(3, 0.0)});
    for (int32_t e = 0; e < 4; ++e)
      for (int32_t j = 0; j < 3; ++j) {
        std::vector<double> only_e(4, 0.0), only_j(3, 0.0);
        only_e[e] = only_j[j] = 1.0;
        xdc_apodization(sys, *arr, {0.0}, {only_e});
        xdc_apodization(sys, *other, {0.0}, {only_j});
        signal_ptr alone = calc_scat(sys, *arr, *other, some, positive);
        const signal_rec& y = *grid[e][j];
        const double slack = 1e-12 * peak(*alone);
        ASSERT_GT(peak(*alone), 0.0);
        const int64_t to =
            std::max(y.start_sample + y.no_samples, alone->start_sample + alone->no_samples);
        for (int64_t g = std::min(y.start_sample, alone->start_sample); g < to; ++g) {
          ASSERT_LE(at(y, g), at(*alone, g) + slack) << e << j << " " << g;
          ASSERT_GE(at(y, g), lowest * at(*alone, g) - slack) << e << j << " " << g;
        }
        free_signal(sys, alone);
      }
    release(grid);
  }
}

// With frequency-dependent attenuation each pair carries the pulse filtered for its own
// distance: the documented signal operations on the two element responses, pair (e, j) of one
// aperture computed with e transmitting for e <= j and given to (j, e) as well.
TEST_F(scat_all_test, AttenuatedPairsAreTheSignalOperationsOfTheirElements) {
  signal_ptr imp = alloc_signal(sys, 30, 0);
  for (int k = 0; k < 30; ++k) imp->data[k] = std::sin(2 * M_PI * k / 20) * std::sin(M_PI * k / 30);
  xdc_impulse(sys, *arr, std::move(imp));
  sys.use_att = 1;
  sys.att = 40.0;
  sys.freq_att = 0.5e-4;
  sys.att_f0 = 5e6;
  const point3 p = points[0];
  const double amplitude = -0.7;
  const int32_t D = 2;
  grid_t grid = calc_scat_all(sys, *arr, *arr, {&p, 1}, {&amplitude, 1}, D);
  signal_ptr p1 = convolve_fft(sys, arr->impulse.get(), arr->excitation.get());
  signal_ptr pulse = convolve_fft(sys, arr->impulse.get(), p1.get());
  const int32_t np = pulse->no_samples;
  for (int32_t e = 0; e < 4; ++e)
    for (int32_t j = e; j < 4; ++j) {
      signal_ptr ht = element_signal(*arr, e, p), hr = element_signal(*arr, j, p);
      signal_ptr slot = signal_spectrum(sys, *pulse, fft_size(np, 0));
      signal_ptr filtered = attenuate_spectrum(sys, *pulse, slot, 2 * ht->start_sample,
                                               ht->no_samples + np, hr->no_samples);
      signal_ptr t = convolve_fft_cached(sys, *ht, *pulse, filtered);
      signal_ptr y = convolve_decimated(sys, *hr, *t, D, amplitude * (1 / sys.fs));
      for (const signal_ptr* cell : {&grid[e][j], &grid[j][e]}) {
        EXPECT_EQ((*cell)->start_sample, y->start_sample);
        EXPECT_TRUE(std::isfinite(peak(**cell)));
        expect_same(**cell, *y, 1e-12);
      }
      for (signal_ptr* s : {&ht, &hr, &slot, &filtered, &t, &y}) free_signal(sys, *s);
    }
  for (signal_ptr* s : {&p1, &pulse}) free_signal(sys, *s);
  release(grid);
}

// A point on an element's face, off its rectangles' centres, is reached from before time 0: the
// response starts at a negative sample, and one sample's distance c (start + k + 1) / fs is 0.
// It stays finite.
TEST_F(scat_all_test, ElementResponseOnTheFaceStaysFinite) {
  const rect_element& r = arr->phys_elements[1].rects[0];
  const point3 p = {r.center[0] + r.width / 4, r.center[1], 0.0};
  const response_plan plan = plan_response(sys, *arr, true);
  response_workspace ws(plan);
  ASSERT_TRUE(element_response(plan, ws, 1, p));
  ASSERT_LT(ws.out.start, -1);  // sample -start - 1 lies at distance 0
  ASSERT_GT(ws.out.start + ws.out.n, 0);
  double sum = 0.0;
  for (int32_t k = 0; k < ws.out.n; ++k) {
    ASSERT_TRUE(std::isfinite(ws.out.data()[k])) << k;
    sum += ws.out.data()[k];
  }
  EXPECT_GT(sum, 0.0);
}

// At D = 3 each signal holds every third sample of the one at D = 1, on a grid of fs / 3 whose
// sample m lies at sample 3 m of the full grid; one aperture both ways gives equal mirror pairs.
TEST_F(scat_all_test, DecimatedSignalsAreEveryDthSampleAndMirrorPairsAreEqual) {
  grid_t full = calc_scat_all(sys, *arr, *arr, points, amplitudes, 1);
  grid_t third = calc_scat_all(sys, *arr, *arr, points, amplitudes, 3);
  for (int32_t e = 0; e < 4; ++e)
    for (int32_t j = 0; j < 4; ++j) {
      const signal_rec &y1 = *full[e][j], &y3 = *third[e][j];
      EXPECT_EQ(y1.fs, sys.fs);
      EXPECT_EQ(y3.fs, sys.fs / 3);
      EXPECT_GT(peak(y1), 0.0);
      EXPECT_EQ(y3.start_sample, static_cast<int32_t>(std::ceil(y1.start_sample / 3.0)));
      for (int64_t g = y1.start_sample; g < y1.start_sample + y1.no_samples; ++g)
        if (g % 3 == 0) {
          ASSERT_EQ(at(y3, g / 3), at(y1, g)) << e << j << " " << g;
        }
      for (int32_t m = 0; m < y3.no_samples; ++m)
        ASSERT_EQ(y3.data[m], at(y1, 3 * (int64_t{y3.start_sample} + m))) << e << j << " " << m;
      for (const grid_t* g : {&full, &third}) {
        const signal_rec &a = *(*g)[e][j], &b = *(*g)[j][e];
        EXPECT_EQ(a.start_sample, b.start_sample);
        EXPECT_EQ(values(a), values(b));
      }
    }
  release(full);
  release(third);
}

// More than 10 scatterers are taken nearest first, then the farthest, then outwards; the sums
// are those of the scatterers in runs of at most 10 (taken in the given order) added up.
TEST_F(scat_all_test, ManyScatterersSumAsRunsOfTen) {
  grid_t all = calc_scat_all(sys, *arr, *other, points, amplitudes, 2);
  grid_t sum(4);
  for (size_t from = 0; from < points.size(); from += 10) {
    const size_t count = std::min<size_t>(10, points.size() - from);
    grid_t part =
        calc_scat_all(sys, *arr, *other, {&points[from], count}, {&amplitudes[from], count}, 2);
    for (int32_t e = 0; e < 4; ++e)
      for (int32_t j = 0; j < 3; ++j) {
        if (from == 0) sum[e].push_back(alloc_signal(sys, 0, part[e][j]->start_sample));
        add_signal(sys, *part[e][j], sum[e][j]);
      }
    release(part);
  }
  for (int32_t e = 0; e < 4; ++e)
    for (int32_t j = 0; j < 3; ++j) expect_same(*all[e][j], *sum[e][j], 1e-12);
  release(all);
  release(sum);
}

// Which thread computes what never changes a number: one aperture and two, with waveforms,
// attenuation, decimation and scatterers over two blocks.
TEST_F(scat_all_test, ResultsAreTheSameForEveryThreadCount) {
  ele_waveform(sys, *arr, {2}, 3, {{1.0, -0.5, 0.25}});
  signal_ptr imp = alloc_signal(sys, 20, 0);
  for (int k = 0; k < 20; ++k) imp->data[k] = std::sin(2 * M_PI * k / 10);
  xdc_impulse(sys, *arr, std::move(imp));
  std::vector<point3> many;
  std::vector<double> weights;
  for (int k = 0; k < 45; ++k) {
    many.push_back(points[k % 25]);
    many.back()[2] += k * 0.1e-3;
    weights.push_back(amplitudes[k % 25]);
  }
  sys.freq_att = 0.5e-4;
  sys.att_f0 = 4e6;
  for (int16_t att : {0, 1}) {
    sys.use_att = att;
    for (const aperture_rec* rx : {arr.get(), other.get()}) {
      const int32_t D = rx == arr.get() ? 1 : 3;
      sys.threads = 1;
      grid_t one = calc_scat_all(sys, *arr, *rx, many, weights, D);
      for (int32_t threads : {2, 3}) {
        sys.threads = threads;
        grid_t more = calc_scat_all(sys, *arr, *rx, many, weights, D);
        for (size_t e = 0; e < one.size(); ++e)
          for (size_t j = 0; j < one[e].size(); ++j) {
            ASSERT_EQ(one[e][j]->start_sample, more[e][j]->start_sample);
            ASSERT_EQ(values(*one[e][j]), values(*more[e][j]));  // bit for bit
          }
        release(more);
      }
      release(one);
    }
  }
}

namespace {
class scat_all_command_test : public orvel_test {
 protected:
  void SetUp() override { init_quiet(); }
  double linear(int n, double pitch_kerf) {
    call_result r = orvel_call(
        {1001, n, 0.3e-3, 5e-3, pitch_kerf, 1, 2, embedded_matrix(1, 3, {0, 0, 0.03})}, 1);
    EXPECT_TRUE(r.ok) << r.error;
    return r.at(0, 0);
  }
  static mxArray* one_point(double x, double z) { return embedded_matrix(1, 3, {x, 0, z}); }
};
}  // namespace

// Transmit element t and receive element r go to column t R + r; row 0 is the earliest start over
// all pairs (here pair (1, 2), the two elements nearest the scatterer), its time counted on the
// decimated grid.
TEST_F(scat_all_command_test, ColumnsArePairsTransmitFirstFromTheEarliestPair) {
  const double tx = linear(2, 0.05e-3), rx = linear(3, 0.1e-3);
  sys_con& sys = current_sys();
  const int32_t bytes = sys.bytes_reserved;
  call_result r = orvel_call({4007, tx, rx, one_point(5e-3, 10e-3), 1.0, 3}, 2);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(sys.bytes_reserved, bytes);
  EXPECT_EQ(sys.last_calc_type, 5);
  const point3 p = {5e-3, 0, 10e-3};
  const double amplitude = 1.0;
  grid_t grid = calc_scat_all(sys, *sys.apertures[static_cast<size_t>(tx)],
                              *sys.apertures[static_cast<size_t>(rx)], {&p, 1}, {&amplitude, 1}, 3);
  int64_t S = grid[0][0]->start_sample, E = S;
  for (auto& row : grid)
    for (signal_ptr& s : row) {
      S = std::min<int64_t>(S, s->start_sample);
      E = std::max<int64_t>(E, s->start_sample + s->no_samples);
    }
  EXPECT_EQ(S, grid[1][2]->start_sample);
  EXPECT_LT(S, grid[0][0]->start_sample);
  EXPECT_EQ(r.at(1, 0), S / (sys.fs / 3));
  ASSERT_EQ(r.cols(0), 6u);
  ASSERT_EQ(r.rows(0), static_cast<size_t>(E - S + 1));
  for (size_t t = 0; t < 2; ++t)
    for (size_t c = 0; c < 3; ++c)
      for (size_t row = 0; row < r.rows(0); ++row)
        ASSERT_EQ(r.at(0, row, t * 3 + c), at(*grid[t][c], S + static_cast<int64_t>(row)));
  for (auto& row : grid)
    for (signal_ptr& s : row) free_signal(sys, s);
}

TEST_F(scat_all_command_test, TraceCountsAndRefusals) {
  ASSERT_TRUE(orvel_call({5010, 1}).ok);
  const command_texts texts[] = {
      {4007, 6, "Calculating pulse-echo ultrasound fields. Calling calc_scat_all",
       "Internal Error 5: Too few parameters to calculate ultrasound field from all elements"}};
  expect_traces_and_too_few(texts, 2);
  ASSERT_TRUE(orvel_call({5010, 0}).ok);
  const double a = linear(4, 0.05e-3);
  call_result empty =
      orvel_call({1002, 1, 1, 1e-3, 1e-3, 0, 0, 0.0, 1, 1, embedded_matrix(1, 3, {0, 0, 0.03})}, 1);
  ASSERT_TRUE(empty.ok) << empty.error;
  const int32_t bytes = current_sys().bytes_reserved;
  // A decimation factor below 1 or not finite is refused before the calculation starts.
  for (double D : {0.4, -2.0, double{NAN}, double{INFINITY}}) {
    call_result r = orvel_call({4007, a, a, one_point(0, 0.02), 1.0, D}, 2);
    EXPECT_EQ(r.error, std::isfinite(D) ? "Error: The decimation factor must be at least 1, not " +
                                              std::to_string(static_cast<int>(std::floor(D + 0.5)))
                                        : std::string("Error: The decimation factor must be a "
                                                      "finite whole number within the 32-bit "
                                                      "range, but is ") +
                                              (std::isnan(D) ? "nan" : "inf"));
    EXPECT_EQ(current_sys().last_calc_type, 0);
  }
  // No scatterers: one zero row per pair; a receive aperture without elements: no columns.
  call_result none = orvel_call({4007, a, a, embedded_matrix(0, 3), embedded_matrix(0, 1), 2}, 2);
  ASSERT_TRUE(none.ok) << none.error;
  EXPECT_EQ(none.rows(0), 1u);
  EXPECT_EQ(none.cols(0), 16u);
  EXPECT_EQ(none.at(1, 0), 0.0);
  call_result no_columns = orvel_call({4007, a, empty.at(0, 0), one_point(0, 0.02), 1.0, 1}, 2);
  ASSERT_TRUE(no_columns.ok) << no_columns.error;
  EXPECT_EQ(no_columns.cols(0), 0u);
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
}
