// Handlers of the field calculation commands.
#pragma once

#include "gateway/gateway.h"

void cmd_calc_h(sys_con& sys, const command_args& args);           // 4001
void cmd_calc_hp(sys_con& sys, const command_args& args);          // 4002
void cmd_calc_hhp(sys_con& sys, const command_args& args);         // 4003
void cmd_calc_scat(sys_con& sys, const command_args& args);        // 4005
void cmd_calc_scat_multi(sys_con& sys, const command_args& args);  // 4006
