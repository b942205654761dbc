// The octonion product shared by the single-element operations and every batched path.
// Each result component k is one fused multiply-add chain over a's components in order,
// a_0 b_k first, then a_m (+-b_(m XOR k)) for m = 1..7. Grouped by quaternion halves
// this is (p, q)(r, s) = (pr - s*q, sp + qr*): the first four steps are the terms with
// p, the last four those with q. The vector paths run the same chains lane by lane.
#pragma once

#include <cstdint>

#include "frame/internal.h"

namespace kaldro::loop {

// Sign of e_i e_j = +-e_(i XOR j) in the n-dimensional Cayley-Dickson algebra (n a power
// of two, i and j below n), found by walking down the doublings.
constexpr int basis_sign(uint32_t n, uint32_t i, uint32_t j) {
  int sign = 1;
  uint32_t p = i, q = j;
  for (; n > 1; n /= 2) {
    const uint32_t half = n / 2;
    const bool p_up = p >= half, q_up = q >= half;
    if (!p_up && q_up) {
      const uint32_t t = q - half;
      q = p;
      p = t;
    } else if (p_up && !q_up) {
      p -= half;
      if (q != 0) sign = -sign;
    } else if (p_up && q_up) {
      const uint32_t t = q - half;
      q = p - half;
      p = t;
      if (t == 0) sign = -sign;
    }
  }
  return sign;
}

// kNegated.at[m][k]: the term a_m b_(m XOR k) enters component k with a minus sign.
struct NegatedTable {
  bool at[8][8];
};
constexpr NegatedTable make_negated_table() {
  NegatedTable t{};
  for (unsigned m = 0; m < 8; ++m)
    for (unsigned k = 0; k < 8; ++k) t.at[m][k] = basis_sign(8, m, m ^ k) < 0;
  return t;
}
inline constexpr NegatedTable kNegated = make_negated_table();
constexpr bool negated(unsigned m, unsigned k) { return kNegated.at[m][k]; }

inline double signed_term(bool minus, double y) { return minus ? -y : y; }

// out = a b. All sixteen inputs are read first, so out may be a or b.
[[gnu::always_inline]] inline void product(const double *a, const double *b, double *out) {
  double x[8], y[8], r[8];
  for (unsigned k = 0; k < 8; ++k) {
    x[k] = a[k];
    y[k] = b[k];
  }
#pragma GCC unroll 8
  for (unsigned k = 0; k < 8; ++k) {
    double t = x[0] * y[k];
#pragma GCC unroll 8
    for (unsigned m = 1; m < 8; ++m) t = fused(x[m], signed_term(negated(m, k), y[m ^ k]), t);
    r[k] = t;
  }
  for (unsigned k = 0; k < 8; ++k) out[k] = r[k];
}

// out_k = a_k b_k for count octonions, element by element; out may be a or b.
void bind_batch_portable(const double *a, const double *b, uint64_t count, double *out);

#if defined(__x86_64__)
// The same products, two components per register (tier 1) or four (tier 2). Both need
// AVX2 and FMA.
void bind_batch_128(const double *a, const double *b, uint64_t count, double *out);
void bind_batch_256(const double *a, const double *b, uint64_t count, double *out);
#endif

#if defined(__x86_64__)
// One product by the four-lane path (AVX2 and FMA), the same bits as product().
void product_256(const double *a, const double *b, double *out);
#endif

// True when the vector paths can run here. Without a fused multiply-add instruction the
// portable product calls the maths library's fma for each of its 64 steps.
bool vector_paths_available();

// out = a b by the fastest path available; the same bits whichever runs.
inline void multiply(const double *a, const double *b, double *out) {
#if defined(__x86_64__)
  if (vector_paths_available()) return product_256(a, b, out);
#endif
  product(a, b, out);
}

// The tier kaldro_loop_bind_hd_f64 asks for (from the environment or the processor),
// clamped to what this processor can run.
int bind_hd_tier();

}  // namespace kaldro::loop
