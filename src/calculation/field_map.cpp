// Field-map quantities: the request's names, and the reduction of one point's signal to them.
// Invariants: the pressure samples are computed by one fixed formula, so that a caller who
// differentiates the same signal by the documented rule gets the same values bit for bit; a
// reduction reads only its own signal and scratch, so maps are the same for every thread count.
#include "calculation/field_map.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "core/errors.h"

namespace {
constexpr double pi = 3.141592653589793;

struct quantity_entry {
  const char* name;
  field_quantity q;
};
const quantity_entry quantity_table[] = {
    {"p_plus", field_quantity::p_plus},
    {"p_minus", field_quantity::p_minus},
    {"p_peak", field_quantity::p_peak},
    {"t_peak", field_quantity::t_peak},
    {"pii", field_quantity::pii},
    {"p_rms", field_quantity::p_rms},
    {"cw_amplitude", field_quantity::cw_amplitude},
    {"cw_phase", field_quantity::cw_phase},
    {"raw_peak", field_quantity::raw_peak},
    {"raw_energy", field_quantity::raw_energy},
};

std::string all_names() {
  std::string s;
  for (const quantity_entry& e : quantity_table) s += std::string(s.empty() ? "" : ", ") + e.name;
  return s;
}

bool is_cw(field_quantity q) {
  return q == field_quantity::cw_amplitude || q == field_quantity::cw_phase;
}

std::string trimmed(const std::string& s, size_t from, size_t to) {
  while (from < to && std::isspace(static_cast<unsigned char>(s[from]))) ++from;
  while (to > from && std::isspace(static_cast<unsigned char>(s[to - 1]))) --to;
  return s.substr(from, to - from);
}
}  // namespace

const char* quantity_name(field_quantity q) {
  for (const quantity_entry& e : quantity_table)
    if (e.q == q) return e.name;
  return "?";
}

map_request parse_map_request(const std::string& names, bool has_f, double f, double rho) {
  map_request r;
  r.rho = rho;
  if (trimmed(names, 0, names.size()).empty())
    throw command_error(format_text("Error: The quantities name none; give one or more of %s",
                                    all_names().c_str()));
  for (size_t from = 0; from <= names.size();) {
    size_t to = std::min(names.find(',', from), names.size());
    std::string name = trimmed(names, from, to);
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const quantity_entry* e = std::find_if(std::begin(quantity_table), std::end(quantity_table),
                                           [&](const quantity_entry& x) { return name == x.name; });
    if (e == std::end(quantity_table))
      throw command_error(format_text("Error: '%s' is not a field quantity; the quantities are %s",
                                      name.c_str(), all_names().c_str()));
    r.columns.push_back(e->q);
    from = to + 1;
  }
  if (std::none_of(r.columns.begin(), r.columns.end(), is_cw)) return r;
  if (!has_f)
    throw command_error(
        "Error: cw_amplitude and cw_phase need the frequency of the wave: give {'cw', f} "
        "(Octave) or (\"cw\", f) (Python) among the quantities, f in Hz");
  if (!(f > 0 && std::isfinite(f)))
    throw command_error(format_text(
        "Error: The cw frequency must be a positive, finite number of Hz, but is %g", f));
  r.cw_f = f;
  return r;
}

map_reducer::map_reducer(const map_request& q, double fs, double c, const double* pulse, int32_t np,
                         int32_t pulse_start)
    : columns_(q.columns),
      fs_(fs),
      rho_(q.rho),
      c_(c),
      scale_(q.rho * fs / 12),
      window_(np / fs),
      cw_(std::any_of(q.columns.begin(), q.columns.end(), is_cw)) {
  if (!cw_) return;
  if (!(q.cw_f < fs / 2))
    throw command_error(format_text(
        "Error: The cw frequency must be below half the sampling frequency (%g Hz), but is %g Hz",
        fs / 2, q.cw_f));
  w_dt_ = 2 * pi * q.cw_f / fs;
  std::complex<double> v = 0.0;
  double bound = 0.0;
  for (int32_t k = 0; k < np; ++k) {
    v += pulse[k] * std::polar(1.0, -w_dt_ * (static_cast<double>(pulse_start) + k));
    bound += std::fabs(pulse[k]);
  }
  v /= fs;
  bound /= fs;
  if (!(std::abs(v) > 1e-9 * bound))
    throw command_error(format_text(
        "Error: The pulse has no component at the cw frequency %g Hz (its spectrum there is %g "
        "of its largest possible magnitude); give a frequency within the pulse's band",
        q.cw_f, bound > 0 ? std::abs(v) / bound : 0.0));
  inverse_v_ = 1.0 / v;
}

void map_reducer::reduce(const double* s, int32_t n, int32_t start, scratch& w, double* out,
                         size_t stride) const {
  // u: four zeros, the n samples, four zeros; p_k (sample j = k - 2 of the signal's grid)
  // reads u[k] .. u[k + 4].
  const int32_t m = n + 4;
  if (w.u.size() < static_cast<size_t>(n) + 8) w.u.resize(static_cast<size_t>(n) + 8);
  double* u = w.u.data();
  std::fill_n(u, 4, 0.0);
  std::copy_n(s, n, u + 4);
  std::fill_n(u + 4 + n, 4, 0.0);
  if (cw_ && w.turn.size() < static_cast<size_t>(m)) {
    const size_t had = w.turn.size();
    w.turn.resize(static_cast<size_t>(m));
    for (size_t k = had; k < w.turn.size(); ++k)
      w.turn[k] = std::polar(1.0, -w_dt_ * (static_cast<double>(k) - 2));
  }

  double hi = 0.0, lo = 0.0, peak = 0.0, energy = 0.0;
  int32_t at_peak = -1;
  std::complex<double> P = 0.0;
  for (int32_t k = 0; k < m; ++k) {
    const double p = scale_ * ((u[k] - u[k + 4]) + 8.0 * (u[k + 3] - u[k + 1]));
    hi = std::max(hi, p);
    lo = std::min(lo, p);
    if (std::fabs(p) > peak) peak = std::fabs(p), at_peak = k;
    energy += p * p;
    if (cw_) P += p * w.turn[k];
  }
  energy /= fs_;
  double raw_peak = 0.0, raw_energy = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    raw_peak = std::max(raw_peak, std::fabs(s[j]));
    raw_energy += s[j] * s[j];
  }
  raw_energy /= fs_;
  std::complex<double> cw = 0.0;
  if (cw_) cw = P / fs_ * std::polar(1.0, -w_dt_ * start) * inverse_v_;

  // In the order of field_quantity.
  const double value[] = {hi,
                          lo < 0 ? -lo : 0.0,
                          peak,
                          at_peak < 0 ? std::numeric_limits<double>::quiet_NaN()
                                      : (static_cast<double>(start) + at_peak - 2) / fs_,
                          energy / (rho_ * c_),
                          std::sqrt(energy / window_),
                          std::abs(cw),
                          std::arg(cw),
                          raw_peak,
                          raw_energy};
  for (field_quantity q : columns_) {
    *out = value[static_cast<int>(q)];
    out += stride;
  }
}
