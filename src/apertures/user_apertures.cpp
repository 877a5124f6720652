// Pistons and concave elements of squares that fill a circle, and apertures from tables of
// rectangles, triangles or line elements. A circle's squares lie in rows at odd multiples of
// half a side, each row from its lowest x; their count is known before they are placed.
#include "apertures/user_apertures.h"

#include <cmath>
#include <numbers>

#include "apertures/arrays.h"
#include "apertures/geometry.h"

namespace {
// Calls place(x, y) for the centre of every square of side s whose centre lies inside the
// circle of radius R: rows at odd multiples of s/2 from the lowest y, each from the lowest x.
template <class Place>
void fill_circle(double R, double s, Place place) {
  const double first = R * R - s * s * 0.25;
  if (!(first >= 0.0)) return;  // squares wider than the circle: no row at all
  const double k = std::floor((std::sqrt(first) - s * 0.5) / s);
  for (double y = -(k + 0.5) * s; y <= R; y += s) {
    const double xh = std::sqrt(R * R - y * y);  // half-chord of the circle at this row
    const double m = std::floor((xh - s * 0.5) / s);
    for (double x = -(m + 0.5) * s; x <= xh; x += s) place(x, y);
  }
}

// One physical element of squares; place_square(r, x, y) writes one square's corners and centre.
template <class Square>
aperture_ptr circle_aperture(sys_con& sys, const char* name, double R, double s,
                             Square place_square) {
  aperture_ptr ap = new_aperture(sys, name);
  ap->no_phys_elements = 1;
  ap->phys_elements.resize(1);
  phys_element& e = ap->phys_elements[0];
  e.center = {0.0, 0.0, 0.0};
  e.rects.reserve(static_cast<size_t>(circle_capacity(R, s)));
  fill_circle(R, s, [&](double x, double y) {
    rect_element r;
    place_square(r, x, y);
    r.apodization = 1.0;
    r.delay = 0.0;
    rect_geometry(r);
    e.rects.push_back(r);
  });
  e.no_rects = static_cast<int32_t>(e.rects.size());
  return ap;
}

// A new aperture of the user's elements: one physical element per number up to the last row's.
aperture_ptr user_aperture(sys_con& sys, const char* name, const table_view& t) {
  aperture_ptr ap = new_aperture(sys, name);
  ap->no_phys_elements = static_cast<int32_t>(t.at(t.rows - 1, 0));
  ap->phys_elements.resize(static_cast<size_t>(ap->no_phys_elements));
  return ap;
}

// Calls fill(element, first, count) for every run of consecutive rows [first, first + count)
// that share the number of column 0 (1-based physical element number), with the element's
// centre set from the centre table. Physical elements no run names keep no elements.
template <class Fill>
void for_each_run(aperture_rec& ap, const table_view& t, const table_view& centres, Fill fill) {
  size_t k = 0;
  while (k < t.rows) {
    const double number = t.at(k, 0);
    size_t end = k + 1;
    while (end < t.rows && t.at(end, 0) == number) ++end;
    const size_t e = static_cast<size_t>(number) - 1;
    ap.phys_elements[e].center = {centres.at(e, 0), centres.at(e, 1), centres.at(e, 2)};
    fill(ap.phys_elements[e], k, end - k);
    k = end;
  }
}

point3 point_at(const table_view& t, size_t row, size_t col) {
  return {t.at(row, col), t.at(row, col + 1), t.at(row, col + 2)};
}

int16_t nearest(double v) { return static_cast<int16_t>(std::floor(v + 0.5)); }
}  // namespace

double circle_capacity(double radius, double square_size) {
  const double R = radius, s = square_size;
  return std::floor((R + s) * std::numbers::pi * (R + s) / (s * s) + 1.0);
}

bool concave_fits(double radius, double focal_radius, double square_size) {
  const double Rf = focal_radius, s = square_size;
  // A corner's depth on the sphere, computed as it is placed, must be a number: the corner lies
  // within Rf of the axis, and Rf^2 does not overflow.
  auto on_sphere = [Rf](double u, double v) {
    return std::isfinite(Rf - std::sqrt(Rf * Rf - u * u - v * v));
  };
  bool fits = true;
  fill_circle(radius, s, [&](double x, double y) {
    const double xa = x - s / 2, ya = y - s / 2;
    fits = fits && on_sphere(xa, ya) && on_sphere(xa, ya + s) && on_sphere(xa + s, ya + s) &&
           on_sphere(xa + s, ya);
  });
  return fits;
}

aperture_ptr xdc_piston(sys_con& sys, double radius, double square_size) {
  const double h = square_size / 2;
  aperture_ptr ap = circle_aperture(sys, "Single element piston transducer", radius, square_size,
                                    [h](rect_element& r, double x, double y) {
                                      r.corners = {point3{x - h, y - h, 0.0},
                                                   {x - h, y + h, 0.0},
                                                   {x + h, y + h, 0.0},
                                                   {x + h, y - h, 0.0}};
                                      r.center = {x, y, 0.0};
                                    });
  finish_aperture(sys, *ap, {0.0, 0.0, 100000.0});  // 100 km: no focusing
  return ap;
}

aperture_ptr xdc_concave(sys_con& sys, double radius, double focal_radius, double square_size) {
  aperture_ptr ap = circle_aperture(sys, "Single element concave transducer", radius, square_size,
                                    [=](rect_element& r, double x, double y) {
                                      concave_corners(r, x, y, square_size, focal_radius);
                                    });
  finish_aperture(sys, *ap, {0.0, 0.0, focal_radius});  // the centre of the sphere
  return ap;
}

aperture_ptr xdc_rectangles(sys_con& sys, const table_view& rects, const table_view& centres,
                            const point3& focus) {
  aperture_ptr ap = user_aperture(sys, "User defined rectangles transducer", rects);
  for_each_run(*ap, rects, centres, [&](phys_element& e, size_t first, size_t count) {
    e.no_rects = static_cast<int32_t>(count);
    e.rects.resize(count);
    for (size_t k = 0; k < count; ++k) {
      rect_element& r = e.rects[k];
      const size_t row = first + k;
      for (size_t c = 0; c < 4; ++c) r.corners[c] = point_at(rects, row, 1 + 3 * c);
      r.apodization = rects.at(row, 13);
      r.width = rects.at(row, 14);  // replaced by the measures of the corners below
      r.height = rects.at(row, 15);
      r.center = point_at(rects, row, 16);
      r.delay = 0.0;
      rect_geometry(r);
    }
  });
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_triangles(sys_con& sys, const table_view& tris, const table_view& centres,
                           const point3& focus) {
  aperture_ptr ap = user_aperture(sys, "User defined transducer using triangles", tris);
  ap->uses_triangles = 1;
  ap->uses_rectangles = 0;
  for_each_run(*ap, tris, centres, [&](phys_element& e, size_t first, size_t count) {
    e.no_tris = static_cast<int32_t>(count);
    e.tris.resize(count);
    for (size_t k = 0; k < count; ++k) {
      tri_element& t = e.tris[k];
      for (size_t c = 0; c < 3; ++c) t.corners[c] = point_at(tris, first + k, 1 + 3 * c);
      t.apodization = tris.at(first + k, 10);
      t.delay = 0.0;
    }
  });
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_triangles_old(sys_con& sys, const table_view& tris, const double* apodization,
                               const point3& center, double element_apodization) {
  aperture_ptr ap = new_aperture(sys, "Physical element made of triangles");
  ap->uses_triangles = 1;
  ap->uses_rectangles = 0;
  ap->no_phys_elements = 1;
  ap->phys_elements.resize(1);
  phys_element& e = ap->phys_elements[0];
  e.center = center;
  e.no_tris = static_cast<int32_t>(tris.rows);
  e.tris.resize(tris.rows);
  for (size_t k = 0; k < tris.rows; ++k) {
    tri_element& t = e.tris[k];
    for (size_t c = 0; c < 3; ++c) t.corners[c] = point_at(tris, k, 3 * c);
    t.apodization = apodization[k];
    t.delay = 0.0;
  }
  finish_aperture(sys, *ap, {0.0, 0.0, 1e30});  // infinitely far along the axis
  ap->apod_line[0].values[0] = element_apodization;
  return ap;
}

aperture_ptr xdc_line_elements(sys_con& sys, const table_view& lines, const table_view& centres,
                               const point3& focus) {
  aperture_ptr ap = user_aperture(sys, "User defined transducer using lines", lines);
  ap->uses_lines = 1;
  ap->uses_rectangles = 0;
  for_each_run(*ap, lines, centres, [&](phys_element& e, size_t first, size_t count) {
    const size_t end = first + count;
    // The last row's line element number is the element's count; numbers no row names leave
    // line elements without bounding lines.
    e.no_line_elems = static_cast<int32_t>(lines.at(end - 1, 1));
    e.line_elems.resize(static_cast<size_t>(e.no_line_elems));
    size_t k = first;
    while (k < end) {
      const double number = lines.at(k, 1);
      size_t stop = k + 1;
      while (stop < end && lines.at(stop, 1) == number) ++stop;
      // A new line element lies in the plane z = 0 unrotated, weight 1 and no delay.
      line_element& le = e.line_elems[static_cast<size_t>(number) - 1];
      le.no_bounds = static_cast<int32_t>(stop - k);
      le.bounds.resize(stop - k);
      for (size_t row = k; row < stop; ++row) {
        bounding_line& b = le.bounds[row - k];
        b.slope = lines.at(row, 2);
        b.slope_sq_plus_1 = b.slope * b.slope + 1;
        b.vertical = nearest(lines.at(row, 3)) != 0 ? 1 : 0;
        if (b.vertical)
          b.x1 = lines.at(row, 4);
        else
          b.y1 = lines.at(row, 4);
        b.side = nearest(lines.at(row, 5));
      }
      find_crossings(le);
      k = stop;
    }
  });
  finish_aperture(sys, *ap, focus);
  return ap;
}
