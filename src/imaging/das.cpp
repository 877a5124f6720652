// Delay-and-sum image formation, in blocks of consecutive points: per point the receive weights
// and times of flight of every element once and the arrival of every transmit once; then each
// transmit's samples, element by element for the whole block (one column of the data read at
// neighbouring samples), summed per point over the elements in order, and the transmits' sums
// added in order.
#include "imaging/das.h"

#include <algorithm>
#include <cmath>

#include "core/check.h"

namespace {
constexpr double pi = 3.141592653589793;
constexpr size_t block = 64;  // consecutive points a thread forms together

double distance(const das_point& a, const das_point& b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// The window at r = l / a in [0, 1).
double window_at(const das_setup& s, double r) {
  switch (s.window) {
    case das_window::hann:
      return 0.5 + 0.5 * std::cos(pi * r);
    case das_window::tukey: {
      const double flat = 1 - s.tukey_alpha;
      return r <= flat ? 1.0 : 0.5 + 0.5 * std::cos(pi * (r - flat) / s.tukey_alpha);
    }
    case das_window::boxcar:
      break;
  }
  return 1.0;
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

// Sample s (in samples from the first) of a signal of n samples, 0 outside [0, n - 1].
template <das_interpolation kind>
inline double sample_at(const double* v, int64_t n, double s) {
  if (!(s >= 0 && s <= static_cast<double>(n - 1))) return 0.0;
  const int64_t i = static_cast<int64_t>(s);
  const double f = s - static_cast<double>(i);
  if constexpr (kind == das_interpolation::linear) {
    return i + 1 < n ? v[i] * (1 - f) + v[i + 1] * f : v[i] * (1 - f);
  } else {
    // Keys' cubic convolution kernel, a = -0.5.
    const double f2 = f * f, f3 = f2 * f;
    const double w[4] = {-0.5 * f3 + f2 - 0.5 * f, 1.5 * f3 - 2.5 * f2 + 1,
                         -1.5 * f3 + 2 * f2 + 0.5 * f, 0.5 * f3 - 0.5 * f2};
    if (i >= 1 && i + 2 < n)
      return v[i - 1] * w[0] + v[i] * w[1] + v[i + 1] * w[2] + v[i + 2] * w[3];
    auto at = [&](int64_t k) { return k >= 0 && k < n ? v[k] : 0.0; };
    return at(i - 1) * w[0] + at(i) * w[1] + at(i + 1) * w[2] + at(i + 2) * w[3];
  }
}

// A block of points: per element the points that use it with their receive weights and times
// of flight [s]; per transmit and point the arrival [s] and the sum so far.
struct block_scratch {
  std::vector<double> weight, flight, arrive, sum, w;
  std::vector<uint16_t> point;  // per element, the points that use it
  std::vector<size_t> count;    // per element, how many
};

// The receive weights of point p into w[0 .. R); the laterally nearest element alone where
// none weighs anything.
void receive_weights(const das_setup& s, const std::vector<das_point>& elements, const das_point& p,
                     double* w) {
  const size_t R = elements.size();
  bool any = false;
  size_t nearest = 0;
  double nearest_l = INFINITY;
  for (size_t e = 0; e < R; ++e) {
    const das_point& q = elements[e];
    // The square of the lateral distance decides; its root only where the window is read.
    const double l2 = (p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]);
    const double a = (p[2] - q[2]) / (2 * s.f_number);
    w[e] = a > 0 && l2 < a * a ? window_at(s, std::sqrt(l2) / a) : 0.0;
    any = any || w[e] > 0;
    if (l2 < nearest_l) nearest_l = l2, nearest = e;
  }
  if (!any) w[nearest] = 1.0;
}

// Points p[0 .. n): each transmit's sum over the elements in order, read element by element
// for the whole block, so that one column of rf is read at neighbouring samples.
template <das_interpolation kind>
void form_block(const das_setup& s, const double* rf, int64_t samples,
                const std::vector<das_point>& elements, const std::vector<das_transmit>& waves,
                const std::vector<das_point>& points, const size_t* index, size_t n,
                block_scratch& b, double* out) {
  const size_t P = points.size();
  const size_t R = elements.size(), T = waves.size();
  // Per element, the points of the block that use it, in order: their number in the block,
  // weight and time of flight.
  std::fill(b.count.begin(), b.count.end(), 0);
  for (size_t i = 0; i < n; ++i) {
    const das_point& p = points[index[i]];
    receive_weights(s, elements, p, b.w.data());
    for (size_t e = 0; e < R; ++e) {
      if (!(b.w[e] > 0)) continue;
      const size_t k = e * block + b.count[e]++;
      b.point[k] = static_cast<uint16_t>(i);
      b.weight[k] = b.w[e];
      b.flight[k] = distance(p, elements[e]) / s.c;
    }
    for (size_t t = 0; t < T; ++t) {
      b.arrive[t * block + i] = arrival(waves[t], p, s.c);
      b.sum[t * block + i] = 0.0;
    }
  }
  const double lag = s.lag, t0 = s.t0, fs = s.fs;  // locals: the sums' stores cannot touch them
  for (size_t t = 0; t < T; ++t) {
    const double* arrive = b.arrive.data() + t * block;
    double* sum = b.sum.data() + t * block;
    for (size_t e = 0; e < R; ++e) {
      const size_t m = b.count[e];
      const double* column = rf + static_cast<int64_t>(t * R + e) * samples;
      const uint16_t* point = b.point.data() + e * block;
      const double* weight = b.weight.data() + e * block;
      const double* flight = b.flight.data() + e * block;
      for (size_t k = 0; k < m; ++k) {
        const size_t i = point[k];
        const double at = (arrive[i] + flight[k] + lag - t0) * fs;
        sum[i] += weight[k] * sample_at<kind>(column, samples, at);
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
}  // namespace

void das_image(worker_team& team, const das_setup& s, const double* rf, int64_t samples,
               const std::vector<das_point>& elements, const std::vector<das_transmit>& transmits,
               const std::vector<das_point>& points, double* out,
               const worker_team::wait_fn& waiting) {
  const size_t R = elements.size(), T = transmits.size(), P = points.size();
  ORVEL_ASSERT(R >= 1 && T >= 1 && s.fs > 0 && s.c > 0 && s.f_number > 0);
  std::vector<block_scratch> scratch(static_cast<size_t>(team.size()));
  for (block_scratch& b : scratch) {
    b.weight.resize(block * R);
    b.flight.resize(block * R);
    b.arrive.resize(block * T);
    b.sum.resize(block * T);
    b.point.resize(block * R);
    b.count.resize(R);
    b.w.resize(R);
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
  const bool linear = s.interpolation == das_interpolation::linear;
  const int64_t blocks = static_cast<int64_t>((P + block - 1) / block);
  team.run(
      blocks, 1,
      [&](int64_t k, int32_t worker) {
        block_scratch& b = scratch[static_cast<size_t>(worker)];
        const size_t first = static_cast<size_t>(k) * block;
        const size_t n = std::min(block, P - first);
        if (linear)
          form_block<das_interpolation::linear>(s, rf, samples, elements, waves, points,
                                                index.data() + first, n, b, out);
        else
          form_block<das_interpolation::cubic>(s, rf, samples, elements, waves, points,
                                               index.data() + first, n, b, out);
      },
      waiting);
}
