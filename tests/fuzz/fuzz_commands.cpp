// A fuzz target of our own: from a fixed seed it drives command sequences through the embedded
// host, mostly sensible ones (initialise, build small apertures, set their pulses, time lines and
// element tables, calculate at a few points, free, end) and, in about a third of the calls,
// mutated ones (arguments dropped or added, wrong classes, matrices for scalars, wrong table
// shapes, NaN, infinities, -0, huge and tiny values, stale handles, unknown command codes).
//
// After every call it checks what must hold whatever the input:
//  - a refused call has a non-empty error text from one of the families of the module, never an
//    unexpected failure or a doubled host prefix, and changes nothing that the configuration
//    report, xdc_show and xdc_get of every slot can see;
//  - the signal store's byte count equals the charges of the signals the apertures hold, and a
//    calculation leaves it where it was; no host matrix is left behind;
//  - a call that accepts a NaN or an infinity does not store it or return it; a calculation never
//    returns NaN or infinity, and no other result holds one while every value given since
//    initialisation was finite and moderate;
//  - a call whose tables disagree in size (more or fewer rows than the times or element
//    numbers, amplitudes or distances not one per point) is refused;
//  - no call takes longer than --slow seconds or runs out of memory (a hang or a huge
//    allocation); the system is then ended, so that what caused it does not slow later calls.
//    A call still running at --slow seconds gets a Ctrl-C and must then stop within 2/3 of
//    --slow; a long result is allowed 200 ns per value beyond --slow.
// Crashes and undefined behaviour are reported by the sanitizers. The calls run in a child
// process: when it dies or runs longer than --hang seconds, the parent reports the call that was
// running and goes on with a fresh child from the next call, so one fault does not hide others.
//
// Usage: orvel_fuzz [--calls N] [--seed S] [--start K] [--slow SECONDS] [--hang SECONDS]
//                   [--trace]
// Calls K to N - 1 run; a segment that starts at K seeds its generator from (S, K), so
// "--seed S --start K --calls I+1 --trace" replays, and prints as host code, every call of the
// segment up to call I. Exit status 1 when anything was found.
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "embedded_host.h"

// Under a sanitizer a request of more than 2 GiB is reported at once (allocation-size-too-big)
// instead of being attempted. allocator_may_return_null would not help: the sanitizers'
// operator new reports a failed request itself instead of throwing std::bad_alloc, so the
// module's own out-of-memory path cannot be reached there; the child dies and the parent
// reports the call. The RSS limit catches many requests that are each below the cap.
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/asan_interface.h>
extern "C" const char* __asan_default_options() {
  return "max_allocation_size_mb=2048:hard_rss_limit_mb=6144";
}
#endif
#ifdef __SANITIZE_THREAD__
extern "C" const char* __tsan_default_options() { return "max_allocation_size_mb=2048"; }
#endif

namespace {

using clock_type = std::chrono::steady_clock;

long long now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(clock_type::now().time_since_epoch())
      .count();
}

// ---------------------------------------------------------------------------------------------
// Random numbers: splitmix64, the same sequence on every platform.

struct rng {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
  int range(int lo, int hi) { return lo + static_cast<int>(next() % uint64_t(hi - lo + 1)); }
  bool chance(double p) { return unit() < p; }
  template <class T>
  T pick(const std::vector<T>& v) {
    return v[next() % v.size()];
  }
};

// ---------------------------------------------------------------------------------------------
// Arguments, kept as values so that a call can be mutated and printed as host code.

// What the command reads an argument as, where a mutation aims at it.
enum class use { value, handle, count };

struct arg {
  use role = use::value;
  bool is_text = false;
  std::string text;
  embedded_class cls = embedded_class::double_class;  // another class holds zeros only
  bool complex = false, sparse = false;
  size_t rows = 1, cols = 1;
  std::vector<double> v;  // rows * cols values, column-major

  bool plain() const {
    return !is_text && cls == embedded_class::double_class && !complex && !sparse;
  }
  double at(size_t i, size_t j) const { return v[i + j * rows]; }
};

arg num(double x, use role = use::value) {
  arg a;
  a.role = role;
  a.v = {x};
  return a;
}

// A matrix given row by row.
arg table(const std::vector<std::vector<double>>& rows) {
  arg a;
  a.rows = rows.size();
  a.cols = rows.empty() ? 0 : rows[0].size();
  a.v.resize(a.rows * a.cols);
  for (size_t i = 0; i < a.rows; ++i)
    for (size_t j = 0; j < a.cols; ++j) a.v[i + j * a.rows] = rows[i][j];
  return a;
}

arg row(const std::vector<double>& values) { return table({values}); }

arg column(const std::vector<double>& values) {
  arg a;
  a.rows = values.size();
  a.v = values;
  return a;
}

arg point(double x, double y, double z) { return row({x, y, z}); }

arg text(const std::string& s) {
  arg a;
  a.is_text = true;
  a.text = s;
  a.rows = s.empty() ? 0 : 1;
  a.cols = s.size();
  return a;
}

mxArray* make_array(const arg& a) {
  if (a.is_text) return embedded_text(a.text);
  if (!a.plain()) return embedded_special(a.cls, a.rows, a.cols, a.complex, a.sparse);
  return embedded_matrix(a.rows, a.cols, a.v);
}

std::string number_text(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
  if (x == 0) return std::signbit(x) ? "-0" : "0";
  char buf[40];
  for (int digits = 6; digits <= 17; ++digits) {  // the shortest text that reads back exactly
    std::snprintf(buf, sizeof buf, "%.*g", digits, x);
    if (std::strtod(buf, nullptr) == x) break;
  }
  return buf;
}

std::string arg_text(const arg& a) {
  if (a.is_text) {
    std::string s = "'";
    for (char c : a.text) s += c == '\'' ? std::string("''") : std::string(1, c);
    return s + "'";
  }
  const std::string size = "(" + std::to_string(a.rows) + ", " + std::to_string(a.cols) + ")";
  if (!a.plain()) {
    static const char* const names[] = {"double", "char", "logical", "int32", "single"};
    const std::string zeros = "zeros" + size;
    if (a.complex) return "complex(" + zeros + ", " + zeros + ")";
    if (a.sparse) return "sparse" + size;
    return std::string(names[static_cast<int>(a.cls)]) + "(" + zeros + ")";
  }
  if (a.v.empty()) return "zeros" + size;
  if (a.v.size() == 1) return number_text(a.v[0]);
  std::string s = "[";
  for (size_t i = 0; i < a.rows; ++i) {
    for (size_t j = 0; j < a.cols; ++j) s += (j ? " " : "") + number_text(a.at(i, j));
    s += i + 1 < a.rows ? "; " : "]";
  }
  return s;
}

// ---------------------------------------------------------------------------------------------
// Calls and their outcomes.

struct call {
  std::vector<arg> args;
  int nlhs = 0;
  size_t arity = 0;      // arguments the command reads, the code included
  std::string mutation;  // what was changed; empty for a sensible call
};

// A sensible call: the command reads every argument.
call make_call(std::vector<arg> args, int nlhs = 0) {
  const size_t n = args.size();
  return {std::move(args), nlhs, n, ""};
}

std::string call_text(const call& c) {
  static const char* const outs[] = {"", "a = ", "[a, b] = ", "[a, b, c] = "};
  std::string s = std::string(outs[c.nlhs]) + "Orvel_mex(";
  for (size_t k = 0; k < c.args.size(); ++k) s += (k ? ", " : "") + arg_text(c.args[k]);
  return s + ")";
}

bool any_nonfinite(const double* v, size_t n) {
  for (size_t k = 0; k < n; ++k)
    if (!std::isfinite(v[k])) return true;
  return false;
}

uint64_t hash_values(const double* v, size_t n) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t k = 0; k < n; ++k) {
    uint64_t bits;
    std::memcpy(&bits, &v[k], sizeof bits);
    h = (h ^ bits) * 0x100000001b3ull;
  }
  return h;
}

// A result seen where the host made it: its shape, a hash of its values and whether any is NaN
// or infinite (results of gigabytes are not copied).
struct result_matrix {
  size_t rows, cols;
  uint64_t hash;
  bool nonfinite;
};

struct outcome {
  bool ok = true;
  std::string error;    // the text of the host's error call
  std::string console;  // everything printed during the call
  std::vector<result_matrix> results;
  double seconds = 0;
  long left_arrays = 0;  // host matrices made during the call and never destroyed
};

// One call of the entry point with exactly the room a host gives: nrhs arguments and
// max(nlhs, 1) result slots, so that a read or write past them is caught by the sanitizer.
outcome execute(const std::vector<arg>& args, int nlhs = 0) {
  const size_t live = embedded_live_arrays();
  std::vector<const mxArray*> prhs;
  for (const arg& a : args) prhs.push_back(make_array(a));
  std::vector<mxArray*> plhs(static_cast<size_t>(nlhs > 1 ? nlhs : 1), nullptr);
  outcome o;
  embedded_console_take();
  const clock_type::time_point t0 = clock_type::now();
  try {
    mexFunction(nlhs, plhs.data(), static_cast<int>(prhs.size()), prhs.data());
  } catch (const embedded_host_error& e) {
    o.ok = false;
    o.error = e.what();
  }
  o.seconds = std::chrono::duration<double>(clock_type::now() - t0).count();
  o.console = embedded_console_take();
  embedded_evaluations_take();
  for (const mxArray* a : prhs) mxDestroyArray(const_cast<mxArray*>(a));
  for (mxArray* a : plhs) {
    if (!a) continue;
    const double* p = mxGetPr(a);
    const size_t n = mxGetM(a) * mxGetN(a);
    o.results.push_back({mxGetM(a), mxGetN(a), hash_values(p, n), any_nonfinite(p, n)});
    mxDestroyArray(a);
  }
  o.left_arrays = static_cast<long>(embedded_live_arrays()) - static_cast<long>(live);
  return o;
}

// "nan" or "inf" as a word of printf output (not inside "information").
bool text_shows_nonfinite(const std::string& s) {
  for (const char* word : {"nan", "inf"}) {
    for (size_t k = s.find(word); k != std::string::npos; k = s.find(word, k + 1)) {
      const bool before = k > 0 && std::isalpha(static_cast<unsigned char>(s[k - 1]));
      const bool after = k + 3 < s.size() && std::isalpha(static_cast<unsigned char>(s[k + 3]));
      if (!before && !after) return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// What the module shows of its state: the configuration report, and xdc_show (level 0) and
// xdc_get (kinds 1 to 5) of every slot of the aperture table.

struct slot_view {
  bool live = false;
  bool large = false;   // seen through its counts, time lines and report header only
  int phys = 0;         // physical elements
  int64_t charged = 0;  // bytes of the signals it holds: impulse, excitation, waveforms
};

struct snapshot {
  bool initialised = false;
  bool debug = false;
  int64_t bytes = 0;                   // the store's byte count
  std::optional<int64_t> unaccounted;  // bytes less the apertures' signals, when all are known
  std::vector<slot_view> slots;
  std::string text;        // everything shown, compared whole
  bool nonfinite = false;  // a shown value is NaN or infinite
};

// The number after the first occurrence of label in s, or -1.
int64_t number_after(const std::string& s, const char* label, size_t from = 0) {
  const size_t k = s.find(label, from);
  return k == std::string::npos ? -1
                                : std::strtoll(s.c_str() + k + std::strlen(label), nullptr, 10);
}

// 8 bytes per sample and 40 for the record, the store's charge for a signal.
int64_t charge(int64_t samples) { return 8 * samples + 40; }

// Apertures of more physical and mathematical elements than this are shown by their report
// header alone (xdc_show level 4), so that snapshots stay cheap; the generator frees them next.
constexpr size_t large_aperture = 512;

slot_view view_slot(int h, snapshot& s) {
  slot_view v;
  size_t elements = 0;
  for (int kind = 1; kind <= 5; ++kind) {
    const outcome get = execute({num(1101), num(h), num(kind)}, 1);
    if (!get.ok) {  // a freed slot, or an aperture whose table the memory now cannot hold
      s.text += "slot " + std::to_string(h) + ": " + get.error + "\n";
      v.live = v.large = get.error.find("memory") != std::string::npos;
      return v;
    }
    if (get.results.empty()) continue;
    const result_matrix& m = get.results[0];
    if (kind == 4) v.phys = static_cast<int>(m.rows) - 1;
    if (kind <= 3) elements += m.cols;
    char line[96];
    std::snprintf(line, sizeof line, "get %d: %zu x %zu, values %016llx\n", kind, m.rows, m.cols,
                  static_cast<unsigned long long>(m.hash));
    s.text += line;
    s.nonfinite |= m.nonfinite;
  }
  v.live = true;
  v.large = elements + static_cast<size_t>(v.phys) > large_aperture;
  const outcome show = execute({num(1100), num(h), num(v.large ? 4 : 0)});
  s.text += show.console;
  s.nonfinite |= text_shows_nonfinite(show.console);
  if (v.large) return v;  // the waveforms are listed with the elements only
  v.charged = charge(number_after(show.console, "Impulse response consists of ")) +
              charge(number_after(show.console, "Excitation response consists of "));
  const char* waveform = "uses an individual excitation with ";
  for (size_t k = show.console.find(waveform); k != std::string::npos;
       k = show.console.find(waveform, k + 1))
    v.charged += charge(number_after(show.console, waveform, k));
  return v;
}

// The report without the store's two running counters: the serial number of the next signal and
// the most bytes ever reserved advance with every allocation, also those of a calculation that is
// then refused, and are diagnostics that no refusal winds back.
std::string without_counters(const std::string& report) {
  std::string kept;
  size_t from = 0;
  while (from < report.size()) {
    const size_t end = std::min(report.find('\n', from), report.size() - 1) + 1;
    const std::string line = report.substr(from, end - from);
    if (line.find("Number for next signal to be used:") == std::string::npos &&
        line.find("Maximum number of bytes that has been reserved:") == std::string::npos)
      kept += line;
    from = end;
  }
  return kept;
}

snapshot take_snapshot() {
  snapshot s;
  outcome info = execute({num(5051)});
  if (!info.ok) {
    s.text = "not initialised: " + info.error;
    return s;
  }
  s.initialised = true;
  s.text = without_counters(info.console);
  s.nonfinite = text_shows_nonfinite(info.console);
  s.bytes = number_after(info.console, "Number of bytes reserved:");
  s.debug = number_after(info.console, "Debug mode enabled:") != 0;
  const int64_t slots = number_after(info.console, "Number of apertures in operation:");
  s.unaccounted = s.bytes;
  for (int h = 0; h < slots; ++h) {
    s.slots.push_back(view_slot(h, s));
    if (s.slots.back().large) s.unaccounted.reset();  // its waveforms are not listed
    if (s.unaccounted) *s.unaccounted -= s.slots.back().charged;
  }
  return s;
}

// The first line where two texts differ, as the one of them that has it (the longer).
std::string first_difference(const std::string& a, const std::string& b) {
  size_t k = 0;
  while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
  const size_t start = k == 0 ? 0 : a.rfind('\n', k - 1) + 1;  // npos + 1 is 0: the first line
  auto line = [start](const std::string& s) {
    return start < s.size() ? s.substr(start, s.find('\n', start) - start) : std::string();
  };
  return line(a).size() >= line(b).size() ? line(a) : line(b);
}

// The line of s that starts like the line given (up to its first digit), for the report.
std::string line_at(const std::string& s, const std::string& line) {
  const std::string head = line.substr(0, line.find_first_of("0123456789"));
  const size_t k = s.find(head);
  return k == std::string::npos ? "(none)" : s.substr(k, s.find('\n', k) - k);
}

// ---------------------------------------------------------------------------------------------
// The generator of sensible calls. Sizes stay small so that every call is cheap: up to 8
// elements, 2 x 3 sub-divisions, 3 points, pulses of 40 samples.

constexpr double mm = 1e-3;

struct generator {
  rng& r;
  const snapshot& s;

  // Handles of the live apertures of the given size, or of the freed slots.
  std::vector<int> handles(bool live, bool large = false) const {
    std::vector<int> h;
    for (size_t k = 0; k < s.slots.size(); ++k)
      if (s.slots[k].live == live && (!live || s.slots[k].large == large))
        h.push_back(static_cast<int>(k));
    return h;
  }

  arg focus() { return point(r.uniform(-5, 5) * mm, 0, r.uniform(10, 60) * mm); }
  arg width() { return num(r.uniform(0.1, 0.5) * mm); }
  arg height() { return num(r.uniform(2, 6) * mm); }
  arg kerf() { return num(r.uniform(0.01, 0.1) * mm); }
  arg count(int lo, int hi) { return num(r.range(lo, hi), use::count); }
  arg radius(double lo_mm, double hi_mm) { return num(r.uniform(lo_mm, hi_mm) * mm); }
  arg heights(int ny) {
    std::vector<double> h;
    for (int k = 0; k < ny; ++k) h.push_back(r.uniform(1, 4) * mm);
    return row(h);
  }

  // A square of side d with lower-left corner (x, y) in the plane z = 0, as its 4 corners.
  static std::vector<double> square(double x, double y, double d) {
    return {x, y, 0, x, y + d, 0, x + d, y + d, 0, x + d, y, 0};
  }

  // Physical elements 1..P, each a square of side d centred at x = (e - 1) * 2d.
  std::vector<std::vector<double>> centres(int P, double d) {
    std::vector<std::vector<double>> c;
    for (int e = 1; e <= P; ++e) c.push_back({(e - 1) * 2 * d + d / 2, d / 2, 0});
    return c;
  }

  call user_aperture(int code) {
    const int P = r.range(1, 3);
    const double d = r.uniform(0.2, 1) * mm;
    std::vector<std::vector<double>> rows;
    for (int e = 1; e <= P; ++e) {
      const double x = (e - 1) * 2 * d;
      const std::vector<double> sq = square(x, 0, d);
      if (code == 1021) {
        std::vector<double> rect = {double(e)};
        rect.insert(rect.end(), sq.begin(), sq.end());
        rect.insert(rect.end(), {r.uniform(0.5, 1), d, d, x + d / 2, d / 2, 0});
        rows.push_back(rect);
      } else if (code == 1022) {  // the sides: y >= 0, x <= x + d, y <= d and x >= x
        rows.push_back({double(e), 1, 0, 0, 0, 1});
        rows.push_back({double(e), 1, 0, 1, x + d, 1});
        rows.push_back({double(e), 1, 0, 0, d, 0});
        rows.push_back({double(e), 1, 0, 1, x, 0});
      } else {  // the square as two triangles
        const std::vector<int> halves[] = {{0, 1, 2}, {0, 2, 3}};
        for (const std::vector<int>& h : halves) {
          std::vector<double> tri = {double(e)};
          for (int c : h) tri.insert(tri.end(), &sq[3 * c], &sq[3 * c] + 3);
          tri.push_back(r.uniform(0.5, 1));
          rows.push_back(tri);
        }
      }
    }
    if (code == 1020) {  // one element: the triangles of the first square, without numbers
      std::vector<std::vector<double>> tris;
      std::vector<double> apod;
      for (size_t k = 0; k < 2; ++k) {
        tris.push_back(std::vector<double>(rows[k].begin() + 1, rows[k].begin() + 10));
        apod.push_back(rows[k][10]);
      }
      return make_call(
          {num(1020), table(tris), column(apod), point(d / 2, d / 2, 0), num(r.uniform(0.5, 1))},
          1);
    }
    return make_call({num(code), table(rows), table(centres(P, d)), focus()}, 1);
  }

  call constructor() {
    static const std::vector<int> codes = {1001, 1002, 1003, 1004, 1005, 1010, 1011,
                                           1012, 1013, 1014, 1020, 1021, 1022, 1023};
    const int code = r.pick(codes);
    std::vector<arg> a = {num(code)};
    switch (code) {
      case 1001:
      case 1003:
      case 1004:
      case 1005:
        a.insert(a.end(), {count(1, 8), width(), height(), kerf()});
        if (code == 1004 || code == 1005) a.push_back(radius(20, 60));  // convex radius
        if (code == 1003 || code == 1005) a.push_back(radius(20, 80));  // elevation focus
        a.insert(a.end(), {count(1, 2), count(1, 3), focus()});
        break;
      case 1002: {
        const int nx = r.range(1, 4), ny = r.range(1, 4);
        std::vector<std::vector<double>> enabled(nx, std::vector<double>(ny));
        for (auto& rw : enabled)
          for (double& e : rw) e = r.chance(0.7) ? 1 : 0;
        enabled[0][0] = 1;
        a.insert(a.end(), {num(nx, use::count), num(ny, use::count), width(), height(), kerf(),
                           kerf(), table(enabled), count(1, 2), count(1, 3), focus()});
        break;
      }
      case 1010:
      case 1011: {
        const double radius_mm = r.uniform(1, 4);
        a.push_back(num(radius_mm * mm));
        if (code == 1011) a.push_back(radius(20, 80));
        a.push_back(num(radius_mm / r.uniform(1, 5) * mm));  // at most about 80 squares
        break;
      }
      case 1012:
      case 1013:
      case 1014: {
        const int ny = r.range(1, 3);
        a.insert(a.end(), {count(1, 4), width(), num(ny, use::count), heights(ny), kerf(), kerf()});
        if (code == 1014) a.push_back(radius(20, 60));
        if (code != 1012) a.push_back(radius(20, 80));
        a.insert(a.end(), {count(1, 2), count(1, 2), focus()});
        break;
      }
      default:
        return user_aperture(code);
    }
    return make_call(std::move(a), 1);
  }

  std::vector<double> times(int n) {
    std::vector<double> t;
    for (int k = 0; k < n; ++k) t.push_back(k * r.uniform(5, 20) * 1e-6);
    if (r.chance(0.2)) std::swap(t.front(), t.back());  // not ascending
    return t;
  }

  std::vector<std::vector<double>> values(size_t rows, size_t cols, double lo, double hi) {
    std::vector<std::vector<double>> v(rows, std::vector<double>(cols));
    for (auto& rw : v)
      for (double& x : rw) x = r.uniform(lo, hi);
    return v;
  }

  std::vector<double> element_numbers(int phys) {
    std::vector<double> n;
    for (int k = r.range(1, 3); k > 0; --k) n.push_back(r.range(1, phys));
    return n;
  }

  call aperture_setting(int h) {
    static const std::vector<int> codes = {1030, 1031, 1050, 1051, 1060, 1061, 1062,
                                           1063, 1065, 1066, 1070, 1080, 1081, 1082,
                                           1100, 1101, 1050, 1051, 1060, 1070};
    const int code = r.pick(codes);
    const int phys = std::max(s.slots[static_cast<size_t>(h)].phys, 1);
    std::vector<arg> a = {num(code), num(h, use::handle)};
    int nlhs = 0;
    switch (code) {
      case 1050:
      case 1051: {
        std::vector<double> pulse(static_cast<size_t>(r.range(1, 40)));
        const double f = r.uniform(0.1, 1);
        for (size_t k = 0; k < pulse.size(); ++k) pulse[k] = std::sin(f * double(k));
        a.push_back(row(pulse));
        break;
      }
      case 1060: {
        const int n = r.range(1, 3);
        std::vector<std::vector<double>> points;
        for (int k = 0; k < n; ++k) points.push_back(focus().v);
        a.insert(a.end(), {column(times(n)), table(points)});
        break;
      }
      case 1061:
      case 1070: {
        const int n = r.range(1, 3);
        a.push_back(column(times(n)));
        a.push_back(code == 1061 ? table(values(n, phys, -50e-9, 50e-9))
                                 : table(values(n, phys, 0, 1)));
        break;
      }
      case 1062:
        a.insert(a.end(),
                 {num(r.uniform(0, 10e-6)), num(r.uniform(-0.3, 0.3)), num(r.uniform(-0.3, 0.3))});
        break;
      case 1063:
        a.push_back(point(r.uniform(-2, 2) * mm, 0, 0));
        break;
      case 1065:
        a.push_back(num(r.chance(0.3) ? 0 : r.uniform(1e-9, 20e-9)));
        break;
      case 1066:
        a.push_back(num(r.range(0, 1)));
        break;
      case 1080:
      case 1081:
      case 1082: {
        const std::vector<double> numbers = element_numbers(phys);
        const int m = code == 1082 ? r.range(1, 20) : r.range(1, 4);
        a.push_back(column(numbers));
        a.push_back(code == 1081   ? table(values(numbers.size(), m, -50e-9, 50e-9))
                    : code == 1080 ? table(values(numbers.size(), m, 0, 1))
                                   : table(values(numbers.size(), m, -1, 1)));
        break;
      }
      case 1100:
        a.push_back(num(r.range(0, 4)));
        break;
      case 1101:
        a.push_back(num(r.range(0, 6)));
        nlhs = 1;
        break;
      default:  // 1030, 1031: the handle alone
        break;
    }
    return make_call(std::move(a), nlhs);
  }

  call calculation(const std::vector<int>& live) {
    static const std::vector<int> codes = {4001, 4002, 4003, 4005, 4006,
                                           4007, 4012, 4013, 4014, 4015};
    const int code = r.pick(codes);
    const int n = r.range(1, 3);
    std::vector<std::vector<double>> points;
    std::vector<double> amplitudes, distances;
    for (int k = 0; k < n; ++k) {
      points.push_back({r.uniform(-5, 5) * mm, r.uniform(-2, 2) * mm, r.uniform(5, 50) * mm});
      amplitudes.push_back(r.uniform(-1, 1));
      distances.push_back(r.uniform(0, 3) * mm);
    }
    if (r.chance(0.08)) {  // an image of random data: element, point and transmit tables
      const int R = r.range(1, 4), T = r.range(1, 3), S = r.range(0, 40);
      std::vector<std::vector<double>> rf(S), elements, transmits;
      for (auto& row : rf)
        for (int k = 0; k < R * T; ++k) row.push_back(r.uniform(-1, 1));
      for (int e = 0; e < R; ++e) elements.push_back({r.uniform(-2, 2) * mm, 0, 0});
      for (int t = 0; t < T; ++t)
        transmits.push_back({double(r.range(1, 4)), r.uniform(-0.3, 0.3), 0, r.uniform(-5, 20) * mm,
                             r.uniform(-2e-6, 2e-6), 0, 0, 0});
      return make_call(
          {num(7010), S ? table(rf) : num(0), num(r.uniform(0, 2e-6)), num(r.uniform(20e6, 100e6)),
           num(1540), num(0), table(elements), table(points), table(transmits),
           table({{r.uniform(0.5, 3), double(r.range(1, 3)), r.uniform(0, 1), double(r.range(1, 2)),
                   double(r.range(0, 1))}})},
          1);
    }
    if (r.chance(0.08)) {  // slow-time processing of random data, parameters in and out of range
      const int G = r.range(0, 6), N = r.range(0, 30);
      std::vector<std::vector<double>> re(G), im(G);
      for (int g = 0; g < G; ++g)
        for (int n = 0; n < N; ++n)
          re[g].push_back(r.uniform(-1, 1)), im[g].push_back(r.uniform(-1, 1));
      const arg x = G && N ? table(re) : num(0), y = G && N ? table(im) : num(0);
      switch (r.range(0, 3)) {
        case 0:
          return make_call(
              {num(7011), x, num(r.uniform(0, 2e-6)), num(r.uniform(10e6, 100e6)),
               num(r.uniform(1e6, 8e6)), num(r.uniform(0.5e6, 9e6)), num(double(r.range(0, 5)))},
              2);
        case 1:
          return make_call({num(7012), x, y, num(double(r.range(1, 2))),
                            num(r.chance(0.5) ? double(r.range(0, 6)) : r.uniform(0, 0.6))},
                           2);
        case 2:
          return make_call({num(7013), x, y, num(r.uniform(-1e3, 1e4)), num(5e6), num(1540)}, 1);
        default:
          return make_call({num(7014), x, y, num(double(r.range(1, 20))),
                            num(double(r.range(0, 10))), num(double(r.range(1, 64)))},
                           1);
      }
    }
    if (r.chance(0.15)) {  // a field map; t_peak is left out, its NaN where p = 0 is documented
      static const std::vector<std::string> names = {"p_plus",   "p_minus",  "p_peak",
                                                     "pii",      "p_rms",    "cw_amplitude",
                                                     "cw_phase", "raw_peak", "raw_energy"};
      std::string list = r.pick(names);
      while (r.chance(0.4)) list += "," + r.pick(names);
      const bool echo = r.chance(0.5);
      std::vector<arg> a = {num(echo ? 7003 : 7002), num(r.pick(live), use::handle)};
      if (echo) a.push_back(num(r.pick(live), use::handle));
      a.push_back(table(points));
      a.push_back(text(list));
      if (r.chance(0.9)) a.push_back(num(r.uniform(0.5e6, 10e6)));
      return make_call(std::move(a), 1);
    }
    std::vector<arg> a = {num(code), num(r.pick(live), use::handle)};
    const bool two = code != 4001 && code != 4002 && code != 4012;
    if (two) a.push_back(num(r.pick(live), use::handle));
    a.push_back(table(points));
    if (code == 4005 || code == 4006 || code == 4007 || code == 4014 || code == 4015)
      a.push_back(column(amplitudes));
    if (code == 4007) a.push_back(count(1, 3));
    if (code >= 4012) a.push_back(column(distances));
    return make_call(std::move(a), 2);
  }

  call general() {
    const int pick = r.range(0, 19);
    if (pick < 12) {
      struct option {
        const char* name;
        double lo, hi;
        bool whole;
      };
      static const std::vector<option> options = {{"use_att", 0, 1, true},
                                                  {"att", 0, 20, false},
                                                  {"freq_att", 0, 1e-4, false},
                                                  {"att_f0", 1e6, 5e6, false},
                                                  {"tau_m", 10, 30, false},
                                                  {"z", 1.4e6, 1.6e6, false},
                                                  {"dz", 0.5e-3, 2e-3, false},
                                                  {"bdiva", 3, 10, false},
                                                  {"debug", 0, 0, true},
                                                  {"accurate_time_calc", 0, 1, true},
                                                  {"fast_integration", 0, 1, true},
                                                  {"show_times", 0, 0, true},
                                                  {"use_rectangles", 0, 1, true},
                                                  {"use_triangles", 0, 1, true},
                                                  {"use_lines", 0, 1, true},
                                                  {"c", 1400, 1600, false},
                                                  {"fs", 50e6, 120e6, false},
                                                  {"threads", 1, 4, true},
                                                  {"no_such_option", 0, 1, false}};
      const option& o = options[r.next() % options.size()];
      std::string name = o.name;
      for (char& ch : name)
        if (r.chance(0.1)) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      const double v = o.whole ? r.range(int(o.lo), int(o.hi)) : r.uniform(o.lo, o.hi);
      if (r.chance(0.2)) return make_call({num(7001), text(name)});  // get_option
      return make_call({num(5050), text(name), num(v)});
    }
    if (pick < 14) return make_call({num(5010), num(r.chance(0.1) ? 1 : 0)});
    if (pick < 16) return make_call({num(5020), num(r.uniform(50e6, 120e6))});
    if (pick < 18) return make_call({num(5051)});
    if (pick < 19) return make_call({num(5001), num(-1)});  // already initialised
    return make_call({num(5002)});
  }

  call sensible() {
    if (!s.initialised) {
      if (r.chance(0.9)) return make_call({num(5001), num(r.chance(0.05) ? 0 : -1)});
      return make_call({num(r.pick(std::vector<double>{5051, 5002, 1001, 4001})), num(0)});
    }
    if (s.debug && r.chance(0.5)) return make_call({num(5010), num(0)});
    const std::vector<int> large = handles(true, true);
    if (!large.empty() && r.chance(0.9)) return make_call({num(1040), num(large[0], use::handle)});
    const std::vector<int> live = handles(true);
    const double p = r.unit();
    if (live.empty()) return p < 0.8 ? constructor() : general();
    if (p < 0.12)
      return live.size() < 6 ? constructor()
                             : make_call({num(1040), num(r.pick(live), use::handle)});
    if (p < 0.55) return aperture_setting(r.pick(live));
    if (p < 0.80) return calculation(live);
    if (p < 0.86) return make_call({num(1040), num(r.pick(live), use::handle)});
    return general();
  }

  // -------------------------------------------------------------------------------------------
  // Mutations: one or two changes to a sensible call.

  double special_value() {
    static const std::vector<double> v = {
        NAN, INFINITY, -INFINITY, -0.0, 0,    1e300, -1e300,      1e-300,       5e-324,
        1e9, -1,       0.5,       2.5,  1e15, 1e-15, 2147483648., -2147483649., 65536.5};
    return r.pick(v);
  }

  // A class the module must refuse where it expects numbers, of the argument's shape.
  arg wrong_class(const arg& a) {
    switch (r.range(0, 6)) {
      case 0:
        return text(r.chance(0.5) ? "abc" : "");
      case 1:
        return text("use_att");
      default: {
        arg b;
        b.role = a.role;
        b.rows = a.rows;
        b.cols = a.cols;
        const int k = r.range(0, 4);
        if (k == 0) b.complex = true;
        if (k == 1) b.sparse = true;
        if (k >= 2)
          b.cls = r.pick(std::vector<embedded_class>{
              embedded_class::char_class, embedded_class::logical_class,
              embedded_class::int32_class, embedded_class::single_class});
        return b;
      }
    }
  }

  // The argument re-laid as rows x cols: value (i, j) kept where it exists, the last row and
  // column repeated where it does not.
  static arg reshaped(const arg& a, size_t rows, size_t cols) {
    arg b = a;
    b.rows = rows;
    b.cols = cols;
    b.v.assign(rows * cols, 0.0);
    if (a.v.empty()) return b;
    for (size_t i = 0; i < rows; ++i)
      for (size_t j = 0; j < cols; ++j)
        b.v[i + j * rows] = a.at(std::min(i, a.rows - 1), std::min(j, a.cols - 1));
    return b;
  }

  static arg transposed(const arg& a) {
    arg b = a;
    std::swap(b.rows, b.cols);
    for (size_t i = 0; i < a.rows; ++i)
      for (size_t j = 0; j < a.cols; ++j) b.v[j + i * b.rows] = a.at(i, j);
    return b;
  }

  double handle_value() {
    const std::vector<int> freed = handles(false);
    if (!freed.empty() && r.chance(0.4)) return r.pick(freed);
    const double n = static_cast<double>(s.slots.size());
    return r.pick(
        std::vector<double>{-1, n, n + 5, 0.49, 0.5, -0.6, NAN, INFINITY, 1e10, 2147483648., 1.5});
  }

  void mutate(call& c) {
    const size_t k = 1 + r.next() % std::max<size_t>(c.args.size() - 1, 1);  // not the code
    const bool has_arg = k < c.args.size();
    arg* a = has_arg ? &c.args[k] : nullptr;
    char what[160];
    switch (r.range(0, 11)) {
      case 0:  // too few arguments
        if (c.args.size() < 2) return mutate(c);
        c.args.resize(static_cast<size_t>(r.range(1, static_cast<int>(c.args.size()) - 1)));
        std::snprintf(what, sizeof what, "kept %zu arguments", c.args.size());
        break;
      case 1:  // too many
        for (int n = r.range(1, 3); n > 0; --n)
          c.args.push_back(r.chance(0.5) ? num(special_value()) : text("x"));
        std::snprintf(what, sizeof what, "extra arguments");
        break;
      case 2:
        if (!a) return mutate(c);
        *a = wrong_class(*a);
        std::snprintf(what, sizeof what, "argument %zu of a wrong class", k + 1);
        break;
      case 3:
      case 4:
      case 5: {  // a special value in a random place
        if (!a || !a->plain() || a->v.empty()) return mutate(c);
        const size_t i = r.next() % a->v.size();
        a->v[i] = special_value();
        std::snprintf(what, sizeof what, "argument %zu value %zu = %s", k + 1, i + 1,
                      number_text(a->v[i]).c_str());
        break;
      }
      case 6: {  // one row or column more or fewer, or transposed
        if (!a || !a->plain()) return mutate(c);
        const int how = r.range(0, 4);
        if (how == 4) {
          *a = transposed(*a);
        } else {
          const size_t rows = a->rows + (how == 0) - (how == 1 && a->rows > 0);
          const size_t cols = a->cols + (how == 2) - (how == 3 && a->cols > 0);
          *a = reshaped(*a, rows, cols);
        }
        std::snprintf(what, sizeof what, "argument %zu reshaped to %zu x %zu", k + 1, a->rows,
                      a->cols);
        break;
      }
      case 7: {  // a matrix where a scalar is expected, or an empty matrix
        if (!a) return mutate(c);
        const bool empty = r.chance(0.4);
        *a = empty ? reshaped(*a, r.range(0, 1), 0) : reshaped(*a, 2, 2);
        std::snprintf(what, sizeof what, "argument %zu %s", k + 1, empty ? "empty" : "2 x 2");
        break;
      }
      case 8: {  // a stale or invalid handle
        size_t h = 0;
        for (size_t i = 1; i < c.args.size() && !h; ++i)
          if (c.args[i].role == use::handle) h = i;
        if (!h) return mutate(c);
        c.args[h] = num(handle_value(), use::handle);
        std::snprintf(what, sizeof what, "handle argument %zu = %s", h + 1,
                      number_text(c.args[h].v[0]).c_str());
        break;
      }
      case 9: {  // another command code
        const double code =
            r.chance(0.5) ? r.range(0, 6000)
                          : r.pick(std::vector<double>{0, 1000, 1006, 1064, 1099, 4004, 4008, 4016,
                                                       5000, 5003, 6001, -4001, 1000.49, 5000.5,
                                                       2147483648., 1e10, NAN, INFINITY});
        c.args[0] = num(code);
        c.arity = c.args.size();
        std::snprintf(what, sizeof what, "code %s", number_text(code).c_str());
        break;
      }
      case 10:  // result slots
        c.nlhs = r.range(0, 3);
        std::snprintf(what, sizeof what, "nlhs %d", c.nlhs);
        break;
      default: {  // a huge, zero or negative count where a small one is expected
        std::vector<size_t> counts;
        for (size_t i = 1; i < c.args.size(); ++i)
          if (c.args[i].role == use::count && c.args[i].plain() && !c.args[i].v.empty())
            counts.push_back(i);
        if (counts.empty()) return mutate(c);
        const size_t i = r.pick(counts);
        c.args[i].v[0] = r.pick(std::vector<double>{1e9, 2147483647., 2147483648., -5, 0, 0.4});
        std::snprintf(what, sizeof what, "count argument %zu = %s", i + 1,
                      number_text(c.args[i].v[0]).c_str());
        break;
      }
    }
    c.mutation += (c.mutation.empty() ? "" : "; ") + std::string(what);
  }
};

// ---------------------------------------------------------------------------------------------
// Findings.

struct options {
  long long calls = 2000;
  unsigned long long seed = 1;
  long long start = 0;
  double slow = 3.0;   // a call slower than this is reported [s]
  double hang = 20.0;  // a call slower than this is ended [s]
  bool trace = false;
  const char* program = "orvel_fuzz";
};

// What the parent and the child share: the call that runs, for a report when the child dies.
struct shared_state {
  std::atomic<long long> running;     // index of the running call, -1 between calls
  std::atomic<long long> started_ns;  // when it started (steady clock)
  std::atomic<long long> done;        // calls finished, all segments together
  std::atomic<long long> findings;    // findings reported, all segments together
  std::atomic<int> finished;          // the child's segment ran to its end
  char call[16384];                   // the running call as host code
  char report[512];                   // the start of a sanitizer report
};
shared_state* shared = nullptr;

struct finding_log {
  const options& opt;
  long long segment_start;
  std::map<std::string, long long> seen;  // distinct findings of this segment and their counts

  // kind: crash, hang, leak, garbage, error-text, refusal-changed-state or nan-result.
  void report(const char* kind, const std::string& key, const std::string& detail, long long index,
              const std::string& reproducer) {
    ++shared->findings;
    if (seen[std::string(kind) + " | " + key]++) return;
    std::printf(
        "FINDING [%s] seed %llu call %lld: %s\n  %s\n  replay: %s --seed %llu --start "
        "%lld --calls %lld --trace\n",
        kind, opt.seed, index, detail.c_str(), reproducer.c_str(), opt.program, opt.seed,
        segment_start, index + 1);
    std::fflush(stdout);
  }

  void summary() const {
    if (seen.empty()) return;
    std::printf("Distinct findings of calls %lld to %lld (kind | key: count):\n", segment_start,
                shared->done.load() - 1);
    for (const auto& [key, n] : seen) std::printf("  %s: %lld\n", key.c_str(), n);
    std::fflush(stdout);
  }
};

bool is_calculation(double code) { return code >= 4001 && code <= 4015; }
bool is_map(double code) { return code == 7002 || code == 7003 || code == 7010; }

// The first non-finite, and whether any huge or tiny, value the command reads.
struct input_values {
  int nonfinite_arg = 0;  // 1-based argument number, 0 if none
  bool extreme = false;
};

input_values inspect(const call& c) {
  input_values in;
  for (size_t k = 1; k < c.args.size() && k < c.arity; ++k) {
    if (!c.args[k].plain()) continue;
    for (double x : c.args[k].v) {
      if (!std::isfinite(x) && !in.nonfinite_arg) in.nonfinite_arg = static_cast<int>(k) + 1;
      if (std::fabs(x) >= 1e15 || (x != 0 && std::fabs(x) <= 1e-200)) in.extreme = true;
    }
  }
  return in;
}

// Arguments whose sizes disagree in a call that the module accepted: a table with more or fewer
// rows than its time or element-number vector, amplitudes or distances not one per point, points
// not of 3 columns, an enabled table or row heights not of the counts given. Empty if none.
std::string shape_mismatch(const call& c) {
  if (c.args.size() < c.arity || !c.args[0].plain() || c.args[0].v.empty()) return "";
  auto at = [&c](size_t k) -> const arg& { return c.args[k - 1]; };  // numbered from the code
  auto whole = [](const arg& x) { return x.v.empty() ? -1 : std::floor(x.v[0] + 0.5); };
  auto values = [](const arg& x) { return static_cast<double>(x.v.size()); };
  struct rule {
    size_t given, taken;  // argument taken must have what argument given calls for
    double want, has;
  };
  std::vector<rule> rules;
  const double code = c.args[0].v[0];
  // A time table of one row may come as a column: one time, one column.
  auto one_row_as_column = [&] { return at(3).rows == 1 && at(4).cols == 1; };
  const bool time_table = code == 1060 || code == 1061 || code == 1070;
  if ((time_table && !one_row_as_column()) || (code >= 1080 && code <= 1082))
    rules.push_back({3, 4, double(at(3).rows), double(at(4).rows)});
  if (code == 1002) rules.push_back({2, 8, whole(at(2)) * whole(at(3)), values(at(8))});
  if (code >= 1012 && code <= 1014) rules.push_back({4, 5, whole(at(4)), values(at(5))});
  if (code == 1020) rules.push_back({2, 3, double(at(2).rows), values(at(3))});
  size_t points = code == 1060 ? 4 : 0;
  if (is_map(code) && code != 7010) points = code == 7002 ? 3 : 4;
  if (is_calculation(code)) {
    points = code == 4001 || code == 4002 || code == 4012 ? 3 : 4;
    for (size_t k = points + 1; k <= c.arity && !(code == 4007 && k == 6); ++k)
      rules.push_back({points, k, double(at(points).rows), values(at(k))});  // one per point
  }
  if (points && at(points).rows > 0 && !(code == 1060 && one_row_as_column()))
    rules.push_back({points, points, 3, double(at(points).cols)});
  for (const rule& r : rules) {
    if (!at(r.given).plain() || !at(r.taken).plain() || r.want == r.has) continue;
    char what[128];
    std::snprintf(what, sizeof what,
                  "argument %zu with %g rows, columns or values where argument %zu calls for %g",
                  r.taken, r.has, r.given, r.want);
    return what;
  }
  return "";
}

// The error text of a refused call: non-empty, from a known family, at most one host prefix,
// never the catch-all of unexpected failures.
const char* bad_error_text(const std::string& e) {
  if (e.empty()) return "empty error text";
  if (e.find("Unexpected failure") != std::string::npos) return "unexpected failure";
  const std::string prefix = "Orvel_mex: ";
  const size_t first = e.find(prefix);
  if (first != std::string::npos && e.find(prefix, first + 1) != std::string::npos)
    return "doubled host prefix";
  const std::string body = e.compare(0, prefix.size(), prefix) == 0 ? e.substr(prefix.size()) : e;
  for (const char* family : {"Internal Error ", "Orvel error: ", "Error: "})
    if (body.compare(0, std::strlen(family), family) == 0) return nullptr;
  return "text of no known family";
}

// Runs calls [first, opt.calls) from a fresh module; returns when done.
void run_segment(const options& opt, long long first) {
  finding_log log{opt, first, {}};
  rng r{opt.seed * 0x2545f4914f6cdd1dull ^ static_cast<unsigned long long>(first)};
  snapshot before = take_snapshot();
  bool tainted = false;  // a non-finite or extreme value was accepted since initialisation
  for (long long i = first; i < opt.calls; ++i) {
    generator gen{r, before};
    call c = gen.sensible();
    if (r.chance(0.3)) {
      gen.mutate(c);
      if (r.chance(0.2)) gen.mutate(c);
    }
    const std::string reproducer = call_text(c);
    std::snprintf(shared->call, sizeof shared->call, "%s", reproducer.c_str());
    shared->started_ns = now_ns();
    shared->running = i;
    if (opt.trace) {
      std::printf("%lld: %s%s%s\n", i, reproducer.c_str(), c.mutation.empty() ? "" : "  % ",
                  c.mutation.c_str());
      std::fflush(stdout);
    }
    // A call still running after --slow seconds gets a Ctrl-C, as a user would press it.
    const long long slow_us = static_cast<long long>(opt.slow * 1e6);
    itimerval timer{{0, 0}, {static_cast<time_t>(slow_us / 1000000), slow_us % 1000000}};
    setitimer(ITIMER_REAL, &timer, nullptr);
    const outcome o = execute(c.args, c.nlhs);
    timer = {};
    setitimer(ITIMER_REAL, &timer, nullptr);
    embedded_interrupt_at_poll(0);
    const snapshot after = take_snapshot();
    const double code = c.args.empty() || !c.args[0].plain() ? 0 : c.args[0].v[0];
    const std::string code_key = c.args.empty() ? "none" : arg_text(c.args[0]);
    if (opt.trace && !o.ok) std::printf("    -> %s\n", o.error.c_str());

    auto found = [&](const char* kind, const std::string& key, const std::string& detail) {
      log.report(kind, code_key + " " + key, detail, i, reproducer);
    };
    char detail[256];
    // Every call is quick, or stops within 2/3 of --slow (2 s by default) of the Ctrl-C posted at
    // --slow: a long non-linear propagation, or sums of hundreds of megabytes that the memory
    // allows (echoes seconds apart), take their time by design. A long result (points far apart
    // on one time axis, or a tiny speed of sound) takes its time to compute, transform and fill:
    // 200 ns per value returned is allowed beyond --slow.
    const bool interrupted = o.error.find("interrupted (Ctrl-C)") != std::string::npos;
    double result_values = 0;
    for (const result_matrix& m : o.results) result_values += double(m.rows) * double(m.cols);
    if (o.seconds > opt.slow + 2e-7 * result_values &&
        !(interrupted && o.seconds < opt.slow * 5 / 3)) {
      std::snprintf(detail, sizeof detail, "the call took %.1f s%s", o.seconds,
                    interrupted ? " (stopped by the Ctrl-C posted when it was slow)" : "");
      found("hang", "slow", detail);
    }
    if (o.left_arrays != 0) {
      std::snprintf(detail, sizeof detail, "%ld host matrices made and never returned or freed",
                    o.left_arrays);
      found("leak", "host matrices", detail);
    }
    const input_values in = inspect(c);
    if (!o.ok) {
      if (const char* bad = bad_error_text(o.error))
        found("error-text", bad, std::string(bad) + ": \"" + o.error + "\"");
      if (o.error.find("Not enough memory") != std::string::npos)
        found("hang", "out of memory", "refused for want of memory: \"" + o.error + "\"");
      if (after.text != before.text) {
        const std::string line = first_difference(before.text, after.text);
        const size_t label = line.find_first_not_of(' ');
        found("refusal-changed-state",
              line.substr(label, line.find_first_of(":0123456789") - label),
              "refused with \"" + o.error + "\" but changed the state: before \"" +
                  line_at(before.text, line) + "\", after \"" + line_at(after.text, line) + "\"");
      }
    }
    if ((is_calculation(code) || is_map(code)) && before.initialised &&
        after.bytes != before.bytes) {
      std::snprintf(detail, sizeof detail, "the store held %lld bytes before and %lld after",
                    static_cast<long long>(before.bytes), static_cast<long long>(after.bytes));
      found("leak", "calculation", detail);
    } else if (after.unaccounted && before.unaccounted &&
               *after.unaccounted != *before.unaccounted) {
      std::snprintf(detail, sizeof detail,
                    "the store's count less the apertures' signals went from %lld to %lld bytes",
                    static_cast<long long>(*before.unaccounted),
                    static_cast<long long>(*after.unaccounted));
      found("leak", "accounting", detail);
    }
    bool results_nonfinite = false;
    for (const result_matrix& m : o.results) results_nonfinite |= m.nonfinite;
    if (o.ok && in.nonfinite_arg) {
      const bool stored = after.nonfinite && !before.nonfinite;
      const bool pulse = code == 1050 || code == 1051 || code == 1082;  // not shown by queries
      if (stored || results_nonfinite || pulse) {
        std::snprintf(detail, sizeof detail, "non-finite argument %d accepted and %s",
                      in.nonfinite_arg, results_nonfinite ? "returned" : "stored");
        found("garbage", "argument " + std::to_string(in.nonfinite_arg), detail);
      }
    }
    if (o.ok && !c.mutation.empty()) {
      const std::string mismatch = shape_mismatch(c);
      if (!mismatch.empty()) found("garbage", "shape", "accepted with " + mismatch);
    }
    // A calculation refuses a result that overflowed, whatever its inputs; other results may
    // hold no NaN or Inf while every value given was finite and moderate.
    if (o.ok && results_nonfinite && (is_calculation(code) || is_map(code))) {
      found("nan-result", "calculation", "a calculation returned NaN or Inf");
    } else if (o.ok && !in.nonfinite_arg && results_nonfinite && !tainted && !in.extreme) {
      found("nan-result", "", "a result holds NaN or Inf although every input was finite");
    }

    if (o.ok && (code == 5001 || code == 5002)) tainted = false;
    if (o.ok && (in.nonfinite_arg || in.extreme)) tainted = true;
    before = after;
    if (o.seconds > opt.slow || o.error.find("Not enough memory") != std::string::npos) {
      // The aperture or setting behind it would make later calls as slow: start again.
      execute({num(5002)});
      if (opt.trace) std::printf("    (Orvel_mex(5002) after a slow call)\n");
      before = take_snapshot();
      tainted = false;
    }
    shared->running = -1;
    ++shared->done;
  }
  log.summary();
}

#ifdef __SANITIZE_ADDRESS__
// Keeps the line of the sanitizer's report that names the error.
void keep_report(const char* text) {
  const char* line = std::strstr(text, "ERROR: ");
  if (!line) line = text;
  const size_t n = std::strcspn(line, "\n");
  std::snprintf(shared->report, sizeof shared->report, "%.*s", static_cast<int>(n), line);
}
#endif

// The child: a fresh module, calls from first on, then the module unloaded (the leak check of
// the sanitizer runs at its exit).
[[noreturn]] void child(const options& opt, long long first) {
  std::signal(SIGALRM, [](int) { embedded_interrupt_now(); });
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The module's memory limit below the sanitizers' 2 GiB cap on one allocation, which it
  // cannot see: it refuses what would pass that cap, as it would beyond a machine's memory.
  setenv("ORVEL_MEMORY_LIMIT", "1073741824", 1);
#endif
#ifdef __SANITIZE_ADDRESS__
  __asan_set_error_report_callback(keep_report);
#elif !defined(__SANITIZE_THREAD__)
  // Without the sanitizer's allocation cap, huge requests fail here instead of exhausting the
  // machine; the module then refuses the call for want of memory, which is reported.
  const rlim_t limit = rlim_t{3} << 30;
  const struct rlimit as = {limit, limit};
  setrlimit(RLIMIT_AS, &as);
#endif
  run_segment(opt, first);
  embedded_unload();
  embedded_console_take();
  shared->finished = 1;
  std::fflush(stdout);
  std::exit(0);
}

bool parse(int argc, char** argv, options& opt) {
  opt.program = argv[0];
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    const char* v = k + 1 < argc ? argv[k + 1] : nullptr;
    if (a == "--trace") {
      opt.trace = true;
      continue;
    }
    if (!v) return false;
    ++k;
    if (a == "--calls")
      opt.calls = std::atoll(v);
    else if (a == "--seed")
      opt.seed = std::strtoull(v, nullptr, 10);
    else if (a == "--start")
      opt.start = std::atoll(v);
    else if (a == "--slow")
      opt.slow = std::atof(v);
    else if (a == "--hang")
      opt.hang = std::atof(v);
    else
      return false;
  }
  return opt.calls >= 0 && opt.start >= 0 && opt.slow > 0 && opt.hang > 0;
}

}  // namespace

int main(int argc, char** argv) {
  options opt;
  if (!parse(argc, argv, opt)) {
    std::fprintf(stderr,
                 "usage: %s [--calls N] [--seed S] [--start K] [--slow SECONDS] "
                 "[--hang SECONDS] [--trace]\n",
                 argv[0]);
    return 2;
  }
  void* mem = mmap(nullptr, sizeof(shared_state), PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (mem == MAP_FAILED) return 2;
  shared = new (mem) shared_state{};
  const clock_type::time_point t0 = clock_type::now();
  std::map<std::string, long long> deaths;  // distinct deaths of children and their counts
  long long first = opt.start;
  constexpr int most_children = 1000;  // a fault on nearly every call is reported well enough
  for (int children = 0; first < opt.calls && children < most_children; ++children) {
    shared->running = -1;
    shared->finished = 0;
    shared->report[0] = '\0';
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) child(opt, first);
    int status = 0;
    bool hung = false;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      const double elapsed = 1e-9 * static_cast<double>(now_ns() - shared->started_ns);
      if (shared->running >= 0 && elapsed > opt.hang && !hung) {
        hung = true;
        kill(pid, SIGKILL);
      }
      usleep(10000);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && shared->finished) break;
    const long long at = shared->running;
    ++shared->findings;
    char why[640];
    if (hung)
      std::snprintf(why, sizeof why, "the call ran longer than %.0f s and was ended", opt.hang);
    else if (shared->report[0])
      std::snprintf(why, sizeof why, "%s", shared->report);
    else if (WIFSIGNALED(status))
      std::snprintf(why, sizeof why, "the child was killed by signal %d (%s)", WTERMSIG(status),
                    strsignal(WTERMSIG(status)));
    else
      std::snprintf(why, sizeof why, "the child exited with code %d (see the sanitizer's report)",
                    WEXITSTATUS(status));
    if (at < 0) {  // after its last call: the sanitizer's leak check at exit
      std::printf("FINDING [crash] seed %llu at the end of the calls: %s\n", opt.seed, why);
      break;
    }
    // The same death in the same command is reported once.
    const char* call = std::strstr(shared->call, "Orvel_mex(");
    const std::string code = call ? std::string(call + 10, std::strcspn(call + 10, ",)")) : "";
    std::string kind = why;  // the kind of report, without its addresses
    kind = kind.substr(0, std::min(kind.find(" on "), kind.find(" size 0x")));
    if (deaths[(hung ? "hang | " : "crash | ") + code + " | " + kind]++ == 0)
      std::printf(
          "FINDING [%s] seed %llu call %lld: %s\n  %s\n  replay: %s --seed %llu --start "
          "%lld --calls %lld --trace\n",
          hung ? "hang" : "crash", opt.seed, at, why, shared->call, opt.program, opt.seed, first,
          at + 1);
    first = at + 1;
  }
  if (!deaths.empty()) {
    std::printf("Distinct deaths of the children (kind | command | report: count):\n");
    for (const auto& [key, n] : deaths) std::printf("  %s: %lld\n", key.c_str(), n);
  }
  const double seconds = std::chrono::duration<double>(clock_type::now() - t0).count();
  std::printf("orvel_fuzz: %lld calls from seed %llu in %.1f s, %lld findings\n",
              shared->done.load(), opt.seed, seconds, shared->findings.load());
  return shared->findings ? 1 : 0;
}
