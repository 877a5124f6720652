// Spatial impulse response of one element bounded by straight lines in its own plane. At time t
// the wave from a field point at height zp reaches the circle of radius R = sqrt((c t)^2 - zp^2)
// around the point's projection P; the response is c / (2 pi) times the angle Theta(t) of the
// circle's arcs that lie inside the element. Theta changes its form only at critical times (the
// circle growing out of P, touching a line at its foot, passing a crossing of two lines), so its
// running integral is built from sample boundary to sample boundary, with the critical times as
// extra breakpoints, and differenced into samples.
#pragma once

#include <cstdint>
#include <vector>

#include "apertures/aperture.h"
#include "core/thread_pool.h"
#include "elements/integration.h"
#include "signals/grid_buffer.h"

// One of the two intersections of the circle with one bounding line. With
// Delta = B^2 - A (C0 - R^2), the root is x of a sloped line (y = slope x + y1) or y of a
// vertical one (x = x1).
struct line_root {
  int32_t line;             // index of its bounding line
  int16_t sign;             // 0: (-B - sqrt(Delta)) (2 / A); 1: (sqrt(Delta) - B) (2 / A)
  int16_t include_forward;  // the arc to the next root of the list (cyclically) is inside
  int16_t on_inside_arc;    // an endpoint of an inside arc (kept, not consulted)
  double quad_a;            // A: 4 (slope^2 + 1) sloped, 4 vertical
  double two_over_a;        // 2 / A
  double quad_b;            // B: 2 slope (y1 - py) - 2 px sloped, -2 py vertical
  double quad_b_sq;         // B^2
  double quad_c0;           // C0: (py - y1)^2 + px^2 sloped, (x1 - px)^2 + py^2 vertical [m^2]
};

// One element at one field point. The arrays grow and are reused from call to call; the counts
// say how much of them is in use.
struct line_geometry {
  int32_t no_times = 0;             // critical times in use
  std::vector<double> times;        // critical times, ascending [s]
  int32_t no_angles = 0;            // length of the current root list
  std::vector<double> angles;       // angle of each listed root around P, in [0, 2 pi) [rad]
  std::vector<int32_t> root_order;  // index into roots of each list position
  std::vector<line_root> roots;     // roots 2l and 2l + 1 belong to line l
  double circle_radius = 0.0;       // R at the time last evaluated [m]
  double circle_radius_sq = 0.0;    // R^2 = (c t)^2 - zp^2 at that time [m^2]
  double c = 0.0;                   // speed of sound [m/s]
  point3 point{};                   // px, py, zp in the element frame, zp >= 0 [m]
};

// Scratch of one thread reused from call to call: the line geometry's arrays (times, angles,
// root order, roots). The critical times are collected directly into the times array. And the
// question whether the job it works for has stopped, asked within a long response.
struct line_scratch {
  line_geometry geometry;
  stop_flag stop;  // the default never stops
};

// The response [m/s] of line element le at field point p (global coordinates) with delay D [s]
// (the caller includes the element's own delay), times the element's apodization, into out
// (out.start = start sample on the global grid, out.n samples). A point behind the element's
// plane gets the response of its mirror image in the plane. An element with fewer than two
// critical times (user lines that enclose no region) has no defined response: out.n = 0.
// Allocates nothing once the scratch has grown; safe on several threads with separate scratch
// and out. Throws command_error when the response lies beyond the reach of the sample grid.
void line_response(const element_grid& g, const point3& p, const line_element& le, double D,
                   line_scratch& s, grid_buffer& out);

// Sets up geo for le and the point (px, py, zp) of the element frame (zp >= 0): the critical
// times, ascending, and the coefficients of the roots of every line.
void line_setup(const element_grid& g, const line_element& le, const point3& p, line_geometry& geo);

// Whether (x, y) of the element frame lies inside or on every bounding line, each within a
// tolerance relative to the coordinate it tests.
bool inside_element(const line_element& le, double x, double y);

// Theta(t) [rad]: the angle of the circle at time t inside the element. With recompute set the
// arcs are found anew from all roots; otherwise only the roots of the current list are solved
// again (and the list is found anew if one of them crossed the x axis).
double sum_solution(const line_element& le, line_geometry& geo, double t, int recompute);
