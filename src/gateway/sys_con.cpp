#include "gateway/sys_con.h"

#include "apertures/aperture.h"
#include "host/console.h"

// The table's slots own aperture records, so the record's end needs their full type; the
// apertures themselves are released one by one (with their traces) before, by the release.
sys_con::sys_con() = default;
sys_con::~sys_con() = default;

void debug_trace(const sys_con& sys, const char* text) {
  if (sys.debug) host_printf("Orvel debug message: %s \n", text);
}
