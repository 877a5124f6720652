// Spatial impulse response of one flat triangle at one field point. The field point is projected
// onto the triangle's plane (point O, height h); at time t the wave front meets that plane in the
// circle of radius sqrt((c t)^2 - h^2) around O, and the response is c / (2 pi) times the angle
// of that circle lying inside the triangle. The triangle is split into the three sub-triangles
// of O and one edge each; their running time integrals of the angle are combined with signs that
// depend on where O lies, and differenced into samples: each sample is the mean of the response
// over one sampling interval centred on its time.
#pragma once

#include <array>

#include "apertures/aperture.h"
#include "core/thread_pool.h"
#include "elements/integration.h"
#include "signals/grid_buffer.h"

// Scratch of one thread, reused from call to call (the three sub-triangle signals), and the
// question whether the job it works for has stopped, asked within a long response.
struct triangle_scratch {
  std::array<grid_buffer, 3> sub;  // O with the edges of corners (0, 1), (1, 2) and (0, 2)
  stop_flag stop;                  // the default never stops
};

// The response [m/s] of triangle t at field point p (global coordinates) with extra delay D0 [s]
// (the triangle's own delay is added inside), times the triangle's apodization, into out
// (out.start = the start sample on the global grid, out.n samples). Allocates nothing once the
// scratch has grown; safe to call from several threads with separate scratch and out.
//
// A point behind the triangle's plane gets the response of its mirror image. A triangle of zero
// area (the sine of its angle at corner 0 below 1e-12) gives one zero sample at the start sample.
void triangle_response(const element_grid& g, const point3& p, const tri_element& t, double D0,
                       triangle_scratch& s, grid_buffer& out);
