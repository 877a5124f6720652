// Single-element piston and concave transducers made of squares that fill a circle, and
// apertures whose mathematical elements the user lists one by one in tables.
#pragma once

#include <cstddef>

#include "apertures/aperture.h"

// A host table read in place: value (row i, column c) at data[i + rows * c].
struct table_view {
  const double* data;  // column-major values
  size_t rows;
  double at(size_t i, size_t c) const { return data[i + rows * c]; }
};

// The room the circle filling takes for squares of side square_size in a circle of radius
// radius: a bound on their count, which callers keep within the 32-bit counts.
double circle_capacity(double radius, double square_size);

// Whether the corners of every square of the circle filling can be placed on the sphere of
// radius focal_radius: their depths are finite numbers.
bool concave_fits(double radius, double focal_radius, double square_size);

// One physical element of squares of side square_size whose centres lie inside the circle;
// flat (piston, focus far along the axis) or on the sphere of radius focal_radius (concave,
// focus at its centre). A square size of 2 * radius or more makes no square.
aperture_ptr xdc_piston(sys_con& sys, double radius, double square_size);
aperture_ptr xdc_concave(sys_con& sys, double radius, double focal_radius, double square_size);

// The user tables have one row per mathematical element (per bounding line for line tables);
// column 0 is the physical element number, which the caller has checked to be whole, at least
// 1 and non-decreasing; the last row's number is the number of physical elements, and centres
// holds at least that many rows of x, y, z.
//
// Rectangles: 19 columns (number, corners 1 to 4, apodization, width, height, centre).
aperture_ptr xdc_rectangles(sys_con& sys, const table_view& rects, const table_view& centres,
                            const point3& focus);
// Triangles: 11 columns (number, corners 1 to 3, apodization).
aperture_ptr xdc_triangles(sys_con& sys, const table_view& tris, const table_view& centres,
                           const point3& focus);
// One physical element of triangles given by 9 corner columns, one apodization per triangle.
aperture_ptr xdc_triangles_old(sys_con& sys, const table_view& tris, const double* apodization,
                               const point3& center, double element_apodization);
// Bounding lines: 6 columns (number, line element number, slope, vertical flag, intercept,
// inside side). The caller has checked that line element numbers are whole, at least 1 and
// non-decreasing within each physical element, and that flags and sides fit 16 bits.
aperture_ptr xdc_line_elements(sys_con& sys, const table_view& lines, const table_view& centres,
                               const point3& focus);
