// Transducer commands through the embedded host: handles, traces and too-few texts, argument
// refusals, and the state the commands leave behind.
#include <malloc.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "apertures/aperture.h"
#include "core/errors.h"
#include "gateway/gateway.h"
#include "gateway/transducers.h"
#include "harness.h"

namespace {
class transducers_test : public orvel_test {
 protected:
  void SetUp() override { init_quiet(); }
  // A linear array of n elements of one rectangle each; returns its handle.
  double linear(int n) {
    call_result r = orvel_call({1001, n, 0.3e-3, 5e-3, 0.05e-3, 1, 1, point(0, 0, 0.03)}, 1);
    EXPECT_TRUE(r.ok) << r.error;
    return r.ok ? r.at(0, 0) : -1.0;
  }
  static mxArray* point(double x, double y, double z) { return embedded_matrix(1, 3, {x, y, z}); }
  aperture_rec& ap(double h) { return lookup_aperture(current_sys(), h); }
};

const char* const undefined = "Orvel error: This aperture has not been defined";
const char* const freed = "Orvel error: This aperture has been freed and is not defined";

const command_texts texts[] = {
    {1001, 8, "Defining new transducer. Calling xdc_linear_array",
     "Internal Error 5: Too few parameters to define linear array transducer"},
    {1002, 11, "Defining new transducer. Calling xdc_2d_array",
     "Internal Error 5: Too few parameters to define 2d array transducer"},
    {1003, 9, "Defining new transducer. Calling xdc_focused_array",
     "Internal Error 5: Too few parameters to define focused array transducer"},
    {1012, 10, "Defining new transducer. Calling xdc_linear_multirow",
     "Internal Error 5: Too few parameters to define linear multi-row array transducer"},
    {1013, 11, "Defining new transducer. Calling xdc_focused_multirow",
     "Internal Error 5: Too few parameters to define linear multi-row, elevation focused array "
     "transducer"},
    {1040, 2, "Freeing aperture. Calling xdc_free",
     "Internal Error 5: Too few parameters to free_memory aperture"},
    {1050, 3, "Setting impulse response for aperture. Calling xdc_impulse",
     "Internal Error 5: Too few parameters to set aperture impulse response"},
    {1051, 3, "Setting excitation for aperture. Calling xdc_excitation",
     "Internal Error 5: Too few parameters to set aperture excitation pulse"},
    {1060, 4, "Setting focus time line. Calling xdc_focus",
     "Internal Error 5: Too few parameters to set focus time line"},
    {1061, 4, "Setting focus time line. Calling xdc_focus",
     "Internal Error 5: Too few parameters to set focus time line"},
    {1062, 5, "Setting dynamic focus time line. Calling xdc_dynamic_focusing",
     "Internal Error 5: Too few parameters to set dynamic focus time line"},
    {1063, 3, "Setting focus center point. Calling xdc_center_focus",
     "Internal Error 5: Too few parameters to set focus center point"},
    {1065, 3, "Setting quantization for aperture",
     "Internal Error 5: Too few parameters to set quantization of delays"},
    {1066, 3, "Setting baffle condition for aperture",
     "Internal Error 5: Too few parameters to set baffle condition for aperture"},
    {1070, 4, "Setting apodization time line. Calling xdc_apodization",
     "Internal Error 5: Too few parameters to set apodization time line"},
    {1080, 4, "Setting apodization for mathematical elements. Calling ele_apodization",
     "Internal Error 5: Too few parameters to set apodization for mathematical elements"},
    {1081, 4, "Setting delay values for mathematical elements. Calling ele_delay",
     "Internal Error 5: Too few parameters to set delay for mathematical elements"},
    {1082, 4, "Setting waveform for physical elements. Calling ele_waveform",
     "Internal Error 5: Too few parameters to set waveform for physical elements"},
    {1100, 3, "Showing aperture. Calling xdc_show",
     "Internal Error 5: Too few parameters to show aperture"},
    {1101, 3, "Getting aperture information. Calling xdc_get",
     "Internal Error 5: Too few parameters to xdc_get"},
};
}  // namespace

TEST_F(transducers_test, EveryCommandTracesThenCountsItsArguments) {
  ASSERT_TRUE(orvel_call({5010, 1}).ok);
  expect_traces_and_too_few(texts, 1);

  EXPECT_EQ(current_sys().no_apertures, 0);
}

TEST_F(transducers_test, HandlesAreSlotsReusedAfterFree) {
  EXPECT_EQ(orvel_call({1040, 0}).error, undefined);  // empty table
  EXPECT_EQ(linear(2), 0.0);
  EXPECT_EQ(linear(2), 1.0);
  EXPECT_EQ(linear(2), 2.0);
  ASSERT_TRUE(orvel_call({1040, 1}).ok);
  EXPECT_EQ(orvel_call({1040, 1}).error, freed);
  EXPECT_EQ(orvel_call({1066, 1, 1}).error, freed);
  EXPECT_EQ(orvel_call({1100, 1, 0}).error, freed);
  EXPECT_EQ(current_sys().no_apertures, 3);
  EXPECT_EQ(linear(3), 1.0);
  EXPECT_EQ(linear(3), 3.0);
  EXPECT_EQ(ap(1).no_phys_elements, 3);
  // A handle is a whole number up to rounding error; 1.4, 1.5 or -0.5 would reach a slot that
  // the number does not name, and is refused before any aperture changes.
  for (double h : {1.4, 1.5, 2.5, -0.5, 0.4, 3.5, 1 + 1e-6})
    EXPECT_EQ(orvel_call({1066, h, 1}).error,
              format_text("Error: The aperture handle must be a whole number (as its constructor "
                          "returned it), but is %.15g",
                          h));
  EXPECT_EQ(orvel_call({1030, 0.5}).error,
            "Error: The aperture handle must be a whole number (as its constructor returned it), "
            "but is 0.5");
  EXPECT_EQ(ap(1).soft_baffle, 0);
  EXPECT_EQ(ap(3).soft_baffle, 0);
  EXPECT_TRUE(orvel_call({1066, 1 - 1e-13, 1}).ok);  // what arithmetic on 1 may give
  EXPECT_EQ(ap(1).soft_baffle, 1);
  EXPECT_EQ(orvel_call({1066, -1e-13, 1}).ok, true);  // slot 0
  EXPECT_EQ(ap(0).soft_baffle, 1);
  EXPECT_EQ(orvel_call({1066, 4.0, 1}).error, undefined);
  EXPECT_EQ(orvel_call({1066, std::nan(""), 1}).error,
            "Error: The aperture handle must be finite, but is nan");
  EXPECT_EQ(orvel_call({1066, embedded_matrix(1, 2, {0, 1}), 1}).error,
            "Error: The aperture handle must be one number (1 x 1), but is a 1 x 2 matrix");
  // A release voids the handles; the next initialisation starts from 0 again.
  ASSERT_TRUE(orvel_call({5002}).ok);
  EXPECT_EQ(current_sys().bytes_reserved, 0);
  init_quiet();
  EXPECT_EQ(orvel_call({1040, 0}).error, undefined);
  EXPECT_EQ(linear(1), 0.0);
}

TEST_F(transducers_test, FreeingReleasesEveryChargedSignal) {
  const double h = linear(4);
  const int32_t empty = 0;
  ASSERT_TRUE(orvel_call({1050, h, embedded_matrix(1, 5, {1, 2, 3, 4, 5})}).ok);
  ASSERT_TRUE(orvel_call({1050, h, embedded_matrix(1, 3, {1, 2, 3})}).ok);
  EXPECT_EQ(current_sys().bytes_reserved, (8 * 3 + 40) + (8 + 40));  // one impulse charged
  ASSERT_TRUE(orvel_call({1051, h, embedded_matrix(1, 1, {7})}).ok);
  EXPECT_EQ(ap(h).excitation->no_samples, 1);
  EXPECT_EQ(ap(h).excitation->data[0], 7.0);
  EXPECT_EQ(ap(h).impulse->data[2], 3.0);
  ASSERT_TRUE(orvel_call({1082, h, embedded_matrix(2, 1, {1, 4}),
                          embedded_matrix(2, 3, {1, 2, 3, 4, 5, 6})})
                  .ok);
  EXPECT_EQ(ap(h).phys_elements[3].waveform->data[2], 6.0);
  ASSERT_TRUE(orvel_call({1040, h}).ok);
  EXPECT_EQ(current_sys().bytes_reserved, empty);
  EXPECT_EQ(orvel_call({1050, h, embedded_matrix(1, 0)}).error, freed);
}

TEST_F(transducers_test, TimeLinesFromHostTables) {
  const double h = linear(3);
  // Times as a column; points as a 2-row table.
  ASSERT_TRUE(orvel_call({1060, h, embedded_matrix(2, 1, {0, 1e-5}),
                          embedded_matrix(2, 3, {0, 1e-3, 0, 0, 0.02, 0.05})})
                  .ok);
  ASSERT_EQ(ap(h).focus_line.size(), 2u);
  EXPECT_EQ(ap(h).focus_line[1].focus_point, (point3{1e-3, 0, 0.05}));
  EXPECT_EQ(ap(h).single_focus, 0);
  // One time with the point given as a column of 3 values.
  ASSERT_TRUE(orvel_call({1060, h, 0.0, embedded_matrix(3, 1, {0, 0, 0.04})}).ok);
  EXPECT_EQ(ap(h).focus_line[0].focus_point, (point3{0, 0, 0.04}));
  EXPECT_EQ(ap(h).single_focus, 1);
  ASSERT_TRUE(orvel_call({1061, h, embedded_matrix(2, 1, {0, 2e-6}),
                          embedded_matrix(2, 3, {1, 2, 3, 4, 5, 6})})
                  .ok);
  EXPECT_EQ(ap(h).focus_line[1].delays, (std::vector<double>{2, 4, 6}));
  ASSERT_TRUE(orvel_call({1062, h, 1e-6, 0.1, 0.2}).ok);
  EXPECT_EQ(ap(h).focus_line[0].dynamic, 1);
  ASSERT_TRUE(orvel_call({1063, h, embedded_matrix(1, 3, {1e-3, 0, 0})}).ok);
  EXPECT_EQ(ap(h).ref_point, (point3{1e-3, 0, 0}));
  ASSERT_TRUE(orvel_call({1070, h, embedded_matrix(2, 1, {0, 3e-6}),
                          embedded_matrix(2, 3, {1, 0.5, 1, 0.25, 1, 0.125})})
                  .ok);
  EXPECT_EQ(ap(h).apod_line[1].values, (std::vector<double>{0.5, 0.25, 0.125}));
}

TEST_F(transducers_test, ColumnCountMismatchKeepsTheOldTimeLine) {
  const double h = linear(3);
  const std::vector<double> old = ap(h).focus_line[0].delays;
  EXPECT_EQ(orvel_call({1070, h, 0.0, embedded_matrix(1, 2, {0.5, 0.5})}).error,
            "Error: Apodization mxArray must have one column for each physical aperture element");
  EXPECT_EQ(ap(h).apod_line[0].values, std::vector<double>(3, 1.0));
  EXPECT_EQ(orvel_call({1061, h, 0.0, embedded_matrix(1, 4)}).error,
            "Error: Delay mxArray must have one column for each physical aperture element");
  EXPECT_EQ(ap(h).focus_line[0].delays, old);
}

TEST_F(transducers_test, BadTimeLinesAndPulsesAreRefusedAndChangeNothing) {
  const double h = linear(3);
  const aperture_rec& a = ap(h);
  const int32_t bytes = current_sys().bytes_reserved;
  // Three times but points for two.
  EXPECT_EQ(
      orvel_call({1060, h, embedded_matrix(3, 1, {0, 1, 2}), embedded_matrix(2, 3)}).error,
      "Error: The focus point table must be a 3 x 3 matrix (one row per time), but is a 2 x 3 "
      "matrix");
  // More rows than times: refused, not read with the stride of the times.
  EXPECT_EQ(
      orvel_call({1060, h, 0.0, embedded_matrix(2, 3, {0, 0, 0, 0, 0.02, 0.03})}).error,
      "Error: The focus point table must be a 1 x 3 matrix (one row per time), but is a 2 x 3 "
      "matrix");
  EXPECT_EQ(
      orvel_call({1070, h, embedded_matrix(2, 1, {0, 1}), embedded_matrix(1, 3)}).error,
      "Error: The apodization table must be a 2 x 3 matrix (one row per time), but is a 1 x 3 "
      "matrix");
  EXPECT_EQ(
      orvel_call({1070, h, 0.0, embedded_matrix(2, 3)}).error,
      "Error: The apodization table must be a 1 x 3 matrix (one row per time), but is a 2 x 3 "
      "matrix");
  EXPECT_EQ(orvel_call({1080, h, embedded_matrix(2, 1, {1, 2}), embedded_matrix(1, 1, {1})}).error,
            "Error: The value table must be a 2 x 1 matrix (one row per element number), but is a "
            "1 x 1 matrix");
  // A table without columns still has its rows counted.
  EXPECT_EQ(orvel_call({1082, h, embedded_matrix(3, 1, {3, 3, 1}), embedded_matrix(1, 0)}).error,
            "Error: The value table must be a 3 x 0 matrix (one row per element number), but is a "
            "1 x 0 matrix");
  EXPECT_EQ(orvel_call({1070, h, embedded_matrix(1, 2, {0, 1}), embedded_matrix(2, 3)}).error,
            "Error: The time vector must be a column of values (n x 1), but is a 1 x 2 matrix");
  // Non-finite values where they enter: times, tables, pulses, geometry of the settings.
  EXPECT_EQ(orvel_call({1061, h, NAN, embedded_matrix(1, 3)}).error,
            "Error: The time vector must hold finite values, but value 1 is nan");
  EXPECT_EQ(orvel_call({1070, h, 0.0, embedded_matrix(1, 3, {1, INFINITY, 1})}).error,
            "Error: The apodization table must hold finite values, but value 2 is inf");
  EXPECT_EQ(orvel_call({1060, h, 0.0, embedded_matrix(1, 3, {0, NAN, 0.02})}).error,
            "Error: The focus point table must hold finite values, but value 2 is nan");
  EXPECT_EQ(orvel_call({1062, h, 0.0, NAN, 0.0}).error,
            "Error: The angle in the x-z plane must be finite, but is nan");
  EXPECT_EQ(orvel_call({1065, h, INFINITY}).error,
            "Error: The quantization step must be finite, but is inf");
  EXPECT_EQ(orvel_call({1050, h, embedded_matrix(1, 2, {1, NAN})}).error,
            "Error: The impulse response must hold finite values, but value 2 is nan");
  EXPECT_EQ(orvel_call({1051, h, embedded_matrix(3, 1, {7, 8, 9})}).error,
            "Error: The excitation must be a row of samples (1 x n, n at least 1), but is a 3 x 1 "
            "matrix");
  // No times at all: refused, the line kept.
  EXPECT_EQ(orvel_call({1060, h, embedded_matrix(0, 1), embedded_matrix(0, 3)}).error,
            "Error: The time vector is empty; a value is needed");
  EXPECT_EQ(orvel_call({1070, h, embedded_matrix(0, 0), embedded_matrix(0, 3)}).error,
            "Error: The time vector is empty; a value is needed");
  EXPECT_EQ(
      orvel_call({1063, h, embedded_matrix(1, 2, {0, 0})}).error,
      "Error: The reference point must be one point [x y z] (3 values), but is a 1 x 2 matrix");
  EXPECT_EQ(orvel_call({1050, h, embedded_matrix(1, 0)}).error,
            "Error: The impulse response must be a row of samples (1 x n, n at least 1), but is a "
            "1 x 0 matrix");
  EXPECT_EQ(orvel_call({1051, h, "pulse"}).error,
            "Error: The excitation must be real double values (not text, logical, integer, "
            "single, complex or sparse data)");
  EXPECT_EQ(a.focus_line.size(), 1u);
  EXPECT_EQ(a.apod_line.size(), 1u);
  EXPECT_EQ(a.ref_point, (point3{0, 0, 0}));
  EXPECT_EQ(a.impulse->no_samples, 1);
  EXPECT_EQ(current_sys().bytes_reserved, bytes);
}

TEST_F(transducers_test, ConstructorsRefuseNonsenseCountsAndShortTables) {
  auto p = [] { return embedded_matrix(1, 3, {0, 0, 0.03}); };
  EXPECT_EQ(orvel_call({1001, 0, 1e-3, 1e-3, 0, 1, 1, p()}, 1).error,
            "Error: The number of elements must be at least 1, not 0");
  EXPECT_EQ(orvel_call({1001, 4, 1e-3, 1e-3, 0, 0, 1, p()}, 1).error,
            "Error: The number of sub-divisions in x must be at least 1, not 0");
  EXPECT_EQ(orvel_call({1001, 4, 1e-3, 1e-3, 0, 1, -2, p()}, 1).error,
            "Error: The number of sub-divisions in y must be at least 1, not -2");
  EXPECT_EQ(orvel_call({1001, INFINITY, 1e-3, 1e-3, 0, 1, 1, p()}, 1).error,
            "Error: The number of elements must be a finite whole number within the 32-bit range, "
            "but is inf");
  EXPECT_EQ(orvel_call({1001, 4, 1e-3, 1e-3, 0, 1, 1, embedded_matrix(1, 2)}, 1).error,
            "Error: The focus point must be one point [x y z] (3 values), but is a 1 x 2 matrix");
  EXPECT_EQ(orvel_call({1001, 4, NAN, 1e-3, 0, 1, 1, p()}, 1).error,
            "Error: The element width must be finite, but is nan");
  EXPECT_EQ(orvel_call({1001, 100000, 1e-3, 1e-3, 0, 1000, 1000, p()}, 1).error,
            "Error: Too many elements or sub-elements requested: the counts exceed 2^31 - 1");
  EXPECT_EQ(
      orvel_call({1002, 2, 2, 1e-3, 1e-3, 0, 0, embedded_matrix(1, 3, {1, 1, 1}), 1, 1, p()}, 1)
          .error,
      "Error: The enabled table must be a 2 x 2 matrix (one row per position along x), but is a "
      "1 x 3 matrix");
  EXPECT_EQ(orvel_call({1002, 2, 0, 1e-3, 1e-3, 0, 0, embedded_matrix(1, 3), 1, 1, p()}, 1).error,
            "Error: The number of elements in y must be at least 1, not 0");
  EXPECT_EQ(
      orvel_call({1012, 4, 1e-3, 3, embedded_matrix(1, 2, {1e-3, 1e-3}), 0, 0, 1, 1, p()}, 1).error,
      "Error: The row heights must hold 3 values (one per row), but holds 2");
  EXPECT_EQ(
      orvel_call({1013, 4, 1e-3, 2, embedded_matrix(1, 1, {1e-3}), 0, 0, 0.02, 1, 1, p()}, 1).error,
      "Error: The row heights must hold 2 values (one per row), but holds 1");
  EXPECT_EQ(current_sys().no_apertures, 0);
  EXPECT_EQ(current_sys().bytes_reserved, 0);
}

// A negative width, height or kerf would mirror elements about their edges into their
// neighbours: refused in every constructor that takes one. Zero stays a size.
TEST_F(transducers_test, ConstructorsRefuseSizesAndLengthsOutOfRange) {
  auto p = [] { return embedded_matrix(1, 3, {0, 0, 0.03}); };
  auto rows = [](double a, double b) { return embedded_matrix(1, 2, {a, b}); };
  auto on = [] { return embedded_matrix(2, 2, {1, 1, 1, 1}); };
  const char* negative = "Error: %s must not be negative (a size in metres), but is %g";
  const struct {
    std::vector<host_arg> call;
    const char* what;
    double value;
  } cases[] = {
      {{1001, 4, -0.2e-3, 4e-3, 0.02e-3, 1, 1, p()}, "The element width", -0.2e-3},
      {{1001, 4, 0.2e-3, -4e-3, 0.02e-3, 1, 1, p()}, "The element height", -4e-3},
      {{1001, 4, 0.2e-3, 4e-3, -0.02e-3, 1, 1, p()}, "The kerf", -0.02e-3},
      {{1002, 2, 2, 0.2e-3, 0.2e-3, 0, -1e-5, on(), 1, 1, p()}, "The kerf in y", -1e-5},
      {{1003, 4, 0.2e-3, -4e-3, 0, 0.02, 1, 1, p()}, "The element height", -4e-3},
      {{1004, 4, 0.2e-3, 4e-3, -1e-5, 0.03, 1, 1, p()}, "The kerf", -1e-5},
      {{1005, 4, -0.2e-3, 4e-3, 0, 0.03, 0.02, 1, 1, p()}, "The element width", -0.2e-3},
      {{1012, 4, 0.2e-3, 2, rows(1e-3, 1e-3), -1e-5, 0, 1, 1, p()}, "The kerf in x", -1e-5},
      {{1013, 4, 0.2e-3, 2, rows(1e-3, 1e-3), 0, -1e-5, 0.02, 1, 1, p()}, "The kerf in y", -1e-5},
      {{1014, 4, -0.2e-3, 2, rows(1e-3, 1e-3), 0, 0, 0.03, 0.02, 1, 1, p()},
       "The element width",
       -0.2e-3},
  };
  for (const auto& c : cases)
    EXPECT_EQ(orvel_call(c.call, 1).error, format_text(negative, c.what, c.value)) << c.what;
  EXPECT_EQ(orvel_call({1012, 4, 0.2e-3, 2, rows(1e-3, -1e-3), 0, 0, 1, 1, p()}, 1).error,
            "Error: The row heights must not be negative (sizes in metres), but value 2 is -0.001");
  // Sub-elements below a nanometre (a width of 1e-300 m gave infinite slopes) are refused too.
  EXPECT_EQ(
      orvel_call({1013, 2, 1e-300, 2, rows(2.3e-3, 2.7e-3), 7.4e-6, 7.4e-6, 0.0372, 2, 2, p()}, 1)
          .error,
      "Error: The element width (1e-300 m) in 2 sub-elements gives sub-elements of 5e-301 m; "
      "a size that is not 0 must give sub-elements of at least 1e-09 m");
  EXPECT_EQ(orvel_call({1001, 4, 0.3e-3, 5e-6, 0, 1, 10000, p()}, 1).error,
            "Error: The element height (5e-06 m) in 10000 sub-elements gives sub-elements of "
            "5e-10 m; a size that is not 0 must give sub-elements of at least 1e-09 m");
  // Lengths of a million kilometres and more (1e300 m left infinite slopes and delays).
  EXPECT_EQ(orvel_call({1001, 4, 0.3e-3, 1e300, 0, 1, 1, p()}, 1).error,
            "Error: The element height must lie within +-1e+09 m, but is 1e+300");
  EXPECT_EQ(
      orvel_call({1001, 4, 0.3e-3, 5e-3, 0, 1, 1, embedded_matrix(1, 3, {0, 0, -2e9})}, 1).error,
      "Error: The focus point must hold lengths within +-1e+09 m, but value 3 is -2e+09");
  EXPECT_EQ(orvel_call({1012, 4, 0.2e-3, 2, rows(1e-3, 1e300), 0, 0, 1, 1, p()}, 1).error,
            "Error: The row heights must hold lengths within +-1e+09 m, but value 2 is 1e+300");
  EXPECT_EQ(current_sys().no_apertures, 0);
  EXPECT_TRUE(orvel_call({1001, 4, 0, 0, 0, 1, 1, p()}, 1).ok);
  EXPECT_TRUE(orvel_call({1001, 4, 0.3e-3, 1e-9, 0, 1, 1, p()}, 1).ok);
  EXPECT_TRUE(
      orvel_call({1001, 4, 0.3e-3, 5e-3, 0, 1, 1, embedded_matrix(1, 3, {0, 0, 1e9})}, 1).ok);
}

// The records of a new aperture are refused when the memory that can be had would not hold them:
// a limit just below what a 100,000-element array really takes (its elements' records as well
// as their rectangles, measured on the heap) refuses it. The sanitizers' heap is not measured.
TEST_F(transducers_test, NewAperturesWithinTheMemoryThatCanBeHad) {
  auto make = [] {
    return orvel_call({1001, 100000, 0.3e-3, 5e-3, 0.05e-3, 1, 2, point(0, 0, 0.03)}, 1);
  };
  const size_t before = mallinfo2().uordblks;
  call_result r = make();
  ASSERT_TRUE(r.ok) << r.error;
  const size_t taken = mallinfo2().uordblks - before;
  ASSERT_TRUE(orvel_call({1040, r.at(0, 0)}).ok);
  if (taken == 0) GTEST_SKIP() << "the heap of this build is not measured";
  setenv("ORVEL_MEMORY_LIMIT", std::to_string(0.98 * static_cast<double>(taken)).c_str(), 1);
  r = make();
  unsetenv("ORVEL_MEMORY_LIMIT");
  EXPECT_EQ(r.error.rfind("Error: Too many elements or sub-elements requested: 100000 elements of "
                          "200000 rectangles in all take ",
                          0),
            0u)
      << r.error;
  EXPECT_NE(r.error.find("bytes of ORVEL_MEMORY_LIMIT"), std::string::npos) << r.error;
}

// Weights beyond 1e30 in magnitude (pulses, apodizations, waveforms) would overflow the
// products of a calculation: refused, and the aperture keeps what it had.
TEST_F(transducers_test, WeightsBeyondTheirRangeAreRefused) {
  const double h = linear(2);
  auto row = [](double a, double b) { return embedded_matrix(1, 2, {a, b}); };
  ASSERT_TRUE(orvel_call({1051, h, row(1e30, -1e30)}).ok);
  EXPECT_EQ(orvel_call({1051, h, row(1.0, -1e308)}).error,
            "Error: The excitation must hold values within +-1e+30 (larger values overflow a "
            "calculation), but value 2 is -1e+308");
  EXPECT_EQ(orvel_call({1050, h, row(1e31, 0)}).error.rfind("Error: The impulse response must", 0),
            0u);
  EXPECT_EQ(orvel_call({1070, h, 0.0, row(1, 1e308)}).error,
            "Error: The apodization table must hold values within +-1e+30 (larger values overflow "
            "a calculation), but row 1, column 2 is 1e+308");
  EXPECT_EQ(orvel_call({1080, h, 1.0, row(2, 1e308)}).error.rfind("Error: The value table", 0), 0u);
  EXPECT_EQ(orvel_call({1082, h, 1.0, row(2, 1e308)}).error.rfind("Error: The value table", 0), 0u);
  EXPECT_TRUE(orvel_call({1081, h, 1.0, row(0, 1e-6)}).ok);  // delays are no weights
  EXPECT_EQ(ap(h).excitation->data[1], -1e30);
  EXPECT_EQ(ap(h).apod_line[0].values[1], 1.0);
  EXPECT_EQ(ap(h).phys_elements[0].rects[0].apodization, 1.0);
}

// Arcs and focusing cylinders take asin(length / radius): lengths without an angle are refused
// (they used to leave every corner NaN), and rows that just fit keep finite corners.
TEST_F(transducers_test, ArcsAndCylindersRefuseLengthsWithoutAnAngle) {
  auto p = [] { return embedded_matrix(1, 3, {0, 0, 0.03}); };
  auto rows = [] { return embedded_matrix(1, 3, {2e-3, 2e-3, 2e-3}); };
  EXPECT_EQ(orvel_call({1014, 3, 0.3e-3, 3, rows(), 0.5, 0.1e-3, 0.028, 0.02, 1, 1, p()}, 1).error,
            "Error: The kerf (0.5 m) is larger than the convex radius (0.028 m), so it has no "
            "angle on the arc");
  EXPECT_EQ(orvel_call({1004, 8, 0.03, 4e-3, 0, -0.028, 1, 1, p()}, 1).error,
            "Error: The element width (0.03 m) is larger than the convex radius (-0.028 m), so it "
            "has no angle on the arc");
  EXPECT_EQ(orvel_call({1004, 8, 0, 4e-3, 0, 0, 1, 1, p()}, 1).error,
            "Error: The convex radius must not be 0");
  EXPECT_EQ(orvel_call({1005, 8, 0.3e-3, 4e-3, 0, 0.028, 0, 1, 1, p()}, 1).error,
            "Error: The elevation focus radius must not be 0");
  EXPECT_EQ(orvel_call({1003, 8, 0.3e-3, 5e-3, 0, 2e-3, 1, 4, p()}, 1).error,
            "Error: The element height (0.005 m) is larger than twice the elevation focus radius "
            "(0.002 m), so it does not fit on the focusing cylinder");
  EXPECT_EQ(orvel_call({1013, 3, 0.3e-3, 3, rows(), 0, 1e-3, 3.5e-3, 1, 2, p()}, 1).error,
            "Error: The rows reach 0.004 m from the centre line in elevation, farther than the "
            "elevation focus radius (0.0035 m), so they do not fit on the focusing cylinder");
  // A negative row height, which would pull the total in while its neighbour reaches past the
  // radius, is refused as a size before any reach is measured.
  EXPECT_EQ(orvel_call({1014, 3, 0.3e-3, 2, embedded_matrix(1, 2, {8e-3, -6e-3}), 0.3e-3, 0, 0.028,
                        2e-3, 1, 1, p()},
                       1)
                .error,
            "Error: The row heights must not be negative (sizes in metres), but value 2 is -0.006");
  EXPECT_EQ(current_sys().no_apertures, 0);
  // Rows reaching exactly the radius touch the cylinder's edge, and the sub-rows summed up to it
  // pass it by rounding here; every corner must still be finite.
  for (int code : {1013, 1014}) {
    mxArray* heights = embedded_matrix(1, 3, {2.8e-3, 2.8e-3, 2.8e-3});
    call_result r =
        code == 1013
            ? orvel_call({1013, 3, 0.3e-3, 3, heights, 0, 0.8e-3, 5e-3, 1, 7, p()}, 1)
            : orvel_call({1014, 3, 0.3e-3, 3, heights, 0, 0.8e-3, 0.028, 5e-3, 1, 7, p()}, 1);
    ASSERT_TRUE(r.ok) << r.error;
    for (const phys_element& e : ap(r.at(0, 0)).phys_elements)
      for (const rect_element& q : e.rects)
        for (const point3& c : q.corners)
          for (double v : c) EXPECT_TRUE(std::isfinite(v)) << code;
  }
}

TEST_F(transducers_test, ConstructorsThroughTheHost) {
  call_result a = orvel_call(
      {1003, 8, 0.3e-3, 4e-3, 0.05e-3, 0.02, 2, 4, embedded_matrix(3, 1, {0, 0, 0.03})}, 1);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.rows(), 1u);
  EXPECT_EQ(a.cols(), 1u);
  EXPECT_EQ(ap(a.at(0, 0)).no_phys_elements, 8);
  EXPECT_EQ(ap(a.at(0, 0)).phys_elements[0].no_rects, 8);
  call_result b = orvel_call({1012, 3, 0.3e-3, 2, embedded_matrix(1, 2, {1e-3, 2e-3}), 0.05e-3,
                              0.1e-3, 1, 2, embedded_matrix(1, 3, {0, 0, 0.03})},
                             1);
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_NEAR(ap(b.at(0, 0)).phys_elements[5].center[1], 1.05e-3 - 0.5e-3 + 0.0, 1e-18);
  call_result c = orvel_call({1013, 3, 0.3e-3, 2, embedded_matrix(2, 1, {1e-3, 2e-3}), 0.05e-3,
                              0.1e-3, 0.03, 1, 2, embedded_matrix(1, 3, {0, 0, 0.03})},
                             1);
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(ap(c.at(0, 0)).no_phys_elements, 6);
  // A 2-D array with one position barely enabled (0.51) has one physical element.
  std::vector<double> table(12, 0.0);
  table[7] = 0.51;  // position i = 3, j = 1 of a 4 x 3 grid
  call_result d = orvel_call({1002, 4, 3, 1e-3, 1e-3, 0.1e-3, 0.1e-3, embedded_matrix(4, 3, table),
                              1, 1, embedded_matrix(1, 3, {0, 0, 0.03})},
                             1);
  ASSERT_TRUE(d.ok) << d.error;
  const aperture_rec& one = ap(d.at(0, 0));
  ASSERT_EQ(one.no_phys_elements, 1);
  EXPECT_NEAR(one.phys_elements[0].center[0], 1.5 * 1.1e-3, 1e-18);
  EXPECT_NEAR(one.phys_elements[0].center[1], 0.0, 1e-18);
  EXPECT_EQ(current_sys().no_apertures, 4);
}

TEST_F(transducers_test, QuantizationAndBaffle) {
  const double h = linear(2);
  const char* warning = "Warning: Remember to set the focus time line for this aperture\n";
  call_result r = orvel_call({1065, h, 1e-300});  // quiet does not silence it
  EXPECT_EQ(r.console, warning);
  EXPECT_EQ(ap(h).quantize, 1);
  EXPECT_EQ(ap(h).quant_step, 1e-300);
  r = orvel_call({1065, h, 0.0});
  EXPECT_EQ(r.console, warning);
  EXPECT_EQ(ap(h).quantize, 0);
  for (auto [value, flag] : {std::pair{0.4, 0}, {0.6, 1}, {2.0, 1}, {-0.4, 0}, {-3.0, 1}}) {
    ASSERT_TRUE(orvel_call({1066, h, value}).ok);
    EXPECT_EQ(ap(h).soft_baffle, flag) << value;
  }
}

TEST_F(transducers_test, ElementSettingsPrintAndGoOn) {
  const double h = linear(2);
  call_result r =
      orvel_call({1080, h, embedded_matrix(2, 1, {3, 2.4}), embedded_matrix(2, 1, {0.5, 0.25})});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.console,
            "Orvel error: Illegal element number when setting mathematical element apodization\n");
  EXPECT_EQ(ap(h).phys_elements[1].rects[0].apodization, 0.25);
  r = orvel_call({1081, h, 1.0, embedded_matrix(1, 0)});  // no values at all
  EXPECT_EQ(r.console, "Orvel error: Not enough values to set mathematical element delay\n");
  r = orvel_call({1082, h, embedded_matrix(1, 1, {0}), embedded_matrix(1, 2, {1, 2})});
  EXPECT_EQ(r.console,
            "Orvel error: Illegal element number when setting physical element waveform\n");
  EXPECT_EQ(ap(h).individual_excitation, 0);
}

TEST_F(transducers_test, ApertureWithoutPhysicalElementsSurvivesEveryCommand) {
  call_result made = orvel_call({1002, 2, 2, 1e-3, 1e-3, 0, 0, embedded_matrix(2, 2), 1, 1,
                                 embedded_matrix(1, 3, {0, 0, 0.03})},
                                1);
  ASSERT_TRUE(made.ok) << made.error;
  const double h = made.at(0, 0);
  EXPECT_EQ(ap(h).no_phys_elements, 0);
  EXPECT_TRUE(orvel_call({1060, h, 0.0, embedded_matrix(1, 3, {0, 0, 0.02})}).ok);
  EXPECT_TRUE(orvel_call({1061, h, embedded_matrix(2, 1, {0, 1e-6}), embedded_matrix(2, 0)}).ok);
  EXPECT_TRUE(orvel_call({1070, h, 0.0, embedded_matrix(1, 0)}).ok);
  EXPECT_TRUE(orvel_call({1062, h, 0.0, 0.1, 0.0}).ok);
  EXPECT_EQ(orvel_call({1080, h, 1.0, 1.0}).console,
            "Orvel error: Illegal element number when setting mathematical element apodization\n");
  EXPECT_EQ(orvel_call({1082, h, 1.0, 1.0}).console,
            "Orvel error: Illegal element number when setting physical element waveform\n");
  for (int level = 0; level <= 4; ++level) EXPECT_TRUE(orvel_call({1100, h, level}).ok);
  for (int kind = 1; kind <= 5; ++kind) {
    call_result r = orvel_call({1101, h, kind}, 1);
    ASSERT_TRUE(r.ok) << kind;
    ASSERT_EQ(r.out.size(), 1u) << kind;
    const size_t rows[] = {26, 15, 46, 1, 1};  // element kinds, then time lines of 0 elements
    EXPECT_EQ(r.rows(), rows[kind - 1]) << kind;
  }
  call_result focus = orvel_call({1101, h, 4}, 1);
  EXPECT_EQ(focus.cols(), 1u);  // the dynamic entry
  EXPECT_TRUE(orvel_call({1040, h}).ok);
}

TEST_F(transducers_test, InformationMatrixOfAnArray) {
  const double h = linear(3);
  call_result r = orvel_call({1101, h, 1}, 1);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.rows(), 26u);
  ASSERT_EQ(r.cols(), 3u);
  // One column per rectangle, in order (the rows' values: test_report's queries and test_arrays).
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(r.at(0, 0, k), static_cast<double>(k));  // physical element number from 0
    EXPECT_EQ(r.at(0, 1, k), 0.0);
  }
  call_result none = orvel_call({1101, h, 6}, 1);
  EXPECT_TRUE(none.ok);
  EXPECT_TRUE(none.out.empty());
  EXPECT_EQ(none.console, "");
}
