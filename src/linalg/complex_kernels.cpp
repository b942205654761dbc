// Small array kernels: the complex matrix product, the element-wise complex product,
// the element-wise exponential, cosine, sine or logarithm, and the three-band split.
#include <cstring>

#include "elementary/elementary.h"
#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {

kaldro_status matmul_complex(const Kernels &k, uint32_t m, uint32_t kk, uint32_t p,
                             const double *a, const double *b, double *c) {
  if (a == nullptr || b == nullptr || c == nullptr) return KALDRO_ERR_NULL;
  if (m == 0 || p == 0) return KALDRO_OK;
  const size_t cols = p, inner = kk;
  // Row i of c sums a[i][l] * b[l][.] over l in increasing order, starting from +0.0.
  for (size_t i = 0; i < m; ++i) {
    double *crow = c + 2 * i * cols;
    std::memset(crow, 0, 2 * cols * sizeof(double));
    for (size_t l = 0; l < inner; ++l) {
      const double *ail = a + 2 * (i * inner + l);
      k.cmultiply_add(crow, ail[0], ail[1], b + 2 * l * cols, cols);
    }
  }
  return KALDRO_OK;
}

kaldro_status multiply_complex(const Kernels &k, uint32_t n, const double *a, const double *b,
                               double *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (n == 0) return KALDRO_OK;
  if (a == nullptr || b == nullptr) return KALDRO_ERR_NULL;
  const size_t len = 2 * size_t(n);
  // An output that shifts against an input must be written strictly in index order.
  auto partly_overlaps = [&](const double *in) {
    return in != out && in < out + len && out < in + len;
  };
  const Kernels &use = partly_overlaps(a) || partly_overlaps(b) ? portable_kernels() : k;
  use.cmultiply(out, a, b, n);
  return KALDRO_OK;
}

}  // namespace linalg
}  // namespace kaldro

using namespace kaldro::linalg;

extern "C" KALDRO_API kaldro_status kaldro_dense_matmul_complex(uint32_t m, uint32_t k,
                                                                uint32_t p, const double *a,
                                                                const double *b, double *c) {
  return matmul_complex(active_kernels(), m, k, p, a, b, c);
}

extern "C" KALDRO_API kaldro_status kaldro_elementwise_multiply_complex(uint32_t n,
                                                                        const double *a,
                                                                        const double *b,
                                                                        double *out) {
  return multiply_complex(active_kernels(), n, a, b, out);
}

extern "C" KALDRO_API kaldro_status kaldro_elementwise_transcendental(uint32_t n,
                                                                      const double *x,
                                                                      uint32_t kind,
                                                                      double *out) {
  if (out == nullptr || (n > 0 && x == nullptr)) return KALDRO_ERR_NULL;
  if (kind > 3) return KALDRO_ERR_INVALID;
  if (n == 0) return KALDRO_OK;
  if (kind == 3) {
    // Every argument is examined before anything is written; NaN passes.
    for (uint32_t i = 0; i < n; ++i)
      if (x[i] <= 0.0) return KALDRO_ERR_INVALID;
  }
  // The batch forms read ahead of what they write; an output that shifts against the
  // input is computed one element at a time, in index order.
  if (out != x && out < x + n && x < out + n) {
    for (uint32_t i = 0; i < n; ++i) {
      const double v = x[i];
      if (kind == 0) kaldro_exp(out + i, v);
      else if (kind == 1) kaldro_cos(out + i, v);
      else if (kind == 2) kaldro_sin(out + i, v);
      else kaldro_log(out + i, v);
    }
    return KALDRO_OK;
  }
  switch (kind) {
    case 0:
      kaldro::exp_many(x, out, n);
      break;
    case 1:
      kaldro::cos_many(x, out, n);
      break;
    case 2:
      kaldro::sin_many(x, out, n);
      break;
    default:
      kaldro::log_many(x, out, n);
      break;
  }
  return KALDRO_OK;
}

extern "C" KALDRO_API kaldro_status kaldro_three_fold_bands(uint32_t n, uint32_t *first,
                                                            uint32_t *second, uint32_t *third) {
  if (first == nullptr || second == nullptr || third == nullptr) return KALDRO_ERR_NULL;
  const uint32_t q = n / 3, r = n % 3;
  const uint32_t a = q, b = r == 2 ? q + 1 : q;
  *first = a;
  *second = b;
  *third = n - a - b;
  return KALDRO_OK;
}
