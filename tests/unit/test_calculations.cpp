// The calculation commands through the embedded host: traces and too-few texts, the aligned
// result matrix and its start time, refusals, and the store's byte count after each command.
#include <array>
#include <cmath>
#include <cstdlib>

#include "core/errors.h"
#include "gateway/calculations.h"
#include "gateway/gateway.h"
#include "harness.h"

namespace {
class calculations_test : public orvel_test {
 protected:
  void SetUp() override { init_quiet(); }
  double linear(int n) {
    call_result r = orvel_call({1001, n, 0.3e-3, 5e-3, 0.05e-3, 1, 2, points(1, {0, 0, 0.03})}, 1);
    EXPECT_TRUE(r.ok) << r.error;
    return r.at(0, 0);
  }
  static mxArray* points(size_t n, std::vector<double> xyz_by_row) {
    std::vector<double> column_major(3 * n);
    for (size_t i = 0; i < n; ++i)
      for (size_t c = 0; c < 3; ++c) column_major[i + c * n] = xyz_by_row[3 * i + c];
    return embedded_matrix(n, 3, column_major);
  }
};

const command_texts texts[] = {
    {4001, 3, "Calculating h. Calling calc_h",
     "Internal Error 5: Too few parameters to calculate spatial impulse response"},
    {4002, 3, "Calculating emitted ultrasound field. Calling calc_hp",
     "Internal Error 5: Too few parameters to calculate emitted ultrasound field"},
    {4003, 4, "Calculating h*h*p. Calling calc_hhp",
     "Internal Error 5: Too few parameters to calculate pulse-echo field"},
    {4005, 5, "Calculating scattered field. Calling calc_scat",
     "Internal Error 5: Too few parameters to calculate scattered field"},
    {4006, 5, "Calculating scattered field. Calling calc_scat_multi",
     "Internal Error 5: Too few parameters to calculate scattered field"},
    {4012, 4, "Calculating non-linear emitted ultrasound field. Calling calc_hp_non_linear",
     "Internal Error 5: Too few parameters to calculate non-linear emitted ultrasound field"},
    {4013, 5, "Calculating h*h*p non-linearly. Calling calc_hhp_non_linear",
     "Internal Error 5: Too few parameters to calculate non-linear pulse-echo field"},
    {4014, 6, "Calculating scattered signal non-linearly. Calling calc_scat_non_linear",
     "Internal Error 5: Too few parameters to calculate non-linear scattered field"},
    {4015, 6, "Calculating scattered field. Calling calc_scat_multi_non_linear",
     "Internal Error 5: Too few parameters to calculate scattered field with "
     "calc_scat_multi_non_linear"},
};

// Signals made by hand for the alignment of results.
signal_ptr ramp(sys_con& sys, int32_t n, int32_t start) {
  signal_ptr s = alloc_signal(sys, n, start);
  for (int32_t k = 0; k < n; ++k) s->data[k] = k + 1.0;
  return s;
}
}  // namespace

TEST_F(calculations_test, EveryCommandTracesThenCountsItsArguments) {
  ASSERT_TRUE(orvel_call({5010, 1}).ok);
  expect_traces_and_too_few(texts, 2);
}

TEST_F(calculations_test, SignalsAreAlignedOnTheEarliestStart) {
  sys_con& sys = current_sys();
  const int32_t bytes = sys.bytes_reserved;
  mxArray* plhs[2] = {};
  command_args args{2, plhs, 0, nullptr};
  std::vector<signal_ptr> two;
  two.push_back(ramp(sys, 50, 100));
  two.push_back(ramp(sys, 40, 120));
  return_aligned(sys, args, two);
  host_array m(plhs[0]), t(plhs[1]);
  ASSERT_EQ(mxGetM(m.get()), 61u);  // 160 - 100 + 1
  ASSERT_EQ(mxGetN(m.get()), 2u);
  const double* v = mxGetPr(m.get());
  for (int r = 0; r < 61; ++r) {
    EXPECT_EQ(v[r], r < 50 ? r + 1.0 : 0.0) << r;
    EXPECT_EQ(v[61 + r], r >= 20 && r < 60 ? r - 19.0 : 0.0) << r;
  }
  EXPECT_EQ(mxGetPr(t.get())[0], 100 / sys.fs);
  EXPECT_EQ(sys.bytes_reserved, bytes);
  // The earliest signal need not be the first; an empty one leaves a zero column.
  std::vector<signal_ptr> three;
  three.push_back(ramp(sys, 3, 10));
  three.push_back(signal_ptr());
  three.push_back(ramp(sys, 2, 7));
  mxArray* more[2] = {};
  return_aligned(sys, command_args{2, more, 0, nullptr}, three);
  host_array m3(more[0]), t3(more[1]);
  ASSERT_EQ(mxGetM(m3.get()), 7u);  // samples 7 .. 12 and the trailing row
  const double* w = mxGetPr(m3.get());
  EXPECT_EQ(std::vector<double>(w, w + 7), (std::vector<double>{0, 0, 0, 1, 2, 3, 0}));
  EXPECT_EQ(std::vector<double>(w + 7, w + 14), std::vector<double>(7, 0.0));
  EXPECT_EQ(std::vector<double>(w + 14, w + 21), (std::vector<double>{1, 2, 0, 0, 0, 0, 0}));
  EXPECT_EQ(mxGetPr(t3.get())[0], 7 / sys.fs);
  // One signal alone: no trailing row.
  signal_ptr one = ramp(sys, 30, -4);
  mxArray* single[2] = {};
  return_single(sys, command_args{2, single, 0, nullptr}, one);
  host_array m1(single[0]), t1(single[1]);
  EXPECT_EQ(mxGetM(m1.get()), 30u);
  EXPECT_EQ(mxGetN(m1.get()), 1u);
  EXPECT_EQ(mxGetPr(m1.get())[29], 30.0);
  EXPECT_EQ(mxGetPr(t1.get())[0], -4 / sys.fs);
  EXPECT_EQ(sys.bytes_reserved, bytes);
}

TEST_F(calculations_test, OnePointGivesOneColumnAndATrailingZeroRow) {
  const double h = linear(4);
  ASSERT_TRUE(orvel_call({1061, h, 0.0, embedded_matrix(1, 4)}).ok);  // no focusing delays
  const int32_t bytes = current_sys().bytes_reserved;
  call_result r = orvel_call({4001, h, points(1, {1e-3, 0, 20e-3})}, 2);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.cols(0), 1u);
  EXPECT_EQ(r.at(0, r.rows(0) - 1), 0.0);
  EXPECT_NE(r.at(0, 1), 0.0);
  EXPECT_EQ(r.rows(1), 1u);
  // The first row lies on the grid a little before the arrival from the nearest point of the
  // aperture, the edge of element 4 at x = 0.675 mm (each 2.5 mm rectangle's linear arrival
  // ramp starts up to 3 samples early at this point).
  const double fs = current_sys().fs, nearest = std::hypot(1e-3 - 0.675e-3, 20e-3) / 1540;
  EXPECT_EQ(r.at(1, 0) * fs, std::round(r.at(1, 0) * fs));
  EXPECT_LE(r.at(1, 0), nearest);
  EXPECT_GT(r.at(1, 0), nearest - 5 / fs);
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
  EXPECT_EQ(current_sys().last_calc_type, 0);
}

TEST_F(calculations_test, EveryCommandGivesItsColumnsAndReleasesEverySignal) {
  const double a = linear(4), b = linear(3);
  const int32_t bytes = current_sys().bytes_reserved;
  mxArray* (*pts)(size_t, std::vector<double>) = points;
  auto three = [pts] { return pts(3, {0, 0, 20e-3, 2e-3, 0, 30e-3, -1e-3, 1e-3, 10e-3}); };
  auto amp = [] { return embedded_matrix(3, 1, {1, 0.5, -1}); };
  std::vector<int32_t> types;  // the type of the last calculation after each, as orvel_info shows
  auto typed = [&types](call_result r) {
    types.push_back(current_sys().last_calc_type);
    return r;
  };
  call_result h = typed(orvel_call({4001, a, three()}, 2));
  call_result hp = typed(orvel_call({4002, a, three()}, 2));
  call_result hhp = typed(orvel_call({4003, a, b, three()}, 2));
  call_result scat = typed(orvel_call({4005, a, b, three(), amp()}, 2));
  call_result multi = typed(orvel_call({4006, a, b, three(), amp()}, 2));
  for (const call_result* r : {&h, &hp, &hhp, &scat, &multi}) {
    ASSERT_TRUE(r->ok) << r->error;
    ASSERT_EQ(r->out.size(), 2u);
  }
  EXPECT_EQ(types, (std::vector<int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(h.cols(), 3u);
  EXPECT_EQ(hp.cols(), 3u);
  EXPECT_EQ(hhp.cols(), 3u);
  EXPECT_EQ(scat.cols(), 1u);
  EXPECT_EQ(multi.cols(), 3u);  // the receive aperture's 3 elements
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
}

TEST_F(calculations_test, ResultsBeyondTheHostsSlotsAreNotMadeButOneAlwaysIs) {
  const double a = linear(2);
  call_result r = orvel_call({4002, a, points(1, {0, 0, 0.02})}, 1);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.out.size(), 1u);  // the host has room for one result only
  call_result none = orvel_call({4005, a, a, points(1, {0, 0, 0.02}), 1.0}, 0);
  ASSERT_TRUE(none.ok);
  EXPECT_EQ(none.out.size(), 1u);  // a host always has room for one
}

TEST_F(calculations_test, HandlesAreLookedUpTransmitFirst) {
  const double a = linear(2), b = linear(2);
  ASSERT_TRUE(orvel_call({1040, a}).ok);
  const char* freed = "Orvel error: This aperture has been freed and is not defined";
  EXPECT_EQ(orvel_call({4003, a, 99, points(1, {0, 0, 0.02})}, 2).error, freed);
  EXPECT_EQ(orvel_call({4005, b, a, points(1, {0, 0, 0.02}), 1.0}, 2).error, freed);
  EXPECT_EQ(orvel_call({4006, 99, a, points(1, {0, 0, 0.02}), 1.0}, 2).error,
            "Orvel error: This aperture has not been defined");
}

TEST_F(calculations_test, BadPointsAndAmplitudesAreRefused) {
  const double a = linear(2);
  const int32_t bytes = current_sys().bytes_reserved;
  EXPECT_EQ(orvel_call({4001, a, embedded_matrix(2, 2)}, 2).error,
            "Error: The point table must have 3 columns (one row [x y z] per point), but is a 2 x "
            "2 matrix");
  EXPECT_EQ(orvel_call({4001, a, embedded_matrix(3, 5)}, 2).error,
            "Error: The point table must have 3 columns (one row [x y z] per point), but is a 3 x "
            "5 matrix");
  EXPECT_EQ(orvel_call({4002, a, points(2, {0, 0, 0.02, 0, NAN, 0.02})}, 2).error,
            "Error: The point table must hold finite coordinates, but row 2 does not");
  EXPECT_EQ(orvel_call({4003, a, a, points(1, {INFINITY, 0, 0.02})}, 2).error,
            "Error: The point table must hold finite coordinates, but row 1 does not");
  EXPECT_EQ(orvel_call({4005, a, a, points(2, {0, 0, 0.02, 0, 0, 0.03}), 1.0}, 2).error,
            "Error: The amplitude vector must hold 2 values (one per point), but holds 1");
  EXPECT_EQ(
      orvel_call({4005, a, a, points(1, {0, 0, 0.02}), embedded_matrix(1, 2, {1, 2})}, 2).error,
      "Error: The amplitude vector must hold 1 value (one per point), but holds 2");
  EXPECT_EQ(orvel_call({4006, a, a, points(1, {0, 0, 0.02}), NAN}, 2).error,
            "Error: The amplitude vector must hold finite values, but value 1 is nan");
  EXPECT_EQ(orvel_call({4006, a, a, "points", 1.0}, 2).error,
            "Error: The scatterer position table must be real double values (not text, "
            "logical, integer, single, complex or sparse data)");
  ASSERT_TRUE(orvel_call({5050, "fs", 100e6}).ok);
  // A point so far away that its response lies beyond the 32-bit sample grid.
  EXPECT_EQ(orvel_call({4002, a, points(1, {0, 0, 1e9})}, 2).error,
            "Error: The response at this field point lies beyond the reach of the time grid");
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
}

TEST_F(calculations_test, NoPointsGiveEmptyResults) {
  const double a = linear(2);
  for (int code : {4001, 4002}) {
    call_result r = orvel_call({code, a, embedded_matrix(0, 3)}, 2);
    ASSERT_TRUE(r.ok) << code;
    EXPECT_EQ(r.rows(0) * r.cols(0), 0u);
    EXPECT_EQ(r.at(1, 0), 0.0);
  }
  call_result s = orvel_call({4005, a, a, embedded_matrix(0, 3), embedded_matrix(0, 1)}, 2);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.rows(0), 0u);
  EXPECT_EQ(s.cols(0), 1u);
  // A receive aperture without physical elements gives no columns.
  call_result none =
      orvel_call({1002, 1, 1, 1e-3, 1e-3, 0, 0, 0.0, 1, 1, points(1, {0, 0, 0.03})}, 1);
  ASSERT_TRUE(none.ok);
  call_result m = orvel_call({4006, a, none.at(0, 0), points(1, {0, 0, 0.02}), 1.0}, 2);
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_EQ(m.cols(0), 0u);
}

// Receive elements that get nothing (apodization 0) give empty zero columns and have no say in
// the time range: the matrix starts near the echo time, not at the one-way time of the
// transmit response alone.
TEST_F(calculations_test, RegressionSilentReceiveElementsDoNotMoveTheStartTime) {
  const double a = linear(16);
  std::vector<double> half(16, 0.0);
  for (int e = 4; e < 12; ++e) half[e] = 1.0;
  ASSERT_TRUE(orvel_call({1070, a, 0.0, embedded_matrix(1, 16, half)}).ok);
  const double z = 0.03, c = 1540.0;
  call_result r = orvel_call({4006, a, a, points(1, {0, 0, z}), 1.0}, 2);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.cols(0), 16u);
  EXPECT_GT(r.at(1, 0), 2 * z / c - 1e-6);  // the echo arrives after 2 z / c
  for (size_t e = 0; e < 16; ++e) {
    bool silent = true;
    for (size_t i = 0; i < r.rows(0); ++i) silent = silent && r.at(0, i, e) == 0.0;
    EXPECT_EQ(silent, half[e] == 0.0) << e;
  }
}

// On the axis of a circular piston the exact response is c from the arrival of the centre,
// z / c, to that of the rim, sqrt(z^2 + R^2) / c, and 0 outside. The piston of 0.1 mm squares
// follows it up to the staircase of its edge and the blur of each square's own ramps (s sin(a)
// / c, under 2 samples at the rim here): each edge lies within 3 samples of the exact time, the
// plateau within 1 % of c.
TEST_F(calculations_test, PistonOnItsAxisHasThePlateauOfTheExactSolution) {
  const double R = 5e-3, s = 0.1e-3, z = 20e-3, c = 1540.0, fs = 100e6;
  call_result piston = orvel_call({1010, R, s}, 1);
  ASSERT_TRUE(piston.ok) << piston.error;
  call_result h = orvel_call({4001, piston.at(0, 0), points(1, {0, 0, z})}, 2);
  ASSERT_TRUE(h.ok) << h.error;
  const double t0 = h.at(1, 0);
  const double rise = z / c, fall = std::sqrt(z * z + R * R) / c;
  double area = 0.0;
  for (size_t k = 0; k < h.rows(); ++k) {
    const double t = t0 + k / fs, v = h.at(0, k);
    area += v / fs;
    if (t < rise - 3 / fs || t > fall + 3 / fs) {
      EXPECT_NEAR(v, 0.0, 1e-9 * c) << "sample " << k;
    } else if (t > rise + 3 / fs && t < fall - 3 / fs) {
      EXPECT_NEAR(v, c, 0.01 * c) << "sample " << k;
    }
  }
  EXPECT_NEAR(area, c * (fall - rise), 0.01 * c * (fall - rise));
}

// Scatterers 3 km apart: their echoes span some 3.9e8 samples at 100 MHz, more than one signal
// holds ((2^31 - 1 - 40) / 8 samples, whose charge the store's 32-bit count can hold). Every
// summing command refuses before the sum is made, naming the span, the samples and the bytes.
// At 30 km the echo arrives past the 32-bit grid. Nothing is left charged either way.
TEST_F(calculations_test, ResultsNoSignalCouldHoldAreRefusedFirst) {
  const double a = linear(1);
  const double fs = current_sys().fs;
  const int32_t bytes = current_sys().bytes_reserved;
  // With unit impulses and excitation the pulse has one sample, so calc_hhp gives the pulse-echo
  // response itself: its first sample and (one trailing zero row less) its length.
  auto echo = [&](double z) {
    call_result r = orvel_call({4003, a, a, points(1, {0, 0, z})}, 2);
    EXPECT_TRUE(r.ok) << r.error;
    return std::pair<long long, long long>(std::llround(r.at(1, 0) * fs), r.rows(0) - 1);
  };
  const auto [near_start, near_n] = echo(0.01);
  const auto [far_start, far_n] = echo(3000);
  const long long most = (2147483647LL - 40) / 8;
  auto expected = [&](long long samples, double grid_fs) {
    return format_text(
        "Error: The result would span %g s: %lld samples (%lld bytes), more than the %lld "
        "samples (%lld bytes) that one signal holds",
        samples / grid_fs, samples, 8 * samples + 40, most, 8 * most + 40);
  };
  const long long span = far_start + far_n - near_start;
  ASSERT_GT(span, most);
  mxArray* (*pts)(size_t, std::vector<double>) = points;
  auto two = [pts] { return pts(2, {0, 0, 0.01, 0, 0, 3000}); };
  auto amp = [] { return embedded_matrix(2, 1, {1, 1}); };
  EXPECT_EQ(orvel_call({4005, a, a, two(), amp()}, 2).error, expected(span, fs));
  EXPECT_EQ(orvel_call({4006, a, a, two(), amp()}, 2).error, expected(span, fs));
  // calc_scat_all counts (n - 1) div D + 1 samples for a pair: one more for D = 1.
  EXPECT_EQ(orvel_call({4007, a, a, two(), amp(), 1}, 2).error, expected(span + 1, fs));
  EXPECT_EQ(current_sys().bytes_reserved, bytes);

  call_result h = orvel_call({4001, a, points(1, {0, 0, 30000})}, 2);
  ASSERT_TRUE(h.ok) << h.error;
  const std::string past_grid = format_text(
      "Error: The echo of this point arrives at %g s, beyond the reach of the time grid",
      2 * std::llround(h.at(1, 0) * fs) / fs);
  EXPECT_EQ(orvel_call({4003, a, a, points(1, {0, 0, 30000})}, 2).error, past_grid);
  EXPECT_EQ(orvel_call({4005, a, a, points(1, {0, 0, 30000}), 1.0}, 2).error, past_grid);
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
}

// Elements of zero height: their sides in y have no extent, so they lie flat (slope 0, not
// 0 / 0 = NaN), and with no area they give a response of zeros, not a time beyond the grid.
TEST_F(calculations_test, RectanglesWithoutAreaGiveZeros) {
  const call_result th =
      orvel_call({1001, 2, 0.3e-3, 0.0, 0.05e-3, 1, 1, points(1, {0, 0, 0.03})}, 1);
  ASSERT_TRUE(th.ok) << th.error;
  const call_result rect = orvel_call({1101, th.at(0, 0), 1}, 1);
  ASSERT_TRUE(rect.ok) << rect.error;
  for (size_t i = 0; i < rect.rows(); ++i)
    for (size_t j = 0; j < rect.cols(); ++j) ASSERT_TRUE(std::isfinite(rect.at(0, i, j)));
  const call_result h = orvel_call({4001, th.at(0, 0), points(1, {1e-3, 0, 0.02})}, 2);
  ASSERT_TRUE(h.ok) << h.error;
  for (size_t i = 0; i < h.rows(); ++i) EXPECT_EQ(h.at(0, i), 0.0);
}

// ORVEL_MEMORY_LIMIT lowers the memory a result may take below the machine's: two points
// 30 m apart need some 31 MB of result, refused under a 1 MB limit, which the text names.
TEST_F(calculations_test, MemoryLimitOfTheEnvironmentIsHonoured) {
  const double a = linear(1);
  auto two = [] { return points(2, {0, 0, 0.01, 0, 0, 30}); };
  ASSERT_TRUE(orvel_call({4001, a, two()}, 2).ok);
  setenv("ORVEL_MEMORY_LIMIT", "1e6", 1);
  const call_result r = orvel_call({4001, a, two()}, 2);
  unsetenv("ORVEL_MEMORY_LIMIT");
  EXPECT_NE(r.error.find("more than the 1000000 bytes of ORVEL_MEMORY_LIMIT"), std::string::npos)
      << r.error;
}

// A response whose span no calculation could work with in memory is refused before its buffers
// are made: focusing delays a second apart (1e8 samples at 100 MHz), on rectangles and on the
// same array as triangles, and a rectangle whose corners stand 2.5 m out of its plane (its
// far-field ramps span seconds). Nothing stays charged, and the type of the last calculation is
// the one that completed. Delays 1 ms apart still give a response, of that span.
TEST_F(calculations_test, ResponsesTooLongToWorkWithAreRefused) {
  const char* refused = "Error: The response at this field point would span ";
  const double rects = linear(2);
  auto delays = [](double h, double d) {
    return orvel_call({1061, h, 0.0, embedded_matrix(1, 2, {0.0, d})});
  };
  ASSERT_TRUE(delays(rects, 1e-3).ok);
  const call_result h = orvel_call({4001, rects, points(1, {0, 0, 0.03})}, 2);
  ASSERT_TRUE(h.ok) << h.error;
  EXPECT_NEAR(static_cast<double>(h.rows(0)) / current_sys().fs, 1e-3, 1e-5);
  ASSERT_EQ(current_sys().last_calc_type, 0);

  const double tris = linear(2);
  ASSERT_TRUE(orvel_call({1030, tris}).ok);
  const std::vector<double> corners = {1,    0, 0,   0, 0,    1e-3, 0,    1e-3, 1e-3, 0,
                                       1e-3, 0, 2.5, 1, 1e-3, 1e-3, 5e-4, 5e-4, 0};
  const call_result steep = orvel_call(
      {1021, embedded_matrix(1, 19, corners), points(1, {5e-4, 5e-4, 0}), points(1, {0, 0, 0.03})},
      1);
  ASSERT_TRUE(steep.ok) << steep.error;
  const int32_t bytes = current_sys().bytes_reserved;
  ASSERT_TRUE(delays(rects, 1.0).ok);
  ASSERT_TRUE(delays(tris, 1.0).ok);
  for (double a : {rects, tris, steep.at(0, 0)}) {
    SCOPED_TRACE(testing::Message() << "aperture " << a);
    for (const call_result& r :
         {orvel_call({4001, a, points(1, {0, 0, 0.03})}, 2),
          orvel_call({4006, a, a, points(1, {0, 0, 0.03}), embedded_matrix(1, 1, {1.0})}, 2)}) {
      EXPECT_EQ(r.error.rfind(refused, 0), 0u) << r.error;
      EXPECT_EQ(current_sys().bytes_reserved, bytes);
      EXPECT_EQ(current_sys().last_calc_type, 0);
    }
  }
}

// A triangle or a line element that reaches a kilometre across would ask for gigabytes of
// response (6.5e7 samples) and hours of integrals: refused before its buffer is made, under a
// limit of 1 GB whatever the machine has.
TEST_F(calculations_test, ElementsReachingKilometresAreRefusedBeforeTheirBuffers) {
  const call_result triangle =
      orvel_call({1023, embedded_matrix(1, 11, {1, 0, 0, 0, 1000, 0, 0, 0, 1e-3, 0, 1}),
                  points(1, {0, 0, 0}), points(1, {0, 0, 0.04})},
                 1);
  ASSERT_TRUE(triangle.ok) << triangle.error;
  const call_result lines =
      orvel_call({1001, 1, 0.3e-3, 1000.0, 0.0, 1, 1, points(1, {0, 0, 0.03})}, 1);
  ASSERT_TRUE(lines.ok) << lines.error;
  ASSERT_TRUE(orvel_call({1031, lines.at(0, 0)}).ok);
  const int32_t bytes = current_sys().bytes_reserved;
  setenv("ORVEL_MEMORY_LIMIT", "1e9", 1);
  for (double a : {triangle.at(0, 0), lines.at(0, 0)}) {
    const call_result r = orvel_call({4001, a, points(1, {0, 0.01, 0.03})}, 2);
    EXPECT_EQ(
        r.error.rfind("Error: The response of one element at this field point would span ", 0), 0u)
        << r.error;
    EXPECT_EQ(current_sys().bytes_reserved, bytes);
  }
  unsetenv("ORVEL_MEMORY_LIMIT");
}

// Line elements give an empty response where no sample can be formed (a point at an absurd
// distance); the pulse-echo sums and the transforms then see empty operands, which must give
// empty or zero terms, never a read before or past a buffer.
TEST_F(calculations_test, EmptyResponsesGiveZerosNotOverruns) {
  ASSERT_TRUE(orvel_call({5050, "use_lines", 1.0}).ok);
  call_result p = orvel_call({1010, 3e-3, 1e-3}, 1);
  ASSERT_TRUE(p.ok) << p.error;
  const double a = p.at(0, 0);
  const int32_t bytes = current_sys().bytes_reserved;
  for (int code : {4003, 4005, 4006}) {
    std::vector<host_arg> args = {code, a, a, points(1, {0, 0, 1e300})};
    if (code != 4003) args.emplace_back(1.0);
    call_result r = orvel_call(args, 2);
    ASSERT_TRUE(r.ok) << code << ": " << r.error;
    for (size_t i = 0; i < r.rows(0) * r.cols(0); ++i) EXPECT_EQ(r.at(0, i), 0.0) << code;
  }
  // An empty term before a real one adds nothing, not even a span: the per-element and per-pair
  // sums (also non-linear) equal those of the real scatterer alone. (Its span of -1 samples once
  // left the sum pointing before its storage, and the pulse read past it.)
  const std::array<double, 3> near = {1e-3, 0, 0.02};
  for (int code : {4005, 4006, 4007, 4014, 4015}) {
    auto scat = [&](std::vector<double> xyz) {
      const size_t n = xyz.size() / 3;
      std::vector<host_arg> args = {code, a, a, points(n, xyz),
                                    embedded_matrix(n, 1, std::vector<double>(n, 1.0))};
      if (code == 4007) args.emplace_back(1.0);
      if (code == 4014 || code == 4015)
        args.emplace_back(embedded_matrix(n, 1, std::vector<double>(n, 0.0)));
      return orvel_call(args, 2);
    };
    const call_result alone = scat({near[0], near[1], near[2]});
    const call_result both = scat({0, 0, 1e300, near[0], near[1], near[2]});
    ASSERT_TRUE(alone.ok && both.ok) << code << ": " << alone.error << both.error;
    ASSERT_EQ(both.rows(0), alone.rows(0)) << code;
    for (size_t i = 0; i < alone.rows(0) * alone.cols(0); ++i)
      ASSERT_EQ(both.at(0, i), alone.at(0, i)) << code << " " << i;
  }
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
}
