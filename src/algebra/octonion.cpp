// The octonion loop algebra: Cayley-Dickson basis products, the octonion product as a
// binding, conjugate, inverse, the seven-dimensional cross product, the G2 three-form,
// the associator, multiplication matrices and the batched bind and unbind forms.
#include <cstring>

#include "algebra/octonion_kernels.h"

namespace kaldro::loop {

void bind_batch_portable(const double *a, const double *b, uint64_t count, double *out) {
  for (uint64_t k = 0; k < count; ++k) product(a + 8 * k, b + 8 * k, out + 8 * k);
}

bool vector_paths_available() {
#if defined(__x86_64__)
  return cpu_has(Cpu::avx2) && cpu_has(Cpu::fma);
#else
  return false;
#endif
}

int bind_hd_tier() {
  const int wanted = kaldro_simd_tier("KALDRO_LOOP_HD_FORCE_TIER",
                                      kaldro_simd_has_avx()    ? 2
                                      : kaldro_simd_has_sse2() ? 1
                                                               : 0,
                                      2);
  // Both vector paths are compiled for AVX2 with FMA: the fused steps must stay fused
  // for every tier to give the same bits, and plain SSE2 has no fused multiply-add.
  return vector_paths_available() ? wanted : 0;
}

namespace {

constexpr uint64_t kSign = uint64_t(1) << 63;

inline double flip_sign(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  bits ^= kSign;
  std::memcpy(&v, &bits, 8);
  return v;
}

inline void conjugate(const double *a, double *out) {
  out[0] = a[0];
  for (unsigned k = 1; k < 8; ++k) out[k] = flip_sign(a[k]);
}

inline double squared_norm(const double *a) {
  double n = 0.0;
  for (unsigned k = 0; k < 8; ++k) n = fused(a[k], a[k], n);
  return n;
}

constexpr double kDblMin = 2.2250738585072014e-308;  // smallest normal double
constexpr double kTwoPow600 = 0x1p600;
constexpr double kTwoPowMinus600 = 0x1p-600;

// a* / N(a), or false (nothing written) for the zero octonion. A norm that overflows
// while every component is finite, or that underflows below the normal range while
// some component is not zero, would give a wrong inverse (zeros, or a refusal of a
// non-zero octonion), so such octonions are first scaled by 2^-600 or 2^600: for
// b = s a the inverse is s b* / N(b), and N(b) is then normal.
bool inverse(const double *a, double *out) {
  double x[8];
  for (unsigned k = 0; k < 8; ++k) x[k] = a[k];
  const double n = squared_norm(x);
  if (n >= kDblMin && n <= __DBL_MAX__) {
    for (unsigned k = 0; k < 8; ++k) out[k] = (k == 0 ? x[k] : -x[k]) / n;
    return true;
  }
  if (n != n) {  // a NaN norm is not refused
    for (unsigned k = 0; k < 8; ++k) out[k] = (k == 0 ? x[k] : -x[k]) / n;
    return true;
  }
  double largest = 0.0;
  for (unsigned k = 0; k < 8; ++k) {
    const double m = x[k] < 0 ? -x[k] : x[k];
    if (m > largest) largest = m;
  }
  if (largest == 0.0) return false;
  if (largest > __DBL_MAX__) {  // an infinite component: the inverse has no finite scale
    for (unsigned k = 0; k < 8; ++k) out[k] = (k == 0 ? x[k] : -x[k]) / n;
    return true;
  }
  const double s = n > 1.0 ? kTwoPowMinus600 : kTwoPow600;
  for (unsigned k = 0; k < 8; ++k) x[k] *= s;
  const double ns = squared_norm(x);
  for (unsigned k = 0; k < 8; ++k) out[k] = ((k == 0 ? x[k] : -x[k]) / ns) * s;
  return true;
}

inline bool dim_ok(uint64_t dim) { return dim == 8; }

}  // namespace
}  // namespace kaldro::loop

using kaldro::loop::multiply;

extern "C" {

KALDRO_API kaldro_status kaldro_cd_basis_product(uint32_t n, int32_t i, int32_t j,
                                                 int32_t *out_index, int32_t *out_sign) {
  if (out_index == nullptr || out_sign == nullptr) return KALDRO_ERR_NULL;
  const bool power_of_two = n >= 1 && n <= 64 && (n & (n - 1)) == 0;
  if (i < 0 || !power_of_two || uint32_t(j) >= n || uint32_t(i) >= n || j < 0)
    return KALDRO_ERR_INVALID;
  *out_index = i ^ j;
  *out_sign = kaldro::loop::basis_sign(n, uint32_t(i), uint32_t(j));
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_bind_f64(const double *a, const double *b, uint64_t dim,
                                              double *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  multiply(a, b, out);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_conj_f64(const double *a, uint64_t dim, double *out) {
  if (a == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  kaldro::loop::conjugate(a, out);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_inv_f64(const double *a, uint64_t dim, double *out) {
  if (a == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  return kaldro::loop::inverse(a, out) ? KALDRO_OK : KALDRO_ERR_INVALID;
}

KALDRO_API kaldro_status kaldro_cross7_f64(const double *a, const double *b, uint64_t dim,
                                           double *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  multiply(a, b, out);
  out[0] = 0.0;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_g2_three_form_f64(const double *a, const double *b,
                                                  const double *c, uint64_t dim,
                                                  double *out) {
  if (a == nullptr || b == nullptr || c == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  double p[8];
  multiply(b, c, p);
  // One fused chain from 0; the real part of a meets 0, so only a non-finite a_0 shows.
  double sum = kaldro::fused(a[0], 0.0, 0.0);
  for (unsigned k = 1; k < 8; ++k) sum = kaldro::fused(a[k], p[k], sum);
  *out = sum;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_associator_f64(const double *a, const double *b,
                                                    const double *c, uint64_t dim,
                                                    double *out) {
  if (a == nullptr || b == nullptr || c == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  double ab[8], bc[8], left[8], right[8];
  multiply(a, b, ab);
  multiply(b, c, bc);
  multiply(ab, c, left);
  multiply(a, bc, right);
  for (unsigned k = 0; k < 8; ++k) out[k] = left[k] - right[k];
  return KALDRO_OK;
}

namespace {

// Column c of the matrix is a e_c (left) or e_c a (right).
void operator_matrix(const double *a, bool left, double *matrix) {
  double x[8], column[8];
  for (unsigned k = 0; k < 8; ++k) x[k] = a[k];
  for (unsigned c = 0; c < 8; ++c) {
    double e[8] = {};
    e[c] = 1.0;
    if (left) {
      multiply(x, e, column);
    } else {
      multiply(e, x, column);
    }
    for (unsigned r = 0; r < 8; ++r) matrix[8 * r + c] = column[r];
  }
}

}  // namespace

KALDRO_API kaldro_status kaldro_loop_left_op_f64(const double *a, uint64_t dim,
                                                 double *matrix) {
  if (a == nullptr || matrix == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  operator_matrix(a, true, matrix);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_right_op_f64(const double *a, uint64_t dim,
                                                  double *matrix) {
  if (a == nullptr || matrix == nullptr) return KALDRO_ERR_NULL;
  if (!kaldro::loop::dim_ok(dim)) return KALDRO_ERR_INVALID;
  operator_matrix(a, false, matrix);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_bind_hd_f64(const double *a, const double *b,
                                                 uint64_t count, double *out) {
  if (count != 0 && (a == nullptr || b == nullptr || out == nullptr)) return KALDRO_ERR_NULL;
  const int tier = kaldro::loop::bind_hd_tier();  // asked also for count 0
  if (count == 0) return KALDRO_OK;
#if defined(__x86_64__)
  if (tier >= 2) {
    kaldro::loop::bind_batch_256(a, b, count, out);
    return KALDRO_OK;
  }
  if (tier == 1) {
    kaldro::loop::bind_batch_128(a, b, count, out);
    return KALDRO_OK;
  }
#else
  (void)tier;
#endif
  kaldro::loop::bind_batch_portable(a, b, count, out);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_conj_hd_f64(const double *a, uint64_t count,
                                                 double *out) {
  if (count == 0) return KALDRO_OK;
  if (a == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  for (uint64_t k = 0; k < count; ++k) kaldro::loop::conjugate(a + 8 * k, out + 8 * k);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_inv_hd_f64(const double *a, uint64_t count,
                                                double *out) {
  if (count == 0) return KALDRO_OK;
  if (a == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  for (uint64_t k = 0; k < count; ++k)
    if (!kaldro::loop::inverse(a + 8 * k, out + 8 * k)) return KALDRO_ERR_INVALID;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_unbind_hd_f64(const double *key, const double *bound,
                                                   uint64_t count, double *out) {
  if (count == 0) return KALDRO_OK;
  if (key == nullptr || bound == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  for (uint64_t k = 0; k < count; ++k) {
    double key_conj[8];
    kaldro::loop::conjugate(key + 8 * k, key_conj);
    multiply(key_conj, bound + 8 * k, out + 8 * k);
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_loop_runbind_hd_f64(const double *key, const double *bound,
                                                    uint64_t count, double *out) {
  if (count == 0) return KALDRO_OK;
  if (key == nullptr || bound == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  for (uint64_t k = 0; k < count; ++k) {
    double key_conj[8];
    kaldro::loop::conjugate(key + 8 * k, key_conj);
    multiply(bound + 8 * k, key_conj, out + 8 * k);
  }
  return KALDRO_OK;
}

}  // extern "C"
