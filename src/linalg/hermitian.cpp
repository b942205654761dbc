// Eigenvalues and eigenvectors of a complex Hermitian matrix by the cyclic complex
// Jacobi method: the matrix is rotated in the caller's workspace and the rotations are
// accumulated into the eigenvector matrix; eigenpairs come out in ascending order.
#include <cstring>

#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {
namespace {

constexpr uint32_t kMaxSweeps = 100;

// off(W) = sum over i < j of 2*|w_ij|^2 in row order.
double off_diagonal(const double *w, size_t n) {
  double acc = 0.0;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j) {
      const double *z = w + 2 * (i * n + j);
      const double m = fused(z[0], z[0], z[1] * z[1]);
      acc = fused(m, 2.0, acc);
    }
  return acc;
}

constexpr size_t kPending = 64;  // rotations whose column updates wait at most
constexpr size_t kBatch = 64;    // rows handed to the kernel at once

// Column updates are applied row by row, as in the real method: a row of W receives its
// waiting rotations in order just before the sweep reads it, or when the list is full
// or p changes; rows p and q of each rotation are kept current. V is only ever updated
// by columns, so all its rows wait for the list.
void flush(const Kernels &k, double *w, double *v, size_t n, size_t p,
           const ComplexRotation *list, size_t len) {
  double *batch[kBatch];
  size_t count = 0, j = 0;
  for (size_t r = 0; r < n; ++r) {
    if (r == p) continue;
    while (j < len && list[j].q < r) ++j;
    if (j < len && list[j].q == r) {
      double *row = w + 2 * r * n;
      if (j + 1 < len) k.crotate_pending(&row, 1, p, list + j + 1, len - j - 1);
      continue;
    }
    batch[count++] = w + 2 * r * n;
    if (count == kBatch) {
      k.crotate_pending(batch, count, p, list, len);
      count = 0;
    }
  }
  if (count != 0) k.crotate_pending(batch, count, p, list, len);
  for (size_t r0 = 0; r0 < n; r0 += kBatch) {
    const size_t rows = n - r0 < kBatch ? n - r0 : kBatch;
    for (size_t i = 0; i < rows; ++i) batch[i] = v + 2 * (r0 + i) * n;
    k.crotate_pending(batch, rows, p, list, len);
  }
}

void sweep(const Kernels &k, double *w, double *v, size_t n) {
  ComplexRotation list[kPending];
  for (size_t p = 0; p + 1 < n; ++p) {
    double *rp = w + 2 * p * n;
    size_t len = 0;
    for (size_t q = p + 1; q < n; ++q) {
      const double re = rp[2 * q], im = rp[2 * q + 1];
      const double m = fused(re, re, im * im);
      if (m < 1e-300) continue;
      double *rq = w + 2 * q * n;
      if (len != 0) k.crotate_pending(&rq, 1, p, list, len);
      const double r = root(m);
      const double theta = (rq[2 * q] - rp[2 * p]) / (r + r);
      const double big = theta >= 0.0 ? theta + root(fused(theta, theta, 1.0))
                                      : theta - root(fused(theta, theta, 1.0));
      const double chi = re / r, psi = im / r;
      const double t = 1.0 / big;
      const double c = 1.0 / root(fused(t, t, 1.0));
      const double s = t * c;
      // Rows with the phase e; columns of W and V with its conjugate.
      k.crotate(rp, rq, n, c, s, chi, psi);
      const ComplexRotation g = {q, c, s, chi, -psi};
      double *both[2] = {rp, rq};
      k.crotate_pending(both, 2, p, &g, 1);
      list[len++] = g;
      if (len == kPending) {
        flush(k, w, v, n, p, list, len);
        len = 0;
      }
    }
    if (len != 0) flush(k, w, v, n, p, list, len);
  }
}

}  // namespace

kaldro_status hermitian_eigendecompose(const Kernels &k, uint32_t n, const double *a,
                                       double *eigenvalues, double *eigenvectors,
                                       double *workspace, uint64_t workspace_doubles,
                                       uint32_t *sweeps_run) {
  if (a == nullptr || eigenvalues == nullptr || eigenvectors == nullptr || workspace == nullptr)
    return KALDRO_ERR_NULL;
  const uint32_t limit = uint32_t(kaldro_config_hermitian_max_nodes());
  if (n > limit) return KALDRO_ERR_CAPACITY;
  if (n == 0) return KALDRO_OK;
  const size_t nn = n;
  const uint64_t cells = uint64_t(n) * n;  // n is below 2^31 here
  if (workspace_doubles < 2 * cells) return KALDRO_ERR_CAPACITY;

  double *w = workspace, *v = eigenvectors;
  std::memcpy(w, a, 2 * cells * sizeof(double));
  std::memset(v, 0, 2 * cells * sizeof(double));
  for (size_t i = 0; i < nn; ++i) v[2 * (i * nn + i)] = 1.0;

  const double tau = off_diagonal(w, nn) * 1e-24;
  // Converged when off(W) is within the tolerance or negligible. Once the sweeps are
  // used up, the result stands when off(W) is within the tolerance or is NaN.
  uint32_t sweeps = 0;
  for (;;) {
    const double g = off_diagonal(w, nn);
    if (sweeps == kMaxSweeps) {
      if (g <= tau || g != g) break;
      if (sweeps_run != nullptr) *sweeps_run = sweeps;
      return KALDRO_ERR_CAPACITY;
    }
    if (g <= tau || g < 1e-300) break;
    sweep(k, w, v, nn);
    ++sweeps;
  }
  if (sweeps_run != nullptr) *sweeps_run = sweeps;

  for (size_t i = 0; i < nn; ++i) eigenvalues[i] = w[2 * (i * nn + i)];
  // Selection sort, ascending; the first of equal values stays first.
  for (size_t l = 0; l + 1 < nn; ++l) {
    size_t best = l;
    for (size_t i = l + 1; i < nn; ++i)
      if (eigenvalues[i] < eigenvalues[best]) best = i;
    if (best == l) continue;
    const double tmp = eigenvalues[l];
    eigenvalues[l] = eigenvalues[best];
    eigenvalues[best] = tmp;
    for (size_t r = 0; r < nn; ++r) {
      double *row = v + 2 * r * nn;
      const double re = row[2 * l], im = row[2 * l + 1];
      row[2 * l] = row[2 * best];
      row[2 * l + 1] = row[2 * best + 1];
      row[2 * best] = re;
      row[2 * best + 1] = im;
    }
  }
  return KALDRO_OK;
}

}  // namespace linalg
}  // namespace kaldro

extern "C" KALDRO_API kaldro_status kaldro_hermitian_eigendecompose_ws(
    uint32_t n, const double *a, double *eigenvalues, double *eigenvectors, double *workspace,
    uint64_t workspace_doubles) {
  return kaldro::linalg::hermitian_eigendecompose(kaldro::linalg::active_kernels(), n, a,
                                                  eigenvalues, eigenvectors, workspace,
                                                  workspace_doubles);
}
