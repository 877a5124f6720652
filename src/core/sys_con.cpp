// The configuration record's defaults (threads: the cores this process may use) and the two
// helpers every room uses with it: debug traces and the thread count of a calculation.
#include "core/sys_con.h"

#include "core/thread_pool.h"
#include "host/console.h"

// The apertures are released one by one (with their traces) before the record ends, by the
// release of the system.
sys_con::sys_con() : threads(available_cores()) {}
sys_con::~sys_con() = default;

void debug_trace(const sys_con& sys, const char* text) {
  if (sys.debug) host_printf("Orvel debug message: %s \n", text);
}

int32_t calculation_threads(const sys_con& sys) {
  if (sys.debug) return 1;
  return sys.threads >= 1 ? sys.threads : 1;
}
