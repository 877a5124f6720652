// Focus and apodization time lines, and the settings of single elements: apodization and delay
// of mathematical elements, waveforms of physical elements.
#pragma once

#include <cstdint>
#include <vector>

#include "apertures/aperture.h"

// Turns each time of flight d[i] (element centre to focus) into its focusing delay, counted
// from the reference time tr and rounded to a multiple of q when quantize is set.
void focus_delays(int32_t n, double* d, int16_t quantize, double q, double tr);

// One fixed-focus entry at time for focus point F, with delays computed from the aperture's
// present reference point, element centres and quantization, linked into the focus time line.
void insert_focus_entry(sys_con& sys, aperture_rec& ap, double time, const point3& focus);

// The replacements of whole time lines; n >= 1 is the caller's duty. Each vector of delays or
// values holds one value per physical element and passes to its entry.
void xdc_focus(sys_con& sys, aperture_rec& ap, const std::vector<double>& times,
               const std::vector<point3>& points);
void xdc_focus_delays(sys_con& sys, aperture_rec& ap, const std::vector<double>& times,
                      std::vector<std::vector<double>> delays);
void xdc_dynamic_focusing(sys_con& sys, aperture_rec& ap, double time, double angle_xz,
                          double angle_yz);
void xdc_center_focus(sys_con& sys, aperture_rec& ap, const point3& point);
// Focusing delays computed from now on are rounded to multiples of step [s]; 0 turns it off.
void xdc_quantization(aperture_rec& ap, double step);
// A soft baffle (on) or a rigid one (off) for the responses of the aperture.
void xdc_baffle(aperture_rec& ap, bool soft);
void xdc_apodization(sys_con& sys, aperture_rec& ap, const std::vector<double>& times,
                     std::vector<std::vector<double>> values);

// Per listed physical element (1-based numbers), the apodization or delay of its mathematical
// elements (values[k] holds m values for numbers[k]), or its own waveform of m samples.
// Illegal numbers and too few values are reported and the command goes on.
void ele_apodization(aperture_rec& ap, const std::vector<int32_t>& numbers, int32_t m,
                     const std::vector<std::vector<double>>& values);
void ele_delay(aperture_rec& ap, const std::vector<int32_t>& numbers, int32_t m,
               const std::vector<std::vector<double>>& values);
void ele_waveform(sys_con& sys, aperture_rec& ap, const std::vector<int32_t>& numbers, int32_t m,
                  const std::vector<std::vector<double>>& samples);

// The apodization entry at time 0 with every physical element weighted 1.0, linked in.
void add_unit_apodization(aperture_rec& ap);

// The focusing delay [s] and the apodization of every physical element at field point p, from
// the time lines read at each element's time of flight |p - centre| / c, c the speed of sound
// [m/s].
void focus_and_apodization(const aperture_rec& ap, double c, const point3& p, double* delay,
                           double* apodization);

// The same for the physical elements first .. last - 1 only.
void focus_and_apodization(const aperture_rec& ap, double c, const point3& p, int32_t first,
                           int32_t last, double* delay, double* apodization);
