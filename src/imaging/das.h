// Delay-and-sum image formation: RF data of several transmits, received by elements anywhere
// in space, focused at image points anywhere in space and summed, on the worker team. Plain
// arrays in and out; no aperture or calculation code. Invariants: a point's value is summed by
// one thread in a fixed order (transmits, then elements), so the image is the same for every
// thread count.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/thread_pool.h"

using das_point = std::array<double, 3>;  // x, y, z [m]

// How a transmit's wave reaches a point p: its arrival time [s] from the time origin of the
// RF data, with u = (sin ax cos ay, sin ay, cos ax cos ay) and s the source:
//   plane       t_ref + (u . p) / c
//   diverging   t_ref + |p - s| / c        (a wave from the virtual source s behind the array)
//   focused     t_ref - |p - s| / c before the focus s, t_ref + |p - s| / c beyond it: p lies
//               before it when (p - s) . (s - o) < 0, o the origin of the line (where the
//               wave leaves the array)
//   element     t_ref + |p - s| / c        (one element at s transmits: synthetic aperture)
enum class das_wave { plane = 1, diverging = 2, focused = 3, element = 4 };

struct das_transmit {
  das_wave wave;
  das_point source;  // plane: (ax, ay, unused) [rad]; otherwise the source [m]
  double t_ref;      // [s]
  das_point origin;  // focused: the line's origin [m]
};

enum class das_window { hann = 1, tukey = 2, boxcar = 3 };
enum class das_interpolation { linear = 1, cubic = 2 };

struct das_setup {
  double t0;   // time of the RF data's first sample [s]
  double fs;   // sampling frequency [Hz]
  double c;    // speed of sound [m/s]
  double lag;  // the pulse's own delay, added to every arrival [s]
  // Receive apodization: element e takes part at point p when its lateral distance
  // l = |(p - e) without z| is below half the aperture a = (p - e)_z / (2 f_number), weighted
  // by the window of l / a: Hann 0.5 + 0.5 cos(pi r); Tukey, flat for r <= 1 - alpha and a
  // Hann taper beyond; boxcar 1. Where no element weighs anything (points shallower than any
  // aperture, or beyond the array's ends) the element laterally nearest takes part alone,
  // weight 1.
  double f_number;
  das_window window;
  double tukey_alpha;  // in [0, 1]
  // Samples between the grid by linear interpolation, or by Keys' cubic convolution (a = -0.5)
  // over the four nearest; outside the signal (before its first or after its last sample) 0.
  das_interpolation interpolation;
  bool per_transmit;  // one image per transmit instead of their sum
  // The AVX2 loops where the processor has them; false keeps to the portable loops, which
  // give the same image bit for bit (to compare the two).
  bool wide = true;
};

// rf: samples x (elements x transmits), column t * elements + e holding element e's signal of
// transmit t. out: points x (1 or transmits) values, column-major. The threads of team run
// the points; waiting is handed on to the team (the caller's progress and Ctrl-C).
void das_image(worker_team& team, const das_setup& s, const double* rf, int64_t samples,
               const std::vector<das_point>& elements, const std::vector<das_transmit>& transmits,
               const std::vector<das_point>& points, double* out,
               const worker_team::wait_fn& waiting = {});
