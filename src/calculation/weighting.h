// The weighting of one physical element's signal by the distance each sample has travelled:
// the spreading of the rectangles' far field, the soft baffle's obliquity and the frequency
// independent attenuation, as the plan says. Shared by the responses of every kind of element.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "calculation/attenuation.h"
#include "calculation/response_plan.h"

namespace weighting_detail {
// One loop per combination, so that no flag is tested per sample; each product is rounded in
// the order written.
template <bool spreading, bool soft, bool attenuate, class Distance>
[[gnu::always_inline]] inline void weight_samples(double* s, int32_t n, Distance& distance,
                                                  double apodization, double z, double kappa) {
  constexpr double two_pi = 2.0 * std::numbers::pi;
  for (int32_t k = 0; k < n; ++k) {
    const double r = distance(k);
    double v = s[k];
    if constexpr (spreading) {
      v = v * apodization / r;
      if constexpr (soft) v = v * z * two_pi / r;
      if constexpr (attenuate) v *= std::exp(std::min(kappa * r, largest_exponent));
    } else if constexpr (attenuate) {
      v = v * (std::exp(std::min(kappa * r, largest_exponent)) * apodization);
      if constexpr (soft) v = v * (z / r);
    } else if constexpr (soft) {
      v = v * (apodization * z / r);
    } else {
      v = v * apodization;
    }
    s[k] = v;
  }
}
}  // namespace weighting_detail

// Weights s[0 .. n - 1], z being the field point's height over the aperture's plane [m].
// distance(k) is the distance sample k has travelled, never 0 (the caller puts a guard where it
// would be), called once per sample in order. With spreading (the rectangles): 1/(2 pi r) and the
// apodization, distance(k) being 2 pi r, the obliquity z 2 pi / (2 pi r) on a soft baffle, the
// attenuation per unit of 2 pi r. Without (triangles and lines, whose responses are exact): the
// apodization, z / r on a soft baffle, the attenuation per metre.
// Inlined into its callers, so that a kernel compiled for several instruction sets (ORVEL_HOT)
// keeps the loop in its own set.
template <bool spreading, class Distance>
[[gnu::always_inline]] inline void weight_by_distance(const response_plan& plan, double* s,
                                                      int32_t n, Distance distance,
                                                      double apodization, double z) {
  using weighting_detail::weight_samples;
  const double kappa = spreading ? plan.attenuation_two_pi : plan.attenuation;
  if (plan.ap->soft_baffle) {
    if (plan.use_att)
      weight_samples<spreading, true, true>(s, n, distance, apodization, z, kappa);
    else
      weight_samples<spreading, true, false>(s, n, distance, apodization, z, kappa);
  } else {
    if (plan.use_att)
      weight_samples<spreading, false, true>(s, n, distance, apodization, z, kappa);
    else
      weight_samples<spreading, false, false>(s, n, distance, apodization, z, kappa);
  }
}
