// The general commands that change or show the configuration: debug flag, sampling frequency,
// option setter and configuration report.
#include <cctype>
#include <cstring>

#include "core/errors.h"
#include "gateway/gateway.h"
#include "host/console.h"

namespace {
// A value that must be positive (and, like every number read, finite): the sampling frequency
// and the speed of sound are refused when set, not only at the next calculation.
double require_positive(double v, const char* what) {
  if (!(v > 0.0))
    throw command_error(format_text("Error: %s must be positive, but is %g", what, v));
  return v;
}

// The responses square lengths travelled per second; beyond 1e150 m/s the square overflows and
// every sample would be NaN, so such a speed is refused (sound in any medium is below 1e4 m/s).
double speed_of_sound(double v) {
  constexpr double most = 1e150;
  if (!(v > 0.0 && v <= most))
    throw command_error(format_text(
        "Error: The speed of sound c must be positive and at most %g m/s, but is %g", most, v));
  return v;
}

double read_positive(const mxArray* a, const char* what) {
  return require_positive(read_number(a, what), what);
}

void sampling_warning(const sys_con& sys) {
  if (!sys.quiet)
    host_printf(
        "Warning:  Remember to set all pulses in apertures for the new sampling frequency\n");
}

void set_use_rectangles(sys_con& sys, int16_t v) {
  sys.use_rectangles = v;
  if (v) sys.use_triangles = sys.use_lines = 0;
}

void set_use_triangles(sys_con& sys, int16_t v) {
  sys.use_triangles = v;
  if (v) sys.use_lines = sys.use_rectangles = 0;
}

void set_use_lines(sys_con& sys, int16_t v) {
  sys.use_lines = v;
  if (v) sys.use_triangles = sys.use_rectangles = 0;
}

void set_show_times(sys_con& sys, int32_t n) {
  sys.show_times = n > 0 ? 1 : 0;
  sys.time_interval = n > 2 ? n : 5;
}

// A calculation runs on this many threads; results are the same for every count.
void set_threads(sys_con& sys, double, int32_t n) {
  constexpr int32_t most = 1024;
  if (n < 1 || n > most)
    throw command_error(format_text(
        "Error: The option threads must be a whole number from 1 to %d, but is %d", most, n));
  sys.threads = n;
}

// Keys of the option setter, compared in this order with the whole lower-cased name.
enum class option_kind { value, rounded };
struct option_key {
  const char* key;
  option_kind kind;
  void (*apply)(sys_con& sys, double value, int32_t rounded);
};

const option_key option_keys[] = {
    {"use_att", option_kind::value,
     [](sys_con& s, double v, int32_t) { s.use_att = v != 0.0 ? 1 : 0; }},
    {"att", option_kind::value, [](sys_con& s, double v, int32_t) { s.att = v; }},
    {"freq_att", option_kind::value, [](sys_con& s, double v, int32_t) { s.freq_att = v; }},
    {"att_f0", option_kind::value, [](sys_con& s, double v, int32_t) { s.att_f0 = v; }},
    {"tau_m", option_kind::value, [](sys_con& s, double v, int32_t) { s.tau_m = v; }},
    {"z", option_kind::value, [](sys_con& s, double v, int32_t) { s.z = v; }},
    {"dz", option_kind::value, [](sys_con& s, double v, int32_t) { s.dz = v; }},
    {"bdiva", option_kind::value, [](sys_con& s, double v, int32_t) { s.BdivA = v; }},
    {"debug", option_kind::rounded,
     [](sys_con& s, double, int32_t n) { s.debug = static_cast<int16_t>(n); }},
    {"accurate_time_calc", option_kind::rounded,
     [](sys_con& s, double, int32_t n) { s.accurate_time_calc = static_cast<int16_t>(n); }},
    {"fast_integration", option_kind::rounded,
     [](sys_con& s, double, int32_t n) { s.fast_integration = static_cast<int16_t>(n); }},
    {"show_times", option_kind::rounded,
     [](sys_con& s, double, int32_t n) { set_show_times(s, n); }},
    {"use_rectangles", option_kind::rounded,
     [](sys_con& s, double, int32_t n) { set_use_rectangles(s, static_cast<int16_t>(n)); }},
    {"use_triangles", option_kind::rounded,
     [](sys_con& s, double, int32_t n) { set_use_triangles(s, static_cast<int16_t>(n)); }},
    {"use_lines", option_kind::rounded,
     [](sys_con& s, double, int32_t n) { set_use_lines(s, static_cast<int16_t>(n)); }},
    {"c", option_kind::value, [](sys_con& s, double v, int32_t) { s.c = speed_of_sound(v); }},
    {"fs", option_kind::value,
     [](sys_con& s, double v, int32_t) {
       s.fs = require_positive(v, "The sampling frequency fs");
       sampling_warning(s);
     }},
    {"threads", option_kind::rounded, set_threads},
};
}  // namespace

void set_debug_flag(sys_con& sys, const command_args& args) {
  debug_trace(sys, "Setting debug flag");
  if (args.nrhs < 2) throw command_error("Internal Error 5: Too few parameters to set debug flag");
  sys.debug = read_flag(args.arg(2), "The debug flag");
}

void set_sampling_frequency(sys_con& sys, const command_args& args) {
  debug_trace(sys, "Setting sampling frequency");
  if (args.nrhs < 2)
    throw command_error("Internal Error 5: Too few parameters to set sampling frequency");
  sys.fs = read_positive(args.arg(2), "The sampling frequency");
  sampling_warning(sys);
}

void set_option(sys_con& sys, const command_args& args) {
  if (args.nrhs < 3)
    throw command_error("Internal Error 5: Too few parameters to set program option");
  char name[200];  // the host's text copy holds at most 199 characters
  read_text(args.arg(2), name, sizeof name, "The option name");
  const double value = read_number(args.arg(3), "The option value");
  for (char* p = name; *p; ++p)
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (sys.debug) host_printf("Setting option %s in program to %10.4f \n", name, value);
  for (const option_key& k : option_keys) {
    if (std::strcmp(name, k.key) != 0) continue;
    const int32_t rounded =
        k.kind == option_kind::rounded ? round_whole(value, "The option value") : 0;
    k.apply(sys, value, rounded);
    return;
  }
  host_printf("Trying to set option: %s \n", name);
  throw command_error(
      format_text("Error: Option not found in program\nThe option name was: %s", name));
}

void show_configuration(sys_con& sys, const command_args&) {
  host_printf("Current Orvel configuration:\n\n");
  host_printf("    %s\n\n", orvel_version);
  host_printf("    Number of apertures in operation:            %d \n", sys.no_apertures);
  host_printf("    Apertures to be defined uses rectangles:     %d\n", sys.use_rectangles);
  host_printf("    Apertures to be defined uses triangles:      %d\n", sys.use_triangles);
  host_printf("    Apertures to be defined uses bounding lines: %d\n", sys.use_lines);
  host_printf("\n");
  host_printf("    Program uses accuracte time calculation for rectangles: %d\n",
              sys.accurate_time_calc);
  host_printf("    Program uses fast integration for lines and triangles:  %d\n",
              sys.fast_integration);
  host_printf("\n");
  host_printf("    Speed of sound:     %10.4f m/s \n", sys.c);
  host_printf("    Sampling frequency: %10.4f MHz \n", sys.fs / 1e6);
  host_printf("    Whether to use attenuation: %d\n", sys.use_att);
  host_printf("    Frequency independent attenuation is:  %10.4f dB/m\n", sys.att);
  host_printf("    Frequency dependent attenuation around %10.4f MHz is %10.4f dB/[m Hz]\n",
              sys.att_f0 / 1e6, sys.freq_att);
  host_printf("    Constant tau_m used in attenuation calculation:      %10.4f\n", sys.tau_m);
  host_printf("\n");
  host_printf("    Step in propagation for non-linear imaging:  %10.6e m \n", sys.dz);
  host_printf("    Characteristic acoustic impedance:           %10.6e kg/[m^2 s] \n", sys.z);
  host_printf("    Non-linearity parameter B/A:                 %10.4f  \n", sys.BdivA);
  host_printf("\n");
  host_printf("    Number of bytes reserved:                       %d\n", sys.bytes_reserved);
  host_printf("    Maximum number of bytes that has been reserved: %d\n", sys.max_bytes_reserved);
  host_printf("    Number for next signal to be used:              %lld\n",
              static_cast<long long>(sys.next_signal_no));
  host_printf("    Internal state of the program:                  %d\n", sys.state);
  host_printf("    Debug mode enabled:                             %d\n", sys.debug);
  host_printf("    Last calculation type done:                     %d\n", sys.last_calc_type);
  host_printf("    Whether calculation time should be shown:       %d\n", sys.show_times);
  host_printf("    Seconds between showing times                   %d s\n", sys.time_interval);
  host_printf("    Threads used by a calculation:                  %d\n", sys.threads);
  host_printf("\n");
  host_printf("A boolean value of 1 indicates true, 0 indicates false\n");
}
