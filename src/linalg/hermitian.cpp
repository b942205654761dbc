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

void sweep(const Kernels &k, double *w, double *v, size_t n) {
  for (size_t p = 0; p + 1 < n; ++p) {
    for (size_t q = p + 1; q < n; ++q) {
      const double *wpq = w + 2 * (p * n + q);
      const double re = wpq[0], im = wpq[1];
      const double m = fused(re, re, im * im);
      if (m < 1e-300) continue;
      const double r = root(m);
      const double theta = (w[2 * (q * n + q)] - w[2 * (p * n + p)]) / (r + r);
      const double big = theta >= 0.0 ? theta + root(fused(theta, theta, 1.0))
                                      : theta - root(fused(theta, theta, 1.0));
      const double chi = re / r, psi = im / r;
      const double t = 1.0 / big;
      const double c = 1.0 / root(fused(t, t, 1.0));
      const double s = t * c;
      // Rows with the phase e, then columns of W and V with its conjugate.
      k.crotate(w + 2 * p * n, w + 2 * q * n, n, c, s, chi, psi);
      k.crotate_columns(w, n, n, p, q, c, s, chi, -psi);
      k.crotate_columns(v, n, n, p, q, c, s, chi, -psi);
    }
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
  // Converged when off(W) is within the tolerance or negligible; a NaN measure is taken
  // as final once the sweeps are used up.
  auto converged = [&](double g) { return g <= tau || g < 1e-300; };
  uint32_t sweeps = 0;
  for (;;) {
    const double g = off_diagonal(w, nn);
    if (converged(g)) break;
    if (sweeps == kMaxSweeps) {
      if (g != g) break;
      return KALDRO_ERR_CAPACITY;
    }
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
