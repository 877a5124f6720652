// Aperture records: creation (name, time stamp, one-sample pulses of value 1), release of a
// whole aperture, and replacement of its pulses. An aperture owns its signals; every one leaves
// through free_signal, so the store's byte count stays exact.
#include "apertures/aperture.h"

#include <cstdio>
#include <ctime>

#include "core/sys_con.h"

void format_created(long long t, char* out) {
  // English names whatever the host's locale is.
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm local{};
  localtime_r(&tt, &local);
  std::snprintf(out, 40, "%s %s %2d %02d:%02d:%02d %04d\n", days[local.tm_wday % 7],
                months[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                local.tm_year + 1900);
}

aperture_ptr new_aperture(sys_con& sys, const char* name) {
  aperture_ptr ap(new aperture_rec);
  std::snprintf(ap->name, sizeof ap->name, "%s", name);
  format_created(static_cast<long long>(std::time(nullptr)), ap->created);
  ap->impulse = alloc_signal(sys, 1, 0);
  ap->impulse->data[0] = 1.0;
  ap->excitation = alloc_signal(sys, 1, 0);
  ap->excitation->data[0] = 1.0;
  return ap;
}

void aperture_delete::operator()(aperture_rec* ap) const { delete ap; }

void free_aperture(sys_con& sys, aperture_ptr& ap) {
  if (!ap) return;
  for (phys_element& e : ap->phys_elements) free_signal(sys, e.waveform);
  ap->phys_elements.clear();
  free_signal(sys, ap->impulse);
  free_signal(sys, ap->excitation);
  ap.reset();
}

void xdc_impulse(sys_con& sys, aperture_rec& ap, signal_ptr s) {
  free_signal(sys, ap.impulse);
  ap.impulse = std::move(s);
}

void xdc_excitation(sys_con& sys, aperture_rec& ap, signal_ptr s) {
  free_signal(sys, ap.excitation);
  ap.excitation = std::move(s);
}
