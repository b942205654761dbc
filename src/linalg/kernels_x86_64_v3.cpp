// The x86-64-v3 table of hot loops: four doubles (or two complex numbers) per AVX2
// register with the same fused operations per element as the portable loops; the tails
// run the shared scalar forms, where fma is one instruction too.
#include <immintrin.h>

#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {
namespace {

#include "linalg/kernels_scalar.inc"

// Sign bit in the real (even) lanes only, and in every lane.
inline __m256d real_sign() { return _mm256_setr_pd(-0.0, 0.0, -0.0, 0.0); }
inline __m256d all_sign() { return _mm256_set1_pd(-0.0); }

// u*z for two complex numbers z with the unit u = (ur, ui) broadcast:
// (fma(ur, zr, -(ui*zi)), fma(ur, zi, ui*zr)).
inline __m256d phase_product(__m256d ur, __m256d ui, __m256d z) {
  const __m256d t = _mm256_mul_pd(ui, _mm256_permute_pd(z, 0x5));
  return _mm256_fmadd_pd(ur, z, _mm256_xor_pd(t, real_sign()));
}

void rotate_v3(double *x, double *y, size_t n, double c, double s, double ns) {
  const __m256d vc = _mm256_set1_pd(c), vs = _mm256_set1_pd(s), vns = _mm256_set1_pd(ns);
  size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m256d xv = _mm256_loadu_pd(x + j), yv = _mm256_loadu_pd(y + j);
    _mm256_storeu_pd(x + j, _mm256_fmadd_pd(vc, xv, _mm256_mul_pd(yv, vns)));
    _mm256_storeu_pd(y + j, _mm256_fmadd_pd(vs, xv, _mm256_mul_pd(vc, yv)));
  }
  rotate_scalar(x + j, y + j, n - j, c, s, ns);
}

void crotate_v3(double *p, double *q, size_t n, double c, double s, double ur, double ui) {
  const __m256d vc = _mm256_set1_pd(c), vs = _mm256_set1_pd(s);
  const __m256d vur = _mm256_set1_pd(ur), vui = _mm256_set1_pd(ui), vvi = _mm256_set1_pd(-ui);
  size_t j = 0;
  for (; j + 2 <= n; j += 2) {
    const __m256d pv = _mm256_loadu_pd(p + 2 * j), qv = _mm256_loadu_pd(q + 2 * j);
    const __m256d uq = phase_product(vur, vui, qv);
    const __m256d vp = phase_product(vur, vvi, pv);
    _mm256_storeu_pd(p + 2 * j, _mm256_fmadd_pd(vc, pv, _mm256_mul_pd(vs, _mm256_xor_pd(uq, all_sign()))));
    _mm256_storeu_pd(q + 2 * j, _mm256_fmadd_pd(vc, qv, _mm256_mul_pd(vs, vp)));
  }
  crotate_scalar(p + 2 * j, q + 2 * j, n - j, c, s, ur, ui);
}

// out[t] = column t of the 4x4 block whose rows are a, b, c, d.
inline void transpose4(__m256d a, __m256d b, __m256d c, __m256d d, __m256d out[4]) {
  const __m256d t0 = _mm256_unpacklo_pd(a, b), t1 = _mm256_unpackhi_pd(a, b);
  const __m256d t2 = _mm256_unpacklo_pd(c, d), t3 = _mm256_unpackhi_pd(c, d);
  out[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
  out[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
  out[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
  out[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Four rows at a time, one row per lane: entry p stays in a register through the chain.
void rotate_pending_v3(double *const *rows, size_t nrows, size_t p, const RealRotation *rots,
                       size_t count) {
  size_t r = 0;
  for (; r + 4 <= nrows; r += 4) {
    double *r0 = rows[r], *r1 = rows[r + 1], *r2 = rows[r + 2], *r3 = rows[r + 3];
    __m256d x = _mm256_setr_pd(r0[p], r1[p], r2[p], r3[p]);
    size_t j = 0;
    // Four rotations of four adjacent columns: load the 4x4 block by rows, turn it into
    // columns, run the four steps, and turn it back.
    for (; j + 4 <= count && rots[j + 3].q == rots[j].q + 3 && rots[j + 1].q == rots[j].q + 1 &&
           rots[j + 2].q == rots[j].q + 2;
         j += 4) {
      const size_t q = rots[j].q;
      __m256d y[4];
      transpose4(_mm256_loadu_pd(r0 + q), _mm256_loadu_pd(r1 + q), _mm256_loadu_pd(r2 + q),
                 _mm256_loadu_pd(r3 + q), y);
      for (int t = 0; t < 4; ++t) {
        const RealRotation &g = rots[j + t];
        const __m256d c = _mm256_set1_pd(g.c);
        const __m256d ny = _mm256_fmadd_pd(_mm256_set1_pd(g.s), x, _mm256_mul_pd(c, y[t]));
        x = _mm256_fmadd_pd(c, x, _mm256_mul_pd(y[t], _mm256_set1_pd(g.ns)));
        y[t] = ny;
      }
      __m256d back[4];
      transpose4(y[0], y[1], y[2], y[3], back);
      _mm256_storeu_pd(r0 + q, back[0]);
      _mm256_storeu_pd(r1 + q, back[1]);
      _mm256_storeu_pd(r2 + q, back[2]);
      _mm256_storeu_pd(r3 + q, back[3]);
    }
    for (; j < count; ++j) {
      const RealRotation &g = rots[j];
      const size_t q = g.q;
      const __m256d c = _mm256_set1_pd(g.c);
      const __m256d y = _mm256_setr_pd(r0[q], r1[q], r2[q], r3[q]);
      const __m256d ny = _mm256_fmadd_pd(_mm256_set1_pd(g.s), x, _mm256_mul_pd(c, y));
      x = _mm256_fmadd_pd(c, x, _mm256_mul_pd(y, _mm256_set1_pd(g.ns)));
      const __m128d lo = _mm256_castpd256_pd128(ny), hi = _mm256_extractf128_pd(ny, 1);
      _mm_storel_pd(r0 + q, lo);
      _mm_storeh_pd(r1 + q, lo);
      _mm_storel_pd(r2 + q, hi);
      _mm_storeh_pd(r3 + q, hi);
    }
    const __m128d lo = _mm256_castpd256_pd128(x), hi = _mm256_extractf128_pd(x, 1);
    _mm_storel_pd(r0 + p, lo);
    _mm_storeh_pd(r1 + p, lo);
    _mm_storel_pd(r2 + p, hi);
    _mm_storeh_pd(r3 + p, hi);
  }
  rotate_pending_scalar(rows + r, nrows - r, p, rots, count);
}

// Two rows at a time, one complex entry of each row per register half.
void crotate_pending_v3(double *const *rows, size_t nrows, size_t p, const ComplexRotation *rots,
                        size_t count) {
  size_t r = 0;
  for (; r + 2 <= nrows; r += 2) {
    double *r0 = rows[r], *r1 = rows[r + 1];
    __m256d x = _mm256_loadu2_m128d(r1 + 2 * p, r0 + 2 * p);
    for (size_t j = 0; j < count; ++j) {
      const ComplexRotation &g = rots[j];
      const size_t q = 2 * g.q;
      const __m256d c = _mm256_set1_pd(g.c), s = _mm256_set1_pd(g.s);
      const __m256d ur = _mm256_set1_pd(g.ur), ui = _mm256_set1_pd(g.ui);
      const __m256d y = _mm256_loadu2_m128d(r1 + q, r0 + q);
      const __m256d uq = phase_product(ur, ui, y);
      const __m256d vp = phase_product(ur, _mm256_set1_pd(-g.ui), x);
      x = _mm256_fmadd_pd(c, x, _mm256_mul_pd(s, _mm256_xor_pd(uq, all_sign())));
      _mm256_storeu2_m128d(r1 + q, r0 + q, _mm256_fmadd_pd(c, y, _mm256_mul_pd(s, vp)));
    }
    _mm256_storeu2_m128d(r1 + 2 * p, r0 + 2 * p, x);
  }
  crotate_pending_scalar(rows + r, nrows - r, p, rots, count);
}

void chain_update_v3(double *e, size_t width, const double *const *rows, const double *nmul,
                     size_t count) {
  size_t j = 0;
  for (; j + 8 <= width; j += 8) {
    __m256d v0 = _mm256_loadu_pd(e + j), v1 = _mm256_loadu_pd(e + j + 4);
    for (size_t i = 0; i < count; ++i) {
      const __m256d nm = _mm256_set1_pd(nmul[i]);
      v0 = _mm256_fmadd_pd(nm, _mm256_loadu_pd(rows[i] + j), v0);
      v1 = _mm256_fmadd_pd(nm, _mm256_loadu_pd(rows[i] + j + 4), v1);
    }
    _mm256_storeu_pd(e + j, v0);
    _mm256_storeu_pd(e + j + 4, v1);
  }
  for (; j + 4 <= width; j += 4) {
    __m256d v0 = _mm256_loadu_pd(e + j);
    for (size_t i = 0; i < count; ++i)
      v0 = _mm256_fmadd_pd(_mm256_set1_pd(nmul[i]), _mm256_loadu_pd(rows[i] + j), v0);
    _mm256_storeu_pd(e + j, v0);
  }
  for (; j < width; ++j) {
    double v = e[j];
    for (size_t i = 0; i < count; ++i) v = fused(nmul[i], rows[i][j], v);
    e[j] = v;
  }
}

void divide_v3(double *e, size_t n, double d) {
  const __m256d vd = _mm256_set1_pd(d);
  size_t j = 0;
  for (; j + 4 <= n; j += 4) _mm256_storeu_pd(e + j, _mm256_div_pd(_mm256_loadu_pd(e + j), vd));
  divide_scalar(e + j, n - j, d);
}

void multiply_v3(double *out, const double *x, const double *y, size_t n) {
  size_t j = 0;
  for (; j + 4 <= n; j += 4)
    _mm256_storeu_pd(out + j, _mm256_mul_pd(_mm256_loadu_pd(x + j), _mm256_loadu_pd(y + j)));
  multiply_scalar(out + j, x + j, y + j, n - j);
}

void fma3_v3(double *out, const double *x, const double *y, const double *z, size_t n) {
  size_t j = 0;
  for (; j + 4 <= n; j += 4)
    _mm256_storeu_pd(out + j, _mm256_fmadd_pd(_mm256_loadu_pd(x + j), _mm256_loadu_pd(y + j),
                                              _mm256_loadu_pd(z + j)));
  fma3_scalar(out + j, x + j, y + j, z + j, n - j);
}

void axpy_v3(double *y, double h, const double *u, size_t n) {
  const __m256d vh = _mm256_set1_pd(h);
  size_t j = 0;
  for (; j + 4 <= n; j += 4)
    _mm256_storeu_pd(y + j, _mm256_fmadd_pd(vh, _mm256_loadu_pd(u + j), _mm256_loadu_pd(y + j)));
  axpy_scalar(y + j, h, u + j, n - j);
}

double max_square_v3(const double *y, size_t n) {
  // max_pd returns its second operand when the first is NaN, so NaN squares never win.
  __m256d m0 = _mm256_setzero_pd(), m1 = _mm256_setzero_pd();
  size_t j = 0;
  for (; j + 8 <= n; j += 8) {
    const __m256d a = _mm256_loadu_pd(y + j), b = _mm256_loadu_pd(y + j + 4);
    m0 = _mm256_max_pd(_mm256_mul_pd(a, a), m0);
    m1 = _mm256_max_pd(_mm256_mul_pd(b, b), m1);
  }
  alignas(32) double lanes[8];
  _mm256_store_pd(lanes, m0);
  _mm256_store_pd(lanes + 4, m1);
  double m = 0.0;
  for (double v : lanes)
    if (v > m) m = v;
  return max_square_scalar(y + j, n - j, m);
}

bool sign_pattern_v3(const double *q, double *pattern, size_t n) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
  __m256d changed = _mm256_setzero_pd();
  size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m256d b = _mm256_and_pd(_mm256_cmp_pd(_mm256_loadu_pd(q + j), zero, _CMP_GE_OQ), one);
    changed = _mm256_or_pd(changed, _mm256_cmp_pd(b, _mm256_loadu_pd(pattern + j), _CMP_NEQ_UQ));
    _mm256_storeu_pd(pattern + j, b);
  }
  const bool stable = _mm256_movemask_pd(changed) == 0;
  return sign_pattern_scalar(q + j, pattern + j, n - j) && stable;
}

void cmultiply_v3(double *out, const double *a, const double *b, size_t n) {
  size_t j = 0;
  for (; j + 2 <= n; j += 2) {
    const __m256d av = _mm256_loadu_pd(a + 2 * j), bv = _mm256_loadu_pd(b + 2 * j);
    const __m256d ar = _mm256_movedup_pd(av), ai = _mm256_permute_pd(av, 0xF);
    _mm256_storeu_pd(out + 2 * j, phase_product(ar, ai, bv));
  }
  cmultiply_scalar(out + 2 * j, a + 2 * j, b + 2 * j, n - j);
}

void cmultiply_add_v3(double *c, double ar, double ai, const double *b, size_t n) {
  const __m256d vr = _mm256_set1_pd(ar), vi = _mm256_set1_pd(ai);
  size_t j = 0;
  for (; j + 2 <= n; j += 2) {
    const __m256d prod = phase_product(vr, vi, _mm256_loadu_pd(b + 2 * j));
    _mm256_storeu_pd(c + 2 * j, _mm256_add_pd(_mm256_loadu_pd(c + 2 * j), prod));
  }
  cmultiply_add_scalar(c + 2 * j, ar, ai, b + 2 * j, n - j);
}

const Kernels table = {
    rotate_v3,       rotate_columns_scalar, crotate_v3,      crotate_columns_scalar,
    rotate_pending_v3, crotate_pending_v3,
    chain_update_v3, divide_v3,             multiply_v3,     fma3_v3,
    axpy_v3,         max_square_v3,         sign_pattern_v3, cmultiply_v3,
    cmultiply_add_v3, dot_scalar, edge_apply_scalar, record_apply_scalar,
};

}  // namespace

const Kernels &x86_64_v3_kernels() { return table; }

}  // namespace linalg
}  // namespace kaldro
