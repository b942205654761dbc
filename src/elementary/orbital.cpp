// Orbital geometry on the library's own sine, cosine and two-argument arctangent: the
// polar angle of a pin on a displaced circle, Kepler's equation by Newton steps, and the
// equation of the centre as a series in the eccentricity.
#include "elementary/elementary.h"
#include "frame/internal.h"

using namespace kaldro;

extern "C" {

KALDRO_API kaldro_status kaldro_pin_slot(double *out, double theta, double r, double c) {
  if (!out) return KALDRO_ERR_NULL;
  *out = 0.0;
  if (r == 0 && c == 0) return KALDRO_ERR_INVALID;
  double s, co;
  sincos_value(theta, &s, &co);
  *out = atan2_value(s * r, fused(r, co, c));
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_kepler_solve(uint32_t max_iterations, double *out,
                                             double mean_anomaly, double eccentricity,
                                             double tolerance) {
  if (!out) return KALDRO_ERR_NULL;
  *out = mean_anomaly;
  const double e = eccentricity, m = mean_anomaly;
  if (e < 0 || e >= 1 || max_iterations == 0) return KALDRO_ERR_INVALID;
  if (e == 0) return KALDRO_OK;
  double big_e = fused(e, sin_value(m), m);
  for (uint32_t it = 0; it < max_iterations; ++it) {
    double s, c;
    sincos_value(big_e, &s, &c);
    const double f = fused(-e, s, big_e) - m;
    const double f_prime = fused(-e, c, 1.0);
    const double delta = f / f_prime;
    big_e = big_e - delta;
    if (__builtin_fabs(delta) < tolerance) {
      *out = big_e;
      return KALDRO_OK;
    }
  }
  *out = big_e;
  return KALDRO_ERR_CAPACITY;
}

KALDRO_API kaldro_status kaldro_equation_of_centre(uint32_t order, double *out,
                                                   double mean_anomaly, double eccentricity) {
  if (!out) return KALDRO_ERR_NULL;
  *out = 0.0;
  const double e = eccentricity, m = mean_anomaly;
  if (e < 0 || e >= 1 || order < 1 || order > 6) return KALDRO_ERR_INVALID;
  // Coefficients of e^k sin(kM) for k = 2 ... 6: 5/4, 13/12, 103/96, 1097/960, 1223/960.
  static constexpr double kCoefficient[7] = {0.0, 2.0, 1.25, 1.0833333333333333,
                                             1.0729166666666667, 1.1427083333333334,
                                             1.2739583333333333};
  double acc = fused(e + e, sin_value(m), 0.0);
  double power = e;
  for (uint32_t k = 2; k <= order; ++k) {
    power = power * e;
    const double angle = k == 2 ? m + m : m * double(k);
    acc = fused(power * kCoefficient[k], sin_value(angle), acc);
  }
  *out = acc;
  return KALDRO_OK;
}

}  // extern "C"
