// The aperture table of sys_con and the handlers of the transducer commands.
#pragma once

#include "apertures/aperture.h"
#include "core/sys_con.h"
#include "gateway/arguments.h"

// The common opening of every handler: the debug trace, then the argument count.
void open_command(const sys_con& sys, const command_args& args, int min_args, const char* trace,
                  const char* too_few);

point3 to_point(const point_value& p);

// Sub-element counts whose products must fit the 32-bit counts of the records.
// Also refuses the records of elements and rectangles that the memory the process can have now
// could not hold.
void check_sizes(int64_t elements, int32_t sub_x, int32_t sub_y);
void check_records(int64_t elements, int64_t rectangles);

// What a new aperture is made of, for the conversion the options use_triangles and use_lines
// ask for: rectangles of an array (converted silently), the squares of a piston or a concave
// transducer (converted with a warning), or elements the user listed (never converted).
enum class aperture_origin { array, piston, concave, user_elements };

// Converts the new aperture as its origin and the options say, registers it and returns its
// handle as the command's result.
void return_handle(sys_con& sys, const command_args& args, aperture_ptr ap,
                   aperture_origin origin = aperture_origin::array);

// Puts the aperture into the first empty slot (or a new last one) and returns its handle.
int32_t register_aperture(sys_con& sys, aperture_ptr ap);
// The aperture of a handle given as a host number; ends the command for an invalid handle.
aperture_rec& lookup_aperture(sys_con& sys, double handle);
size_t lookup_slot(sys_con& sys, double handle);
// The slot a handle names: a whole number up to rounding error, else refused.
int32_t handle_index(double handle);
aperture_rec& lookup_aperture(sys_con& sys, const mxArray* handle);

void cmd_linear_array(sys_con& sys, const command_args& args);             // 1001
void cmd_2d_array(sys_con& sys, const command_args& args);                 // 1002
void cmd_focused_array(sys_con& sys, const command_args& args);            // 1003
void cmd_convex_array(sys_con& sys, const command_args& args);             // 1004
void cmd_convex_focused_array(sys_con& sys, const command_args& args);     // 1005
void cmd_piston(sys_con& sys, const command_args& args);                   // 1010
void cmd_concave(sys_con& sys, const command_args& args);                  // 1011
void cmd_linear_multirow(sys_con& sys, const command_args& args);          // 1012
void cmd_focused_multirow(sys_con& sys, const command_args& args);         // 1013
void cmd_convex_focused_multirow(sys_con& sys, const command_args& args);  // 1014
void cmd_triangles_old(sys_con& sys, const command_args& args);            // 1020
void cmd_rectangles(sys_con& sys, const command_args& args);               // 1021
void cmd_line_elements(sys_con& sys, const command_args& args);            // 1022
void cmd_triangles(sys_con& sys, const command_args& args);                // 1023
void cmd_convert(sys_con& sys, const command_args& args);                  // 1030
void cmd_line_convert(sys_con& sys, const command_args& args);             // 1031
void cmd_free(sys_con& sys, const command_args& args);                     // 1040
void cmd_impulse(sys_con& sys, const command_args& args);                  // 1050
void cmd_excitation(sys_con& sys, const command_args& args);               // 1051
void cmd_focus(sys_con& sys, const command_args& args);                    // 1060
void cmd_focus_delays(sys_con& sys, const command_args& args);             // 1061
void cmd_dynamic_focusing(sys_con& sys, const command_args& args);         // 1062
void cmd_center_focus(sys_con& sys, const command_args& args);             // 1063
void cmd_quantization(sys_con& sys, const command_args& args);             // 1065
void cmd_baffle(sys_con& sys, const command_args& args);                   // 1066
void cmd_apodization(sys_con& sys, const command_args& args);              // 1070
void cmd_ele_apodization(sys_con& sys, const command_args& args);          // 1080
void cmd_ele_delay(sys_con& sys, const command_args& args);                // 1081
void cmd_ele_waveform(sys_con& sys, const command_args& args);             // 1082
void cmd_show(sys_con& sys, const command_args& args);                     // 1100
void cmd_get(sys_con& sys, const command_args& args);                      // 1101
