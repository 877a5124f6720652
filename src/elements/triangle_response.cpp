// The exact spatial impulse response of a flat triangle: the three sub-triangles of the
// projected field point with one edge each, their running time integrals of the angle by the
// case of the edge's geometry, combined with signs by where the point lies, and differenced
// into the mean response over each sampling interval. Invariants: every sub-triangle's span
// lies within the output's span; a response beyond the 32-bit time grid is refused; a triangle
// of zero area gives one zero sample.
#include "elements/triangle_response.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <utility>

#include "core/errors.h"
#include "core/thread_pool.h"
#include "host/console.h"

namespace {
constexpr double pi = std::numbers::pi;
constexpr double two_pi = 2.0 * pi;

// A response beyond the grid's reach (a point at an absurd distance) ends the command instead
// of overflowing a sample index.
[[noreturn]] void beyond_grid() {
  throw command_error(
      "Error: The response at this field point lies beyond the reach of the time grid");
}

// A whole number of samples as a 32-bit index.
int32_t grid_index(double x) {
  if (!(x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max()))
    beyond_grid();
  return static_cast<int32_t>(x);
}

// The triangle in its own plane, seen from O, the projection of the field point: corners U, V, W
// (0, 1, 2) relative to O, and the field point's distance from the plane.
struct local_triangle {
  double x[3], y[3];  // corners [m]
  double h;           // height of the field point over the plane, >= 0 [m]
};

// Rotates the triangle and the field point together so that the triangle lies in the plane
// z = 0 with corners 0 and 2 on a line parallel to the x axis and corner 1 above it.
local_triangle to_local_triangle(const tri_element& t, const point3& p) {
  double x[4], y[4], z[4];  // corners 0 .. 2, then the field point
  for (int i = 0; i < 3; ++i) {
    x[i] = t.corners[i][0];
    y[i] = t.corners[i][1];
    z[i] = t.corners[i][2];
  }
  x[3] = p[0];
  y[3] = p[1];
  z[3] = p[2];

  // About the y axis: the edge 0-2 level in z.
  const double d1 = std::sqrt((x[2] - x[0]) * (x[2] - x[0]) + (z[2] - z[0]) * (z[2] - z[0]));
  double c1 = 1.0, s1 = 0.0;
  if (d1 != 0) {
    c1 = (x[2] - x[0]) / d1;
    s1 = (z[2] - z[0]) / d1;
  }
  for (int i = 0; i < 4; ++i) {
    const double xr = x[i] * c1 + z[i] * s1;
    z[i] = z[i] * c1 - x[i] * s1;
    x[i] = xr;
  }
  const double z0 = z[0];
  for (int i = 0; i < 4; ++i) z[i] -= z0;

  // About the z axis: the edge 0-2 along x.
  const double d2 = std::sqrt((y[2] - y[0]) * (y[2] - y[0]) + (x[2] - x[0]) * (x[2] - x[0]));
  double c2 = 1.0, s2 = 0.0;
  if (d2 != 0) {
    c2 = (x[2] - x[0]) / d2;
    s2 = (y[2] - y[0]) / d2;
  }
  for (int i = 0; i < 4; ++i) {
    const double xr = y[i] * s2 + x[i] * c2;
    y[i] = y[i] * c2 - x[i] * s2;
    x[i] = xr;
  }
  const double y0 = y[0];
  for (int i = 0; i < 4; ++i) y[i] -= y0;

  // About the x axis: corner 1 into the plane z = 0, above the edge 0-2.
  const double d3 = std::sqrt(z[1] * z[1] + y[1] * y[1]);
  double c3 = 1.0, s3 = 0.0;
  if (d3 != 0) {
    c3 = y[1] / d3;
    s3 = z[1] / d3;
  }
  for (int i = 0; i < 4; ++i) {
    const double yr = c3 * y[i] + s3 * z[i];
    z[i] = c3 * z[i] - s3 * y[i];
    y[i] = yr;
  }

  // A point behind the plane has the same response as its mirror image in front.
  local_triangle T;
  T.h = std::fabs(z[3]);
  for (int i = 0; i < 3; ++i) {
    T.x[i] = x[i] - x[3];
    T.y[i] = y[i] - y[3];
  }
  return T;
}

// True when O lies outside the triangle: Q, where the line through O and V meets the line UW,
// falls outside the edge UW, or lies with V on the same side of O, or nearer to O than V is
// on the far side.
bool origin_outside(const local_triangle& T) {
  const double Ux = T.x[0], Uy = T.y[0], Vx = T.x[1], Vy = T.y[1], Wx = T.x[2], Wy = T.y[2];
  double k = 0.0;
  if (Vx != 0) k = Vy / Vx;
  double Qx, Qy;
  if (Ux != Wx) {
    const double m = (Uy - Wy) / (Ux - Wx);
    const double b = Uy - Ux * m;
    if (Vx == 0) {
      Qx = 0.0;
      Qy = b;
    } else if (k != m) {
      Qx = b / (k - m);
      Qy = Qx * k;
    } else {  // the ray is parallel to UW
      Qx = Vx;
      Qy = Vy;
    }
  } else if (Vx != 0) {
    Qx = Ux;
    Qy = Ux * k;
  } else {
    Qx = Vx;
    Qy = Vy;
  }

  bool beyond_edge;
  if (Wx > Ux)
    beyond_edge = Ux > Qx || Qx > Wx;
  else if (Wx < Ux)
    beyond_edge = Wx > Qx || Qx > Ux;
  else if (Wy > Uy)
    beyond_edge = Uy > Qy || Qy > Wy;
  else
    beyond_edge = Qy > Uy || Wy > Qy;
  if (beyond_edge) return true;

  if ((Vx >= 0) != (Qx >= 0) || (Vy >= 0) != (Qy >= 0))
    return Qx * Qx + Qy * Qy > (Vy - Qy) * (Vy - Qy) + (Vx - Qx) * (Vx - Qx);
  return true;  // V and Q on the same side of O
}

// A difference of two angles in [0, 2 pi) brought into [-pi, pi].
double wrap_angle(double d) {
  if (d > pi) return d - two_pi;
  if (d < -pi) return d + two_pi;
  return d;
}

// For O outside: swaps corners so that V's direction from O lies between those of U and W.
void order_by_angle(local_triangle& T) {
  double theta[3];
  for (int i = 0; i < 3; ++i) {
    theta[i] = std::atan2(T.y[i], T.x[i]);
    if (theta[i] < 0) theta[i] += two_pi;
  }
  auto swap_corners = [&T](int i, int j) {
    std::swap(T.x[i], T.x[j]);
    std::swap(T.y[i], T.y[j]);
  };
  const double d_uv = wrap_angle(theta[1] - theta[0]);
  if (d_uv > 0) {
    const double d_vw = wrap_angle(theta[2] - theta[1]);
    if (d_vw >= 0) return;
    if (d_uv > -d_vw)
      swap_corners(1, 2);
    else
      swap_corners(0, 1);
  } else {
    const double d_uw = wrap_angle(theta[2] - theta[0]);
    if (d_uw <= 0 && d_uw <= d_uv) return;
    if (d_uw > 0)
      swap_corners(0, 1);
    else
      swap_corners(1, 2);
  }
}

// True when V is nearer to O than the line UW along the ray from O through V.
bool middle_nearer(const local_triangle& T) {
  const double Ux = T.x[0], Uy = T.y[0], Vx = T.x[1], Vy = T.y[1], Wx = T.x[2], Wy = T.y[2];
  if (std::fabs(Wx - Ux) > std::fabs(Ux + Wx) * 5e-15) {
    const double m = (Wy - Uy) / (Wx - Ux);
    const double b = Uy - Ux * m;
    if (Vx == 0) return std::fabs(b) > std::fabs(Vy);
    const double k = Vy / Vx;
    const double xq = b / (k - m);
    return Vx >= 0 ? xq > Vx : Vx > xq;
  }
  return Vx > 0 ? Ux > Vx : Vx > Ux;  // UW parallel to the y axis
}

// The start time t0 of the sub-triangle signals: one sample before the wave first reaches the
// triangle, moved down so that t0 + D lies on the global sample grid.
double triangle_start_time(const element_grid& g, const local_triangle& T, bool nearer,
                           bool outside, double D) {
  const double Ux = T.x[0], Uy = T.y[0], Vx = T.x[1], Vy = T.y[1], Wx = T.x[2], Wy = T.y[2];
  double rho_sq = 0.0;  // squared distance from O to the triangle in its plane
  if (outside) {
    const double U2 = Ux * Ux + Uy * Uy, V2 = Vx * Vx + Vy * Vy, W2 = Wx * Wx + Wy * Wy;
    if (nearer) {  // the nearest point is a corner
      if (W2 > U2)
        rho_sq = V2 > U2 ? U2 : V2;
      else
        rho_sq = V2 > W2 ? W2 : V2;
    } else {  // the foot F of the perpendicular on UW, or an end of UW
      double Fx, Fy;
      if (Ux != Wx) {
        const double m = (Wy - Uy) / (Wx - Ux);
        const double b = Uy - Ux * m;
        double phi = std::atan2(Wy - Uy, Wx - Ux);
        if (phi < 0) phi += two_pi;
        phi += pi / 2;
        while (phi > two_pi) phi -= two_pi;
        while (phi < -two_pi) phi += two_pi;
        const double tan_phi = std::tan(phi);
        Fx = b / (tan_phi - m);
        Fy = tan_phi * Fx;
      } else {
        Fx = Ux;
        Fy = 0.0;
      }
      bool within;
      if (Wx > Ux)
        within = Wx >= Fx && Fx >= Ux;
      else if (Wx < Ux)
        within = Fx >= Wx && Ux >= Fx;
      else
        within = (Uy >= 0) != (Wy >= 0);
      const double F2 = Fx * Fx + Fy * Fy;
      if (U2 > W2)
        rho_sq = within && W2 > F2 ? F2 : W2;
      else
        rho_sq = within && U2 > F2 ? F2 : U2;
    }
  }
  const double t = std::sqrt(T.h * T.h + rho_sq) / g.c - 1 / g.fs;
  const double u = t + D;
  return t - (u - std::floor(u * g.fs) / g.fs);
}

// One sub-triangle O, a', b' with a' turned onto the positive x axis and b' counter-clockwise of
// it, and the times at which the circle reaches its characteristic points.
struct edge_geometry {
  double h_sq;           // h^2 [m^2]
  double xb;             // x of b' [m]
  double foot_x;         // x of the foot F of the perpendicular from O on the line a'b' [m]
  double inv_1_plus_m2;  // 1 / (1 + m^2), m the slope of a'b'
  double foot_term;      // foot_x * xa' * inv_1_plus_m2 [m^2]
  double angle_b;        // angle of b' from the x axis, in [0, pi] [rad]
  double t_z;            // arrival from the projection O [s]
  double t_a;            // ... from a' [s]
  double t_b;            // ... from b' [s]
  double t_f;            // ... from F [s]
  int32_t case_no;       // 0 to 4, where F lies on the line a'b'
};

// The angle from the x axis, seen from O, at which the circle of time t meets the line a'b':
// fn 1 the crossing nearer to a', fn 2 the one nearer to b', fn 3 the crossing with a line
// perpendicular to the x axis (case 0). A cosine just outside [-1, 1] is clamped.
double crossing_angle(const element_grid& g, const edge_geometry& eg, int fn, double t) {
  const double ct = t * g.c;
  const double q = std::fabs(ct * ct - eg.h_sq);
  const double R = std::sqrt(q);
  const double w = q * eg.inv_1_plus_m2 - eg.foot_term;  // squared half chord along x
  double cosine;
  if (R == 0)
    cosine = 0.0;
  else if (fn == 3)
    cosine = eg.xb / R;
  else if (w < 0)
    cosine = 1.0;  // the circle does not reach the line
  else
    cosine = (fn == 1 ? eg.foot_x + std::sqrt(w) : eg.foot_x - std::sqrt(w)) / R;
  if (std::fabs(cosine) > 1) {
    if (std::fabs(cosine) - 1 > 1e-10) {
      host_printf("Internal error for acos %2e diff: %8e\n", cosine, std::fabs(cosine) - 1);
      host_printf("Function %d, rt %e, x3 %e, diff %e coef1 %e, t %e \n", fn, R, eg.xb, w,
                  eg.foot_x, t);
    }
    return cosine > 1 ? 0.0 : pi;
  }
  return std::acos(cosine);
}

// The angle inside a sub-triangle during one phase of its response: angle_b when with_b, plus
// f1 when plus_f1, minus the crossing angle minus_fn (0: none).
struct phase {
  double end;  // end time of the phase [s]
  bool with_b;
  bool plus_f1;
  int minus_fn;
};

// Fills the sub-triangle's running integral (c / 2 pi) * integral of its angle from t_z, at the
// sample boundaries t0 - dt/2 + k dt, into s, phase by phase between the characteristic times.
void edge_case_response(const element_grid& g, const edge_geometry& eg, double t0, grid_buffer& s,
                        const stop_flag& stop) {
  phase ph[3];
  int phases = 0;
  double t_end = 0.0;
  switch (eg.case_no) {
    case 0:  // a' is the foot: the full angle until a', then cut off by the perpendicular line
      ph[phases++] = {eg.t_a, true, false, 0};
      ph[phases++] = {eg.t_b, true, false, 3};
      t_end = eg.t_b;
      break;
    case 1:  // nearest at b': the full angle until b', then the arc from a' to the edge
      ph[phases++] = {eg.t_b, true, false, 0};
      ph[phases++] = {eg.t_a, false, true, 0};
      t_end = eg.t_a;
      break;
    case 2:  // nearest at a': the full angle until a', then the arc from the edge to b'
      ph[phases++] = {eg.t_a, true, false, 0};
      ph[phases++] = {eg.t_b, true, false, 1};
      t_end = eg.t_b;
      break;
    case 3:  // foot between, b' nearer: the chord cuts the arc, then b' is passed
      ph[phases++] = {eg.t_f, true, false, 0};
      ph[phases++] = {eg.t_b, true, true, 2};
      ph[phases++] = {eg.t_a, false, true, 0};
      t_end = eg.t_a;
      break;
    default:  // 4, foot between, a' nearer: the chord cuts the arc, then a' is passed
      ph[phases++] = {eg.t_f, true, false, 0};
      ph[phases++] = {eg.t_a, true, true, 2};
      ph[phases++] = {eg.t_b, true, false, 2};
      t_end = eg.t_b;
      break;
  }

  const double dt = 1 / g.fs;
  const double coef = g.c / two_pi;
  // +3: the boundaries up to t_end, the first half a sample before t0, number at most
  // floor((t_end - t0) fs) + 2; at least one more lies past t_end and keeps the final integral
  const double samples = std::floor((t_end - t0) * g.fs) + 3;
  check_element_span(g, samples);
  const int32_t n = grid_index(samples);
  s.assign_zero(grid_index(std::floor(g.fs * t0 + 0.5)), n);
  double* out = s.data();
  int32_t k = 0;
  auto store = [&](double v) {
    if (k < n) out[k] = v;
    ++k;
  };

  // The loops run while u < end rather than until u >= end, which is the same for numbers and
  // ends them should a time be undefined.
  double tau = t0 - dt / 2, u = 0.0, I = 0.0;
  do {  // nothing arrives before t_z
    if (tau <= eg.t_z) {
      store(0.0);
      u = tau;
      tau += dt;
    } else {
      u = eg.t_z;
    }
  } while (u < eg.t_z);

  // Adds the angle's integral over [from, to], term by term, to the running integral.
  auto add = [&](const phase& p, double from, double to) {
    if (p.with_b) I += coef * (eg.angle_b * (to - from));
    if (p.plus_f1)
      I += coef * integrate_angle(
                      g, [&](double t) { return crossing_angle(g, eg, 1, t); }, from, to);
    if (p.minus_fn != 0) {
      const int fn = p.minus_fn;
      I -= coef * integrate_angle(
                      g, [&](double t) { return crossing_angle(g, eg, fn, t); }, from, to);
    }
  };
  for (int i = 0; i < phases; ++i) {
    const phase& p = ph[i];
    do {
      if (tau > p.end) {
        add(p, u, p.end);
        u = p.end;
      } else {
        add(p, u, tau);
        u = tau;
        store(I);
        tau += dt;
        // A triangle that reaches far (a kilometre: 6e7 samples, each an integral) takes
        // minutes; a Ctrl-C is seen every 4096 samples. The response is then not used.
        if (k % 4096 == 0 && stop.stopped()) return;
      }
    } while (u < p.end);
  }
  for (; k < n; ++k) out[k] = I;
}

// The running integral of the sub-triangle O, a, b (local corners) differenced into the mean
// response over each sampling interval, into s. A degenerate sub-triangle (O on the edge's line,
// or a corner at O) gives one zero sample.
void edge_response(const element_grid& g, const local_triangle& T, int ia, int ib, double t0,
                   grid_buffer& s, const stop_flag& stop) {
  double xa = T.x[ia], ya = T.y[ia], xb = T.x[ib], yb = T.y[ib];
  const double h = T.h;
  const int32_t first = grid_index(std::floor(g.fs * t0 + 0.5));
  const double e = 1e-10 * (xa * xa + ya * ya);
  if (e > std::fabs(ya) + std::fabs(yb) || e > std::fabs(xa) + std::fabs(xb) ||
      xa * xa + ya * ya < 1e-60 || xb * xb + yb * yb < 1e-60) {
    s.assign_zero(first, 1);
    return;
  }
  double theta_a = std::atan2(ya, xa), theta_b = std::atan2(yb, xb);
  if (theta_a < 0) theta_a += two_pi;
  if (theta_b < 0) theta_b += two_pi;
  if ((theta_a <= theta_b && theta_b - theta_a > pi) ||
      (theta_a > theta_b && theta_a - theta_b < pi)) {
    std::swap(xa, xb);
    std::swap(ya, yb);
  }

  // Turn a onto the positive x axis; b then lies counter-clockwise of it by at most pi.
  const double ra = std::sqrt(ya * ya + xa * xa);
  const double sa = ya / ra, ca = xa / ra;
  const double xa1 = ca * xa + sa * ya, ya1 = ca * ya - sa * xa;
  const double xb1 = sa * yb + ca * xb, yb1 = ca * yb - sa * xb;
  if (e > std::fabs(xb1) + std::fabs(xa1) || e > std::fabs(yb1) + std::fabs(ya1)) {
    s.assign_zero(first, 1);
    return;
  }

  edge_geometry eg{};
  eg.h_sq = h * h;
  eg.t_z = h / g.c;
  eg.t_a = std::sqrt(xa1 * xa1 + h * h + ya1 * ya1) / g.c;
  eg.t_b = std::sqrt(xb1 * xb1 + yb1 * yb1 + h * h) / g.c;
  eg.xb = xb1;
  const double rb_sq = xb1 * xb1 + yb1 * yb1;
  eg.angle_b = rb_sq == 0 ? 1.0 : std::acos(xb1 / std::sqrt(rb_sq));
  if (std::fabs(xa1 - xb1) > std::fabs(xa1 + xb1) * 1e-14) {
    const double m = yb1 / (xb1 - xa1);
    const double xf = xa1 * (m * m) / (m * m + 1);
    eg.foot_x = xf;
    eg.inv_1_plus_m2 = 1 / (m * m + 1);
    const double yf = -xf / m;
    // b' on the x axis (m = 0) leaves the foot undefined: the sub-triangle has no area.
    if (!std::isfinite(yf)) {
      s.assign_zero(first, 1);
      return;
    }
    eg.foot_term = xf * xa1 * eg.inv_1_plus_m2;
    eg.t_f = std::sqrt(yf * yf + xf * xf + h * h) / g.c;
    if (yf >= yb1 && eg.t_a > eg.t_b)
      eg.case_no = 1;
    else if (m > 0 && eg.t_b > eg.t_a)
      eg.case_no = 2;
    else if (eg.t_a >= eg.t_b && yb1 > yf)
      eg.case_no = 3;
    else
      eg.case_no = 4;
  } else {
    eg.case_no = 0;  // the edge's line crosses the x axis at right angles, in a'
  }
  edge_case_response(g, eg, t0, s, stop);

  // Differences of the running integral: the mean response over each interval. The last sample
  // has no successor; it lies past the sub-triangle's last arrival, where the response is 0,
  // so it is set to 0 rather than left holding the running integral (metres, not m/s).
  double* v = s.data();
  for (int32_t k = 0; k < s.n - 1; ++k) v[k] = (v[k + 1] - v[k]) * g.fs;
  v[s.n - 1] = 0.0;
}

// Sine of the angle at corner 0 below 1e-12 (or an edge of zero length): no area.
bool zero_area(const tri_element& t) {
  const point3 &p0 = t.corners[0], &p1 = t.corners[1], &p2 = t.corners[2];
  const double ax = p1[0] - p0[0], ay = p1[1] - p0[1], az = p1[2] - p0[2];
  const double bx = p2[0] - p0[0], by = p2[1] - p0[1], bz = p2[2] - p0[2];
  const double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
  const double cross_sq = cx * cx + cy * cy + cz * cz;
  const double edges_sq = (ax * ax + ay * ay + az * az) * (bx * bx + by * by + bz * bz);
  return !(cross_sq > 1e-24 * edges_sq);
}

// Adds sign * a into out on the global grid (out covers a's span).
void add_into(grid_buffer& out, const grid_buffer& a, double sign) {
  double* o = out.data() + (a.start - out.start);
  const double* v = a.data();
  for (int32_t k = 0; k < a.n; ++k) o[k] += sign * v[k];
}
}  // namespace

void triangle_response(const element_grid& g, const point3& p, const tri_element& t, double D0,
                       triangle_scratch& s, grid_buffer& out) {
  local_triangle T = to_local_triangle(t, p);
  const bool outside = origin_outside(T);
  if (outside) order_by_angle(T);
  const bool nearer = middle_nearer(T);
  const double D = D0 + t.delay;
  const double t0 = triangle_start_time(g, T, nearer, outside, D);

  // (t0 + D) fs is a whole number by construction of t0, up to rounding; a product a hair below
  // it would floor to the sample before. Within 1e-9 (relative to the product, and at least
  // absolutely) of the next whole number counts as that number.
  const double r = (t0 + D0 + t.delay) * g.fs;
  double whole = std::floor(r);
  if (whole + 1 - r <= 1e-9 * std::max(1.0, std::fabs(r))) whole += 1;
  const int32_t start = grid_index(whole);

  if (zero_area(t)) {  // its sub-triangles would cancel only up to the integration error
    out.assign_zero(start, 1);
    return;
  }

  // After a Ctrl-C (seen within a long sub-triangle) the other sub-triangles and their sum of
  // some ten million samples are skipped: the response is not used.
  grid_buffer &s01 = s.sub[0], &s12 = s.sub[1], &s02 = s.sub[2];
  const auto stopped = [&] {
    if (!s.stop.stopped()) return false;
    out.assign_zero(start, 1);
    return true;
  };
  edge_response(g, T, 0, 1, t0, s01, s.stop);
  if (stopped()) return;
  edge_response(g, T, 1, 2, t0, s12, s.stop);
  if (stopped()) return;
  edge_response(g, T, 0, 2, t0, s02, s.stop);
  if (stopped()) return;

  // O inside: the three sub-triangles tile the triangle. Outside with V nearer than UW:
  // T(OUW) - T(OUV) - T(OVW); with V farther: T(OUV) + T(OVW) - T(OUW).
  double sign01 = 1.0, sign12 = 1.0, sign02 = 1.0;
  if (outside && nearer)
    sign01 = sign12 = -1.0;
  else if (outside)
    sign02 = -1.0;

  // Summed over the union of the three spans as (S02 + S12) + S01, the order of the rounding.
  const int32_t lo = std::min({s01.start, s12.start, s02.start});
  const int64_t hi = std::max(
      {int64_t{s01.start} + s01.n, int64_t{s12.start} + s12.n, int64_t{s02.start} + s02.n});
  out.assign_zero(lo, grid_index(static_cast<double>(hi - lo)));
  add_into(out, s02, sign02);
  add_into(out, s12, sign12);
  add_into(out, s01, sign01);

  out.start = start;
  double* v = out.data();
  for (int32_t k = 0; k < out.n; ++k) v[k] *= t.apodization;
}
