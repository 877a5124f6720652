// The aperture data model: a transducer as physical elements made of flat mathematical elements,
// with its impulse response, excitation, focus and apodization time lines and settings.
// All lengths are in metres and all times in seconds.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/sys_con.h"
#include "signals/signal_store.h"

struct sys_con;

using point3 = std::array<double, 3>;  // x, y, z [m]

// The distance between two points [m].
inline double point_distance(const point3& a, const point3& b) {
  const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

struct rect_element {
  std::array<point3, 4> corners{};    // around the rectangle: 1, 2 along one edge, 3 opposite 1, 4
  point3 center{};                    // centre point [m]
  double apodization = 1.0;           // weight of this mathematical element
  double delay = 0.0;                 // extra delay of this mathematical element [s]
  double width = 0.0;                 // edge from corner 1 along x [m]
  double height = 0.0;                // edge from corner 1 along y [m]
  double tan_xz = 0.0;                // slope in the x-z plane
  double tan_yz = 0.0;                // slope in the y-z plane
  double cos_xz = 1.0, sin_xz = 0.0;  // of atan(tan_xz)
  double cos_yz = 1.0, sin_yz = 0.0;  // of atan(tan_yz)
  int16_t tilted = 0;                 // both slopes exceed 1e-15 in magnitude
};

struct tri_element {
  std::array<point3, 3> corners{};  // [m]
  double apodization = 1.0;
  double delay = 0.0;  // [s]
};

struct bounding_line {
  double slope = 0.0;
  double slope_sq_plus_1 = 1.0;  // slope * slope + 1
  int16_t vertical = 0;          // infinite slope
  double y1 = 0.0;               // crossing of a sloped line with the y axis [m]
  double x1 = 0.0;               // x of a vertical line [m]
  int16_t side = 0;              // which side of the line lies inside the element
};

struct line_element {
  std::vector<bounding_line> bounds;
  int32_t no_bounds = 0;
  double cos_x = 1.0, sin_x = 0.0;  // direction of the element's plane in x
  double cos_y = 1.0, sin_y = 0.0;  // ... and in y
  double zc = 0.0;                  // projected plane height [m]
  std::vector<point3> crossings;    // crossings between bounding lines [m]
  int32_t no_crossings = 0;
  double apodization = 1.0;
  double delay = 0.0;  // [s]
};

struct phys_element {
  int32_t no_rects = 0;
  std::vector<rect_element> rects;
  int32_t no_tris = 0;
  std::vector<tri_element> tris;
  int32_t no_line_elems = 0;
  std::vector<line_element> line_elems;
  point3 center{};      // where the time of flight to a field point is measured from [m]
  signal_ptr waveform;  // the element's own excitation, or empty
  int16_t has_waveform = 0;
};

// The element's own waveform when it has one, else null.
inline const signal_rec* element_waveform(const phys_element& pe) {
  return pe.has_waveform ? pe.waveform.get() : nullptr;
}

struct focus_entry {
  double time = 0.0;           // switch time [s]
  int16_t dynamic = 0;         // focus moves along a direction with the time of flight
  std::vector<double> delays;  // one per physical element [s]; empty in a dynamic entry
  point3 focus_point{};        // [m]; (0, 0, 0) when made from delays
  double angle_xz = 0.0;       // direction of dynamic focusing in the x-z plane [rad]
  double angle_yz = 0.0;       // ... and in the y-z plane [rad]
};

struct apod_entry {
  double time = 0.0;           // switch time [s]
  std::vector<double> values;  // one per physical element
};

struct aperture_rec {
  char name[80] = {};     // type of transducer
  char created[40] = {};  // local time of construction, 24 characters and a newline
  signal_ptr impulse;     // impulse response of the transducer
  signal_ptr excitation;  // excitation of elements without a waveform of their own
  int32_t no_phys_elements = 0;
  std::vector<phys_element> phys_elements;
  std::vector<focus_entry> focus_line;  // in time-line order
  point3 ref_point{};                   // focusing delays are counted from here [m]
  std::vector<apod_entry> apod_line;    // in time-line order
  int16_t single_focus = 0;             // the first focus entry holds at every time
  int16_t single_apod = 0;              // the first apodization entry holds at every time
  int16_t individual_excitation = 0;    // some element has a waveform
  int16_t quantize = 0;                 // focusing delays rounded to quant_step
  double quant_step = 0.0;              // [s]
  int16_t uses_rectangles = 1;
  int16_t uses_triangles = 0;
  int16_t uses_lines = 0;
  int16_t soft_baffle = 0;  // 1 soft baffle, 0 rigid
};

// A new aperture in its initial state: name and creation time set, made of rectangles, one-sample
// impulse response and excitation of value 1.0, no elements and empty time lines.
aperture_ptr new_aperture(sys_con& sys, const char* name);

// Releases the aperture and everything it owns; its signals go back to the store with traces.
void free_aperture(sys_con& sys, aperture_ptr& ap);

// Replace the impulse response or excitation by s, which the aperture then owns.
void xdc_impulse(sys_con& sys, aperture_rec& ap, signal_ptr s);
void xdc_excitation(sys_con& sys, aperture_rec& ap, signal_ptr s);

// Writes the 24-character local-time text of t followed by a newline into out (40 bytes).
void format_created(long long t, char* out);
