// Delay-and-sum image formation, in blocks of consecutive points. Per block and element, the
// receive weights and times of flight of the block's points and the range of points that use
// the element (elements that weigh nothing anywhere in the block are left out at once); per
// block and transmit, the arrivals. Then, element by element, each transmit's samples over
// that range (one column of the data read at neighbouring samples, the next columns asked for
// ahead; points in the range that do not use the element weigh 0), summed per point and
// transmit over the elements in order, and the transmits' sums added in order. On processors
// with AVX2 the weights and the linear reads run four points at a time, with the same
// operations in the same order, so the image is the same with and without it.
#include "imaging/das.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>

#include "core/check.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define DAS_AVX2 1
#define DAS_INLINE inline __attribute__((always_inline))
#else
#define DAS_AVX2 0
#define DAS_INLINE inline
#endif

namespace {
constexpr double pi = 3.141592653589793;
constexpr size_t block = 64;  // consecutive points a thread forms together

double distance(const das_point& a, const das_point& b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// cos(pi r) for r in [0, 1], as -sin(x) at x = pi (r - 1/2) by the Taylor series of sin to
// x^21, whose remainder is below 2e-18 for |x| <= pi/2: a polynomial, so that it runs four
// points at a time, within a few units in the last place of cos.
constexpr double sin_taylor[] = {1 / 51090942171709440000.0,
                                 -1 / 121645100408832000.0,
                                 1 / 355687428096000.0,
                                 -1 / 1307674368000.0,
                                 1 / 6227020800.0,
                                 -1 / 39916800.0,
                                 1 / 362880.0,
                                 -1 / 5040.0,
                                 1 / 120.0,
                                 -1 / 6.0,
                                 1.0};

DAS_INLINE double cos_pi(double r) {
  const double x = pi * (r - 0.5), x2 = x * x;
  double s = sin_taylor[0];
  for (size_t k = 1; k < std::size(sin_taylor); ++k) s = s * x2 + sin_taylor[k];
  return -(x * s);
}

// Arrival time of transmit x's wave at p [s].
double arrival(const das_transmit& x, const das_point& p, double c) {
  switch (x.wave) {
    case das_wave::plane: {
      const das_point& u = x.origin;  // the direction, made by das_image
      return x.t_ref + (u[0] * p[0] + u[1] * p[1] + u[2] * p[2]) / c;
    }
    case das_wave::focused: {
      const das_point& s = x.source;
      const double ahead = (p[0] - s[0]) * (s[0] - x.origin[0]) +
                           (p[1] - s[1]) * (s[1] - x.origin[1]) +
                           (p[2] - s[2]) * (s[2] - x.origin[2]);
      return x.t_ref + (ahead < 0 ? -1.0 : 1.0) * distance(p, s) / c;
    }
    case das_wave::diverging:
    case das_wave::element:
      break;
  }
  return x.t_ref + distance(p, x.source) / c;
}

// A block of points, coordinates apart, and the sum of the weights at each; per element its
// points' weights and times of flight [s] and the range [lo, hi) of the points that use it;
// per transmit and point the arrival plus the pulse's lag, from the first sample [s], and
// the sum so far.
struct block_scratch {
  std::vector<double> px, py, pz;
  std::vector<double> weight, flight, arrive, sum, total;
  std::vector<size_t> lo, hi;
};

// The weights and times of flight of element q for the points [i, n) of b, and the weights'
// running total (which finds the points no element weighs). Every operation runs for every point
// and the results are selected, as in the AVX2 loop below.
template <das_window window>
DAS_INLINE void element_weights(const das_setup& s, const das_point& q, size_t n, block_scratch& b,
                                double* weight, double* flight, size_t i = 0) {
  const double two_f = 2 * s.f_number;
  const double flat = 1 - s.tukey_alpha, alpha = s.tukey_alpha;
  const double* px = b.px.data();
  const double* py = b.py.data();
  const double* pz = b.pz.data();
  double* total = b.total.data();
  for (; i < n; ++i) {
    const double dx = px[i] - q[0], dy = py[i] - q[1], dz = pz[i] - q[2];
    const double l2 = dx * dx + dy * dy;
    const double a = dz / two_f;
    const double r = std::sqrt(l2) / a;
    double w = 1.0;
    if constexpr (window == das_window::hann) {
      w = 0.5 + 0.5 * cos_pi(r);
    } else if constexpr (window == das_window::tukey) {
      const double taper = 0.5 + 0.5 * cos_pi((r - flat) / alpha);
      w = r <= flat ? 1.0 : taper;
    }
    const bool inside = (a > 0) & (l2 < a * a);
    weight[i] = inside ? w : 0.0;
    total[i] += weight[i];
    flight[i] = std::sqrt(l2 + dz * dz) / s.c;
  }
}

#if DAS_AVX2
__attribute__((target("avx2"))) inline __m256d cos_pi(__m256d r) {
  const __m256d x = _mm256_mul_pd(_mm256_set1_pd(pi), _mm256_sub_pd(r, _mm256_set1_pd(0.5)));
  const __m256d x2 = _mm256_mul_pd(x, x);
  __m256d s = _mm256_set1_pd(sin_taylor[0]);
  for (size_t k = 1; k < std::size(sin_taylor); ++k)
    s = _mm256_add_pd(_mm256_mul_pd(s, x2), _mm256_set1_pd(sin_taylor[k]));
  return _mm256_xor_pd(_mm256_mul_pd(x, s), _mm256_set1_pd(-0.0));
}

// element_weights four points at a time: the same operations in the same order.
template <das_window window>
__attribute__((target("avx2"))) void element_weights_avx2(const das_setup& s, const das_point& q,
                                                          size_t n, block_scratch& b,
                                                          double* weight, double* flight) {
  const __m256d q0 = _mm256_set1_pd(q[0]), q1 = _mm256_set1_pd(q[1]), q2 = _mm256_set1_pd(q[2]);
  const __m256d two_f = _mm256_set1_pd(2 * s.f_number), zero = _mm256_setzero_pd();
  const __m256d half = _mm256_set1_pd(0.5), one = _mm256_set1_pd(1.0);
  const __m256d flat = _mm256_set1_pd(1 - s.tukey_alpha), alpha = _mm256_set1_pd(s.tukey_alpha);
  const __m256d c = _mm256_set1_pd(s.c);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d dx = _mm256_sub_pd(_mm256_loadu_pd(&b.px[i]), q0);
    const __m256d dy = _mm256_sub_pd(_mm256_loadu_pd(&b.py[i]), q1);
    const __m256d dz = _mm256_sub_pd(_mm256_loadu_pd(&b.pz[i]), q2);
    const __m256d l2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
    const __m256d a = _mm256_div_pd(dz, two_f);
    const __m256d r = _mm256_div_pd(_mm256_sqrt_pd(l2), a);
    __m256d w = one;
    if constexpr (window == das_window::hann) {
      w = _mm256_add_pd(half, _mm256_mul_pd(half, cos_pi(r)));
    } else if constexpr (window == das_window::tukey) {
      const __m256d taper = _mm256_add_pd(
          half, _mm256_mul_pd(half, cos_pi(_mm256_div_pd(_mm256_sub_pd(r, flat), alpha))));
      w = _mm256_blendv_pd(taper, one, _mm256_cmp_pd(r, flat, _CMP_LE_OQ));
    }
    const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(a, zero, _CMP_GT_OQ),
                                         _mm256_cmp_pd(l2, _mm256_mul_pd(a, a), _CMP_LT_OQ));
    const __m256d wi = _mm256_and_pd(w, inside);
    _mm256_storeu_pd(weight + i, wi);
    _mm256_storeu_pd(&b.total[i], _mm256_add_pd(_mm256_loadu_pd(&b.total[i]), wi));
    const __m256d d = _mm256_sqrt_pd(_mm256_add_pd(l2, _mm256_mul_pd(dz, dz)));
    _mm256_storeu_pd(flight + i, _mm256_div_pd(d, c));
  }
  element_weights<window>(s, q, n, b, weight, flight, i);
}
#endif

// Adds w v(at) of the element's column v (n samples) to the sums of points [0, m), v(at) by
// linear interpolation, 0 outside [0, n - 1].
DAS_INLINE void gather_linear(const double* v, int64_t n, double fs, const double* arrive,
                              const double* flight, const double* weight, double* sum, size_t m,
                              size_t k) {
  const double last = static_cast<double>(n - 1);
  for (; k < m; ++k) {
    const double at = (arrive[k] + flight[k]) * fs;
    double value = 0.0;
    if (at >= 0 && at <= last) {
      const int64_t j = static_cast<int64_t>(at);
      const double f = at - static_cast<double>(j);
      const double next = j + 1 < n ? v[j + 1] : 0.0;
      value = v[j] * (1 - f) + next * f;
    }
    sum[k] += weight[k] * value;
  }
}

// The same by Keys' cubic convolution (a = -0.5) over the four nearest samples.
DAS_INLINE void gather_cubic(const double* v, int64_t n, double fs, const double* arrive,
                             const double* flight, const double* weight, double* sum, size_t m) {
  const double last = static_cast<double>(n - 1);
  auto at_ = [&](int64_t k) { return k >= 0 && k < n ? v[k] : 0.0; };
  for (size_t k = 0; k < m; ++k) {
    const double at = (arrive[k] + flight[k]) * fs;
    double value = 0.0;
    if (at >= 0 && at <= last) {
      const int64_t j = static_cast<int64_t>(at);
      const double f = at - static_cast<double>(j);
      const double f2 = f * f, f3 = f2 * f;
      const double w[4] = {-0.5 * f3 + f2 - 0.5 * f, 1.5 * f3 - 2.5 * f2 + 1,
                           -1.5 * f3 + 2 * f2 + 0.5 * f, 0.5 * f3 - 0.5 * f2};
      value = j >= 1 && j + 2 < n
                  ? v[j - 1] * w[0] + v[j] * w[1] + v[j + 1] * w[2] + v[j + 2] * w[3]
                  : at_(j - 1) * w[0] + at_(j) * w[1] + at_(j + 1) * w[2] + at_(j + 2) * w[3];
    }
    sum[k] += weight[k] * value;
  }
}

#if DAS_AVX2
// gather_linear four points at a time: the same products and sums as the loop above. Needs
// n below 2^31 (32-bit sample numbers).
__attribute__((target("avx2"))) void gather_linear_avx2(const double* v, int64_t n, double fs,
                                                        const double* arrive, const double* flight,
                                                        const double* weight, double* sum,
                                                        size_t m) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
  const __m256d last = _mm256_set1_pd(static_cast<double>(n - 1)), rate = _mm256_set1_pd(fs);
  const __m256d before_last = _mm256_set1_pd(static_cast<double>(n - 2));
  size_t k = 0;
  for (; n >= 2 && k + 4 <= m; k += 4) {
    const __m256d at = _mm256_mul_pd(
        _mm256_add_pd(_mm256_loadu_pd(arrive + k), _mm256_loadu_pd(flight + k)), rate);
    const __m256d inside =
        _mm256_and_pd(_mm256_cmp_pd(at, zero, _CMP_GE_OQ), _mm256_cmp_pd(at, last, _CMP_LE_OQ));
    // The pair v[j], v[j + 1] from j = min(floor(at), n - 2): at the last sample itself,
    // j = n - 2 and f = 1 give v[n - 1] as the loop below does. Outside the signal at is
    // taken as 0 and the weight as 0.
    const __m256d safe = _mm256_and_pd(at, inside);
    const __m128i j = _mm256_cvttpd_epi32(_mm256_min_pd(safe, before_last));
    const __m256d f = _mm256_sub_pd(safe, _mm256_cvtepi32_pd(j));
    alignas(16) int32_t at_j[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at_j), j);
    const __m256d p02 = _mm256_set_m128d(_mm_loadu_pd(v + at_j[2]), _mm_loadu_pd(v + at_j[0]));
    const __m256d p13 = _mm256_set_m128d(_mm_loadu_pd(v + at_j[3]), _mm_loadu_pd(v + at_j[1]));
    const __m256d value =
        _mm256_add_pd(_mm256_mul_pd(_mm256_unpacklo_pd(p02, p13), _mm256_sub_pd(one, f)),
                      _mm256_mul_pd(_mm256_unpackhi_pd(p02, p13), f));
    const __m256d w = _mm256_and_pd(_mm256_loadu_pd(weight + k), inside);
    _mm256_storeu_pd(sum + k, _mm256_add_pd(_mm256_loadu_pd(sum + k), _mm256_mul_pd(w, value)));
  }
  gather_linear(v, n, fs, arrive, flight, weight, sum, m, k);
}
#endif

// Asks for the stretch of element e's column that the block will read (from its first to
// its last point's sample), ahead of its turn.
DAS_INLINE void prefetch(const double* column, int64_t samples, double fs, const block_scratch& b,
                         const double* arrive, size_t e) {
  const size_t lo = b.lo[e], hi = b.hi[e];
  if (lo >= hi) return;
  const double* flight = &b.flight[e * block];
  double first = (arrive[lo] + flight[lo]) * fs, last = (arrive[hi - 1] + flight[hi - 1]) * fs;
  if (first > last) std::swap(first, last);
  first = std::max(first, 0.0), last = std::min(last + 1, static_cast<double>(samples - 1));
  if (!(first <= last) || last - first > 512) return;
  for (int64_t j = static_cast<int64_t>(first); j <= static_cast<int64_t>(last); j += 8)
    __builtin_prefetch(column + j);
  __builtin_prefetch(column + static_cast<int64_t>(last));
}

// Points index[0 .. n): the weights and flights element by element, then each transmit's sum
// over the elements in order, read element by element for the whole block.
template <das_interpolation kind, das_window window, bool avx2>
DAS_INLINE void form_block_body(const das_setup& s, const double* rf, int64_t samples,
                                const std::vector<das_point>& elements,
                                const std::vector<das_transmit>& waves,
                                const std::vector<das_point>& points, const size_t* index, size_t n,
                                block_scratch& b, double* out) {
  const size_t P = points.size(), R = elements.size(), T = waves.size();
  das_point lo = points[index[0]], hi = lo;
  for (size_t i = 0; i < n; ++i) {
    const das_point& p = points[index[i]];
    b.px[i] = p[0], b.py[i] = p[1], b.pz[i] = p[2], b.total[i] = 0.0;
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
  }
  auto weigh = [&](size_t e) {
    double* weight = &b.weight[e * block];
    double* flight = &b.flight[e * block];
#if DAS_AVX2
    if constexpr (avx2) return element_weights_avx2<window>(s, elements[e], n, b, weight, flight);
#endif
    element_weights<window>(s, elements[e], n, b, weight, flight);
  };
  // An element weighs nothing at any point of the block when it does not at the block's
  // nearest corner (lateral distance and depth rounded the same way, so the test is exact);
  // it is left out, its range empty.
  const double two_f = 2 * s.f_number;
  for (size_t e = 0; e < R; ++e) {
    const das_point& q = elements[e];
    const double dx = std::max({0.0, lo[0] - q[0], q[0] - hi[0]});
    const double dy = std::max({0.0, lo[1] - q[1], q[1] - hi[1]});
    const double a = (hi[2] - q[2]) / two_f;
    b.lo[e] = n, b.hi[e] = 0;
    if (!(a > 0 && dx * dx + dy * dy < a * a)) continue;
    weigh(e);
    const double* w = &b.weight[e * block];
    size_t first = 0, end = n;
    while (first < n && !(w[first] > 0)) ++first;
    while (end > first && !(w[end - 1] > 0)) --end;
    if (first >= end) continue;
    // Widened to a multiple of four points where the block allows, so that the AVX2 loop
    // takes it whole; the points added weigh 0 and add nothing.
    const size_t want = (end - first + 3) / 4 * 4;
    end = std::min(n, first + want);
    first = end >= want ? end - want : 0;
    b.lo[e] = first, b.hi[e] = end;
  }
  // Where no element weighs anything at a point, the laterally nearest (the first of equals)
  // takes part alone with weight 1.
  for (size_t i = 0; i < n; ++i) {
    if (b.total[i] > 0) continue;
    size_t nearest = 0;
    double nearest_l2 = INFINITY;
    for (size_t e = 0; e < R; ++e) {
      const das_point& q = elements[e];
      const double dx = b.px[i] - q[0], dy = b.py[i] - q[1], l2 = dx * dx + dy * dy;
      if (l2 < nearest_l2) nearest_l2 = l2, nearest = e;
    }
    if (b.lo[nearest] >= b.hi[nearest]) weigh(nearest);  // its weights here are all 0
    b.weight[nearest * block + i] = 1.0;
    b.lo[nearest] = std::min(b.lo[nearest], i);
    b.hi[nearest] = std::max(b.hi[nearest], i + 1);
  }
  const double offset = s.lag - s.t0;
  for (size_t t = 0; t < T; ++t)
    for (size_t i = 0; i < n; ++i) {
      b.arrive[t * block + i] = arrival(waves[t], points[index[i]], s.c) + offset;
      b.sum[t * block + i] = 0.0;
    }
  // Element by element, each transmit's column: the element's weights and flights stay at
  // hand while its columns are read, the next element's columns asked for meanwhile.
  for (size_t e = 0; e < R; ++e) {
    const size_t lo = b.lo[e], hi = b.hi[e];
    if (lo >= hi) continue;
    const double* weight = &b.weight[e * block];
    const double* flight = &b.flight[e * block];
    for (size_t t = 0; t < T; ++t) {
      const double* arrive = b.arrive.data() + t * block;
      double* sum = b.sum.data() + t * block;
      if (t + 2 < T)
        prefetch(rf + static_cast<int64_t>((t + 2) * R + e) * samples, samples, s.fs, b,
                 arrive + 2 * block, e);
      const double* column = rf + static_cast<int64_t>(t * R + e) * samples;
      if constexpr (kind == das_interpolation::cubic) {
        gather_cubic(column, samples, s.fs, arrive + lo, flight + lo, weight + lo, sum + lo,
                     hi - lo);
      } else {
#if DAS_AVX2
        if constexpr (avx2) {
          gather_linear_avx2(column, samples, s.fs, arrive + lo, flight + lo, weight + lo, sum + lo,
                             hi - lo);
          continue;
        }
#endif
        gather_linear(column, samples, s.fs, arrive + lo, flight + lo, weight + lo, sum + lo,
                      hi - lo, 0);
      }
    }
  }
  for (size_t i = 0; i < n; ++i) {
    if (s.per_transmit) {
      for (size_t t = 0; t < T; ++t) out[index[i] + P * t] = b.sum[t * block + i];
    } else {
      double total = 0.0;
      for (size_t t = 0; t < T; ++t) total += b.sum[t * block + i];
      out[index[i]] = total;
    }
  }
}

using block_fn = void (*)(const das_setup&, const double*, int64_t, const std::vector<das_point>&,
                          const std::vector<das_transmit>&, const std::vector<das_point>&,
                          const size_t*, size_t, block_scratch&, double*);

template <das_interpolation kind, das_window window>
void form_block(const das_setup& s, const double* rf, int64_t samples,
                const std::vector<das_point>& elements, const std::vector<das_transmit>& waves,
                const std::vector<das_point>& points, const size_t* index, size_t n,
                block_scratch& b, double* out) {
  form_block_body<kind, window, false>(s, rf, samples, elements, waves, points, index, n, b, out);
}

#if DAS_AVX2
template <das_interpolation kind, das_window window>
__attribute__((target("avx2"))) void form_block_avx2(
    const das_setup& s, const double* rf, int64_t samples, const std::vector<das_point>& elements,
    const std::vector<das_transmit>& waves, const std::vector<das_point>& points,
    const size_t* index, size_t n, block_scratch& b, double* out) {
  form_block_body<kind, window, true>(s, rf, samples, elements, waves, points, index, n, b, out);
}
#endif

template <das_interpolation kind, das_window window>
block_fn pick(bool wide, int64_t samples) {
#if DAS_AVX2
  if (wide && __builtin_cpu_supports("avx2") && samples < std::numeric_limits<int32_t>::max())
    return form_block_avx2<kind, window>;
#endif
  (void)wide, (void)samples;
  return form_block<kind, window>;
}

template <das_interpolation kind>
block_fn pick(das_window window, bool wide, int64_t samples) {
  switch (window) {
    case das_window::tukey:
      return pick<kind, das_window::tukey>(wide, samples);
    case das_window::boxcar:
      return pick<kind, das_window::boxcar>(wide, samples);
    case das_window::hann:
      break;
  }
  return pick<kind, das_window::hann>(wide, samples);
}
}  // namespace

void das_image(worker_team& team, const das_setup& s, const double* rf, int64_t samples,
               const std::vector<das_point>& elements, const std::vector<das_transmit>& transmits,
               const std::vector<das_point>& points, double* out,
               const worker_team::wait_fn& waiting) {
  const size_t R = elements.size(), T = transmits.size(), P = points.size();
  ORVEL_ASSERT(R >= 1 && T >= 1 && s.fs > 0 && s.c > 0 && s.f_number > 0);
  std::vector<block_scratch> scratch(static_cast<size_t>(team.size()));
  for (block_scratch& b : scratch) {
    for (std::vector<double>* v : {&b.px, &b.py, &b.pz, &b.total}) v->resize(block);
    for (std::vector<double>* v : {&b.weight, &b.flight}) v->resize(block * R);
    b.arrive.resize(block * T);
    b.sum.resize(block * T);
    b.lo.resize(R);
    b.hi.resize(R);
  }
  // A plane wave's direction, once: u = (sin ax cos ay, sin ay, cos ax cos ay) in origin.
  std::vector<das_transmit> waves = transmits;
  for (das_transmit& x : waves)
    if (x.wave == das_wave::plane) {
      const double ax = x.source[0], ay = x.source[1];
      x.origin = {std::sin(ax) * std::cos(ay), std::sin(ay), std::cos(ax) * std::cos(ay)};
    }
  // The points in tiles of depth and x, tile by tile along x within each band of depth, each
  // tile's points in the given order: a tile reads short stretches of the columns of the
  // elements near it, which the next tile reads again while they are in the cache. A band
  // spans about 32 samples of the round trip, a tile 64 samples' travel across. The order
  // changes no value.
  std::vector<size_t> index(P);
  if (P > 0) {
    const double dz = 16 * s.c / s.fs, dx = 64 * s.c / s.fs;
    das_point lo = points[0], hi = points[0];
    for (const das_point& p : points)
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    const size_t most = std::max<size_t>(P, 1);
    const size_t nx = std::min(most, static_cast<size_t>((hi[0] - lo[0]) / dx) + 1);
    const size_t nz = std::min(most / nx + 1, static_cast<size_t>((hi[2] - lo[2]) / dz) + 1);
    auto tile_of = [&](const das_point& p) {
      const size_t ix = std::min(nx - 1, static_cast<size_t>((p[0] - lo[0]) / dx));
      const size_t iz = std::min(nz - 1, static_cast<size_t>((p[2] - lo[2]) / dz));
      return iz * nx + ix;
    };
    std::vector<size_t> start(nx * nz + 1, 0);
    for (const das_point& p : points) ++start[tile_of(p) + 1];
    for (size_t k = 0; k < nx * nz; ++k) start[k + 1] += start[k];
    for (size_t i = 0; i < P; ++i) index[start[tile_of(points[i])]++] = i;
  }
  const block_fn form = s.interpolation == das_interpolation::linear
                            ? pick<das_interpolation::linear>(s.window, s.wide, samples)
                            : pick<das_interpolation::cubic>(s.window, s.wide, samples);
  const int64_t blocks = static_cast<int64_t>((P + block - 1) / block);
  team.run(
      blocks, 1,
      [&](int64_t k, int32_t worker) {
        block_scratch& b = scratch[static_cast<size_t>(worker)];
        const size_t first = static_cast<size_t>(k) * block;
        const size_t n = std::min(block, P - first);
        form(s, rf, samples, elements, waves, points, index.data() + first, n, b, out);
      },
      waiting);
}
