// Focus and apodization time lines and the settings of single elements.
#include <cmath>

#include "apertures/arrays.h"
#include "apertures/time_lines.h"
#include "core/sys_con.h"
#include "harness.h"

namespace {
class time_lines_test : public orvel_test {
 protected:
  sys_con sys;
  aperture_ptr ap;
  void SetUp() override { ap = xdc_linear_array(sys, 2, 1e-3, 5e-3, 0.1e-3, 1, 1, {0, 0, 0.04}); }
  void TearDown() override {
    free_aperture(sys, ap);
    EXPECT_EQ(sys.bytes_reserved, 0);
    orvel_test::TearDown();
  }
  std::vector<double> times_of_focus() const {
    std::vector<double> t;
    for (const focus_entry& e : ap->focus_line) t.push_back(e.time);
    return t;
  }
};
}  // namespace

TEST_F(time_lines_test, QuantizationRoundsToTheNearestStepHalvesUp) {
  const double q = 10e-9;
  // focus_delays turns a time of flight d into tr - d; with tr = 0 the delay is -d.
  double d[] = {-14.9e-9, -15.1e-9, 14.9e-9, 0.0};
  focus_delays(4, d, 1, q, 0.0);
  EXPECT_DOUBLE_EQ(d[0], 10e-9);
  EXPECT_DOUBLE_EQ(d[1], 20e-9);
  EXPECT_DOUBLE_EQ(d[2], -10e-9);
  EXPECT_EQ(d[3], 0.0);
  // Exact halves (representable in binary) go up: 0.25 -> 0.5, -0.25 -> 0.
  double h[] = {-0.25, 0.25};
  focus_delays(2, h, 1, 0.5, 0.0);
  EXPECT_EQ(h[0], 0.5);
  EXPECT_EQ(h[1], 0.0);
  double e[] = {3e-6};
  focus_delays(1, e, 0, q, 5e-6);
  EXPECT_DOUBLE_EQ(e[0], 2e-6);
}

TEST_F(time_lines_test, FocusEntriesAreLinkedByTimeAfterTheFirst) {
  const std::vector<point3> pts = {{0, 0, 0.01}, {0, 0, 0.02}, {0, 0, 0.03}};
  xdc_focus(sys, *ap, {0, 20e-6, 10e-6}, pts);
  EXPECT_EQ(times_of_focus(), (std::vector<double>{0, 10e-6, 20e-6}));
  EXPECT_EQ(ap->focus_line[1].focus_point[2], 0.03);
  EXPECT_EQ(ap->single_focus, 0);
  xdc_focus(sys, *ap, {20e-6, 0, 10e-6}, pts);  // the first entry stays first
  EXPECT_EQ(times_of_focus(), (std::vector<double>{20e-6, 0, 10e-6}));
  // An entry equal in time to a later one goes before it.
  xdc_focus(sys, *ap, {0, 10e-6, 10e-6}, pts);
  EXPECT_EQ(ap->focus_line[1].focus_point[2], 0.03);
  EXPECT_EQ(ap->focus_line[2].focus_point[2], 0.02);
  xdc_focus(sys, *ap, {5e-6}, {{0, 0, 0.05}});
  EXPECT_EQ(ap->single_focus, 1);
  ASSERT_EQ(ap->focus_line.size(), 1u);
}

TEST_F(time_lines_test, FixedFocusDelaysUseReferencePointAndQuantizationOfTheirMoment) {
  sys.c = 1500.0;
  const double x = ap->phys_elements[1].center[0];  // the elements sit at -x and +x
  const point3 f = {x, 0, 0.04};                    // above element 2
  const std::vector<double> before = ap->focus_line[0].delays;
  xdc_center_focus(sys, *ap, {x, 0, 0});
  EXPECT_EQ(ap->ref_point, (point3{x, 0, 0}));
  EXPECT_EQ(ap->focus_line[0].delays, before);  // existing entries keep their delays
  xdc_focus(sys, *ap, {0}, {f});
  // Counted from the reference point over element 2: element 2 gets 0, element 1 (farther
  // from the focus) a negative delay.
  const double raw = (0.04 - std::hypot(2 * x, 0.04)) / 1500.0;
  EXPECT_EQ(ap->focus_line[0].delays[1], 0.0);
  EXPECT_NEAR(ap->focus_line[0].delays[0], raw, 1e-21);
  ap->quantize = 1;
  ap->quant_step = 1e-9;
  EXPECT_NEAR(ap->focus_line[0].delays[0], raw, 1e-21);  // made before quantization was set
  xdc_focus(sys, *ap, {0}, {f});
  EXPECT_DOUBLE_EQ(ap->focus_line[0].delays[0], std::floor(raw / 1e-9 + 0.5) * 1e-9);
  EXPECT_NE(ap->focus_line[0].delays[0], raw);
}

TEST_F(time_lines_test, GivenDelaysAreKeptAsGiven) {
  ap->quantize = 1;
  ap->quant_step = 1e-6;
  xdc_focus_delays(sys, *ap, {0, 1e-6}, {{1.234e-9, -5e-9}, {3e-9, 4e-9}});
  ASSERT_EQ(ap->focus_line.size(), 2u);
  EXPECT_EQ(ap->focus_line[0].delays, (std::vector<double>{1.234e-9, -5e-9}));
  EXPECT_EQ(ap->focus_line[1].delays, (std::vector<double>{3e-9, 4e-9}));
  EXPECT_EQ(ap->focus_line[1].focus_point, (point3{0, 0, 0}));
  EXPECT_EQ(ap->focus_line[1].dynamic, 0);
  EXPECT_EQ(ap->single_focus, 0);
}

TEST_F(time_lines_test, DynamicFocusingIsOneEntryNeverSingle) {
  xdc_dynamic_focusing(sys, *ap, 2e-6, 0.1, -0.2);
  ASSERT_EQ(ap->focus_line.size(), 1u);
  const focus_entry& e = ap->focus_line[0];
  EXPECT_EQ(e.dynamic, 1);
  EXPECT_EQ(e.time, 2e-6);
  EXPECT_EQ(e.angle_xz, 0.1);
  EXPECT_EQ(e.angle_yz, -0.2);
  EXPECT_TRUE(e.delays.empty());
  EXPECT_EQ(ap->single_focus, 0);
}

TEST_F(time_lines_test, ApodizationLineIsReplacedWhole) {
  xdc_apodization(sys, *ap, {10e-6, 0}, {{0.5, 0.25}, {1, 2}});
  ASSERT_EQ(ap->apod_line.size(), 2u);
  EXPECT_EQ(ap->apod_line[0].time, 10e-6);  // the first entry is never displaced
  EXPECT_EQ(ap->apod_line[1].values, (std::vector<double>{1, 2}));
  EXPECT_EQ(ap->single_apod, 0);
  xdc_apodization(sys, *ap, {0}, {{0.75, 0.5}});
  ASSERT_EQ(ap->apod_line.size(), 1u);
  EXPECT_EQ(ap->single_apod, 1);
}

TEST_F(time_lines_test, ElementApodizationAndDelayReportAndGoOn) {
  aperture_ptr big = xdc_linear_array(sys, 3, 1e-3, 5e-3, 0.1e-3, 2, 1, {0, 0, 0.04});
  // Element 5 does not exist; element 1 gets too few values; element 3 is set.
  ele_apodization(*big, {5, 1, 3}, 2, {{9, 9}, {0.5, 0.5}, {0.25, 0.75}});
  EXPECT_EQ(embedded_console_take(),
            "Orvel error: Illegal element number when setting mathematical element apodization\n");
  EXPECT_EQ(big->phys_elements[2].rects[0].apodization, 0.25);
  EXPECT_EQ(big->phys_elements[2].rects[1].apodization, 0.75);
  ele_apodization(*big, {0, 2, 3}, 1, {{1}, {0.1}, {0.2}});
  EXPECT_EQ(embedded_console_take(),
            "Orvel error: Illegal element number when setting mathematical element apodization\n"
            "Orvel error: Not enough values to set mathematical element apodization\n"
            "Orvel error: Not enough values to set mathematical element apodization\n");
  EXPECT_EQ(big->phys_elements[1].rects[0].apodization, 1.0);  // unchanged
  EXPECT_EQ(big->phys_elements[2].rects[0].apodization, 0.25);
  ele_delay(*big, {3, 4}, 3, {{1e-9, 2e-9, 3e-9}, {0, 0, 0}});  // values beyond 2 ignored
  EXPECT_EQ(embedded_console_take(),
            "Orvel error: Illegal element number when setting mathematical element delay\n");
  EXPECT_EQ(big->phys_elements[2].rects[1].delay, 2e-9);
  ele_delay(*big, {1}, 1, {{5e-9}});
  EXPECT_EQ(embedded_console_take(),
            "Orvel error: Not enough values to set mathematical element delay\n");
  // Without rectangles the triangles are set; without any element, nothing is said.
  big->phys_elements[0].no_rects = 0;
  big->phys_elements[0].rects.clear();
  big->phys_elements[0].no_tris = 1;
  big->phys_elements[0].tris.resize(1);
  big->phys_elements[1].no_rects = 0;
  big->phys_elements[1].rects.clear();
  ele_apodization(*big, {1, 2}, 1, {{0.3}, {0.4}});
  EXPECT_EQ(embedded_console_take(), "");
  EXPECT_EQ(big->phys_elements[0].tris[0].apodization, 0.3);
  free_aperture(sys, big);
}

TEST_F(time_lines_test, WaveformsReplaceEachOtherAndAreReleasedWithTheAperture) {
  const int32_t empty = sys.bytes_reserved;
  ele_waveform(sys, *ap, {2, 3}, 4, {{1, 2, 3, 4}, {0, 0, 0, 0}});
  EXPECT_EQ(embedded_console_take(),
            "Orvel error: Illegal element number when setting physical element waveform\n");
  EXPECT_EQ(ap->individual_excitation, 1);
  EXPECT_EQ(ap->phys_elements[1].has_waveform, 1);
  EXPECT_EQ(ap->phys_elements[0].has_waveform, 0);
  EXPECT_EQ(ap->phys_elements[1].waveform->data[3], 4.0);
  ele_waveform(sys, *ap, {2}, 2, {{5, 6}});
  EXPECT_EQ(ap->phys_elements[1].waveform->no_samples, 2);
  EXPECT_EQ(sys.bytes_reserved, empty + 8 * 2 + 40);  // one waveform charged
  free_aperture(sys, ap);
  EXPECT_EQ(sys.bytes_reserved, 0);
}
