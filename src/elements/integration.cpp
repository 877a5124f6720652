// Romberg integration of the angle functions of triangles and line elements, with polynomial
// extrapolation to step zero. The extrapolation's tables are single precision, as the scheme
// is defined; the sums and the result are double.
#include "elements/integration.h"

#include <cmath>

#include "core/errors.h"
#include "host/console.h"
#include "signals/signal_store.h"

void POLINT(const double* xa, const double* ya, int n, double x, double& y, double& dy) {
  constexpr int most = 11;
  float c[most + 1], d[most + 1];
  // 1-based tables, as the scheme is usually written.
  const double* X = xa - 1;
  const double* Y = ya - 1;
  int ns = 1;
  float dif = static_cast<float>(std::fabs(x - X[1]));
  for (int i = 1; i <= n; ++i) {
    const float dift = static_cast<float>(std::fabs(x - X[i]));
    if (dift < dif) {
      ns = i;
      dif = dift;
    }
    c[i] = static_cast<float>(Y[i]);
    d[i] = static_cast<float>(Y[i]);
  }
  y = Y[ns--];
  dy = 0.0;
  for (int m = 1; m < n; ++m) {
    for (int i = 1; i <= n - m; ++i) {
      const float ho = static_cast<float>(X[i] - x);
      const float hp = static_cast<float>(X[i + m] - x);
      const float w = c[i + 1] - d[i];
      float den = ho - hp;
      if (den == 0.0f) host_printf("Error in routine POLINT\n");
      den = w / den;
      d[i] = hp * den;
      c[i] = ho * den;
    }
    dy = 2 * ns < n - m ? c[ns + 1] : d[ns--];
    y += dy;
  }
}

namespace integration_detail {
void report_failure(bool triangles, double a, double b, double step, double ss, double dss) {
  host_printf(triangles ? "Not possible to find convergent integral for triangles \n"
                        : "Not possible to find convergent integral \n");
  host_printf("Returning after %d iterations \n", most_stages + 1);
  host_printf("Times are %e to %e \n", a, b);
  host_printf("Time difference %e corresponding to %e \n", b - a, 1 / (b - a));
  host_printf("Step length in integration is %e, corresponding to fs= %e Hz \n", step, 1 / step);
  if (triangles)
    host_printf("Sum is %e dss is %e \n", ss, dss);
  else
    host_printf("Sum is %e \n", ss);
  host_printf("Accuracy is %e \n", std::fabs(dss) / std::fabs(ss));
  host_printf("Polynomial order %d \n", highest_order);
}

void pause_after_failure() {
  if (!host_on_helper_thread()) {
    wait_for_user_input();  // returns at once at the end of the console's input
    return;
  }
  host_printf("Waiting for user input : \n");
}
}  // namespace integration_detail

void check_element_span(const element_grid& g, double n) {
  if (n <= static_cast<double>(g.most_samples)) return;
  throw command_error(format_text(
      "Error: The response of one element at this field point would span %g s (%.0f samples), "
      "more than the %lld samples that the calculation can work with; check the element "
      "geometry and the focusing delays",
      n / g.fs, n, static_cast<long long>(g.most_samples)));
}
