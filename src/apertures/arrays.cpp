// The array constructors: linear, elevation-focused, multi-row, 2-D and convex arrays. Each
// lays out its physical elements and their sub-rectangles in one order (element by element,
// sub-element columns in x, rows in y), derives every rectangle's geometry from its corners,
// and finishes with one fixed focus at time 0 and unit apodization.
#include "apertures/arrays.h"

#include <cmath>

#include "apertures/geometry.h"
#include "apertures/time_lines.h"
#include "core/sys_con.h"

namespace {
// A rectangle with lower-left corner (x, y), extent dx by dy, on the surface z(y) (which
// depends on y alone for every array of this file), corners in the order 1 (x, y),
// 2 (x, y + dy), 3 (x + dx, y + dy), 4 (x + dx, y).
template <class Surface>
rect_element make_rect(double x, double y, double dx, double dy, Surface z) {
  rect_element r;
  r.corners[0] = {x, y, z(y)};
  r.corners[1] = {x, y + dy, z(y + dy)};
  r.corners[2] = {x + dx, y + dy, z(y + dy)};
  r.corners[3] = {x + dx, y, z(y)};
  r.center = {x + dx / 2, y + dy / 2, z(y + dy / 2)};
  r.apodization = 1.0;
  r.delay = 0.0;
  rect_geometry(r);
  return r;
}

double flat(double) { return 0.0; }

phys_element new_element(const point3& center, int32_t sub_x, int32_t sub_y) {
  phys_element e;
  e.center = center;
  e.no_rects = sub_x * sub_y;
  e.rects.reserve(static_cast<size_t>(e.no_rects));
  return e;
}

// Sub-rows of equal height dy from y_start, sub-columns of equal width dx from x_start,
// stored sub-row by sub-row, each from lowest x; positions accumulate by repeated addition.
template <class Surface>
void fill_grid(phys_element& e, double x_start, double y_start, double dx, double dy, int32_t sub_x,
               int32_t sub_y, Surface z) {
  double y = y_start;
  for (int32_t r = 0; r < sub_y; ++r) {
    double x = x_start;
    for (int32_t c = 0; c < sub_x; ++c) {
      e.rects.push_back(make_rect(x, y, dx, dy, z));
      x += dx;
    }
    y += dy;
  }
}
}  // namespace

std::vector<double> row_centres(int32_t rows, const double* h, double kerf_y, double& total) {
  total = 0.0;
  for (int32_t j = 0; j < rows; ++j) total += h[j];
  total += static_cast<double>(rows - 1) * kerf_y;
  std::vector<double> y(static_cast<size_t>(rows));
  y[0] = h[0] * 0.5 - total * 0.5;
  for (int32_t j = 0; j + 1 < rows; ++j) y[j + 1] = y[j] + h[j] * 0.5 + h[j + 1] * 0.5 + kerf_y;
  return y;
}

void finish_aperture(sys_con& sys, aperture_rec& ap, const point3& focus) {
  ap.ref_point = {0.0, 0.0, 0.0};
  insert_focus_entry(sys, ap, 0.0, focus);
  ap.single_focus = 1;
  add_unit_apodization(ap);
  ap.single_apod = 1;
}

aperture_ptr xdc_linear_array(sys_con& sys, int32_t element_count, double width, double height,
                              double kerf, int32_t sub_x, int32_t sub_y, const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "Linear array transducer");
  const int32_t N = element_count;
  const double p = width + kerf;  // pitch
  ap->no_phys_elements = N;
  ap->phys_elements.reserve(static_cast<size_t>(N));
  const double dx = width / sub_x, dy = height / sub_y;
  double x = static_cast<double>(1 - N) * p * 0.5;
  for (int32_t i = 0; i < N; ++i) {
    phys_element e = new_element({x, 0.0, 0.0}, sub_x, sub_y);
    fill_grid(e, x - sub_x * dx * 0.5, -sub_y * dy * 0.5, dx, dy, sub_x, sub_y, flat);
    ap->phys_elements.push_back(std::move(e));
    x += p;
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_linear_multirow(sys_con& sys, int32_t columns, double width, int32_t rows,
                                 const double* row_heights, double kerf_x, double kerf_y,
                                 int32_t sub_x, int32_t sub_y, const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "Linear multi-row array transducer");
  ap->no_phys_elements = columns * rows;
  ap->phys_elements.reserve(static_cast<size_t>(ap->no_phys_elements));
  double total;
  const std::vector<double> yc = row_centres(rows, row_heights, kerf_y, total);
  const double p = width + kerf_x;
  const double dx = width / sub_x;
  for (int32_t j = 0; j < rows; ++j) {
    const double dy = row_heights[j] / sub_y;
    double x = static_cast<double>(1 - columns) * p * 0.5;
    for (int32_t i = 0; i < columns; ++i) {
      phys_element e = new_element({x, yc[j], 0.0}, sub_x, sub_y);
      fill_grid(e, x - sub_x * dx * 0.5, yc[j] - sub_y * dy * 0.5, dx, dy, sub_x, sub_y, flat);
      ap->phys_elements.push_back(std::move(e));
      x += p;
    }
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_focused_array(sys_con& sys, int32_t element_count, double width, double height,
                               double kerf, double elevation_focus, int32_t sub_x, int32_t sub_y,
                               const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "Linear elevation focused array transducer");
  const int32_t N = element_count;
  const double Rf = elevation_focus;
  const double p = width + kerf;
  ap->no_phys_elements = N;
  ap->phys_elements.reserve(static_cast<size_t>(N));
  const double dx = width / sub_x;
  const double a = std::asin(height / (Rf * 2));  // elevation half-angle
  const double da = a * 2 / sub_y;
  const double zc0 = std::cos(a) * Rf;  // depth of the plane through the long edges
  // The cylinder of radius Rf: the long edges lie in z = 0, the middle behind it.
  auto z = [Rf, zc0](double y) { return zc0 - std::sqrt(Rf * Rf - y * y); };
  double x = static_cast<double>(1 - N) * p * 0.5;
  for (int32_t i = 0; i < N; ++i) {
    phys_element e = new_element({x, 0.0, zc0 - Rf}, sub_x, sub_y);
    // Sub-rows are equal steps in angle on the cylinder.
    double t = sub_y * da * (-0.5);
    for (int32_t r = 0; r < sub_y; ++r) {
      const double y = Rf * std::sin(t);
      const double dy = (std::sin(t + da) - std::sin(t)) * Rf;
      double xs = x - sub_x * dx * 0.5;
      for (int32_t c = 0; c < sub_x; ++c) {
        e.rects.push_back(make_rect(xs, y, dx, dy, z));
        xs += dx;
      }
      t += da;
    }
    ap->phys_elements.push_back(std::move(e));
    x += p;
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_focused_multirow(sys_con& sys, int32_t columns, double width, int32_t rows,
                                  const double* row_heights, double kerf_x, double kerf_y,
                                  double elevation_focus, int32_t sub_x, int32_t sub_y,
                                  const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "Linear multi-row elevation focused array transducer");
  const double Rf = elevation_focus;
  ap->no_phys_elements = columns * rows;
  ap->phys_elements.reserve(static_cast<size_t>(ap->no_phys_elements));
  double total;
  const std::vector<double> yc = row_centres(rows, row_heights, kerf_y, total);
  // All rows together lie on one cylinder whose outer edges touch the plane z = 0.
  const double zc0 = std::cos(std::asin(total / (Rf * 2))) * Rf;
  // An outer edge exactly at the radius may pass it by rounding; it then lies on the radius.
  auto z = [Rf, zc0](double y) { return zc0 - std::sqrt(std::fmax(Rf * Rf - y * y, 0.0)); };
  const double x0 = (width + kerf_x) * static_cast<double>(1 - columns) * 0.5;
  const double dx = width / sub_x;
  for (int32_t j = 0; j < rows; ++j) {
    const double dy = row_heights[j] / sub_y;
    for (int32_t i = 0; i < columns; ++i) {
      const double x = i * width + x0 + i * kerf_x;
      phys_element e = new_element({x, yc[j], z(yc[j])}, sub_x, sub_y);
      fill_grid(e, x - sub_x * dx * 0.5, yc[j] - sub_y * dy * 0.5, dx, dy, sub_x, sub_y, z);
      ap->phys_elements.push_back(std::move(e));
    }
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}

aperture_ptr xdc_2d_array(sys_con& sys, int32_t columns, int32_t rows, double width, double height,
                          double kerf_x, double kerf_y, const std::vector<int16_t>& enabled,
                          int32_t sub_x, int32_t sub_y, const point3& focus) {
  aperture_ptr ap = new_aperture(sys, "2-dimensional array transducer");
  int32_t count = 0;
  for (int16_t f : enabled) count += f ? 1 : 0;
  ap->no_phys_elements = count;
  ap->phys_elements.reserve(static_cast<size_t>(count));
  const double dx = width / sub_x, dy = height / sub_y;
  for (int32_t j = 0; j < rows; ++j) {
    const double y =
        static_cast<double>(1 - rows) * (height + kerf_y) * 0.5 + j * (height + kerf_y);
    for (int32_t i = 0; i < columns; ++i) {
      if (!enabled[static_cast<size_t>(i) + static_cast<size_t>(j) * columns]) continue;
      const double x =
          static_cast<double>(1 - columns) * (width + kerf_x) * 0.5 + i * (width + kerf_x);
      phys_element e = new_element({x, y, 0.0}, sub_x, sub_y);
      fill_grid(e, x - sub_x * dx * 0.5, y - sub_y * dy * 0.5, dx, dy, sub_x, sub_y, flat);
      ap->phys_elements.push_back(std::move(e));
    }
  }
  finish_aperture(sys, *ap, focus);
  return ap;
}
