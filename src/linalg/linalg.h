// Internal interface of the linear-algebra subsystem: the table of hot loops (one
// portable, one for x86-64-v3; both give the same bits) and the operations written
// against a table, so the test suite can run every path the processor has.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kaldro {
namespace linalg {

// A plane rotation waiting to be applied to columns p and q of further rows.
struct RealRotation {
  size_t q;
  double c, s, ns;  // ns = -s as the rotation formed it
};
// A complex rotation of columns p and q with the unit phase (ur, ui) of the column update.
struct ComplexRotation {
  size_t q;
  double c, s, ur, ui;
};

struct Kernels {
  // Plane rotation of two arrays: x' = fma(c, x, y * ns), y' = fma(s, x, c * y), with
  // ns = -s as the caller formed it.
  void (*rotate)(double *x, double *y, size_t n, double c, double s, double ns);
  // The same rotation applied to entries p and q of each of `rows` rows of `stride`.
  void (*rotate_columns)(double *a, size_t stride, size_t rows, size_t p, size_t q, double c,
                         double s, double ns);
  // Complex rotation of two arrays of n complex numbers, with the unit phase u:
  // P' = c*P - s*(u*Q), Q' = c*Q + s*(conj(u)*P), component by component.
  void (*crotate)(double *p, double *q, size_t n, double c, double s, double ur, double ui);
  // The same on complex entries p and q of each of `rows` rows of `stride` complex numbers.
  void (*crotate_columns)(double *a, size_t stride, size_t rows, size_t p, size_t q, double c,
                          double s, double ur, double ui);
  // Applies rotations rots[0 .. count-1] in order to entries p and rots[j].q of each of
  // the rows: per row the same operations as `rotate_columns`, one rotation after another.
  void (*rotate_pending)(double *const *rows, size_t nrows, size_t p, const RealRotation *rots,
                         size_t count);
  // The same for complex rows (entry q at doubles 2q, 2q + 1), as `crotate_columns`.
  void (*crotate_pending)(double *const *rows, size_t nrows, size_t p,
                          const ComplexRotation *rots, size_t count);
  // e[j] = fma(nmul[i], rows[i][j], e[j]) for i = 0 .. count-1 in turn, j < width.
  void (*chain_update)(double *e, size_t width, const double *const *rows, const double *nmul,
                       size_t count);
  // e[j] = e[j] / d.
  void (*divide)(double *e, size_t n, double d);
  // out[j] = x[j] * y[j].
  void (*multiply)(double *out, const double *x, const double *y, size_t n);
  // out[j] = fma(x[j], y[j], z[j]).
  void (*fma3)(double *out, const double *x, const double *y, const double *z, size_t n);
  // y[j] = fma(h, u[j], y[j]).
  void (*axpy)(double *y, double h, const double *u, size_t n);
  // The largest y[j]^2 (NaN squares never win), starting from 0.
  double (*max_square)(const double *y, size_t n);
  // pattern[j] = (q[j] >= 0 ? 1.0 : 0.0); returns true when no entry changed.
  bool (*sign_pattern)(const double *q, double *pattern, size_t n);
  // Complex products out[j] = a[j] * b[j] of n complex numbers (out may equal a or b).
  void (*cmultiply)(double *out, const double *a, const double *b, size_t n);
  // c[j] += (ar + i ai) * b[j] for n complex numbers, real and imaginary parts summed
  // separately by rounded additions.
  void (*cmultiply_add)(double *c, double ar, double ai, const double *b, size_t n);
  // acc = fma(x[j], y[j], acc) for j in order from 0.0.
  double (*dot)(const double *x, const double *y, size_t n);
  // a = A*o for the edge list: a[src] = fma(w, o[dst], a[src]), then
  // a[dst] = fma(w, o[src], a[dst]), edge by edge (weight null means 1.0).
  void (*edge_apply)(double *a, const double *o, const uint32_t *src, const uint32_t *dst,
                     const double *weight, size_t count);
  // The same for `count` 16-byte edge records; stops before the first record with an
  // index >= n and returns the number applied.
  size_t (*record_apply)(double *a, const double *o, const unsigned char *records, size_t count,
                         uint32_t n);
};

// One edge record as stored in an edge file, in native byte order.
struct EdgeRecord {
  uint32_t src;
  uint32_t dst;
  double weight;
};
static_assert(sizeof(EdgeRecord) == 16, "edge records are 16 bytes");

const Kernels &portable_kernels();
#if defined(__x86_64__)
const Kernels &x86_64_v3_kernels();
#endif
// The fastest table this processor runs (detected once).
const Kernels &active_kernels();

// The operations behind the exported functions, on a chosen table.
kaldro_status dense_solve(const Kernels &k, uint32_t n, uint32_t m, const double *a,
                          const double *b, double *x, void *workspace, uint64_t workspace_bytes);
// The eigen-solvers also report the sweeps they ran when sweeps_run is not null.
kaldro_status jacobi_eigvals(const Kernels &k, uint32_t n, double *a, uint32_t max_sweeps,
                             double *eigenvalues, double tol, uint32_t *sweeps_run = nullptr);
kaldro_status hermitian_eigendecompose(const Kernels &k, uint32_t n, const double *a,
                                       double *eigenvalues, double *eigenvectors,
                                       double *workspace, uint64_t workspace_doubles,
                                       uint32_t *sweeps_run = nullptr);
kaldro_status matmul_complex(const Kernels &k, uint32_t m, uint32_t kk, uint32_t p,
                             const double *a, const double *b, double *c);
kaldro_status multiply_complex(const Kernels &k, uint32_t n, const double *a, const double *b,
                               double *out);
kaldro_status fiedler_sparse(const Kernels &k, uint32_t n, uint32_t edge_count,
                             const uint32_t *edge_src, const uint32_t *edge_dst,
                             const double *edge_weight, uint32_t max_iterations, double *out,
                             double *workspace, uint64_t workspace_doubles);
kaldro_status fiedler_sparse_file(const Kernels &k, uint32_t n, const char *path,
                                  uint32_t max_iterations, double *out, double *workspace,
                                  uint64_t workspace_doubles);

// Square root by the library's own integer method (its status is not needed here).
inline double root(double x) {
  double r;
  kaldro_rational_sqrt(&r, x);
  return r;
}

}  // namespace linalg
}  // namespace kaldro
