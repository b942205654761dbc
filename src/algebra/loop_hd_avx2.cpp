// Vector forms of the batched octonion product. Each lane runs exactly the fused chain
// of the scalar product for its component (same operands, same order, the minus signs
// applied to b's component by flipping its sign bit), so every path gives the same bits.
#include <immintrin.h>

#include "algebra/octonion_kernels.h"

namespace kaldro::loop {
namespace {

// Sign masks: lane bit 63 set where the term of step m enters that lane's component
// with a minus sign. Built once at compile time from the basis table.
struct Masks {
  // [m][k] for all eight components; loaded two or four lanes at a time.
  alignas(32) uint64_t bits[8][8];
};

constexpr Masks make_masks() {
  Masks masks{};
  for (unsigned m = 0; m < 8; ++m)
    for (unsigned k = 0; k < 8; ++k) masks.bits[m][k] = negated(m, k) ? uint64_t(1) << 63 : 0;
  return masks;
}

constexpr Masks kMasks = make_masks();

inline __m256d mask256(unsigned m, unsigned first) {
  return _mm256_castsi256_pd(
      _mm256_load_si256(reinterpret_cast<const __m256i *>(&kMasks.bits[m][first])));
}

inline __m128d mask128(unsigned m, unsigned first) {
  return _mm_castsi128_pd(
      _mm_load_si128(reinterpret_cast<const __m128i *>(&kMasks.bits[m][first])));
}

// v with its four lanes permuted by lane index XOR x (x in 0..3).
template <unsigned x>
inline __m256d xor_lanes(__m256d v) {
  if constexpr (x == 0) return v;
  if constexpr (x == 1) return _mm256_permute_pd(v, 0x5);
  if constexpr (x == 2) return _mm256_permute2f128_pd(v, v, 0x01);
  if constexpr (x == 3) return _mm256_permute_pd(_mm256_permute2f128_pd(v, v, 0x01), 0x5);
}

// Four components first..first+3 of a b: lane k gets a_0 b_k + sum_m a_m (+-b_(m^k)).
// For the low half (first = 0) b_(m^k) lies in b's low quad when m < 4; for the high
// half in the high quad.
template <unsigned first, unsigned m>
inline __m256d step256(__m256d t, const double *a, const __m256d (&y)[2][4]) {
  constexpr unsigned quad = ((m ^ first) >> 2) & 1;  // which quad of b holds b_(m^k)
  const __m256d term = _mm256_xor_pd(y[quad][m & 3], mask256(m, first));
  return _mm256_fmadd_pd(_mm256_broadcast_sd(a + m), term, t);
}

template <unsigned first>
inline __m256d half256(const double *a, const __m256d (&y)[2][4]) {
  constexpr unsigned quad = first >> 2;
  __m256d t = _mm256_mul_pd(_mm256_broadcast_sd(a), y[quad][0]);
  t = step256<first, 1>(t, a, y);
  t = step256<first, 2>(t, a, y);
  t = step256<first, 3>(t, a, y);
  t = step256<first, 4>(t, a, y);
  t = step256<first, 5>(t, a, y);
  t = step256<first, 6>(t, a, y);
  t = step256<first, 7>(t, a, y);
  return t;
}

inline void product256(const double *a, const double *b, double *out) {
  const __m256d lo = _mm256_loadu_pd(b), hi = _mm256_loadu_pd(b + 4);
  // y[q][x]: quad q of b with its lanes permuted by XOR x.
  const __m256d y[2][4] = {{lo, xor_lanes<1>(lo), xor_lanes<2>(lo), xor_lanes<3>(lo)},
                           {hi, xor_lanes<1>(hi), xor_lanes<2>(hi), xor_lanes<3>(hi)}};
  const __m256d r_lo = half256<0>(a, y);
  const __m256d r_hi = half256<4>(a, y);
  _mm256_storeu_pd(out, r_lo);
  _mm256_storeu_pd(out + 4, r_hi);
}

// Two components first, first+1 of a b. Lanes k = first + l need b_(m^k): the pair of b
// starting at (m ^ first) & ~1, swapped when m is odd.
template <unsigned first, unsigned m>
inline __m128d step128(__m128d t, const double *a, const __m128d (&pairs)[2][4]) {
  constexpr unsigned pair = ((m ^ first) >> 1) & 3;
  const __m128d term = _mm_xor_pd(pairs[m & 1][pair], mask128(m, first));
  return _mm_fmadd_pd(_mm_set1_pd(a[m]), term, t);
}

template <unsigned first>
inline __m128d pair128(const double *a, const __m128d (&pairs)[2][4]) {
  __m128d t = _mm_mul_pd(_mm_set1_pd(a[0]), pairs[0][first >> 1]);
  t = step128<first, 1>(t, a, pairs);
  t = step128<first, 2>(t, a, pairs);
  t = step128<first, 3>(t, a, pairs);
  t = step128<first, 4>(t, a, pairs);
  t = step128<first, 5>(t, a, pairs);
  t = step128<first, 6>(t, a, pairs);
  t = step128<first, 7>(t, a, pairs);
  return t;
}

inline void product128(const double *a, const double *b, double *out) {
  __m128d pairs[2][4];  // [swapped][pair]
  for (unsigned p = 0; p < 4; ++p) {
    pairs[0][p] = _mm_loadu_pd(b + 2 * p);
    pairs[1][p] = _mm_shuffle_pd(pairs[0][p], pairs[0][p], 0x1);
  }
  const __m128d r0 = pair128<0>(a, pairs);
  const __m128d r1 = pair128<2>(a, pairs);
  const __m128d r2 = pair128<4>(a, pairs);
  const __m128d r3 = pair128<6>(a, pairs);
  _mm_storeu_pd(out, r0);
  _mm_storeu_pd(out + 2, r1);
  _mm_storeu_pd(out + 4, r2);
  _mm_storeu_pd(out + 6, r3);
}

}  // namespace

void product_256(const double *a, const double *b, double *out) { product256(a, b, out); }

void bind_batch_128(const double *a, const double *b, uint64_t count, double *out) {
  for (uint64_t k = 0; k < count; ++k) product128(a + 8 * k, b + 8 * k, out + 8 * k);
}

void bind_batch_256(const double *a, const double *b, uint64_t count, double *out) {
  for (uint64_t k = 0; k < count; ++k) product256(a + 8 * k, b + 8 * k, out + 8 * k);
}

}  // namespace kaldro::loop
