// The aperture report (xdc_show: lengths printed in mm, times in us) and the query (xdc_get:
// one column per element or time-line entry, in metres and seconds). xdc_get_shape gives the
// matrix size before anything is written, and each writer fills exactly that many values.
#include "apertures/report.h"

#include <algorithm>
#include <numbers>
#include <vector>

#include "apertures/aperture.h"
#include "core/sys_con.h"
#include "host/console.h"

namespace {
constexpr double to_mm = 1000.0;  // metres to millimetres
constexpr double to_us = 1e6;     // seconds to microseconds
constexpr double to_ns = 1e9;     // seconds to nanoseconds

// Rows of the query matrices.
// 2 numbers, width, height, apodization, 2 slopes, centre (3), 4 corners (12), delay,
// the physical element's centre (3).
constexpr size_t rect_rows = 26;
// 2 numbers, apodization, the physical element's centre (3), 3 corners (9).
constexpr size_t tri_rows = 15;
// One line element with 4 bounding lines and 4 crossings: line_fixed + 4 * 5 + 4 * 3.
constexpr size_t line_rows = 46;
// 2 numbers, apodization, delay, the physical element's centre (3), 4 direction values, zc and
// the two counts.
constexpr size_t line_fixed = 14;
constexpr size_t values_per_bound = 5;     // slope, vertical, y1, x1, side
constexpr size_t values_per_crossing = 3;  // x, y, z

double degrees(double radians) { return radians * 180.0 / std::numbers::pi; }

// The entries of an element array that are in use: the stored count, but never more than the
// array holds, so that a count out of step with its array cannot lead past it.
template <class T>
size_t in_use(int32_t count, const std::vector<T>& v) {
  return count > 0 ? std::min(static_cast<size_t>(count), v.size()) : 0;
}

size_t phys_count(const aperture_rec& ap) { return in_use(ap.no_phys_elements, ap.phys_elements); }

// Physical elements a time-line entry has values for.
size_t line_width(const aperture_rec& ap) {
  return ap.no_phys_elements > 0 ? static_cast<size_t>(ap.no_phys_elements) : 0;
}

int32_t samples_of(const signal_ptr& s) { return s ? s->no_samples : 0; }

// ---- xdc_show -------------------------------------------------------------------------------

void show_header(const sys_con& sys, const aperture_rec& ap) {
  if (sys.debug) host_printf("Orvel debug message: Entering xdc_show\n");
  host_printf("Aperture name: %s \n", ap.name);
  host_printf("Created: %s \n", ap.created);  // created ends in its own newline
  host_printf("Impulse response consists of %d samples\n", samples_of(ap.impulse));
  host_printf("Excitation response consists of %d samples\n", samples_of(ap.excitation));
  if (ap.individual_excitation)
    host_printf("Physical elements uses individual excitation\n");
  else
    host_printf("All elements uses same excitation\n");
  if (ap.quantize)
    host_printf("Quantized phase delay is used. Quantization = %10.4f ns\n", ap.quant_step * to_ns);
  else
    host_printf("No quantization of phase delays are used.\n");
  if (ap.soft_baffle)
    host_printf("Aperture uses the soft-baffle boundary condition\n");
  else
    host_printf("Aperture uses the rigid baffle boundary condition\n");
  host_printf("The reference point for focusing is at  (x,y,z) = (%10.4f, %10.4f, %10.4f) mm\n",
              ap.ref_point[0] * to_mm, ap.ref_point[1] * to_mm, ap.ref_point[2] * to_mm);
  host_printf("The aperture consists of %d physical elements. \n", ap.no_phys_elements);
}

void show_rects(const phys_element& e) {
  const size_t n = in_use(e.no_rects, e.rects);
  if (n == 0) return;
  host_printf("    Rectangular elements are given by (all measures in mm):\n");
  host_printf("    Unit vectors \n");
  host_printf("    No.     Width    Height   Apodization    tan_xz     tan_yz\n");
  for (size_t j = 0; j < n; ++j) {
    const rect_element& r = e.rects[j];
    host_printf("    %4d  %8.4f  %8.4f  %8.4f     %8.4f  %8.4f \n", static_cast<int>(j + 1),
                r.width * to_mm, r.height * to_mm, r.apodization, r.tan_xz, r.tan_yz);
  }
  host_printf("    Center points are given by (all measures in mm):  \n");
  host_printf("    No.         Center\n");
  for (size_t j = 0; j < n; ++j) {
    const point3& c = e.rects[j].center;
    host_printf("    %4d  (%9.4f, %9.4f, %9.4f)  \n", static_cast<int>(j + 1), c[0] * to_mm,
                c[1] * to_mm, c[2] * to_mm);
  }
  host_printf("    Corners are given by (all measures in mm):  \n");
  host_printf(
      "    No.                (1)                      (2)                      (3)          "
      "            (4) \n");
  for (size_t j = 0; j < n; ++j) {
    const std::array<point3, 4>& p = e.rects[j].corners;
    host_printf(
        "    %4d  (%6.2f, %6.2f, %6.2f) (%6.2f, %6.2f, %6.2f) (%6.2f, %6.2f, %6.2f) (%6.2f, "
        "%6.2f, %6.2f) \n",
        static_cast<int>(j + 1), p[0][0] * to_mm, p[0][1] * to_mm, p[0][2] * to_mm, p[1][0] * to_mm,
        p[1][1] * to_mm, p[1][2] * to_mm, p[2][0] * to_mm, p[2][1] * to_mm, p[2][2] * to_mm,
        p[3][0] * to_mm, p[3][1] * to_mm, p[3][2] * to_mm);
  }
}

void show_tris(const phys_element& e) {
  const size_t n = in_use(e.no_tris, e.tris);
  if (n == 0) return;
  host_printf("    Triangular elements: \n");
  host_printf("    Corners are given by (all measures in mm):  \n");
  host_printf(
      "    No.     Apodization           (1)                      (2)                      (3)  "
      "\n");
  for (size_t j = 0; j < n; ++j) {
    const tri_element& t = e.tris[j];
    const std::array<point3, 3>& p = t.corners;
    host_printf(
        "    %4d  %6.2f  (%6.2f, %6.2f, %6.2f) (%6.2f, %6.2f, %6.2f) (%6.2f, %6.2f, %6.2f) \n",
        static_cast<int>(j + 1), t.apodization, p[0][0] * to_mm, p[0][1] * to_mm, p[0][2] * to_mm,
        p[1][0] * to_mm, p[1][1] * to_mm, p[1][2] * to_mm, p[2][0] * to_mm, p[2][1] * to_mm,
        p[2][2] * to_mm);
  }
}

// One line element e (1-based): its plane, its crossings, and a table of its bounding lines.
void show_line_element(const line_element& le, int e) {
  host_printf(
      "    Direction cosine for x = %10.6f, sine for x = %10.6f, cosine for y = %10.6f, sine for "
      "y = %10.6f, \n",
      le.cos_x, le.sin_x, le.cos_y, le.sin_y);
  host_printf("    Projected plane height zc = %10.4f mm \n", le.zc * to_mm);
  host_printf("    There are %d crossings between bounding lines \n", le.no_crossings);
  host_printf("    Crossing no.   Position (x, y, z) mm \n");
  const size_t nc = in_use(le.no_crossings, le.crossings);
  for (size_t k = 0; k < nc; ++k) {
    const point3& p = le.crossings[k];
    host_printf("  %8d   %10.6f    %10.6f    %10.6f \n", static_cast<int>(k), p[0] * to_mm,
                p[1] * to_mm, p[2] * to_mm);
  }
  host_printf("    Element apodization value = %10.4f,  Delay value = %10.4f us\n", le.apodization,
              le.delay * to_us);
  host_printf(
      "    Element no.   Line no.      Slope        Intersection      Above or left   "
      "Apodization   \n");
  const size_t nb = in_use(le.no_bounds, le.bounds);
  for (size_t l = 0; l < nb; ++l) {
    const bounding_line& b = le.bounds[l];
    const int line_no = static_cast<int>(l + 1);
    if (b.vertical)
      host_printf("     %4d         %4d        Infinite       x1=%10.4f    %8d      %10.6f\n", e,
                  line_no, b.x1 * to_mm, b.side, le.apodization);
    else
      host_printf("     %4d         %4d      %10.4f       y1=%10.4f    %8d      %10.6f\n", e,
                  line_no, b.slope, b.y1 * to_mm, b.side, le.apodization);
  }
}

void show_elements(const aperture_rec& ap) {
  const size_t n = phys_count(ap);
  for (size_t i = 0; i < n; ++i) {
    const phys_element& e = ap.phys_elements[i];
    host_printf(
        "Physical element number %d consists of %d rectangles and %d triangles and %d line "
        "elements \n",
        static_cast<int>(i + 1), e.no_rects, e.no_tris, e.no_line_elems);
    host_printf("The center point is at (x,y,z) = (%10.4f, %10.4f, %10.4f) mm. \n",
                e.center[0] * to_mm, e.center[1] * to_mm, e.center[2] * to_mm);
    if (e.has_waveform)
      host_printf("    This physical element uses an individual excitation with %d samples\n",
                  samples_of(e.waveform));
    show_rects(e);
    show_tris(e);
    const size_t nl = in_use(e.no_line_elems, e.line_elems);
    if (nl == 0) continue;
    host_printf("  Line elements: \n");
    host_printf("    Lines are given by (all measures in mm):  \n");
    for (size_t k = 0; k < nl; ++k) show_line_element(e.line_elems[k], static_cast<int>(k + 1));
  }
}

void show_focus_line(const aperture_rec& ap) {
  host_printf("\nTime line for focusing:\n");
  for (const focus_entry& f : ap.focus_line) {
    host_printf("Time [us]  Focal point [mm] or focal direction \n");
    if (f.dynamic) {
      host_printf("%8.4f  Dynamic along: %9.4f deg. (z-x), %9.4f deg. (z-y)) \n", f.time * to_us,
                  degrees(f.angle_xz), degrees(f.angle_yz));
      continue;
    }
    host_printf("%8.4f   (%8.4f, %8.4f, %8.4f) \n", f.time * to_us, f.focus_point[0] * to_mm,
                f.focus_point[1] * to_mm, f.focus_point[2] * to_mm);
    host_printf("Delay times [s] (Element: Value) \n            ");
    const size_t n = std::min(line_width(ap), f.delays.size());
    for (size_t k = 1; k <= n; ++k) {
      host_printf("(%3d, %10.3e)  ", static_cast<int>(k), f.delays[k - 1]);
      if (k % 4 == 0) host_printf("\n            ");
    }
    host_printf("\n");
  }
}

void show_apod_line(const aperture_rec& ap) {
  host_printf("Time line for apodization:\n");
  host_printf("Time [us]  Apodization (Element: Value)");
  for (const apod_entry& a : ap.apod_line) {
    host_printf("\n %8.4f   ", a.time * to_us);
    const size_t n = std::min(line_width(ap), a.values.size());
    for (size_t k = 1; k <= n; ++k) {
      host_printf("(%3d, %6.4f)  ", static_cast<int>(k), a.values[k - 1]);
      if (k % 5 == 0) host_printf("\n            ");
    }
  }
  host_printf("\n");
}

// ---- xdc_get --------------------------------------------------------------------------------

// Writes values one after another into a column-major matrix. A column kind starts each column
// at its top and keeps to it; the line elements run on through the whole matrix. Whatever would
// fall outside the area is dropped.
class matrix_writer {
 public:
  matrix_writer(double* out, size_t rows, size_t cols)
      : out_(out), rows_(rows), size_(rows * cols), end_(size_) {}
  void start_column(size_t c) {
    pos_ = c * rows_;
    end_ = std::min(size_, pos_ + rows_);
  }
  void put(double v) {
    if (pos_ < end_) out_[pos_] = v;
    ++pos_;
  }
  void put(size_t v) { put(static_cast<double>(v)); }
  void put(const point3& p) {
    for (double v : p) put(v);
  }

 private:
  double* out_;
  size_t rows_;
  size_t size_;
  size_t end_;
  size_t pos_ = 0;
};

void get_rects(const aperture_rec& ap, matrix_writer& w, size_t cols) {
  size_t c = 0;
  for (size_t i = 0; i < phys_count(ap); ++i) {
    const phys_element& e = ap.phys_elements[i];
    for (size_t j = 0; j < in_use(e.no_rects, e.rects) && c < cols; ++j, ++c) {
      const rect_element& r = e.rects[j];
      w.start_column(c);
      w.put(i);
      w.put(j);
      w.put(r.width);
      w.put(r.height);
      w.put(r.apodization);
      w.put(r.tan_xz);
      w.put(r.tan_yz);
      w.put(r.center);
      for (const point3& p : r.corners) w.put(p);
      w.put(r.delay);
      w.put(e.center);
    }
  }
}

void get_tris(const aperture_rec& ap, matrix_writer& w, size_t cols) {
  size_t c = 0;
  for (size_t i = 0; i < phys_count(ap); ++i) {
    const phys_element& e = ap.phys_elements[i];
    for (size_t j = 0; j < in_use(e.no_tris, e.tris) && c < cols; ++j, ++c) {
      const tri_element& t = e.tris[j];
      w.start_column(c);
      w.put(i);
      w.put(j);
      w.put(t.apodization);
      w.put(e.center);
      for (const point3& p : t.corners) w.put(p);
    }
  }
}

// Each line element's values follow the previous element's directly, whatever its counts.
void get_line_elems(const aperture_rec& ap, matrix_writer& w) {
  for (size_t i = 0; i < phys_count(ap); ++i) {
    const phys_element& e = ap.phys_elements[i];
    for (size_t j = 0; j < in_use(e.no_line_elems, e.line_elems); ++j) {
      const line_element& le = e.line_elems[j];
      w.put(i);
      w.put(j);
      w.put(le.apodization);
      w.put(le.delay);
      w.put(e.center);
      w.put(le.cos_x);
      w.put(le.sin_x);
      w.put(le.cos_y);
      w.put(le.sin_y);
      w.put(le.zc);
      const size_t nb = in_use(le.no_bounds, le.bounds);
      w.put(nb);
      for (size_t l = 0; l < nb; ++l) {
        const bounding_line& b = le.bounds[l];
        w.put(b.slope);
        w.put(static_cast<double>(b.vertical));
        w.put(b.y1);
        w.put(b.x1);
        w.put(static_cast<double>(b.side));
      }
      const size_t nc = in_use(le.no_crossings, le.crossings);
      w.put(nc);
      for (size_t k = 0; k < nc; ++k) w.put(le.crossings[k]);
    }
  }
}

void get_focus_line(const aperture_rec& ap, matrix_writer& w, size_t cols) {
  const size_t n = line_width(ap);
  size_t c = 0;
  for (auto f = ap.focus_line.begin(); f != ap.focus_line.end() && c < cols; ++f, ++c) {
    w.start_column(c);
    w.put(f->time);
    // A dynamic entry has no delays: they follow from the field point.
    for (size_t k = 0; k < n; ++k) w.put(!f->dynamic && k < f->delays.size() ? f->delays[k] : 0.0);
  }
}

void get_apod_line(const aperture_rec& ap, matrix_writer& w, size_t cols) {
  const size_t n = line_width(ap);
  size_t c = 0;
  for (auto a = ap.apod_line.begin(); a != ap.apod_line.end() && c < cols; ++a, ++c) {
    w.start_column(c);
    w.put(a->time);
    for (size_t k = 0; k < n; ++k) w.put(k < a->values.size() ? a->values[k] : 0.0);
  }
}
}  // namespace

void xdc_show(sys_con& sys, const aperture_rec& ap, int32_t level) {
  show_header(sys, ap);
  if (level == 0 || level == 1) show_elements(ap);
  if (level == 0 || level == 2) show_focus_line(ap);
  if (level == 0 || level == 3) show_apod_line(ap);
}

bool xdc_get_shape(const aperture_rec& ap, int32_t kind, size_t& rows, size_t& cols) {
  size_t rects = 0, tris = 0, line_elems = 0, line_values = 0;
  for (size_t i = 0; i < phys_count(ap); ++i) {
    const phys_element& e = ap.phys_elements[i];
    rects += in_use(e.no_rects, e.rects);
    tris += in_use(e.no_tris, e.tris);
    for (size_t j = 0; j < in_use(e.no_line_elems, e.line_elems); ++j) {
      const line_element& le = e.line_elems[j];
      ++line_elems;
      line_values += line_fixed + values_per_bound * in_use(le.no_bounds, le.bounds) +
                     values_per_crossing * in_use(le.no_crossings, le.crossings);
    }
  }
  switch (kind) {
    case 1:
      rows = rect_rows;
      cols = rects;
      return true;
    case 2:
      rows = tri_rows;
      cols = tris;
      return true;
    case 3:
      // One column per line element; more when the elements' values need more room than that.
      rows = line_rows;
      cols = std::max(line_elems, (line_values + line_rows - 1) / line_rows);
      return true;
    case 4:
      rows = line_width(ap) + 1;  // +1: the time above the delays
      cols = ap.focus_line.size();
      return true;
    case 5:
      rows = line_width(ap) + 1;  // +1: the time above the values
      cols = ap.apod_line.size();
      return true;
    default:
      return false;
  }
}

void xdc_get(sys_con& /*sys*/, const aperture_rec& ap, int32_t kind, double* out, size_t rows,
             size_t cols) {
  matrix_writer w(out, rows, cols);
  switch (kind) {
    case 1:
      get_rects(ap, w, cols);
      break;
    case 2:
      get_tris(ap, w, cols);
      break;
    case 3:
      get_line_elems(ap, w);
      break;
    case 4:
      get_focus_line(ap, w, cols);
      break;
    case 5:
      get_apod_line(ap, w, cols);
      break;
    default:
      break;
  }
}
