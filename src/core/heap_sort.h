// The one heap sort of the system, over n items that the caller addresses by index: less(a, b)
// compares items a and b, swap(a, b) exchanges them (and whatever moves with them). In place,
// without allocation; not stable, but the swaps depend only on the comparisons, so the same
// input always ends in the same order.
#pragma once

#include <cstdint>

template <class Less, class Swap>
void heap_sort(int32_t n, Less less, Swap swap) {
  // A max-heap: each item at least its children 2 i + 1 and 2 i + 2.
  auto sift_down = [&](int32_t root, int32_t end) {
    while (2 * root + 1 < end) {
      int32_t child = 2 * root + 1;
      if (child + 1 < end && less(child, child + 1)) ++child;
      if (!less(root, child)) return;
      swap(root, child);
      root = child;
    }
  };
  for (int32_t start = n / 2 - 1; start >= 0; --start) sift_down(start, n);
  // The largest moved to the end one by one.
  for (int32_t end = n - 1; end > 0; --end) {
    swap(0, end);
    sift_down(0, end);
  }
}
