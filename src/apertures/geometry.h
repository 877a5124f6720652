// Geometry of rectangular mathematical elements: widths, heights and tilts from the corners,
// and corners placed on the curved surfaces of concave and convex transducers.
#pragma once

#include "apertures/aperture.h"

// Width, height, slopes, their cosines and sines and the tilt flag from the four corners.
// Prints a warning block when a slope exceeds 10 in magnitude; the values stay as computed.
void rect_geometry(rect_element& r);

// A square of side size centred above (x, y) of the x-y plane, placed on the sphere of radius
// focal_radius whose centre lies on the z axis at z = focal_radius.
void concave_corners(rect_element& r, double x, double y, double size, double focal_radius);

// One sub-element of an array curved in azimuth (radius convex_radius, centre of curvature at
// z = -convex_radius) and in elevation (radius focus_radius): lower edge y, extent dy, azimuth
// angles theta .. theta + dtheta; plane_depth is focus_radius * cos(elevation half-angle).
void convex_focused_corners(rect_element& r, double y, double dy, double convex_radius,
                            double focus_radius, double plane_depth, double theta, double dtheta);

// The points where the bounding lines of the element cross, kept where they lie inside or on
// every line (1e-8 m tolerance), in pair order; fills crossings and no_crossings. Fewer than 4
// are reported on the console, and the element is kept as it is.
void find_crossings(line_element& le);
