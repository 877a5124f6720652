// The delay-and-sum on the worker team: one, two and three threads give the same image bit for
// bit (under the thread sanitizer, without a race), blocks and tiles of points included.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/thread_pool.h"
#include "imaging/das.h"

TEST(das, TheImageIsTheSameForEveryThreadCount) {
  const int64_t samples = 300;
  std::vector<das_point> elements, points;
  for (int e = 0; e < 12; ++e) elements.push_back({(e - 5.5) * 0.3e-3, (e % 3) * 0.2e-3, 0});
  for (int i = 0; i < 700; ++i)  // more points than a block, over several tiles
    points.push_back({std::sin(i * 0.7) * 4e-3, std::cos(i * 1.3) * 1e-3, 1e-3 + i * 1.5e-5});
  const std::vector<das_transmit> transmits = {
      {das_wave::plane, {0.1, -0.05, 0}, 1e-7, {0, 0, 0}},
      {das_wave::diverging, {0, 0, -4e-3}, -2.6e-6, {0, 0, 0}},
      {das_wave::focused, {0, 0, 6e-3}, 3.9e-6, {0, 0, 0}},
      {das_wave::element, elements[3], 0, {0, 0, 0}}};
  std::vector<double> rf(samples * elements.size() * transmits.size());
  for (size_t k = 0; k < rf.size(); ++k) rf[k] = std::sin(0.37 * k) * std::cos(0.011 * k);
  das_setup s{0.5e-6, 50e6, 1540, 0.1e-6, 1.2, das_window::tukey, 0.4, das_interpolation::cubic,
              true};
  std::vector<std::vector<double>> images;
  for (int32_t threads : {1, 2, 3}) {
    worker_team team(threads);
    images.emplace_back(points.size() * transmits.size());
    das_image(team, s, rf.data(), samples, elements, transmits, points, images.back().data());
  }
  double largest = 0;
  for (double v : images[0]) largest = std::fmax(largest, std::fabs(v));
  EXPECT_GT(largest, 0.1);  // the points see the data
  EXPECT_EQ(images[0], images[1]);
  EXPECT_EQ(images[0], images[2]);
}

// The AVX2 loops (where the processor has them) and the portable ones give the same image bit
// for bit, for every window, with points before, inside and beyond the signal; a point whose
// sample is exactly the last one takes that sample, one half a sample before it the mean of
// the last two, one beyond it nothing.
TEST(das, TheWideLoopsMatchThePortableOnes) {
  const int64_t samples = 300;
  std::vector<das_point> elements, points;
  for (int e = 0; e < 16; ++e) elements.push_back({(e - 7.5) * 0.3e-3, 0, 0});
  for (int i = 0; i < 500; ++i)
    points.push_back({std::sin(i * 0.7) * 3e-3, 0, -0.5e-3 + i * 2.3e-5});
  const std::vector<das_transmit> transmits = {{das_wave::plane, {0.2, 0, 0}, 0, {0, 0, 0}},
                                               {das_wave::element, elements[5], 0, {0, 0, 0}}};
  std::vector<double> rf(samples * elements.size() * transmits.size());
  for (size_t k = 0; k < rf.size(); ++k) rf[k] = std::sin(0.37 * k) * std::cos(0.011 * k);
  worker_team team(2);
  for (das_window window : {das_window::hann, das_window::tukey, das_window::boxcar}) {
    das_setup s{0.2e-6, 40e6, 1540, 0.1e-6, 1.1, window, 0.3, das_interpolation::linear, true};
    std::vector<double> wide(points.size() * 2), portable(points.size() * 2);
    das_image(team, s, rf.data(), samples, elements, transmits, points, wide.data());
    s.wide = false;
    das_image(team, s, rf.data(), samples, elements, transmits, points, portable.data());
    EXPECT_EQ(wide, portable);
    EXPECT_GT(std::fabs(wide[250]), 0.01);
  }
  // One element under four points, c = fs = 1: the sample of depth z is 2z.
  const double last = static_cast<double>(samples - 1);
  const std::vector<das_point> column = {
      {0, 0, last / 2}, {0, 0, (last - 0.5) / 2}, {0, 0, (last + 0.5) / 2}, {0, 0, 10.25}};
  const std::vector<double> v = [&] {
    std::vector<double> r(samples);
    for (int64_t k = 0; k < samples; ++k) r[k] = 1.0 + 0.5 * k;
    return r;
  }();
  for (bool use_wide : {true, false}) {
    das_setup s{0, 1, 1, 0, 1, das_window::boxcar, 0, das_interpolation::linear, false};
    s.wide = use_wide;
    std::vector<double> image(4);
    das_image(team, s, v.data(), samples, {{0, 0, 0}}, {{das_wave::plane, {0, 0, 0}, 0, {0, 0, 0}}},
              column, image.data());
    EXPECT_EQ(image[0], v[samples - 1]);
    EXPECT_EQ(image[1], (v[samples - 2] + v[samples - 1]) / 2);
    EXPECT_EQ(image[2], 0.0);
    EXPECT_EQ(image[3], v[20] + 0.5 * (v[21] - v[20]));
  }
}
