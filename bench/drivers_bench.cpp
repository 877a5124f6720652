// Benchmark of the calculation drivers alone, without a host: the time the kernel takes for the
// scenarios of the Octave benchmarks, at one thread and at every core, median of three runs.
// The Octave benchmarks add what the host costs (making and copying the result matrix).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "apertures/arrays.h"
#include "apertures/time_lines.h"
#include "calculation/drivers.h"
#include "calculation/scat_all.h"
#include "core/sys_con.h"
#include "core/thread_pool.h"
#include "elements/convert.h"

namespace {
constexpr int runs = 3;

// FNV-1a over the start sample and the bits of every sample of the last run's results, so that
// a change of the kernel that must keep every result bit for bit can be checked by comparing
// the checksums printed before and after it.
uint64_t checksum = 0;

void fold(const void* bytes, size_t n) {
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  for (size_t k = 0; k < n; ++k) checksum = (checksum ^ b[k]) * 0x100000001b3ULL;
}

void fold(const signal_ptr& s) {
  if (!s) return;
  fold(&s->start_sample, sizeof s->start_sample);
  fold(s->data.data(), static_cast<size_t>(s->no_samples) * sizeof(double));
}

double median_seconds(const std::function<void()>& work) {
  std::vector<double> t;
  for (int k = 0; k < runs; ++k) {
    checksum = 0xcbf29ce484222325ULL;
    const auto start = std::chrono::steady_clock::now();
    work();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[runs / 2];
}

void release(sys_con& sys, std::vector<signal_ptr>& v) {
  for (signal_ptr& s : v) {
    fold(s);
    free_signal(sys, s);
  }
}

void report(const char* name, int32_t threads, double seconds, double items, const char* unit) {
  std::printf("  %-34s threads %2d  median %7.3f s  %10.0f %s/s  checksum %016llx\n", name,
              threads, seconds, items / seconds, unit, static_cast<unsigned long long>(checksum));
}

// S1: a focused 64-element linear array, 101 x 101 points in the plane y = 0.
void field_scenario(sys_con& sys, const std::vector<int32_t>& thread_counts) {
  aperture_ptr ap = xdc_linear_array(sys, 64, 0.28e-3, 5e-3, 0.03e-3, 2, 10, {0, 0, 30e-3});
  std::vector<point3> points;
  for (int iz = 0; iz < 101; ++iz)
    for (int ix = 0; ix < 101; ++ix)
      points.push_back({-10e-3 + 20e-3 * ix / 100, 0, 5e-3 + 50e-3 * iz / 100});
  for (int32_t threads : thread_counts) {
    sys.threads = threads;
    report("S1 calc_h, 10201 points", threads, median_seconds([&] {
             std::vector<signal_ptr> r = calc_h(sys, *ap, points);
             release(sys, r);
           }),
           points.size(), "points");
    report("S1 calc_hp, 10201 points", threads, median_seconds([&] {
             std::vector<signal_ptr> r = calc_hp(sys, *ap, points);
             release(sys, r);
           }),
           points.size(), "points");
    const map_request peak = parse_map_request("p_peak", false, 0, 1000);
    std::vector<double> map(points.size());
    report("S1 calc_hp_map p_peak", threads, median_seconds([&] {
             calc_hp_map(sys, *ap, points, peak, map);
             fold(map.data(), map.size() * sizeof(double));
           }),
           points.size(), "points");
  }
  free_aperture(sys, ap);
}

// S1 with the array converted to triangles and to line elements, whose exact responses cost far
// more per element: calc_h at every tenth point of each direction of the S1 grid (11 x 11).
void field_kinds_scenario(sys_con& sys, const std::vector<int32_t>& thread_counts) {
  std::vector<point3> points;
  for (int iz = 0; iz < 101; iz += 10)
    for (int ix = 0; ix < 101; ix += 10)
      points.push_back({-10e-3 + 20e-3 * ix / 100, 0, 5e-3 + 50e-3 * iz / 100});
  for (const char* kind : {"triangles", "lines"}) {
    aperture_ptr ap = xdc_linear_array(sys, 64, 0.28e-3, 5e-3, 0.03e-3, 2, 10, {0, 0, 30e-3});
    if (kind[0] == 't')
      convert_to_triangles(*ap);
    else
      convert_to_lines(*ap);
    const std::string name = std::string("S1 calc_h ") + kind + ", 121 points";
    for (int32_t threads : thread_counts) {
      sys.threads = threads;
      report(name.c_str(), threads, median_seconds([&] {
               std::vector<signal_ptr> r = calc_h(sys, *ap, points);
               release(sys, r);
             }),
             points.size(), "points");
    }
    free_aperture(sys, ap);
  }
}

// S2: a 128-element plane-wave linear array for transmit and receive, two cycles of 5 MHz and
// a Hann-weighted 5 MHz impulse response, scatterers in x -10..10 mm, z 20..40 mm.
aperture_ptr s2_array(sys_con& sys, int32_t elements = 128) {
  const double f0 = 5e6, fs = sys.fs;
  aperture_ptr ap = xdc_linear_array(sys, elements, 0.27e-3, 5e-3, 0.03e-3, 1, 5, {0, 0, 30e-3});
  xdc_focus_delays(sys, *ap, {0.0}, {std::vector<double>(elements, 0.0)});
  signal_ptr impulse = alloc_signal(sys, 40, 0);
  for (int k = 0; k < 40; ++k) {
    const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (k + 1) / 41);
    impulse->data[k] = hann * std::sin(2 * std::numbers::pi * f0 * k / fs);
  }
  xdc_impulse(sys, *ap, std::move(impulse));
  const int32_t cycles = static_cast<int32_t>(std::floor(2 / f0 * fs)) + 1;
  signal_ptr excitation = alloc_signal(sys, cycles, 0);
  for (int k = 0; k < cycles; ++k)
    excitation->data[k] = std::sin(2 * std::numbers::pi * f0 * k / fs);
  xdc_excitation(sys, *ap, std::move(excitation));
  return ap;
}

void scatter_scenario(sys_con& sys, const std::vector<int32_t>& thread_counts,
                      const std::vector<size_t>& sizes, bool summed = true) {
  aperture_ptr tx = s2_array(sys), rx = s2_array(sys);
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> x(-10e-3, 10e-3), z(20e-3, 40e-3), a(-0.5, 0.5);
  std::vector<point3> points;
  std::vector<double> amplitudes;
  for (int k = 0; k < 10000; ++k) {
    points.push_back({x(gen), 0, z(gen)});
    amplitudes.push_back(a(gen));
  }
  for (int32_t threads : thread_counts) {
    sys.threads = threads;
    for (size_t n : sizes) {
      const std::string name = "S2 calc_scat_multi, " + std::to_string(n) + " scatterers";
      report(name.c_str(), threads, median_seconds([&] {
               std::vector<signal_ptr> r =
                   calc_scat_multi(sys, *tx, *rx, {points.data(), n}, {amplitudes.data(), n});
               release(sys, r);
             }),
             n, "scatterers");
    }
    if (!summed) continue;
    report("S2 calc_scat, 10000 scatterers", threads, median_seconds([&] {
             signal_ptr r = calc_scat(sys, *tx, *rx, points, amplitudes);
             fold(r);
             free_signal(sys, r);
           }),
           points.size(), "scatterers");
  }
  free_aperture(sys, tx);
  free_aperture(sys, rx);
}

// S3: every element pair of a 32-element array of the S2 kind used both ways (synthetic
// aperture), 1000 scatterers of the S2 region, full rate and decimated by 4.
void all_pairs_scenario(sys_con& sys, const std::vector<int32_t>& thread_counts) {
  aperture_ptr ap = s2_array(sys, 32);
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> x(-10e-3, 10e-3), z(20e-3, 40e-3), a(-0.5, 0.5);
  std::vector<point3> points;
  std::vector<double> amplitudes;
  for (int k = 0; k < 1000; ++k) {
    points.push_back({x(gen), 0, z(gen)});
    amplitudes.push_back(a(gen));
  }
  for (int32_t threads : thread_counts) {
    sys.threads = threads;
    for (int32_t D : {1, 4}) {
      const std::string name = "S3 calc_scat_all, 1000 scat, D " + std::to_string(D);
      report(name.c_str(), threads, median_seconds([&] {
               std::vector<std::vector<signal_ptr>> r =
                   calc_scat_all(sys, *ap, *ap, points, amplitudes, D);
               for (std::vector<signal_ptr>& row : r) release(sys, row);
             }),
             points.size(), "scatterers");
    }
  }
  free_aperture(sys, ap);
}
}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  sys_con sys;
  sys.show_times = 0;
  const int32_t cores = available_cores();
  std::vector<int32_t> thread_counts = {1};
  if (cores > 1) thread_counts.push_back(cores);
  std::printf("Orvel drivers benchmark (no host), %d cores usable, median of %d runs\n", cores,
              runs);
  if (only.empty() || only == "field") field_scenario(sys, thread_counts);
  if (only.empty() || only == "kinds") field_kinds_scenario(sys, thread_counts);
  if (only.empty() || only == "scat") scatter_scenario(sys, thread_counts, {1000, 10000});
  if (only.empty() || only == "all") all_pairs_scenario(sys, thread_counts);
  if (only == "multi") scatter_scenario(sys, {1}, {1000}, false);  // for profiles
  return 0;
}
