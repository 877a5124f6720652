// A Ctrl-C during a calculation, posted through the embedded host: the work stops at the poll
// that sees it, every signal is released, the command ends with the interruption error and no
// result, and the next calculation gives what it gave before.
#include <functional>
#include <utility>

#include "core/sys_con.h"
#include "gateway/gateway.h"
#include "harness.h"

namespace {
const char* const interrupted =
    "Error: The calculation was interrupted (Ctrl-C) and stopped; nothing was returned";

class interrupt_test : public orvel_test {
 protected:
  void SetUp() override { init_quiet(); }
  void TearDown() override {
    embedded_interrupt_at_poll(0);
    embedded_polls_take();
    orvel_test::TearDown();
  }
  static double linear(int n) {
    call_result r = orvel_call({1001, n, 0.3e-3, 5e-3, 0.05e-3, 1, 2, focus()}, 1);
    EXPECT_TRUE(r.ok) << r.error;
    return r.at(0, 0);
  }
  static mxArray* focus() { return embedded_matrix(1, 3, {0, 0, 0.03}); }
  // n points (or scatterers) on a line from 10 mm to 50 mm deep, 1 mm off the axis.
  static mxArray* line(size_t n) {
    std::vector<double> xyz(3 * n);
    for (size_t i = 0; i < n; ++i) {
      xyz[i] = 1e-3;
      xyz[2 * n + i] = 10e-3 + 40e-3 * static_cast<double>(i) / static_cast<double>(n);
    }
    return embedded_matrix(n, 3, xyz);
  }
  static void expect_same(const call_result& a, const call_result& b) {
    ASSERT_TRUE(a.ok && b.ok) << a.error << b.error;
    ASSERT_EQ(a.rows(), b.rows());
    ASSERT_EQ(a.cols(), b.cols());
    EXPECT_EQ(a.at(1, 0), b.at(1, 0));
    for (size_t j = 0; j < a.cols(); ++j)
      for (size_t i = 0; i < a.rows(); ++i) ASSERT_EQ(a.at(0, i, j), b.at(0, i, j)) << i << j;
  }
};
}  // namespace

TEST_F(interrupt_test, CalculationStopsReleasesItsSignalsAndTheNextOneIsUnchanged) {
  const double tx = linear(16), rx = linear(8);
  constexpr size_t n = 200;  // over three blocks of scatterers
  auto emitted = [&] { return orvel_call({4002, tx, line(n)}, 2); };
  auto per_element = [&] {
    const std::vector<double> amplitudes(n, 1.0);
    return orvel_call({4006, tx, rx, line(n), embedded_matrix(n, 1, amplitudes)}, 2);
  };
  const std::pair<int, std::function<call_result()>> calculations[] = {{4002, emitted},
                                                                       {4006, per_element}};
  for (int threads : {1, 2}) {
    ASSERT_TRUE(orvel_call({5050, "threads", threads}).ok);
    for (const auto& [code, calculation] : calculations) {
      SCOPED_TRACE(testing::Message() << "command " << code << " on " << threads << " threads");
      embedded_polls_take();
      const call_result before = calculation();
      const size_t polls = embedded_polls_take();
      // On one thread a poll per point or item, and the interrupt comes at the middle one. On
      // two, the helper may take every item on a loaded machine: the calling thread's first
      // poll is the one that is certain.
      if (threads == 1) {
        ASSERT_GT(polls, 8u);
      }
      const size_t at = threads == 1 ? polls / 2 : 1;
      const int32_t bytes = current_sys().bytes_reserved;
      embedded_interrupt_at_poll(at);
      const call_result r = calculation();
      EXPECT_EQ(r.error, interrupted);
      EXPECT_TRUE(r.out.empty());
      EXPECT_EQ(embedded_polls_take(), at);  // the calling thread took no more work after it
      EXPECT_EQ(current_sys().bytes_reserved, bytes);
      expect_same(calculation(), before);
    }
  }
}

// One point propagated non-linearly over a long distance is one long item: the Ctrl-C is seen
// between propagation steps, not only when the point is done.
TEST_F(interrupt_test, LongNonLinearPropagationStopsWithinThePoint) {
  const double tx = linear(16);
  for (int threads : {1, 2}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    ASSERT_TRUE(orvel_call({5050, "threads", threads}).ok);
    const int32_t bytes = current_sys().bytes_reserved;
    embedded_polls_take();
    // 4e7 steps of 0.5 mm: many seconds to the end, while polls come every tenth of a second.
    // One thread finishing the point would poll twice (after it, and at the end of the job), so
    // a third poll is seen only inside the point.
    embedded_interrupt_at_poll(3);
    const call_result r = orvel_call({4012, tx, line(1), embedded_matrix(1, 1, {20e3})}, 2);
    EXPECT_EQ(r.error, interrupted);
    EXPECT_EQ(embedded_polls_take(), 3u);
    EXPECT_EQ(current_sys().bytes_reserved, bytes);
  }
}

// Responses that reach far make one item last seconds: a triangle 50 m long (3.2e6 samples,
// each an integral) and the sums of a pair of elements 2 m tall, seen from 10 mm aside in y
// (9.2e4 samples each, 8e9 products: about a second on a fast core, so that the polls a tenth of
// a second apart reach into the sums on any machine; 0.5 m, 0.07 s, did not on some). calc_h at one point polls twice when its item is done (after
// it, and at the end of the job), so a third poll comes only from within the triangle;
// calc_scat_all polls six times over its three stages of one item each, so an eighth only from
// within the pair's sums. 2000 rectangles 0.5 m tall at 3 GHz, seen from 10 mm aside in y: a
// second or more of one item, as elements of one rectangle each or as one element of them all,
// where a third poll comes only from within the rectangles' sums. A piston 0.3 m across as
// triangles: a second or more of short parts of one element at one point, which polls three times
// around them (before the element, after the item, at the end), so a fifth only from within.
TEST_F(interrupt_test, LongResponsesStopWithinTheirElementOrPair) {
  const call_result triangle =
      orvel_call({1023, embedded_matrix(1, 11, {1, 0, 0, 0, 50, 0, 0, 0, 1e-3, 0, 1}),
                  embedded_matrix(1, 3, {0, 0, 0}), focus()},
                 1);
  ASSERT_TRUE(triangle.ok) << triangle.error;
  const call_result tall = orvel_call({1001, 1, 0.3e-3, 2.0, 0.0, 1, 1, focus()}, 1);
  ASSERT_TRUE(tall.ok) << tall.error;
  // An element waveform of three million samples: seconds of plain sums for one element, then a
  // tenth of that for the pulse; the tenth poll comes only from within the element's sums.
  const call_result piston = orvel_call({1010, 0.01, 1e-3}, 1);
  ASSERT_TRUE(piston.ok) << piston.error;
  const double tp = piston.at(0, 0);
  ASSERT_TRUE(orvel_call({1082, tp, embedded_matrix(1, 1, {1}),
                          embedded_matrix(1, 3000000, std::vector<double>(3000000, 1.0))})
                  .ok);
  const call_result wide = orvel_call({1001, 2000, 0.3e-3, 0.5, 0.0, 1, 1, focus()}, 1);
  ASSERT_TRUE(wide.ok) << wide.error;
  // Columns: element, four corners, apodization, width, height, centre.
  const std::vector<double> row = {1,       -0.15e-3, -0.25, 0, -0.15e-3, 0.25, 0, 0.15e-3, 0.25,
                                   0,       0.15e-3,  -0.25, 0, 1,        0.3e-3, 0.5, 0, 0, 0};
  std::vector<double> table;
  for (double v : row) table.insert(table.end(), 2000, v);
  const call_result stack = orvel_call(
      {1021, embedded_matrix(2000, 19, table), embedded_matrix(1, 3, {0, 0, 0}), focus()}, 1);
  ASSERT_TRUE(stack.ok) << stack.error;
  const call_result disc = orvel_call({1010, 0.15, 1e-3}, 1);
  ASSERT_TRUE(disc.ok) << disc.error;
  ASSERT_TRUE(orvel_call({1031, disc.at(0, 0)}).ok);
  const double th = triangle.at(0, 0), tt = tall.at(0, 0), td = disc.at(0, 0);
  auto at_3_ghz = [](double aperture) {
    EXPECT_TRUE(orvel_call({5020, 3e9}).ok);
    call_result r = orvel_call({4001, aperture, embedded_matrix(1, 3, {0, 0.01, 0.01})}, 2);
    EXPECT_TRUE(orvel_call({5020, 100e6}).ok);
    return r;
  };
  const std::pair<size_t, std::function<call_result()>> calculations[] = {
      {3, [&] { return at_3_ghz(wide.at(0, 0)); }},
      {3, [&] { return at_3_ghz(stack.at(0, 0)); }},
      {5,
       [&] {
         EXPECT_TRUE(orvel_call({5050, "use_triangles", 1}).ok);
         call_result r = orvel_call({4001, td, embedded_matrix(1, 3, {-3.7e-3, 1e-3, 0.05})}, 2);
         EXPECT_TRUE(orvel_call({5050, "use_rectangles", 1}).ok);
         return r;
       }},
      {10, [&] { return orvel_call({4002, tp, embedded_matrix(1, 3, {0, 0, 1e-3})}, 2); }},
      {3,
       [&] {
         return orvel_call({4001, th, line(1)}, 2);
       }},
      {8, [&] {
         return orvel_call({4007, tt, tt, embedded_matrix(1, 3, {1e-3, 0.01, 0.01}),
                            embedded_matrix(1, 1, {1}), 1},
                           2);
       }}};
  ASSERT_TRUE(orvel_call({5050, "threads", 1}).ok);
  for (const auto& [poll, calculation] : calculations) {
    const int32_t bytes = current_sys().bytes_reserved;
    embedded_polls_take();
    embedded_interrupt_at_poll(poll);
    EXPECT_EQ(calculation().error, interrupted);
    EXPECT_EQ(embedded_polls_take(), poll);
    EXPECT_EQ(current_sys().bytes_reserved, bytes);
  }
}
