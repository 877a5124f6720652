// The general commands that change or show the configuration: debug flag, sampling frequency,
// option setter and configuration report.
#include <cctype>
#include <string>

#include "core/errors.h"
#include "gateway/gateway.h"
#include "host/console.h"

namespace {
// The range in which an option gives a meaningful calculation whose numbers double precision
// holds; a value outside it is refused when it is set, with the range in the text. open_low:
// the lower bound itself is outside (a step or an impedance of 0).
struct value_range {
  double lo, hi;
  bool open_low;
  const char* unit;  // after a number in the text, with its blank; "" for none
};

double in_range(double v, const char* what, const value_range& r) {
  const bool low_ok = r.open_low ? v > r.lo : v >= r.lo;
  if (!(low_ok && v <= r.hi))
    throw command_error(format_text("Error: %s must be %s %g%s and at most %g%s, but is %g", what,
                                    r.open_low ? "greater than" : "at least", r.lo, r.unit, r.hi,
                                    r.unit, v));
  return v;
}

// Sound in bubbly liquids travels at about 20 m/s, in the fastest solids at about 18 km/s;
// below 10 m/s a response stretches over so many samples that a calculation takes minutes.
constexpr value_range speed_range{10.0, 1e5, false, " m/s"};
// From audio to a terahertz: below 1 kHz no ultrasound is sampled, and at 1e-200 Hz the factors
// 1/fs of the convolutions overflow; above 1 THz the time of flight over a few metres has more
// samples than the 32-bit sample counts hold.
constexpr value_range sampling_range{1e3, 1e12, false, " Hz"};

double sampling_frequency(double v, const char* what) { return in_range(v, what, sampling_range); }

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

// Keys of the option setter, compared in this order with the whole lower-cased name. A value
// option is checked against its range, a flag against the 16-bit range, a rounded one against
// the 32-bit range (and then by its own setter).
enum class option_kind { value, flag, rounded };
struct option_key {
  const char* key;
  option_kind kind;
  const char* what;   // the option in a refusal's text
  value_range range;  // of a value option
  void (*apply)(sys_con& sys, double value, int32_t rounded);
  double (*get)(const sys_con& sys);  // the value that, set again, gives the state in force
};

constexpr value_range any_value{-1.79e308, 1.79e308, false, ""};  // every finite value

const option_key option_keys[] = {
    {"use_att", option_kind::value, "The option use_att", any_value,
     [](sys_con& s, double v, int32_t) { s.use_att = v != 0.0 ? 1 : 0; },
     [](const sys_con& s) -> double { return s.use_att; }},
    // A loss, not a gain: a negative value amplifies exponentially with the distance. 1e5 dB/m
    // (100 dB/mm) leaves nothing of a wave after a millimetre.
    {"att",
     option_kind::value,
     "The frequency independent attenuation att",
     {0.0, 1e5, false, " dB/m"},
     [](sys_con& s, double v, int32_t) { s.att = v; },
     [](const sys_con& s) -> double { return s.att; }},
    // Bone, the most attenuating tissue, has about 2e-3 dB/(m Hz) (20 dB/(cm MHz)); a negative
    // value, or one of 1 and more, overflows the spectrum's gain.
    {"freq_att",
     option_kind::value,
     "The frequency dependent attenuation freq_att",
     {0.0, 1e-2, false, " dB/(m Hz)"},
     [](sys_con& s, double v, int32_t) { s.freq_att = v; },
     [](const sys_con& s) -> double { return s.freq_att; }},
    // A frequency on the grid of the highest sampling frequency; a calculation also wants it at
    // most fs / 2 (see the calculation commands).
    {"att_f0",
     option_kind::value,
     "The attenuation centre frequency att_f0",
     {0.0, 5e11, false, " Hz"},
     [](sys_con& s, double v, int32_t) { s.att_f0 = v; },
     [](const sys_con& s) -> double { return s.att_f0; }},
    // The dispersion phase grows like w (ln w - tau_m), ln w between 1.8 (1 Hz) and 29 (1 THz);
    // a tau_m of 1e308 would leave the phase's range.
    {"tau_m",
     option_kind::value,
     "The constant tau_m",
     {-100.0, 100.0, false, ""},
     [](sys_con& s, double v, int32_t) { s.tau_m = v; },
     [](const sys_con& s) -> double { return s.tau_m; }},
    // From gases (about 400 kg/(m^2 s)) to the densest metals (about 1e8).
    {"z",
     option_kind::value,
     "The characteristic acoustic impedance z",
     {0.0, 1e9, true, " kg/(m^2 s)"},
     [](sys_con& s, double v, int32_t) { s.z = v; },
     [](const sys_con& s) -> double { return s.z; }},
    {"dz",
     option_kind::value,
     "The propagation step dz",
     {0.0, 1.0, true, " m"},
     [](sys_con& s, double v, int32_t) { s.dz = v; },
     [](const sys_con& s) -> double { return s.dz; }},
    // Liquids and tissues have 3 to 13, bubbly liquids up to some thousands.
    {"bdiva",
     option_kind::value,
     "The non-linearity parameter BdivA",
     {-1e4, 1e4, false, ""},
     [](sys_con& s, double v, int32_t) { s.BdivA = v; },
     [](const sys_con& s) -> double { return s.BdivA; }},
    // From hydrogen (0.09 kg/m^3) to the densest metals (22,600).
    {"rho",
     option_kind::value,
     "The density rho",
     {0.0, 1e5, true, " kg/m^3"},
     [](sys_con& s, double v, int32_t) { s.rho = v; },
     [](const sys_con& s) -> double { return s.rho; }},
    {"debug", option_kind::flag, "The option debug", any_value,
     [](sys_con& s, double, int32_t n) { s.debug = static_cast<int16_t>(n); },
     [](const sys_con& s) -> double { return s.debug; }},
    {"accurate_time_calc", option_kind::flag, "The option accurate_time_calc", any_value,
     [](sys_con& s, double, int32_t n) { s.accurate_time_calc = static_cast<int16_t>(n); },
     [](const sys_con& s) -> double { return s.accurate_time_calc; }},
    {"fast_integration", option_kind::flag, "The option fast_integration", any_value,
     [](sys_con& s, double, int32_t n) { s.fast_integration = static_cast<int16_t>(n); },
     [](const sys_con& s) -> double { return s.fast_integration; }},
    {"show_times", option_kind::rounded, "The option show_times", any_value,
     [](sys_con& s, double, int32_t n) { set_show_times(s, n); },
     [](const sys_con& s) -> double { return s.show_times ? s.time_interval : 0; }},
    {"use_rectangles", option_kind::flag, "The option use_rectangles", any_value,
     [](sys_con& s, double, int32_t n) { set_use_rectangles(s, static_cast<int16_t>(n)); },
     [](const sys_con& s) -> double { return s.use_rectangles; }},
    {"use_triangles", option_kind::flag, "The option use_triangles", any_value,
     [](sys_con& s, double, int32_t n) { set_use_triangles(s, static_cast<int16_t>(n)); },
     [](const sys_con& s) -> double { return s.use_triangles; }},
    {"use_lines", option_kind::flag, "The option use_lines", any_value,
     [](sys_con& s, double, int32_t n) { set_use_lines(s, static_cast<int16_t>(n)); },
     [](const sys_con& s) -> double { return s.use_lines; }},
    {"c", option_kind::value, "The speed of sound c", speed_range,
     [](sys_con& s, double v, int32_t) { s.c = v; },
     [](const sys_con& s) -> double { return s.c; }},
    {"fs", option_kind::value, "The sampling frequency fs", sampling_range,
     [](sys_con& s, double v, int32_t) {
       s.fs = v;
       sampling_warning(s);
     },
     [](const sys_con& s) { return s.fs; }},
    {"threads", option_kind::rounded, "The option threads", any_value, set_threads,
     [](const sys_con& s) -> double { return s.threads; }},
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
  sys.fs = sampling_frequency(read_number(args.arg(2), "The sampling frequency"),
                              "The sampling frequency");
  sampling_warning(sys);
}

namespace {
// The option name of argument 2, lower-cased as the keys are.
std::string option_name(const command_args& args) {
  char name[200];  // the host's text copy holds at most 199 characters
  read_text(args.arg(2), name, sizeof name, "The option name");
  for (char* p = name; *p; ++p)
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return name;
}

const option_key* find_option(const std::string& name) {
  for (const option_key& k : option_keys)
    if (name == k.key) return &k;
  return nullptr;
}
}  // namespace

void set_option(sys_con& sys, const command_args& args) {
  if (args.nrhs < 3)
    throw command_error("Internal Error 5: Too few parameters to set program option");
  const std::string name = option_name(args);
  const double value = read_number(args.arg(3), "The option value");
  if (sys.debug) host_printf("Setting option %s in program to %10.4f \n", name.c_str(), value);
  const option_key* k = find_option(name);
  if (!k) {
    host_printf("Trying to set option: %s \n", name.c_str());
    throw command_error(
        format_text("Error: Option not found in program\nThe option name was: %s", name.c_str()));
  }
  int32_t rounded = 0;
  if (k->kind == option_kind::value) in_range(value, k->what, k->range);
  if (k->kind == option_kind::flag) rounded = round_flag(value, k->what);
  if (k->kind == option_kind::rounded) rounded = round_whole(value, k->what);
  k->apply(sys, value, rounded);
}

void get_option(sys_con& sys, const command_args& args) {
  if (args.nrhs < 2)
    throw command_error("Error: get_option needs the name of an option, as set_option takes it");
  const std::string name = option_name(args);
  const option_key* k = find_option(name);
  if (!k) {
    std::string names;
    for (const option_key& o : option_keys) names += std::string(names.empty() ? "" : ", ") + o.key;
    throw command_error(format_text("Error: There is no option named %s; the options are %s",
                                    name.c_str(), names.c_str()));
  }
  mxArray* result = host_new_matrix(1, 1);
  host_matrix_values(result)[0] = k->get(sys);
  args.plhs[0] = result;
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
  host_printf("    Density of the medium (field maps):          %10.4f kg/m^3 \n", sys.rho);
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
