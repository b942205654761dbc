// Eigenvalues of a real symmetric matrix by the cyclic Jacobi method, rotating the
// caller's matrix in place until its off-diagonal part is small.
#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {
namespace {

// off(A) = sum over i < j of 2*a_ij^2, row by row, one fused step per entry.
double off_diagonal(const double *a, size_t n) {
  double acc = 0.0;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j) {
      const double v = a[i * n + j];
      acc = fused(v + v, v, acc);
    }
  return acc;
}

}  // namespace

kaldro_status jacobi_eigvals(const Kernels &k, uint32_t n, double *a, uint32_t max_sweeps,
                             double *eigenvalues, double tol, uint32_t *sweeps_run) {
  if (a == nullptr || eigenvalues == nullptr) return KALDRO_ERR_NULL;
  if (n == 0) return KALDRO_OK;
  const size_t nn = n;
  const uint32_t limit = max_sweeps >= 1 && max_sweeps <= 100 ? max_sweeps : 100;
  const double tau = (tol * tol) * off_diagonal(a, nn);

  uint32_t sweeps = 0;
  for (;;) {
    const double e = off_diagonal(a, nn);
    if (e <= tau || e < 1e-300) break;
    for (size_t p = 0; p + 1 < nn; ++p) {
      for (size_t q = p + 1; q < nn; ++q) {
        const double apq = a[p * nn + q];
        if (apq == 0.0) continue;
        const double theta = (a[q * nn + q] - a[p * nn + p]) / (apq + apq);
        const double r = root(fused(theta, theta, 1.0));
        const double big = theta >= 0.0 ? theta + r : theta - r;
        const double t = 1.0 / big;
        const double c = 1.0 / root(fused(t, t, 1.0));
        const double s = t * c;
        const double ns = -(t * c);
        k.rotate(a + p * nn, a + q * nn, nn, c, s, ns);
        k.rotate_columns(a, nn, nn, p, q, c, s, ns);
      }
    }
    if (++sweeps >= limit) break;
  }
  for (size_t i = 0; i < nn; ++i) eigenvalues[i] = a[i * nn + i];
  if (sweeps_run != nullptr) *sweeps_run = sweeps;
  return KALDRO_OK;
}

}  // namespace linalg
}  // namespace kaldro

extern "C" KALDRO_API kaldro_status kaldro_jacobi_eigvals(uint32_t n, double *a,
                                                          uint32_t max_sweeps,
                                                          double *eigenvalues, double tol) {
  return kaldro::linalg::jacobi_eigvals(kaldro::linalg::active_kernels(), n, a, max_sweeps,
                                        eigenvalues, tol);
}
