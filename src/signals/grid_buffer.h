// Samples of the global time grid in a buffer that is reused from one field point to the next,
// so that the per-point work of a calculation allocates nothing once it has grown.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Samples [start, start + n) of the global time grid.
struct grid_buffer {
  int32_t start = 0;      // first sample on the global grid [1/fs]
  int32_t n = 0;          // samples in use
  std::vector<double> v;  // at least n values; grows, never shrinks

  // n zero samples from start; a negative count (the length of a convolution with an empty
  // operand) gives none.
  void assign_zero(int32_t first, int32_t count) {
    start = first;
    n = count = std::max(count, 0);
    if (v.size() < static_cast<size_t>(count)) v.resize(static_cast<size_t>(count));
    std::fill_n(v.begin(), count, 0.0);
  }
  double* data() { return v.data(); }
  const double* data() const { return v.data(); }
};
