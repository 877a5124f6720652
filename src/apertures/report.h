// The aperture report and query: a readable description of an aperture on the console, and a
// copy of its elements or time lines into a column-major matrix of doubles.
#pragma once

#include <cstddef>
#include <cstdint>

struct sys_con;
struct aperture_rec;

// Prints the aperture in mm, us, ns and degrees. Level 0 prints everything, 1 the header and the
// physical elements, 2 the header and the focus time line, 3 the header and the apodization time
// line, any other level the header only.
void xdc_show(sys_con& sys, const aperture_rec& ap, int32_t level);

// The shape of the matrix xdc_get fills for kind 1 (rectangles), 2 (triangles), 3 (line
// elements), 4 (focus time line) or 5 (apodization time line). False for any other kind: then
// no matrix is made.
bool xdc_get_shape(const aperture_rec& ap, int32_t kind, size_t& rows, size_t& cols);

// Fills the zeroed rows x cols column-major matrix out with the data of the given kind, as
// stored (metres, seconds, radians), element numbers 0-based and counts as doubles. Nothing is
// written for an unknown kind, and nothing ever beyond rows * cols.
void xdc_get(sys_con& sys, const aperture_rec& ap, int32_t kind, double* out, size_t rows,
             size_t cols);
