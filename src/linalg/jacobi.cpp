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

constexpr size_t kPending = 64;  // rotations whose column updates wait at most
constexpr size_t kBatch = 64;    // rows handed to the kernel at once

// The column updates of a rotation touch two entries of every row. They are applied
// row by row instead: a row receives its waiting rotations, in order, just before the
// sweep reads it (row q of the next rotation) and otherwise when the list is full or the
// row p of the sweep changes. Row p itself, and row q of each rotation, are kept current.
void flush(const Kernels &k, double *a, size_t n, size_t p, const RealRotation *list, size_t len) {
  double *batch[kBatch];
  size_t count = 0, j = 0;
  for (size_t r = 0; r < n; ++r) {
    if (r == p) continue;
    while (j < len && list[j].q < r) ++j;
    if (j < len && list[j].q == r) {  // already current up to its own rotation
      double *row = a + r * n;
      if (j + 1 < len) k.rotate_pending(&row, 1, p, list + j + 1, len - j - 1);
      continue;
    }
    batch[count++] = a + r * n;
    if (count == kBatch) {
      k.rotate_pending(batch, count, p, list, len);
      count = 0;
    }
  }
  if (count != 0) k.rotate_pending(batch, count, p, list, len);
}

void sweep(const Kernels &k, double *a, size_t n) {
  RealRotation list[kPending];
  for (size_t p = 0; p + 1 < n; ++p) {
    double *rp = a + p * n;
    size_t len = 0;
    for (size_t q = p + 1; q < n; ++q) {
      const double apq = rp[q];
      if (apq == 0.0) continue;
      double *rq = a + q * n;
      if (len != 0) k.rotate_pending(&rq, 1, p, list, len);
      const double theta = (rq[q] - rp[p]) / (apq + apq);
      const double r = root(fused(theta, theta, 1.0));
      const double big = theta >= 0.0 ? theta + r : theta - r;
      const double t = 1.0 / big;
      const double c = 1.0 / root(fused(t, t, 1.0));
      const RealRotation g = {q, c, t * c, -(t * c)};
      k.rotate(rp, rq, n, g.c, g.s, g.ns);
      double *both[2] = {rp, rq};
      k.rotate_pending(both, 2, p, &g, 1);
      list[len++] = g;
      if (len == kPending) {
        flush(k, a, n, p, list, len);
        len = 0;
      }
    }
    if (len != 0) flush(k, a, n, p, list, len);
  }
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
    sweep(k, a, nn);
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
