// The exact spatial impulse response of a flat element bounded by straight lines: at each
// sample, the angles of the arcs of the circle of that distance that lie inside the element,
// from the crossings of the circle with the bounding lines, sorted by angle. Scratch grows once
// per thread and is reused from point to point; a response beyond the 32-bit time grid is
// refused.
#include "elements/line_response.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

#include "core/errors.h"
#include "core/heap_sort.h"
#include "core/thread_pool.h"
#include "host/console.h"

namespace {
constexpr double pi = std::numbers::pi;
constexpr double two_pi = 2.0 * std::numbers::pi;

template <class T>
void grow(std::vector<T>& v, int32_t n) {
  if (v.size() < static_cast<size_t>(n)) v.resize(static_cast<size_t>(n));
}

// A whole number of samples as a 32-bit index; a response beyond the grid's reach (a point at
// an absurd distance or delay) ends the command instead of overflowing an index.
int32_t grid_count(double x) {
  if (!(x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max()))
    throw command_error(
        "Error: The response at this field point lies beyond the reach of the time grid");
  return static_cast<int32_t>(x);
}

// Heap sort of v[0 .. n-1] ascending; tag[i], when given, moves with v[i].
void sort_tagged(int32_t n, double* v, int32_t* tag) {
  heap_sort(
      n, [v](int32_t a, int32_t b) { return v[a] < v[b]; },
      [v, tag](int32_t a, int32_t b) {
        std::swap(v[a], v[b]);
        if (tag) std::swap(tag[a], tag[b]);
      });
}

// The intersections of the circle of radius^2 circle_radius_sq with the bounding lines, as the
// root list (angles around P and root indices). With recompute set every root is solved and the
// list sorted by angle; otherwise the listed roots are solved again in list order. A root of a
// sloped line that has moved across the x axis through P (from the upper to the lower half-plane
// or back) breaks the angular order near 0, so the list is then found anew and recompute set.
void find_angles(const line_element& le, line_geometry& geo, int& recompute) {
  const double R2 = geo.circle_radius_sq, px = geo.point[0], py = geo.point[1];
  const int32_t no_roots = 2 * le.no_bounds;
  double* angles = geo.angles.data();
  int32_t* order = geo.root_order.data();
  for (;;) {
    int32_t candidates = geo.no_angles;
    if (recompute) {
      for (int32_t i = 0; i < no_roots; ++i) order[i] = i;
      candidates = no_roots;
    }
    // Written in place: the output position never passes the candidate's own, and the angle
    // compared with is the previous list's at the output position, not yet overwritten.
    int32_t out = 0;
    bool restart = false;
    for (int32_t k = 0; k < candidates; ++k) {
      const int32_t index = order[k];
      const line_root& r = geo.roots[index];
      const bounding_line& line = le.bounds[r.line];
      const double delta = r.quad_b_sq - (r.quad_c0 - R2) * r.quad_a;
      double root;
      if (delta >= 0) {
        const double sq = std::sqrt(delta);
        root = r.sign == 0 ? (-r.quad_b - sq) * r.two_over_a : (sq - r.quad_b) * r.two_over_a;
      } else if (!recompute &&
                 (std::fabs((r.quad_c0 - R2) * r.quad_a) + std::fabs(r.quad_b_sq)) * 1e-14 >
                     delta) {
        root = -r.quad_b * r.two_over_a;  // the circle touches the line
      } else {
        continue;
      }
      const double x = line.vertical ? line.x1 : root;
      const double y = line.vertical ? root : line.slope * x + line.y1;
      const double angle = std::atan2(y - py, x - px);
      if (delta >= 0 && !line.vertical && !recompute) {
        const double stored = angles[out];
        if ((angle < 0 && stored < pi) || (angle > 0 && stored > pi)) {
          restart = true;
          break;
        }
      }
      angles[out] = angle;
      order[out] = index;
      ++out;
    }
    if (restart) {
      recompute = 1;
      continue;
    }
    for (int32_t k = 0; k < out; ++k)
      if (angles[k] < 0) angles[k] += two_pi;
    geo.no_angles = out;
    if (recompute && out >= 1) sort_tagged(out, angles, order);
    return;
  }
}

// Printed after the integration's own messages when an integral does not converge.
void failure_listing(const line_element& le, const line_geometry& geo, int disc) {
  host_printf("Number of times %d, number of angles %d \n", geo.no_times, geo.no_angles);
  host_printf("First time in solution %e, last time in solution %e \n", geo.times[0],
              geo.times[geo.no_times - 1]);
  host_printf("Discontinuity %d \n", disc);
  for (int32_t k = 0; k < geo.no_angles; ++k) {
    const line_root& r = geo.roots[geo.root_order[k]];
    host_printf("Line %d, angle: %10.6f, include forward %d\n", r.line, geo.angles[k] * 180.0 / pi,
                r.include_forward);
  }
  host_printf("Radius of circle: %10.6f mm \n", geo.circle_radius * 1000);
  host_printf("    Crossing no.   Position (x, y, z) mm \n");
  for (int32_t k = 0; k < le.no_crossings; ++k) {
    const point3& q = le.crossings[k];
    host_printf("  %8d   %10.6f    %10.6f    %10.6f \n", k, q[0] * 1000, q[1] * 1000, q[2] * 1000);
  }
}
}  // namespace

bool inside_element(const line_element& le, double x, double y) {
  for (int32_t l = 0; l < le.no_bounds; ++l) {
    const bounding_line& line = le.bounds[l];
    if (line.vertical) {
      const double d = line.side ? line.x1 - x : x - line.x1;
      if (!(d >= 0) && !(std::fabs(x) * 1e-14 > std::fabs(d))) return false;
    } else {
      const double yl = x * line.slope + line.y1;
      const double d = line.side ? y - yl : yl - y;
      if (!(d >= 0) && !(std::fabs(y) * 1e-14 > std::fabs(d))) return false;
    }
  }
  return true;
}

void line_setup(const element_grid& g, const line_element& le, const point3& p,
                line_geometry& geo) {
  const double px = p[0], py = p[1], zp = p[2], c = g.c;
  const int32_t nb = le.no_bounds, nc = le.no_crossings;
  // Every crossing, the foot of every line that falls on the element, and P itself.
  grow(geo.times, nb + nc + 1);
  double* times = geo.times.data();
  int32_t n = 0;
  for (int32_t k = 0; k < nc; ++k) {
    const point3& q = le.crossings[k];
    times[n++] = std::sqrt(zp * zp + (q[1] - py) * (q[1] - py) + (q[0] - px) * (q[0] - px)) / c;
  }
  for (int32_t l = 0; l < nb; ++l) {
    const bounding_line& line = le.bounds[l];
    double fx, fy;
    if (line.vertical) {
      fx = line.x1;
      fy = py;
    } else {
      fx = ((py - line.y1) * line.slope + px) / line.slope_sq_plus_1;
      fy = line.slope * fx + line.y1;
    }
    if (inside_element(le, fx, fy))
      times[n++] = std::sqrt(zp * zp + (fy - py) * (fy - py) + (fx - px) * (fx - px)) / c;
  }
  if (inside_element(le, px, py)) times[n++] = zp / c;
  sort_tagged(n, times, nullptr);
  geo.no_times = n;

  // Both roots of a line share the coefficients of its quadratic.
  const int32_t no_roots = 2 * nb;
  grow(geo.angles, no_roots);
  grow(geo.root_order, no_roots);
  grow(geo.roots, no_roots);
  std::fill_n(geo.angles.begin(), no_roots, 0.0);
  std::fill_n(geo.root_order.begin(), no_roots, 0);
  geo.no_angles = 0;
  for (int32_t i = 0; i < no_roots; ++i) {
    const bounding_line& line = le.bounds[i / 2];
    line_root& r = geo.roots[i];
    r.line = i / 2;
    r.sign = static_cast<int16_t>(i % 2);
    r.include_forward = 0;
    r.on_inside_arc = 1;
    if (line.vertical) {
      r.quad_a = 4;
      r.quad_b = -2 * py;
      r.quad_c0 = (line.x1 - px) * (line.x1 - px) + py * py;
    } else {
      r.quad_a = 4 * line.slope_sq_plus_1;
      r.quad_b = 2 * line.slope * (line.y1 - py) - 2 * px;
      r.quad_c0 = (py - line.y1) * (py - line.y1) + px * px;
    }
    r.two_over_a = 2 / r.quad_a;
    r.quad_b_sq = r.quad_b * r.quad_b;
  }
  geo.point = p;
  geo.c = c;
}

double sum_solution(const line_element& le, line_geometry& geo, double t, int recompute) {
  const double px = geo.point[0], py = geo.point[1], zp = geo.point[2];
  const double ct = t * geo.c;
  geo.circle_radius_sq = ct * ct - zp * zp;
  // At the arrival time itself R^2 may round to a hair below 0: the circle is then a point.
  geo.circle_radius = geo.circle_radius_sq > 0 ? std::sqrt(geo.circle_radius_sq) : 0.0;
  find_angles(le, geo, recompute);
  const int32_t n = geo.no_angles;
  if (n == 0) return inside_element(le, px, py) ? two_pi : 0.0;
  double* angles = geo.angles.data();
  int32_t* order = geo.root_order.data();
  line_root* roots = geo.roots.data();

  // Within an interval between critical times the listed roots bound the same inside arcs.
  if (!recompute) {
    double theta = 0.0;
    int32_t k0 = 0;
    if (roots[order[n - 1]].include_forward) {
      theta = angles[0] + two_pi - angles[n - 1];
      k0 = 1;
    }
    for (int32_t k = k0; k <= n - 2; ++k)
      if (roots[order[k]].include_forward) theta += angles[k + 1] - angles[k];
    return theta;
  }

  // Full pass: every arc between consecutive roots is inside or outside the element as its
  // midpoint is; the wrap arc runs from the last root through angle 0 to the first.
  for (int32_t k = 0; k <= n - 2; ++k) {
    roots[order[k]].include_forward = 0;
    roots[order[k]].on_inside_arc = 0;
  }
  const double R = geo.circle_radius;
  const double phi = (angles[0] + angles[n - 1]) / 2 + pi;
  const bool wrap_inside = inside_element(le, px + R * std::cos(phi), py + R * std::sin(phi));
  double theta;
  int32_t k0;
  if (wrap_inside) {
    theta = angles[0] + two_pi - angles[n - 1];
    k0 = 1;
  } else {
    theta = 0.0;
    roots[order[n - 1]].include_forward = 0;
    k0 = 0;
  }
  for (int32_t k = k0; k <= n - 2; ++k) {
    const double mid = (angles[k] + angles[k + 1]) / 2;
    line_root& r = roots[order[k]];
    if (inside_element(le, px + R * std::cos(mid), py + R * std::sin(mid))) {
      theta += angles[k + 1] - angles[k];
      r.include_forward = 1;
      r.on_inside_arc = 1;
      roots[order[k + 1]].on_inside_arc = 1;
    } else {
      r.include_forward = 0;
    }
  }

  // Keep only the endpoints of inside arcs, in angular order, a shared end once. Compacted in
  // place: kept positions increase, so a position is copied down before it is overwritten, and
  // the flags read are those of the roots, which do not move.
  int32_t m = 0, last = -1;
  auto keep = [&](int32_t q) {
    angles[m] = angles[q];
    order[m] = order[q];
    ++m;
    last = q;
  };
  if (wrap_inside) keep(0);
  for (int32_t k = k0; k <= n - 2; ++k) {
    if (!roots[order[k]].include_forward) continue;
    if (last != k) keep(k);
    keep(k + 1);
  }
  if (wrap_inside) {
    if (last != n - 1) keep(n - 1);
    roots[order[m - 1]].include_forward = 1;
    roots[order[m - 1]].on_inside_arc = 1;
  }
  geo.no_angles = m;
  return theta;
}

void line_response(const element_grid& g, const point3& p, const line_element& le, double D,
                   line_scratch& s, grid_buffer& out) {
  // The point in the element frame. The response depends on the height only through its square
  // and the arrival time |zp| / c, so a point behind the plane takes the height of its mirror.
  const double x = p[0], y = p[1], z = p[2];
  const double xr = le.cos_x * x - le.sin_x * z;
  const double zr = le.sin_x * x + le.cos_x * z;
  const double yr = le.cos_y * y - le.sin_y * zr;
  const double zp = std::fabs(le.sin_y * y + le.cos_y * zr - le.zc);
  line_geometry& geo = s.geometry;
  line_setup(g, le, {xr, yr, zp}, geo);
  // The walk needs a first and a second critical time, both finite; lines that enclose no
  // region can give fewer.
  if (geo.no_times < 2 || !std::isfinite(geo.times[0]) ||
      !std::isfinite(geo.times[geo.no_times - 1])) {
    out.assign_zero(0, 0);
    return;
  }

  // The response is sampled on its own grid of whole multiples of dt from ts, and placed with
  // its delay taken to the nearest whole sample.
  const double fs = g.fs, c = g.c, dt = 1 / fs;
  const double t1 = geo.times[0], tn = geo.times[geo.no_times - 1];
  const double ts = (std::floor((t1 - dt + D) * fs - 1) - std::floor(fs * D - 1)) / fs;
  // The boundaries from ts - dt/2 up to tn, at most (tn - ts) fs + 1.5 of them, then the final
  // running integral: +3 leaves at least half a sample for the rounding of the boundaries.
  const double samples = std::floor((tn + dt - ts) * fs) + 3;
  check_element_span(g, samples);
  const int32_t N = grid_count(samples);
  const int32_t start = grid_count(std::floor((ts + D) * fs + 0.5));
  out.assign_zero(start, N);
  double* v = out.data();

  // Walk over the sample boundaries tau, integrating Theta from the time u reached so far up to
  // each boundary, and up to each critical time passed on the way; sample k holds the running
  // integral X at boundary k. disc: the next interval starts at a critical time.
  double tau = ts - dt / 2, X = 0.0, u = 0.0, next = t1;
  int first = 1, disc = 0;
  int32_t j = 0, k = 0;
  auto theta = [&le, &geo](double t, int recompute) { return sum_solution(le, geo, t, recompute); };
  auto listing = [&le, &geo, &disc] { failure_listing(le, geo, disc); };
  // The walk stops past tn, well inside N; k < N - 1 only guards the last store.
  while (k < N - 1) {
    if (zp > c * tau) {  // the wave has not reached the plane
      v[k++] = 0.0;
      u = tau;
      tau += dt;
    } else if (tau > next) {  // a critical time lies before this boundary
      if (first) {
        u = next;
        first = 0;
        disc = 1;
        j = 1;
        next = geo.times[1];
      } else {
        if (j >= geo.no_times) break;
        X += integrate_inside_angle(g, theta, u, next, disc, listing);
        ++j;
        u = next;
        if (j < geo.no_times) next = geo.times[j];
        disc = 1;
      }
    } else {
      if (!first) {
        X += integrate_inside_angle(g, theta, u, tau, disc, listing);
        disc = 0;
      }
      v[k++] = X;
      u = tau;
      tau += dt;
      // An element that reaches far takes minutes of integrals: a Ctrl-C is seen every 4096
      // samples. The response is then not used.
      if (k % 4096 == 0 && s.stop.stopped()) break;
    }
  }
  v[k] = X;
  for (int32_t i = 0; i < k; ++i) v[i] = (v[i + 1] - v[i]) * fs * le.apodization / two_pi * c;
  // Sample k would keep the total integral X [rad s], not a response value: past the last
  // critical time the response is 0.
  v[k] = 0.0;
}
