// Convex arrays: elements side by side on an arc in the x-z plane, flat or curved in elevation.
#include <cmath>
#include <utility>
#include <vector>

#include "apertures/arrays.h"
#include "apertures/geometry.h"

namespace {
// Where the K elements of an arc of radius Rc lie: each spans the angle tw of its chord w, the
// gaps the angle tk of the kerf, and the array is symmetric about t = 0.
struct arc_layout {
  double tw;  // angle of one element [rad]
  double dt;  // angle of one sub-column [rad]
  double tk;  // angle of one kerf [rad]
  int32_t K;  // elements along the arc

  arc_layout(double width, double kerf, double Rc, int32_t sub_x, int32_t count)
      : tw(std::asin(width / Rc)), dt(tw / sub_x), tk(std::asin(kerf / Rc)), K(count) {}
  // The angle of element i's first edge.
  double start(int32_t i) const { return (i - K * 0.5) * tw + (i - (K - 1) * 0.5) * tk; }
  // The angle of element i's centre.
  double centre(double ti, int32_t sub_x) const { return sub_x * dt * 0.5 + ti; }
};

// Lower edge y and extent dy of each sub-row, lowest first.
using sub_rows = std::vector<std::pair<double, double>>;

// Sub-rows of equal extent dy from y_start, positions accumulated.
sub_rows even_rows(double y_start, double dy, int32_t sub_y) {
  sub_rows rows;
  double y = y_start;
  for (int32_t r = 0; r < sub_y; ++r) {
    rows.emplace_back(y, dy);
    y += dy;
  }
  return rows;
}

// One element's rectangles, sub-row by sub-row, each sub-row's sub-columns from the angle t0 in
// steps dt (accumulated); place(r, y, dy, t) writes the corners and centre of one rectangle.
template <class Place>
phys_element arc_element(const point3& center, const sub_rows& rows, double t0, double dt,
                         int32_t sub_x, Place place) {
  phys_element e;
  e.center = center;
  e.no_rects = static_cast<int32_t>(rows.size()) * sub_x;
  e.rects.reserve(static_cast<size_t>(e.no_rects));
  for (const auto& [y, dy] : rows) {
    double t = t0;
    for (int32_t c = 0; c < sub_x; ++c) {
      rect_element r;
      place(r, y, dy, t);
      r.apodization = 1.0;
      r.delay = 0.0;
      rect_geometry(r);
      e.rects.push_back(r);
      t += dt;
    }
  }
  return e;
}
}  // namespace

aperture_ptr xdc_convex_array(sys_con& sys, int32_t element_count, double width, double height,
                              double kerf, double convex_radius, int32_t sub_x, int32_t sub_y,
                              const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "Convex array transducer");
  const double Rc = convex_radius;
  const arc_layout arc(width, kerf, Rc, sub_x, element_count);
  const double dt = arc.dt;
  const double sub_dy = height / sub_y;
  const sub_rows rows = even_rows(-sub_y * sub_dy * 0.5, sub_dy, sub_y);
  // A point of the unfocused surface at azimuth angle t.
  auto on_arc = [Rc](double t, double y) -> point3 {
    return {Rc * std::sin(t), y, Rc * std::cos(t) - Rc};
  };
  // Each rectangle is a flat chord of the arc.
  auto place = [&](rect_element& r, double y, double dy, double t) {
    r.corners = {on_arc(t, y), on_arc(t, y + dy), on_arc(t + dt, y + dy), on_arc(t + dt, y)};
    r.center = on_arc((t + dt) - dt / 2, y + dy / 2);
  };
  ap->no_phys_elements = element_count;
  ap->phys_elements.reserve(static_cast<size_t>(element_count));
  for (int32_t i = 0; i < element_count; ++i) {
    const double ti = arc.start(i), tc = arc.centre(ti, sub_x);
    const point3 center{std::sin(tc) * Rc, 0.0, std::cos(tc) * Rc - Rc};
    ap->phys_elements.push_back(arc_element(center, rows, ti, dt, sub_x, place));
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_convex_focused_array(sys_con& sys, int32_t element_count, double width,
                                      double height, double kerf, double convex_radius,
                                      double elevation_focus, int32_t sub_x, int32_t sub_y,
                                      const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "Convex focused array transducer");
  const double Rc = convex_radius, Rf = elevation_focus;
  const arc_layout arc(width, kerf, Rc, sub_x, element_count);
  const double a = std::asin(height * 0.5 / Rf);  // elevation half-angle
  const double da = a * 2 / sub_y;
  // Distance from the elevation cylinder's axis to the plane of the element's long edges.
  const double zc0 = std::cos(std::asin(height / (Rf * 2))) * Rf;
  // Sub-rows are equal steps in elevation angle on the cylinder.
  sub_rows rows;
  double u = sub_y * da * (-0.5);
  for (int32_t r = 0; r < sub_y; ++r) {
    rows.emplace_back(Rf * std::sin(u), (std::sin(u + da) - std::sin(u)) * Rf);
    u += da;
  }
  auto place = [&](rect_element& r, double y, double dy, double t) {
    convex_focused_corners(r, y, dy, Rc, Rf, zc0, t, arc.dt);
  };
  const double r0 = (Rc - Rf) + zc0;  // radius of the element centres from the arc's centre
  ap->no_phys_elements = element_count;
  ap->phys_elements.reserve(static_cast<size_t>(element_count));
  for (int32_t i = 0; i < element_count; ++i) {
    const double ti = arc.start(i), tc = arc.centre(ti, sub_x);
    const point3 center{std::sin(tc) * r0, 0.0, std::cos(tc) * r0 - Rc};
    ap->phys_elements.push_back(arc_element(center, rows, ti, arc.dt, sub_x, place));
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_convex_focused_multirow(sys_con& sys, int32_t columns, double width, int32_t rows,
                                         const double* row_heights, double kerf_x, double kerf_y,
                                         double convex_radius, double elevation_focus,
                                         int32_t sub_x, int32_t sub_y, const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "Convex focused multirow transducer");
  const double Rc = convex_radius, Rf = elevation_focus;
  const arc_layout arc(width, kerf_x, Rc, sub_x, columns);
  double total;
  const std::vector<double> yc = row_centres(rows, row_heights, kerf_y, total);
  // All rows lie on one elevation cylinder whose outer edges touch the arc.
  const double zc0 = std::cos(std::asin(total / (Rf * 2))) * Rf;
  auto place = [&](rect_element& r, double y, double dy, double t) {
    convex_focused_corners(r, y, dy, Rc, Rf, zc0, t, arc.dt);
  };
  ap->no_phys_elements = columns * rows;
  ap->phys_elements.reserve(static_cast<size_t>(ap->no_phys_elements));
  for (int32_t j = 0; j < rows; ++j) {
    const double dy = row_heights[j] / sub_y;
    const sub_rows sub = even_rows(yc[j] - sub_y * dy * 0.5, dy, sub_y);
    // The surface's distance from the arc's centre at the row's centre line.
    const double rj = Rc - (std::sqrt(Rf * Rf - yc[j] * yc[j]) - zc0);
    for (int32_t i = 0; i < columns; ++i) {
      const double ti = arc.start(i), tc = arc.centre(ti, sub_x);
      const point3 center{std::sin(tc) * rj, yc[j], std::cos(tc) * rj - Rc};
      ap->phys_elements.push_back(arc_element(center, sub, ti, arc.dt, sub_x, place));
    }
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}
