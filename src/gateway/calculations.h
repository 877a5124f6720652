// Handlers of the field calculation commands.
#pragma once

#include <vector>

#include "core/sys_con.h"
#include "gateway/arguments.h"
#include "signals/signal_store.h"

void cmd_calc_h(sys_con& sys, const command_args& args);                      // 4001
void cmd_calc_hp(sys_con& sys, const command_args& args);                     // 4002
void cmd_calc_hhp(sys_con& sys, const command_args& args);                    // 4003
void cmd_calc_scat(sys_con& sys, const command_args& args);                   // 4005
void cmd_calc_scat_multi(sys_con& sys, const command_args& args);             // 4006
void cmd_calc_scat_all(sys_con& sys, const command_args& args);               // 4007
void cmd_calc_hp_non_linear(sys_con& sys, const command_args& args);          // 4012
void cmd_calc_hhp_non_linear(sys_con& sys, const command_args& args);         // 4013
void cmd_calc_scat_non_linear(sys_con& sys, const command_args& args);        // 4014
void cmd_calc_scat_multi_non_linear(sys_con& sys, const command_args& args);  // 4015
void cmd_calc_hp_map(sys_con& sys, const command_args& args);                 // 7002
void cmd_calc_hhp_map(sys_con& sys, const command_args& args);                // 7003

// Results of a calculation, the signals released afterwards. Several signals go into one
// matrix, column k holding signal k at its offset from the earliest start S, with one trailing
// row of zeros; an empty signal (no contribution) leaves a zero column. A single signal is one
// column without the trailing row. Result 2 (made only when the host asked for two results) is
// the time of row 0 [s].
void return_aligned(sys_con& sys, const command_args& args, std::vector<signal_ptr>& signals);
void return_single(sys_con& sys, const command_args& args, signal_ptr& s);
