// Focus and apodization time lines and the settings of single elements. A time line is kept
// sorted by its entries' times, its first entry never displaced; a whole line is built apart
// and then swapped in, so a refused table leaves the old line. Focusing delays count from the
// reference point's time of flight and are quantized when the aperture asks for it.
#include "apertures/time_lines.h"

#include <cmath>
#include <utility>

#include "core/sys_con.h"
#include "host/console.h"

namespace {
// Links an entry into a time line: after the last entry, counted from the first, whose
// successor switches earlier than the new entry. The first entry is never displaced.
// Returns the new value of the line's single flag.
template <class Entry>
int16_t link_entry(std::vector<Entry>& line, Entry entry) {
  if (line.empty()) {
    line.push_back(std::move(entry));
    return 1;
  }
  size_t k = 0;
  while (k + 1 < line.size() && entry.time > line[k + 1].time) ++k;
  line.insert(line.begin() + static_cast<std::ptrdiff_t>(k + 1), std::move(entry));
  return 0;
}

// A whole time line of entries at times, entry k taking vectors[k] as its per-element values,
// built and then swapped in; returns the line's single flag.
template <class Entry>
int16_t replace_line(std::vector<Entry>& target, const std::vector<double>& times,
                     std::vector<std::vector<double>>& vectors,
                     std::vector<double> Entry::*values) {
  std::vector<Entry> line;
  int16_t single = 0;
  for (size_t k = 0; k < times.size(); ++k) {
    Entry e;
    e.time = times[k];
    e.*values = std::move(vectors[k]);
    single = link_entry(line, std::move(e));
  }
  target.swap(line);
  return single;
}

focus_entry fixed_focus_entry(const sys_con& sys, const aperture_rec& ap, double time,
                              const point3& focus) {
  focus_entry e;
  e.time = time;
  e.dynamic = 0;
  e.focus_point = focus;
  e.delays.resize(static_cast<size_t>(ap.no_phys_elements));
  const double tr = point_distance(ap.ref_point, focus) / sys.c;
  for (int32_t i = 0; i < ap.no_phys_elements; ++i)
    e.delays[i] = point_distance(ap.phys_elements[i].center, focus) / sys.c;
  focus_delays(ap.no_phys_elements, e.delays.data(), ap.quantize, ap.quant_step, tr);
  return e;
}

// The mathematical elements' apodization or delay of the listed physical elements.
void set_element_values(aperture_rec& ap, const std::vector<int32_t>& numbers, int32_t m,
                        const std::vector<std::vector<double>>& values, bool apodization) {
  const char* const illegal =
      apodization
          ? "Orvel error: Illegal element number when setting mathematical element apodization\n"
          : "Orvel error: Illegal element number when setting mathematical element delay\n";
  const char* const too_few =
      apodization ? "Orvel error: Not enough values to set mathematical element apodization\n"
                  : "Orvel error: Not enough values to set mathematical element delay\n";
  for (size_t k = 0; k < numbers.size(); ++k) {
    const int32_t e = numbers[k];
    if (e < 1 || e > ap.no_phys_elements) {
      host_printf("%s", illegal);
      continue;
    }
    phys_element& pe = ap.phys_elements[static_cast<size_t>(e - 1)];
    // The first kind of mathematical element the physical element has.
    const int32_t count = pe.no_rects ? pe.no_rects : pe.no_tris ? pe.no_tris : pe.no_line_elems;
    if (count == 0) continue;
    if (count > m) {
      host_printf("%s", too_few);
      continue;
    }
    const std::vector<double>& v = values[k];
    for (int32_t j = 0; j < count; ++j) {
      double& field = pe.no_rects ? (apodization ? pe.rects[j].apodization : pe.rects[j].delay)
                      : pe.no_tris
                          ? (apodization ? pe.tris[j].apodization : pe.tris[j].delay)
                          : (apodization ? pe.line_elems[j].apodization : pe.line_elems[j].delay);
      field = v[static_cast<size_t>(j)];
    }
  }
}

// The entry in force at time te: from the first entry, move on while the next switches earlier.
template <class Entry>
const Entry& entry_at(const std::vector<Entry>& line, double te) {
  size_t k = 0;
  while (k + 1 < line.size() && te > line[k + 1].time) ++k;
  return line[k];
}
}  // namespace

void focus_delays(int32_t n, double* d, int16_t quantize, double q, double tr) {
  for (int32_t i = 0; i < n; ++i) {
    if (quantize)
      d[i] = std::floor((tr - d[i]) / q + 0.5) * q;
    else
      d[i] = tr - d[i];
  }
}

void insert_focus_entry(sys_con& sys, aperture_rec& ap, double time, const point3& focus) {
  ap.single_focus = link_entry(ap.focus_line, fixed_focus_entry(sys, ap, time, focus));
}

void xdc_focus(sys_con& sys, aperture_rec& ap, const std::vector<double>& times,
               const std::vector<point3>& points) {
  std::vector<focus_entry> line;  // built whole, then swapped in
  int16_t single = 0;
  for (size_t k = 0; k < times.size(); ++k)
    single = link_entry(line, fixed_focus_entry(sys, ap, times[k], points[k]));
  ap.focus_line.swap(line);
  ap.single_focus = single;
}

void xdc_focus_delays(sys_con&, aperture_rec& ap, const std::vector<double>& times,
                      std::vector<std::vector<double>> delays) {
  // Delays are used as given: no reference point, no quantization.
  ap.single_focus = replace_line(ap.focus_line, times, delays, &focus_entry::delays);
}

void xdc_dynamic_focusing(sys_con&, aperture_rec& ap, double time, double angle_xz,
                          double angle_yz) {
  focus_entry e;
  e.time = time;
  e.dynamic = 1;
  e.angle_xz = angle_xz;
  e.angle_yz = angle_yz;
  std::vector<focus_entry> line;
  line.push_back(std::move(e));
  ap.focus_line.swap(line);
  ap.single_focus = 0;
}

void xdc_center_focus(sys_con&, aperture_rec& ap, const point3& point) { ap.ref_point = point; }

void xdc_quantization(aperture_rec& ap, double step) {
  ap.quant_step = step;
  ap.quantize = step != 0.0 ? 1 : 0;
}

void xdc_baffle(aperture_rec& ap, bool soft) { ap.soft_baffle = soft ? 1 : 0; }

void xdc_apodization(sys_con&, aperture_rec& ap, const std::vector<double>& times,
                     std::vector<std::vector<double>> values) {
  ap.single_apod = replace_line(ap.apod_line, times, values, &apod_entry::values);
}

void ele_apodization(aperture_rec& ap, const std::vector<int32_t>& numbers, int32_t m,
                     const std::vector<std::vector<double>>& values) {
  set_element_values(ap, numbers, m, values, true);
}

void ele_delay(aperture_rec& ap, const std::vector<int32_t>& numbers, int32_t m,
               const std::vector<std::vector<double>>& values) {
  set_element_values(ap, numbers, m, values, false);
}

void ele_waveform(sys_con& sys, aperture_rec& ap, const std::vector<int32_t>& numbers, int32_t m,
                  const std::vector<std::vector<double>>& samples) {
  for (size_t k = 0; k < numbers.size(); ++k) {
    const int32_t e = numbers[k];
    if (e < 1 || e > ap.no_phys_elements) {
      host_printf("Orvel error: Illegal element number when setting physical element waveform\n");
      continue;
    }
    phys_element& pe = ap.phys_elements[static_cast<size_t>(e - 1)];
    ap.individual_excitation = 1;
    free_signal(sys, pe.waveform);
    pe.has_waveform = 0;
    pe.waveform = alloc_signal(sys, m, 0);
    for (int32_t j = 0; j < m; ++j) pe.waveform->data[j] = samples[k][static_cast<size_t>(j)];
    pe.has_waveform = 1;
  }
}

// The apodization time line a constructor gives every new aperture: all elements weighted 1.
void add_unit_apodization(aperture_rec& ap) {
  apod_entry e;
  e.values.assign(static_cast<size_t>(ap.no_phys_elements), 1.0);
  ap.single_apod = link_entry(ap.apod_line, std::move(e));
}

void focus_and_apodization(const aperture_rec& ap, double c, const point3& p, double* delay,
                           double* apodization) {
  focus_and_apodization(ap, c, p, 0, ap.no_phys_elements, delay, apodization);
}

void focus_and_apodization(const aperture_rec& ap, double c, const point3& p, int32_t first,
                           int32_t last, double* delay, double* apodization) {
  if (ap.single_focus)
    for (int32_t e = first; e < last; ++e) delay[e] = ap.focus_line[0].delays[e];
  if (ap.single_apod)
    for (int32_t e = first; e < last; ++e) apodization[e] = ap.apod_line[0].values[e];
  if (ap.single_focus && ap.single_apod) return;
  for (int32_t e = first; e < last; ++e) {
    const point3& centre = ap.phys_elements[e].center;
    const double te = point_distance(p, centre) / c;  // time of flight from the element
    if (!ap.single_focus) {
      const focus_entry& f = entry_at(ap.focus_line, te);
      if (f.dynamic) {
        // The focus lies on the steering line at the distance travelled in te.
        const double R = te * c;
        const point3 d = {std::sin(f.angle_xz) * std::cos(f.angle_yz), std::sin(f.angle_yz),
                          std::cos(f.angle_xz) * std::cos(f.angle_yz)};
        const point3& ref = ap.ref_point;
        const point3 focus = {ref[0] + R * d[0], ref[1] + R * d[1], ref[2] + R * d[2]};
        double t = point_distance(focus, ref) / c - point_distance(centre, focus) / c;
        if (ap.quantize) t = std::floor(t / ap.quant_step + 0.5) * ap.quant_step;
        delay[e] = t;
      } else {
        delay[e] = f.delays[e];
      }
    }
    if (!ap.single_apod) apodization[e] = entry_at(ap.apod_line, te).values[e];
  }
}
