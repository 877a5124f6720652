// Conversion of an aperture's rectangles: each becomes two triangles (corners 1-2-3 and
// 1-4-3), or one element bounded by four straight lines in its own plane (the rectangle rotated
// so that its corners share one z). Each new element keeps its rectangle's apodization and
// delay; the rectangles are dropped and the aperture's kind flags changed.
#include "elements/convert.h"

#include <cmath>

#include "apertures/geometry.h"

namespace {
// Whether a and b differ by more than the relative tolerance of the geometry.
bool differ(double a, double b) { return std::fabs(a - b) > (std::fabs(a) + std::fabs(b)) * 1e-14; }

// The line through corners a and b of the rotated rectangle, with the inside on the side of
// the centre (xm, ym).
bounding_line edge_line(const point3& a, const point3& b, double xm, double ym) {
  bounding_line l;
  if (differ(a[0], b[0])) {
    l.slope = (a[1] - b[1]) / (a[0] - b[0]);
    l.vertical = 0;
    l.y1 = a[1] - l.slope * a[0];
    l.slope_sq_plus_1 = l.slope * l.slope + 1;
    l.side = ym > l.slope * xm + l.y1 ? 1 : 0;
  } else {
    l.slope = 1e60;
    l.slope_sq_plus_1 = 0.0;
    l.vertical = 1;
    l.x1 = a[0];
    l.side = a[0] > xm ? 1 : 0;
  }
  return l;
}
}  // namespace

aperture_rec& convert_to_triangles(aperture_rec& ap) {
  ap.uses_rectangles = 0;
  ap.uses_triangles = 1;
  for (phys_element& e : ap.phys_elements) {
    e.tris.resize(static_cast<size_t>(e.no_tris));  // what the element holds already stays
    for (const rect_element& r : e.rects) {
      const auto& c = r.corners;
      e.tris.push_back({{c[0], c[1], c[2]}, r.apodization, r.delay});
      e.tris.push_back({{c[0], c[3], c[2]}, r.apodization, r.delay});
    }
    e.no_tris = static_cast<int32_t>(e.tris.size());
    e.rects.clear();
    e.rects.shrink_to_fit();
    e.no_rects = 0;
  }
  return ap;
}

void rotate_to_plane(rect_element& r, line_element& le) {
  auto& c = r.corners;
  // First rotation, about y: the edge from corner 1 to corner 4 (or to corner 2) made level.
  double dx, dz;
  if (differ(c[3][0], c[0][0])) {
    dx = c[3][0] - c[0][0];
    dz = c[3][2] - c[0][2];
  } else {
    dx = c[1][0] - c[0][0];
    dz = c[1][2] - c[0][2];
  }
  double d = std::sqrt(dz * dz + dx * dx);
  // A rectangle without extent along both edges has no direction to level: it is left
  // unrotated rather than filled with NaN (its lines then enclose nothing).
  le.cos_x = d > 0.0 ? dx / d : 1.0;
  le.sin_x = d > 0.0 ? -dz / d : 0.0;
  auto first = [&le](point3& p) {
    const double x = p[0] * le.cos_x - p[2] * le.sin_x;
    const double z = p[2] * le.cos_x + p[0] * le.sin_x;
    p[0] = x;
    p[2] = z;
  };
  for (point3& p : c) first(p);
  first(r.center);
  // Second rotation, about x, on the results of the first: the rectangle made level.
  double dy;
  if (differ(c[3][1], c[0][1])) {
    dy = c[3][1] - c[0][1];
    dz = c[3][2] - c[0][2];
  } else {
    dy = c[1][1] - c[0][1];
    dz = c[1][2] - c[0][2];
  }
  d = std::sqrt(dy * dy + dz * dz);
  le.cos_y = d > 0.0 ? dy / d : 1.0;
  le.sin_y = d > 0.0 ? -dz / d : 0.0;
  auto second = [&le](point3& p) {
    const double y = p[1] * le.cos_y - p[2] * le.sin_y;
    const double z = p[2] * le.cos_y + p[1] * le.sin_y;
    p[1] = y;
    p[2] = z;
  };
  for (point3& p : c) second(p);
  r.center[1] = r.center[1] * le.cos_y - r.center[2] * le.sin_y;
  le.zc = c[0][2];
}

aperture_rec& convert_to_lines(aperture_rec& ap) {
  ap.uses_rectangles = 0;
  ap.uses_lines = 1;
  for (phys_element& e : ap.phys_elements) {
    e.line_elems.resize(static_cast<size_t>(e.no_line_elems));
    for (rect_element r : e.rects) {  // a copy: the rotation overwrites its corners
      line_element le;
      rotate_to_plane(r, le);
      const auto& c = r.corners;
      const double xm = r.center[0], ym = r.center[1];
      le.bounds = {edge_line(c[0], c[1], xm, ym), edge_line(c[1], c[2], xm, ym),
                   edge_line(c[2], c[3], xm, ym), edge_line(c[3], c[0], xm, ym)};
      le.no_bounds = 4;
      find_crossings(le);
      le.apodization = r.apodization;
      le.delay = r.delay;
      e.line_elems.push_back(std::move(le));
    }
    e.no_line_elems = static_cast<int32_t>(e.line_elems.size());
    e.rects.clear();
    e.rects.shrink_to_fit();
    e.no_rects = 0;
  }
  return ap;
}
