// The entry point: decodes the command code, checks initialisation, looks the code up in the
// table of its module and runs the handler. Command errors come back as one exception type and
// reach the host's error call only after every object of the command has been destroyed.
#include "gateway/gateway.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/errors.h"
#include "gateway/calculations.h"
#include "gateway/transducers.h"
#include "host/console.h"

namespace {
// A handler of null means the command is known but not available in this version.
struct command_entry {
  int32_t code;
  const char* name;
  command_handler run;
  int32_t calc_type = -1;  // a calculation: its type for orvel_info, recorded once it completed
                           // (0 h, 1 hp, 2 hhp, 3 scat, 4 scat_multi, 5 scat_all); -1 none
  bool stateless = false;  // runs on plain data, also before orvel_init (with the defaults)
};

const command_entry transducer_commands[] = {
    {1001, "xdc_linear_array", cmd_linear_array},
    {1002, "xdc_2d_array", cmd_2d_array},
    {1003, "xdc_focused_array", cmd_focused_array},
    {1004, "xdc_convex_array", cmd_convex_array},
    {1005, "xdc_convex_focused_array", cmd_convex_focused_array},
    {1010, "xdc_piston", cmd_piston},
    {1011, "xdc_concave", cmd_concave},
    {1012, "xdc_linear_multirow", cmd_linear_multirow},
    {1013, "xdc_focused_multirow", cmd_focused_multirow},
    {1014, "xdc_convex_focused_multirow", cmd_convex_focused_multirow},
    {1020, "xdc_triangles_old", cmd_triangles_old},
    {1021, "xdc_rectangles", cmd_rectangles},
    {1022, "xdc_line_elements", cmd_line_elements},
    {1023, "xdc_triangles", cmd_triangles},
    {1030, "xdc_convert", cmd_convert},
    {1031, "xdc_line_convert", cmd_line_convert},
    {1040, "xdc_free", cmd_free},
    {1050, "xdc_impulse", cmd_impulse},
    {1051, "xdc_excitation", cmd_excitation},
    {1060, "xdc_focus", cmd_focus},
    {1061, "xdc_focus_delays", cmd_focus_delays},
    {1062, "xdc_dynamic_focusing", cmd_dynamic_focusing},
    {1063, "xdc_center_focus", cmd_center_focus},
    {1065, "xdc_quantization", cmd_quantization},
    {1066, "xdc_baffle", cmd_baffle},
    {1070, "xdc_apodization", cmd_apodization},
    {1080, "ele_apodization", cmd_ele_apodization},
    {1081, "ele_delay", cmd_ele_delay},
    {1082, "ele_waveform", cmd_ele_waveform},
    {1100, "xdc_show", cmd_show},
    {1101, "xdc_get", cmd_get},
};

const command_entry calculation_commands[] = {
    {4001, "calc_h", cmd_calc_h, 0},
    {4002, "calc_hp", cmd_calc_hp, 1},
    {4003, "calc_hhp", cmd_calc_hhp, 2},
    {4005, "calc_scat", cmd_calc_scat, 3},
    {4006, "calc_scat_multi", cmd_calc_scat_multi, 4},
    {4007, "calc_scat_all", cmd_calc_scat_all, 5},
    {4012, "calc_hp_non_linear", cmd_calc_hp_non_linear, 1},
    {4013, "calc_hhp_non_linear", cmd_calc_hhp_non_linear, 2},
    {4014, "calc_scat_non_linear", cmd_calc_scat_non_linear, 3},
    {4015, "calc_scat_multi_non_linear", cmd_calc_scat_multi_non_linear, 4},
};

constexpr int32_t init_code = 5001;

const command_entry general_commands[] = {
    {init_code, "orvel_init", nullptr},  // runs before a sys_con exists; see dispatch
    {5002, "orvel_end", [](sys_con& sys, const command_args&) { orvel_end(sys); }},
    {5010, "orvel_debug", set_debug_flag},
    {5020, "set_sampling", set_sampling_frequency},
    {5050, "set_option", set_option},
    {5051, "orvel_info", show_configuration},
};

// Orvel's own commands, beyond the documented table: a main code that no documented command
// uses, so that their codes never meet a documented one.
const command_entry own_commands[] = {
    {7001, "get_option", get_option},
    {7002, "calc_hp_map", cmd_calc_hp_map, 1},
    {7003, "calc_hhp_map", cmd_calc_hhp_map, 2},
    {7010, "das_image", das_image_command, -1, true},
    {7011, "iq_demodulate", iq_demodulate_command, -1, true},
    {7012, "clutter_filter", clutter_filter_command, -1, true},
    {7013, "color_flow", color_flow_command, -1, true},
    {7014, "doppler_spectrum", doppler_spectrum_command, -1, true},
};

struct command_module {
  const command_entry* begin;
  const command_entry* end;
  const char* illegal_function;
};

template <size_t N>
command_module module_of(const command_entry (&table)[N], const char* illegal) {
  return {table, table + N, illegal};
}

void dispatch(const command_args& args) {
  if (args.nrhs == 0)
    throw command_error("Internal Error 1: Orvel_mex must be called with at least one argument");
  const int32_t code = read_whole(args.arg(1), "The command code");
  const int32_t main_code = code / 1000;  // truncated toward zero; the tables hold whole codes

  command_module module;
  switch (main_code) {
    case 1:
      module = module_of(transducer_commands,
                         "Internal Error 4: Illegal function_code found in Orvel_mex, module "
                         "Transducer commands.");
      break;
    case 4:
      module = module_of(calculation_commands,
                         "Internal Error 4: Illegal function_code found in Orvel_mex, module "
                         "Field calculation.");
      break;
    case 5:
      module = module_of(general_commands,
                         "Internal Error 4: Illegal function_code found in Orvel_mex, module "
                         "General commands.");
      break;
    case 7:
      module = module_of(own_commands,
                         "Internal Error 4: Illegal function_code found in Orvel_mex, module "
                         "Orvel commands.");
      break;
    default:
      if (!orvel_initialised())
        throw command_error(
            "Error: You must call orvel_init as the first procedure to initialize orvel");
      throw command_error("Internal Error 3: Illegal main_code found in Orvel_mex.");
  }
  const command_entry* entry = module.begin;
  while (entry != module.end && entry->code != code) ++entry;
  const bool stateless = entry != module.end && entry->stateless;
  if (!orvel_initialised() && code != init_code && !stateless)
    throw command_error(
        "Error: You must call orvel_init as the first procedure to initialize orvel");
  if (entry == module.end) throw command_error(module.illegal_function);

  if (entry->code == init_code) {
    orvel_init(args);
  } else if (!entry->run) {
    throw command_error(
        format_text("Error: The command %s (code %d) is not available yet in this version of Orvel",
                    entry->name, entry->code));
  } else if (stateless && !orvel_initialised()) {
    sys_con defaults;  // threads: every usable core
    entry->run(defaults, args);
  } else {
    entry->run(current_sys(), args);
    // Only a calculation that completed counts: one refused part-way has thrown past this.
    if (entry->calc_type >= 0) current_sys().last_calc_type = entry->calc_type;
  }
}

// The text handed to the host's error call; static, because that call may not return through
// this function's frame (a host may unwind it without running destructors).
char error_text[2048];

void keep_error_text(const char* text) { std::snprintf(error_text, sizeof error_text, "%s", text); }

// Runs one command; false with error_text set when it failed. Every object of the command is
// destroyed when this returns.
bool run_command(const command_args& args) noexcept {
  try {
    dispatch(args);
    return true;
  } catch (const command_error& e) {
    keep_error_text(e.what());
  } catch (const std::bad_alloc&) {
    keep_error_text("Orvel error: Not enough memory to complete the command");
  } catch (const std::exception& e) {
    // Octave's own errors name the module, and so will the host's error call that shows this.
    constexpr char module_name[] = "Orvel_mex: ";
    const char* what = e.what();
    if (std::strncmp(what, module_name, sizeof module_name - 1) == 0)
      what += sizeof module_name - 1;
    std::snprintf(error_text, sizeof error_text, "Orvel error: Unexpected failure: %s", what);
  }
  return false;
}

// True while a command runs. The host may run script code during a command (the logo, the
// redraws of the progress display); a call of the module from there would change or free what
// the running command (and its worker threads) is using, so it is refused, changing nothing.
bool command_running = false;
}  // namespace

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (command_running)
    host_error(
        "Error: Orvel_mex was called while one of its commands was running (from host code "
        "that the command ran, such as drawnow or orvel_logo); the call is refused");
  command_running = true;
  const bool done = run_command(command_args{nlhs, plhs, nrhs, prhs});
  command_running = false;
  host_pass_on_exit();
  if (!done) host_error(error_text);
}
