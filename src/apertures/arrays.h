// Constructors of flat and elevation-focused linear arrays, multi-row arrays, 2-D arrays and
// convex arrays.
// Each returns a complete aperture: elements, rectangles, one fixed focus at time 0 and unit
// apodization. Counts below 1 are refused by the command handlers before these are called.
#pragma once

#include <cstdint>
#include <vector>

#include "apertures/aperture.h"

aperture_ptr xdc_linear_array(sys_con& sys, int32_t element_count, double width, double height,
                              double kerf, int32_t sub_x, int32_t sub_y, const point3& focus);

aperture_ptr xdc_linear_multirow(sys_con& sys, int32_t columns, double width, int32_t rows,
                                 const double* row_heights, double kerf_x, double kerf_y,
                                 int32_t sub_x, int32_t sub_y, const point3& focus);

aperture_ptr xdc_focused_array(sys_con& sys, int32_t element_count, double width, double height,
                               double kerf, double elevation_focus, int32_t sub_x, int32_t sub_y,
                               const point3& focus);

aperture_ptr xdc_focused_multirow(sys_con& sys, int32_t columns, double width, int32_t rows,
                                  const double* row_heights, double kerf_x, double kerf_y,
                                  double elevation_focus, int32_t sub_x, int32_t sub_y,
                                  const point3& focus);

// enabled holds columns x rows flags, position (i, j) at i + j * columns.
aperture_ptr xdc_2d_array(sys_con& sys, int32_t columns, int32_t rows, double width, double height,
                          double kerf_x, double kerf_y, const std::vector<int16_t>& enabled,
                          int32_t sub_x, int32_t sub_y, const point3& focus);

// Convex arrays: the elements lie side by side on an arc of radius convex_radius in the x-z
// plane whose top touches the origin (centre of curvature at z = -convex_radius); the focused
// kinds are also curved in elevation to a cylinder of radius elevation_focus.
aperture_ptr xdc_convex_array(sys_con& sys, int32_t element_count, double width, double height,
                              double kerf, double convex_radius, int32_t sub_x, int32_t sub_y,
                              const point3& focus);

aperture_ptr xdc_convex_focused_array(sys_con& sys, int32_t element_count, double width,
                                      double height, double kerf, double convex_radius,
                                      double elevation_focus, int32_t sub_x, int32_t sub_y,
                                      const point3& focus);

aperture_ptr xdc_convex_focused_multirow(sys_con& sys, int32_t columns, double width, int32_t rows,
                                         const double* row_heights, double kerf_x, double kerf_y,
                                         double convex_radius, double elevation_focus,
                                         int32_t sub_x, int32_t sub_y, const point3& focus);

// Row centres of a multi-row array (rows of heights h[0..rows-1], gaps kerf_y), lowest y
// first, centred on y = 0; total receives the rows' whole height with the kerfs.
std::vector<double> row_centres(int32_t rows, const double* h, double kerf_y, double& total);

// The last steps every constructor shares: reference point at the origin, the fixed focus at
// time 0 and unit apodization.
void finish_aperture(sys_con& sys, aperture_rec& ap, const point3& focus);
