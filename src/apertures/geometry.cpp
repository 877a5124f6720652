// Geometry of mathematical elements from their corners: a rectangle's centre, sizes and tilts
// (slopes beyond 10 are reported, not refused), corners of squares on a sphere, and the
// crossings of the bounding lines of a line element. Corners are the only input; every other
// field is derived from them here.
#include "apertures/geometry.h"

#include <cmath>

#include "host/console.h"

namespace {
constexpr double max_slope = 10.0;  // steeper elements are reported, not refused

void warn_slope(const rect_element& r, double dx, double dy, double dz) {
  const auto& c = r.corners;
  host_printf("Warning: Excessively large value for tan_xz or tan_yz\n");
  host_printf("Values are: tan_xz = %10.6f,  tan_yz = %10.6f \n", r.tan_xz, r.tan_yz);
  host_printf("Difference: dx = %10e, dy = %10e, dz = %10e \n", dx, dy, dz);
  for (const point3& p : c)
    host_printf("Corner points are: %10.6f, %10.6f, %10.6f \n", p[0], p[1], p[2]);
  const double d1 = std::fabs(c[0][0] - c[1][0]), t1 = 1e-14 * std::fabs(c[0][0] + c[1][0]);
  const double d2 = std::fabs(c[0][1] - c[3][1]), t2 = 1e-14 * std::fabs(c[0][1] + c[3][1]);
  host_printf("Check one: %10.6f, %10.6f, %d \n", d1, t1, t1 >= d1 ? 1 : 0);
  host_printf("Check two: %10.6f, %10.6f, %d \n", d2, t2, t2 >= d2 ? 1 : 0);
}

// The slope dz / d of a side; a side without extent (a rectangle of zero width or height) lies
// flat, where 0 / 0 would leave NaN in every later time of the rectangle.
double slope(double dz, double d) { return d == 0.0 && dz == 0.0 ? 0.0 : dz / d; }

// Whether corners a and b differ in coordinate k beyond rounding.
bool differs(const point3& a, const point3& b, int k) {
  return std::fabs(a[k] - b[k]) > 1e-14 * std::fabs(a[k] + b[k]);
}
}  // namespace

void rect_geometry(rect_element& r) {
  const auto& c = r.corners;
  double dx, dy, dz;
  int which;
  // The width runs along x. A rectangle of zero width has no side along x; its width is then
  // the side of zero length, since the other one (the height) may be curved out of the plane.
  const bool first = differs(c[0], c[3], 0) ||
                     (!differs(c[0], c[1], 0) && !differs(c[0], c[3], 1) && !differs(c[0], c[3], 2));
  if (first) {
    // Corners 1 and 4 differ in x: the width runs from corner 1 to 4, the height to corner 2.
    which = 1;
    dx = c[0][0] - c[3][0];
    dz = c[0][2] - c[3][2];
    r.tan_xz = slope(dz, dx);
    r.width = std::sqrt(dz * dz + dx * dx);
    dz = c[0][2] - c[1][2];
    dy = c[0][1] - c[1][1];
    r.tan_yz = slope(dz, dy);
    r.height = std::sqrt(dy * dy + dz * dz);
  } else {
    // The other corner order: the width runs from corner 1 to 2, the height to corner 4.
    which = 2;
    dx = c[0][0] - c[1][0];
    dz = c[0][2] - c[1][2];
    r.tan_xz = slope(dz, dx);
    r.width = std::sqrt(dz * dz + dx * dx);
    dz = c[0][2] - c[3][2];
    dy = c[0][1] - c[3][1];
    r.tan_yz = slope(dz, dy);
    r.height = std::sqrt(dy * dy + dz * dz);
  }
  const bool steep = std::fabs(r.tan_xz) > max_slope || std::fabs(r.tan_yz) > max_slope;
  if (steep) host_printf("case %d\n", which);
  const double a = std::atan(r.tan_xz), b = std::atan(r.tan_yz);
  r.cos_xz = std::cos(a);
  r.sin_xz = std::sin(a);
  r.cos_yz = std::cos(b);
  r.sin_yz = std::sin(b);
  r.tilted = std::fabs(r.tan_yz) > 1e-15 && std::fabs(r.tan_xz) > 1e-15 ? 1 : 0;
  if (steep) warn_slope(r, dx, dy, dz);
}

void concave_corners(rect_element& r, double x, double y, double size, double focal_radius) {
  const double R = focal_radius;
  auto depth = [R](double u, double v) { return R - std::sqrt(R * R - u * u - v * v); };
  r.center = {x, y, depth(x, y)};
  const double xa = x - size / 2, ya = y - size / 2;
  r.corners[0] = {xa, ya, depth(xa, ya)};
  r.corners[1] = {xa, ya + size, depth(xa, ya + size)};
  r.corners[2] = {xa + size, ya + size, depth(xa + size, ya + size)};
  r.corners[3] = {xa + size, ya, depth(xa + size, ya)};
}

void convex_focused_corners(rect_element& r, double y, double dy, double convex_radius,
                            double focus_radius, double plane_depth, double theta, double dtheta) {
  const double Rc = convex_radius, Rf = focus_radius, zc0 = plane_depth;
  // The surface's distance from the azimuth centre of curvature at elevation v.
  auto point = [=](double t, double v) -> point3 {
    // An outer edge exactly at Rf may pass it by rounding; it then lies on the radius.
    const double rv = Rc - (std::sqrt(std::fmax(Rf * Rf - v * v, 0.0)) - zc0);
    return {std::sin(t) * rv, v, std::cos(t) * rv - Rc};
  };
  r.corners[0] = point(theta, y);
  r.corners[1] = point(theta, y + dy);
  r.corners[2] = point(theta + dtheta, y + dy);
  r.corners[3] = point(theta + dtheta, y);
  r.center = point(theta + dtheta / 2, y + dy / 2);
}

namespace {
// Whether (x, y) lies inside the half-plane of line b or on the line (within tol metres).
bool inside_line(const bounding_line& b, double x, double y, double tol) {
  if (b.vertical) {
    if (std::fabs(x - b.x1) < tol) return true;
    return b.side ? b.x1 >= x : x >= b.x1;
  }
  const double yl = b.slope * x + b.y1;
  if (std::fabs(y - yl) < tol) return true;
  return b.side ? y >= yl : yl >= y;
}
}  // namespace

void find_crossings(line_element& le) {
  constexpr double tol = 1e-8;  // [m]
  const int32_t n = le.no_bounds;
  const std::vector<bounding_line>& L = le.bounds;
  std::vector<point3> kept;
  for (int32_t i = 0; i + 1 < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j) {
      double x, y;
      if (!L[i].vertical && !L[j].vertical) {
        const double ai = L[i].slope, aj = L[j].slope;
        if (std::fabs(ai - aj) <= (std::fabs(ai) + std::fabs(aj)) * 1e-14) continue;  // parallel
        x = (L[i].y1 - L[j].y1) / (aj - ai);
        y = ai * x + L[i].y1;
      } else if (L[i].vertical && !L[j].vertical) {
        x = L[i].x1;
        y = L[j].slope * x + L[j].y1;
      } else if (!L[i].vertical && L[j].vertical) {
        x = L[j].x1;
        y = L[i].slope * x + L[i].y1;
      } else {
        continue;  // two vertical lines
      }
      bool inside = true;
      for (int32_t k = 0; k < n && inside; ++k) inside = inside_line(L[k], x, y, tol);
      if (inside) kept.push_back({x, y, 0.0});
    }
  }
  le.crossings = std::move(kept);
  le.no_crossings = static_cast<int32_t>(le.crossings.size());
  if (le.no_crossings < 4)
    host_printf("Internal error. Number of crossings is %d and less than 4. Press RETURN: ",
                le.no_crossings);
}
