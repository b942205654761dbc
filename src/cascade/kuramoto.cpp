// Kuramoto phase steps: one explicit Euler step of n all-to-all coupled oscillators, in
// the classic form and in a general form with phase lag, coupling matrix and drives.
// Every sine is the library's own; the O(n^2) sines are evaluated in batches.
#include "cascade/cascade.h"
#include "elementary/elementary.h"

namespace {

// Sines are evaluated in batches of this many differences (on the stack).
constexpr uint64_t kBatch = 256;

// The library's sine is exactly odd: sin(-d) has the bits of -sin(d), except that a zero
// result is +0.0 for both signs and a NaN's sign follows the argument's arithmetic. So
// each pair (i, j) needs only one sine when every difference theta_j - theta_i is finite
// (no NaN can appear) and the accumulators never hold -0.0 (they start at +0.0, and a
// round-to-nearest sum is -0.0 only when both addends are). Phases of magnitude up to
// 2^1022 keep every difference finite.
bool pairs_share_sines(const double *theta, uint64_t n) {
  constexpr double kLimit = 0x1p1022;
  for (uint64_t j = 0; j < n; ++j) {
    if (!(theta[j] <= kLimit && theta[j] >= -kLimit)) return false;
  }
  return true;
}

// Coupling weight of oscillator j on oscillator i in the general step.
inline double weight(const double *W, uint64_t n, uint64_t i, uint64_t j, double K,
                     double k_over_n) {
  return W != nullptr ? W[i * n + j] * K : k_over_n;
}

// acc[i] = sum over j in order of sin(theta_j - theta_i), one sine per unordered pair:
// row i takes its own pairs j > i as it goes, and hands -sin to row j. Each row still
// sees its terms in increasing j: those with j < i arrive from earlier rows, in order.
void classic_sums_paired(const double *theta, uint64_t n, double *acc) {
  double diff[kBatch], sines[kBatch];
  for (uint64_t i = 0; i < n; ++i) acc[i] = 0.0;
  for (uint64_t i = 0; i < n; ++i) {
    const double ti = theta[i];
    double s = acc[i] + kaldro::sin_value(ti - ti);
    for (uint64_t j0 = i + 1; j0 < n; j0 += kBatch) {
      const uint64_t len = n - j0 < kBatch ? n - j0 : kBatch;
      for (uint64_t k = 0; k < len; ++k) diff[k] = theta[j0 + k] - ti;
      kaldro::sin_many(diff, sines, len);
      for (uint64_t k = 0; k < len; ++k) {
        s = s + sines[k];
        acc[j0 + k] = acc[j0 + k] + -sines[k];
      }
    }
    acc[i] = s;
  }
}

// The same sums with every sine evaluated on its own argument.
void classic_sums_direct(const double *theta, uint64_t n, double *acc) {
  double diff[kBatch], sines[kBatch];
  for (uint64_t i = 0; i < n; ++i) {
    const double ti = theta[i];
    double s = 0.0;
    for (uint64_t j0 = 0; j0 < n; j0 += kBatch) {
      const uint64_t len = n - j0 < kBatch ? n - j0 : kBatch;
      for (uint64_t k = 0; k < len; ++k) diff[k] = theta[j0 + k] - ti;
      kaldro::sin_many(diff, sines, len);
      for (uint64_t k = 0; k < len; ++k) s = s + sines[k];
    }
    acc[i] = s;
  }
}

// g[i] = the fused sum over j in order of h_ij * sin(theta_j - theta_i) with no phase
// lag, one sine per unordered pair as in classic_sums_paired.
void coupling_paired(const double *theta, uint64_t n, const double *W, double K,
                     double k_over_n, double *g) {
  double diff[kBatch], sines[kBatch];
  for (uint64_t i = 0; i < n; ++i) g[i] = 0.0;
  for (uint64_t i = 0; i < n; ++i) {
    const double ti = theta[i];
    double gi = kaldro::fused(weight(W, n, i, i, K, k_over_n), kaldro::sin_value(ti - ti), g[i]);
    for (uint64_t j0 = i + 1; j0 < n; j0 += kBatch) {
      const uint64_t len = n - j0 < kBatch ? n - j0 : kBatch;
      for (uint64_t k = 0; k < len; ++k) diff[k] = theta[j0 + k] - ti;
      kaldro::sin_many(diff, sines, len);
      for (uint64_t k = 0; k < len; ++k) {
        const uint64_t j = j0 + k;
        gi = kaldro::fused(weight(W, n, i, j, K, k_over_n), sines[k], gi);
        g[j] = kaldro::fused(weight(W, n, j, i, K, k_over_n), -sines[k], g[j]);
      }
    }
    g[i] = gi;
  }
}

// The same sums for any phase lag, every sine on its own argument.
void coupling_direct(const double *theta, uint64_t n, const double *W, double K,
                     double k_over_n, double alpha, double *g) {
  double diff[kBatch], sines[kBatch];
  for (uint64_t i = 0; i < n; ++i) {
    const double ti = theta[i];
    double gi = 0.0;
    for (uint64_t j0 = 0; j0 < n; j0 += kBatch) {
      const uint64_t len = n - j0 < kBatch ? n - j0 : kBatch;
      for (uint64_t k = 0; k < len; ++k) diff[k] = (theta[j0 + k] - ti) - alpha;
      kaldro::sin_many(diff, sines, len);
      for (uint64_t k = 0; k < len; ++k) {
        gi = kaldro::fused(weight(W, n, i, j0 + k, K, k_over_n), sines[k], gi);
      }
    }
    g[i] = gi;
  }
}

}  // namespace

extern "C" {

// The coupling sums are gathered in out, which is then finished in place: out[i] only
// depends on theta and on its own sum.
KALDRO_API kaldro_status kaldro_cascade_kuramoto_step_f64(const double *theta,
                                                          const double *omega, uint64_t n,
                                                          double *out, double K, double dt) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (n == 0) return KALDRO_OK;
  if (theta == nullptr || omega == nullptr) return KALDRO_ERR_NULL;
  const double k_over_n = K / static_cast<double>(n);
  if (pairs_share_sines(theta, n)) {
    classic_sums_paired(theta, n, out);
  } else {
    classic_sums_direct(theta, n, out);
  }
  for (uint64_t i = 0; i < n; ++i) {
    out[i] = kaldro::fused(dt, kaldro::fused(k_over_n, out[i], omega[i]), theta[i]);
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_kuramoto_step_general_f64(
    const double *theta, const double *omega, uint64_t n, const double *W,
    const double *drive, const double *gain, double *out, double K, double alpha,
    double dt) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (n == 0) return KALDRO_OK;
  if (theta == nullptr || omega == nullptr) return KALDRO_ERR_NULL;
  const double k_over_n = K / static_cast<double>(n);
  if (alpha == 0.0 && pairs_share_sines(theta, n)) {
    coupling_paired(theta, n, W, K, k_over_n, out);
  } else {
    coupling_direct(theta, n, W, K, k_over_n, alpha, out);
  }
  for (uint64_t i = 0; i < n; ++i) {
    double f = omega[i] + out[i];
    if (drive != nullptr) {
      const double q = gain != nullptr ? gain[i] : 1.0;
      f = kaldro::fused(q, kaldro::sin_value(drive[i] - theta[i]), f);
    }
    out[i] = kaldro::fused(dt, f, theta[i]);
  }
  return KALDRO_OK;
}

}  // extern "C"
