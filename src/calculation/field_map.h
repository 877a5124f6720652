// Field maps: the numbers users reduce a point's emitted or pulse-echo signal to (peak
// pressures, intensities, a harmonic component), computed where the signal is made, so that a
// map costs memory for its values only. The pressure is p = rho ds/dt of the signal s, the
// derivative taken by the fourth-order central difference on the sample grid, with s zero
// outside its samples:
//   p_j = rho fs ((s_{j-2} - s_{j+2}) + 8 (s_{j+1} - s_{j-1})) / 12,  j = -2 .. n + 1,
// so that p has n + 4 samples from grid sample start - 2 (and is zero beyond them). For a tone
// of angular frequency w its relative error is about (w / fs)^4 / 30: 3e-4 at a frequency of
// fs / 20, 4e-5 at fs / 33 (3 MHz at 100 MHz).
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

enum class field_quantity {
  p_plus,        // max p, and 0 when p is nowhere positive [Pa]
  p_minus,       // -min p, and 0 when p is nowhere negative [Pa]
  p_peak,        // max |p| [Pa]
  t_peak,        // time of the first sample where |p| is largest; NaN where p is 0 throughout [s]
  pii,           // sum p_j^2 / fs / (rho c): the pulse intensity integral [J/m^2]
  p_rms,         // sqrt(sum p_j^2 / fs / T), T the pulse's samples / fs [Pa]
  cw_amplitude,  // |P(f) / V(f)| (below) [Pa per unit of the pulse]
  cw_phase,      // arg(P(f) / V(f)) in (-pi, pi] [rad]
  raw_peak,      // max |s| [the unit of s]
  raw_energy,    // sum s_j^2 / fs [the unit of s squared, times s]
};
// P(f) = sum p_j exp(-i 2 pi f t_j) / fs over the samples of p at their times t_j, and V(f) the
// same sum over the pulse the responses are convolved with (impulse response * excitation, and
// for the pulse-echo field that convolved with the receive impulse response too). Their ratio
// is the field a continuous wave of frequency f and unit amplitude of the pulse would give.

// The columns of a map, in order, and the constants they need.
struct map_request {
  std::vector<field_quantity> columns;
  double rho = 1000.0;  // density [kg/m^3]
  double cw_f = 0.0;    // frequency of cw_amplitude and cw_phase [Hz]; 0 when neither is asked
};

// The quantities named in names, separated by commas (blanks around a name are ignored), in
// that order. A name that is none of the quantities, a list without any, a cw quantity without
// a frequency, and a frequency that is not positive and finite are refused with a text that
// lists what is accepted. has_f: a frequency f was given (it is ignored without cw columns).
map_request parse_map_request(const std::string& names, bool has_f, double f, double rho);

// The name of a quantity, as parse_map_request takes it.
const char* quantity_name(field_quantity q);

// Reduces signals on the grid of fs, made with one pulse, to the columns of a request.
class map_reducer {
 public:
  // The pulse: np samples from grid sample pulse_start. Refuses a cw frequency at or above
  // fs / 2, or one at which the pulse has no component (its spectrum there below 1e-9 of its
  // largest possible magnitude, sum |v| / fs): the ratio would be noise.
  map_reducer(const map_request& q, double fs, double c, const double* pulse, int32_t np,
              int32_t pulse_start);

  // Per-thread room of reduce.
  struct scratch {
    std::vector<double> u;                   // the signal between zeros
    std::vector<std::complex<double>> turn;  // exp(-i w (k - 2) / fs) for sample k of p
  };

  // The columns for the signal s of n samples from grid sample start, into out[0],
  // out[stride], ... in column order.
  void reduce(const double* s, int32_t n, int32_t start, scratch& w, double* out,
              size_t stride) const;

 private:
  std::vector<field_quantity> columns_;
  double fs_, rho_, c_;
  double scale_;   // rho fs / 12
  double window_;  // T, the pulse's duration [s]
  bool cw_ = false;
  double w_dt_ = 0.0;               // 2 pi f / fs [rad per sample]
  std::complex<double> inverse_v_;  // 1 / V(f)
};
