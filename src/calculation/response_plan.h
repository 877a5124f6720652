// The plan and the scratch of the responses of one aperture in one calculation: planned once
// (everything that does not depend on the field point), then used point by point on scratch of
// the calling thread, so that many threads can compute responses of one aperture at once. The
// aperture is only read. The bottom of calculation/: the responses of each kind of element build
// on these types.
#pragma once

#include <cstdint>
#include <vector>

#include "apertures/aperture.h"
#include "core/thread_pool.h"
#include "elements/integration.h"
#include "elements/line_response.h"
#include "elements/triangle_response.h"
#include "signals/grid_buffer.h"
#include "signals/signal_store.h"

struct sys_con;

// Far-field terms of one rectangle seen from a field point.
struct far_field_term {
  double u;       // direction to the point along the rectangle's width axis
  double v;       // ... and along its height axis
  double weight;  // width * height * apodization [m^2]
  double tc;      // arrival time from the rectangle's centre, delays included [s]
};

// The response of one rectangle is a trapezoid in time of unit area: linear rise over a, flat,
// linear fall over a; its ramps start and end at t1 <= t2 <= t3 <= t4.
struct ramp_record {
  double a, b;            // shorter and longer ramp duration [s], a <= b
  double t1, t2, t3, t4;  // start of rise, end of rise, start of fall, end of fall [s]
};

// The rectangles of an aperture in the layout the responses read them in: one array per
// quantity, each physical element's rectangles from a multiple of four, its last group filled
// up with copies of its last rectangle (so that four are always handled at once).
struct rect_lanes {
  std::vector<double> cx, cy, cz;      // centre [m]
  std::vector<double> width, height;   // [m]
  std::vector<double> tan_xz, tan_yz;  // slopes
  std::vector<double> weight;          // width * height * apodization [m^2]
  std::vector<double> delay;           // the rectangle's own delay [s]
};

// What the responses of one aperture in one calculation depend on besides the point: the
// aperture, and the few values of the configuration they read, copied when planned.
struct response_plan {
  const aperture_rec* ap;              // only read
  double c;                            // speed of sound [m/s]
  double fs;                           // sampling frequency [Hz]
  bool waveforms;                      // convolve elements' own waveforms (all but calc_h)
  bool accurate_time_calc;             // ramps from the corners' arrival times
  bool use_att;                        // frequency independent attenuation in the weighting
  double attenuation;                  // -att in nepers per metre, applied where use_att is on
  double attenuation_two_pi;           // ... per unit of 2 pi r, for the rectangles' 1/(2 pi r)
  rect_lanes rects;                    // every rectangle of the aperture
  std::vector<int32_t> first_rect;     // per physical element: index of its first rectangle
  std::vector<char> flat;              // per physical element: none of its rectangles is tilted
                                       // both ways, so the direction needs no rotation
  int32_t rect_slots;                  // rectangles with the filling of the last groups
  std::vector<int32_t> element_bound;  // per physical element: most samples of its response
  int32_t longest_element;             // the largest element_bound
  element_grid grid;                   // c, fs and the integration rule of triangles and lines
  int64_t most_samples;                // longest response a point may have (check_span)
  memory_limit memory;                 // ... derived from this limit
};

response_plan plan_response(const sys_con& sys, const aperture_rec& ap, bool waveforms);

// Refuses, before its buffers are made, a response (or element response) of n samples beyond
// plan.most_samples: its working copies (the transforms of each thread and the responses a
// calculation keeps) would not fit in memory. Absurd focusing delays or element geometry give
// such spans.
[[noreturn]] void refuse_span(const response_plan& plan, int64_t n);
inline void check_span(const response_plan& plan, int64_t n) {
  if (n > plan.most_samples) refuse_span(plan, n);
}

// Where one physical element's response lies on the grid at the current point.
struct element_span {
  int32_t start;     // first sample
  int32_t n;         // samples before the waveform
  int32_t total;     // samples after the waveform, if the element has one and it applies
  bool contributes;  // apodization non-zero and rectangles present
};

// The trapezoid of each rectangle at the current point, and the window of its running integral
// on the grid, in the layout of rect_lanes.
struct ramp_lanes {
  std::vector<double> a, b;            // ramp durations [s]
  std::vector<double> t1, t2, t3, t4;  // start and end of rise and fall [s]
  std::vector<double> g, h;            // 1/b and 1/(2ab), or 0 where a ramp has no duration
  std::vector<double> first;           // midpoint time of the window's first sample [s]
  std::vector<int32_t> start;          // the window's first sample on the grid
  std::vector<int32_t> count;          // its samples, before it is extended to the fall's end
};

// Scratch of one thread for the responses of one plan's aperture.
struct response_workspace {
  // stop: the job's question, asked between long pieces of one point's work.
  explicit response_workspace(const response_plan& plan, stop_flag stop = {});
  stop_flag stop;                   // whether the job this thread works for has stopped
  std::vector<double> delay;        // focusing delay per physical element [s]
  std::vector<double> apodization;  // per physical element
  ramp_lanes ramps;                 // per rectangle slot of the aperture
  std::vector<element_span> spans;  // per physical element
  std::vector<double> element;      // one element's signal, with room around it
  std::vector<double> running;      // increments of one rectangle's running integral
  std::vector<double> shaped;       // one element's signal convolved with its waveform
  grid_buffer out;                  // the response

  // Triangles and line elements: one mathematical element's response, the sum of a physical
  // element's, the sum of a kind over the aperture, and a spare for widening sums.
  triangle_scratch triangles;
  line_scratch lines;
  grid_buffer part, element_sum, kind_sum, spare;
};

// The waveform the plan convolves element pe's response with, or null.
inline const signal_rec* planned_waveform(const response_plan& plan, const phys_element& pe) {
  return plan.waveforms ? element_waveform(pe) : nullptr;
}
