// Signals looked at on their sample grid in the tests: the peak, the values, sample g of the
// grid, and two signals that must be equal within a tolerance of the larger peak.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "signals/signal_store.h"

inline double peak(const signal_rec& s) {
  double m = 0.0;
  for (int32_t k = 0; k < s.no_samples; ++k) m = std::max(m, std::fabs(s.data[k]));
  return m;
}

inline std::vector<double> values(const signal_rec& s) {
  return std::vector<double>(s.data.begin(), s.data.begin() + s.no_samples);
}

// Sample g of the signal's grid, 0 outside it.
inline double at(const signal_rec& s, int64_t g) {
  const int64_t k = g - s.start_sample;
  return k >= 0 && k < s.no_samples ? s.data[k] : 0.0;
}

// a and b equal on the grid, sample by sample, within tol times the larger peak (not 0).
inline void expect_same(const signal_rec& a, const signal_rec& b, double tol) {
  const double scale = std::max(peak(a), peak(b));
  ASSERT_GT(scale, 0.0);
  const int64_t from = std::min(a.start_sample, b.start_sample);
  const int64_t to =
      std::max(int64_t{a.start_sample} + a.no_samples, int64_t{b.start_sample} + b.no_samples);
  for (int64_t g = from; g < to; ++g)
    ASSERT_NEAR(at(a, g), at(b, g), tol * scale) << "sample " << g;
}
