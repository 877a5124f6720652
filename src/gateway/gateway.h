// The entry point's view of the commands: the lifecycle of the system and the handlers of the
// general commands. Handlers get sys_con first; the transducer and calculation handlers are
// declared by their own headers.
#pragma once

#include "core/sys_con.h"
#include "gateway/arguments.h"

using command_handler = void (*)(sys_con& sys, const command_args& args);

// Lifecycle.
bool orvel_initialised();
sys_con& current_sys();                     // valid while initialised
void orvel_init(const command_args& args);  // 5001
void orvel_end(sys_con& sys);               // 5002
void release_all(sys_con& sys);

// General commands.
void set_debug_flag(sys_con& sys, const command_args& args);          // 5010
void set_sampling_frequency(sys_con& sys, const command_args& args);  // 5020
void set_option(sys_con& sys, const command_args& args);              // 5050
void show_configuration(sys_con& sys, const command_args& args);      // 5051

// Orvel's own commands.
void get_option(sys_con& sys, const command_args& args);                // 7001
void das_image_command(sys_con& sys, const command_args& args);         // 7010
void iq_demodulate_command(sys_con& sys, const command_args& args);     // 7011
void clutter_filter_command(sys_con& sys, const command_args& args);    // 7012
void color_flow_command(sys_con& sys, const command_args& args);        // 7013
void doppler_spectrum_command(sys_con& sys, const command_args& args);  // 7014

extern const char* const orvel_version;
