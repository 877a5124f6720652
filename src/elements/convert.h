// Conversion of an aperture of rectangles, in place, to triangles (two per rectangle) or to
// elements bounded by straight lines in their own plane (one per rectangle, four lines).
// Elements of the target kind that a physical element already holds stay in front.
#pragma once

#include "apertures/aperture.h"

// Every rectangle split along its diagonal from corner 1 to corner 3 into the triangles
// (c1, c2, c3) and (c1, c4, c3), both with the rectangle's apodization and delay.
aperture_rec& convert_to_triangles(aperture_rec& ap);

// Every rectangle turned into a line element: rotated into a plane of constant height, its four
// edges written as lines of that plane, their crossings found.
aperture_rec& convert_to_lines(aperture_rec& ap);

// Rotates the rectangle's corners and centre into the frame in which it lies level (overwriting
// them), and stores the two rotations and the plane's height in le.
void rotate_to_plane(rect_element& r, line_element& le);
