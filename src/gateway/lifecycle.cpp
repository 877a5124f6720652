// The lifecycle of the system: initialisation, end, the release shared by the end command and
// the unload hook, and the module's state between host calls.
#include <cstdio>
#include <memory>

#include "apertures/aperture.h"
#include "core/errors.h"
#include "gateway/gateway.h"
#include "host/console.h"
#include "signals/fft.h"

// ORVEL_VERSION is the one in the file VERSION, defined by the build for this file.
#ifndef ORVEL_VERSION
#error "ORVEL_VERSION is not defined: compile with -DORVEL_VERSION=\"x.y.z\" from the file VERSION"
#endif
const char* const orvel_version = "Orvel version " ORVEL_VERSION;

namespace {
int32_t init_flag = 0;             // 1 while the system is initialised
std::unique_ptr<sys_con> current;  // the record of the last successful initialisation

constexpr int banner_width = 60;  // text between the frame's two '*'

void print_banner() {
  static const char* const text[] = {
      "",
      "O R V E L",
      "",
      "Simulation of ultrasound imaging systems",
      "by the spatial impulse response method",
      "",
      orvel_version,
      "",
      "Emitted, pulse-echo and scattered fields of pistons,",
      "linear, convex, multi-row and 2-D array transducers",
      "",
      "Type 'help orvel_init' for a first look at the commands",
      "Use orvel_init(-1) to start without this banner",
  };
  char rule[banner_width + 1];
  for (int i = 0; i < banner_width; ++i) rule[i] = '-';
  rule[banner_width] = '\0';
  host_printf("      *%s*\n", rule);
  for (const char* line : text) host_printf("      *     %-*s*\n", banner_width - 5, line);
  host_printf("      *%s*\n", rule);
}

void at_exit_routine() {
  if (!current || current->state == 0) return;
  host_printf("Orvel is terminating due to a break in the program.\n");
  host_printf("The memory is being released now.\n");
  host_printf("You must call orvel_init before you can use Orvel again.\n");
  release_all(*current);
}
}  // namespace

bool orvel_initialised() { return init_flag == 1; }

sys_con& current_sys() { return *current; }

void orvel_init(const command_args& args) {
  if (init_flag == 1)
    throw command_error(
        "Orvel error: Orvel already initialized. Call orvel_end before reinitializing.");
  if (args.nrhs < 2)
    throw command_error("Internal Error 5: Too few parameters to initialize program");
  const int32_t mode = read_whole(args.arg(2), "The display mode");

  // The record of an earlier, released initialisation holds no apertures and no signals.
  current = std::make_unique<sys_con>();
  sys_con& sys = *current;
  if (mode > 0) host_eval("orvel_logo;");
  sys.quiet = mode < 0 ? 1 : 0;
  if (mode >= 0) print_banner();
  sys.show_times = mode < 0 ? 0 : 1;
  sys.state = 1;
  init_flag = 1;
  host_at_exit(at_exit_routine);
}

void orvel_end(sys_con& sys) { release_all(sys); }

void release_all(sys_con& sys) {
  sys.state = 0;
  for (aperture_ptr& ap : sys.apertures) free_aperture(sys, ap);
  sys.apertures.clear();
  sys.apertures.shrink_to_fit();
  sys.no_apertures = 0;
  release_fft_plans();
  init_flag = 0;
}
