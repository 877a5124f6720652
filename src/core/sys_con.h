// The configuration and state record of the system, and the aperture table it owns. Every
// handler and operation that needs the configuration receives it as its first argument.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct aperture_rec;

// Deleter of an owned aperture; defined with the aperture records, so that this bottom room
// needs no more than the name of the type.
struct aperture_delete {
  void operator()(aperture_rec* ap) const;
};
using aperture_ptr = std::unique_ptr<aperture_rec, aperture_delete>;

struct sys_con {
  sys_con();
  ~sys_con();
  sys_con(const sys_con&) = delete;
  sys_con& operator=(const sys_con&) = delete;

  std::vector<aperture_ptr> apertures;  // one slot per handle; freed: null
  int32_t no_apertures = 0;             // slots in apertures, empty ones included
  int16_t use_rectangles = 1;           // apertures defined from now on keep their rectangles
  int16_t use_triangles = 0;            // ... are converted to triangles
  int16_t use_lines = 0;                // ... are converted to bounding-line elements
  int16_t accurate_time_calc = 0;       // corner arrival times for rectangles
  int16_t fast_integration = 0;         // fast integration for lines and triangles
  double c = 1540.0;                    // speed of sound [m/s]
  double fs = 100e6;                    // sampling frequency [Hz]
  int16_t use_att = 0;                  // attenuation on
  double att = 0.0;                     // frequency independent attenuation [dB/m]
  double freq_att = 0.0;                // frequency dependent attenuation [dB/(m Hz)]
  double att_f0 = 0.0;                  // centre frequency of the frequency dependent term [Hz]
  double tau_m = 20.0;                  // dispersion constant of the attenuation
  double z = 1.54e6;                    // characteristic acoustic impedance [kg/(m^2 s)]
  double BdivA = 5.2;                   // non-linearity parameter B/A
  double rho = 1000.0;                  // density of the medium [kg/m^3], for field maps
  double dz = 0.0005;                   // step of non-linear propagation [m]
  int32_t bytes_reserved = 0;           // bytes charged to live signals
  int32_t max_bytes_reserved = 0;       // peak of bytes_reserved
  int64_t next_signal_no = 0;           // serial number of the next signal (never wraps)
  int32_t state = 1;                    // 1 while initialised, 0 after a release
  int16_t debug = 0;                    // debug messages on
  int16_t show_times = 1;               // calculation times shown
  int32_t time_interval = 5;            // least seconds between progress lines
  int16_t quiet = 0;                    // informational messages suppressed
  int32_t last_calc_type = 0;           // 0 h, 1 hp, 2 hhp, 3 scat, 4 scat_multi, 5 scat_all
  int32_t threads;                      // threads of a calculation; default: the usable cores
};

// The threads a calculation runs on: one while debug traces are on, so that they keep their
// order; otherwise the option threads.
int32_t calculation_threads(const sys_con& sys);

// Prints "Orvel debug message: <text> \n" when the debug flag is on.
void debug_trace(const sys_con& sys, const char* text);
