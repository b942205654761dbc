// AVX2 forms of the binary hypervector loops: a Harley-Seal popcount over 32-byte
// blocks (carry-save adders, nibble-table counts of the sixteens) and the bit-sliced
// majority vote on 64-byte tiles.
#include <immintrin.h>

#include <cstring>

#include "algebra/hdc_kernels.h"

namespace kaldro::hdc {
namespace {

inline __m256i load(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// Per 64-bit lane, the number of set bits of x.
inline __m256i popcount_lanes(__m256i x) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,  //
                                         0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i low = _mm256_set1_epi8(0x0f);
  const __m256i lo = _mm256_shuffle_epi8(table, _mm256_and_si256(x, low));
  const __m256i hi = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), low));
  return _mm256_sad_epu8(_mm256_add_epi8(lo, hi), _mm256_setzero_si256());
}

// Carry-save adder: high gets the carries, low the sums of a + b + c.
inline void csa(__m256i &high, __m256i &low, __m256i a, __m256i b, __m256i c) {
  const __m256i u = _mm256_xor_si256(a, b);
  high = _mm256_or_si256(_mm256_and_si256(a, b), _mm256_and_si256(u, c));
  low = _mm256_xor_si256(u, c);
}

inline uint64_t lanes_sum(__m256i v) {
  return uint64_t(_mm256_extract_epi64(v, 0)) + uint64_t(_mm256_extract_epi64(v, 1)) +
         uint64_t(_mm256_extract_epi64(v, 2)) + uint64_t(_mm256_extract_epi64(v, 3));
}

}  // namespace

uint64_t xor_popcount_avx2(const uint8_t *a, const uint8_t *b, uint64_t n) {
  const uint64_t blocks = n / 32;
  __m256i total = _mm256_setzero_si256();
  __m256i ones = _mm256_setzero_si256(), twos = ones, fours = ones, eights = ones;
  uint64_t i = 0;
  auto d = [&](uint64_t k) { return _mm256_xor_si256(load(a + 32 * k), load(b + 32 * k)); };
  for (; i + 16 <= blocks; i += 16) {
    __m256i twos_a, twos_b, fours_a, fours_b, eights_a, eights_b, sixteens;
    csa(twos_a, ones, ones, d(i + 0), d(i + 1));
    csa(twos_b, ones, ones, d(i + 2), d(i + 3));
    csa(fours_a, twos, twos, twos_a, twos_b);
    csa(twos_a, ones, ones, d(i + 4), d(i + 5));
    csa(twos_b, ones, ones, d(i + 6), d(i + 7));
    csa(fours_b, twos, twos, twos_a, twos_b);
    csa(eights_a, fours, fours, fours_a, fours_b);
    csa(twos_a, ones, ones, d(i + 8), d(i + 9));
    csa(twos_b, ones, ones, d(i + 10), d(i + 11));
    csa(fours_a, twos, twos, twos_a, twos_b);
    csa(twos_a, ones, ones, d(i + 12), d(i + 13));
    csa(twos_b, ones, ones, d(i + 14), d(i + 15));
    csa(fours_b, twos, twos, twos_a, twos_b);
    csa(eights_b, fours, fours, fours_a, fours_b);
    csa(sixteens, eights, eights, eights_a, eights_b);
    total = _mm256_add_epi64(total, popcount_lanes(sixteens));
  }
  total = _mm256_slli_epi64(total, 4);
  total = _mm256_add_epi64(total, _mm256_slli_epi64(popcount_lanes(eights), 3));
  total = _mm256_add_epi64(total, _mm256_slli_epi64(popcount_lanes(fours), 2));
  total = _mm256_add_epi64(total, _mm256_slli_epi64(popcount_lanes(twos), 1));
  total = _mm256_add_epi64(total, popcount_lanes(ones));
  for (; i < blocks; ++i) total = _mm256_add_epi64(total, popcount_lanes(d(i)));
  const uint64_t done = blocks * 32;
  return lanes_sum(total) + xor_popcount_portable(a + done, b + done, n - done);
}

namespace {

// Majority over one tile of 64 bytes (two registers) at `offset` of every vector; see
// the portable form for the counting scheme. With the plane count known at compile time
// the counters stay in registers.
template <unsigned kPlanes>
inline void majority_tile(const uint8_t *const *vectors, uint32_t count, uint64_t threshold,
                          unsigned planes, uint64_t offset, uint8_t *out) {
  constexpr unsigned kMax = kPlanes == 0 ? 32 : kPlanes;
  if constexpr (kPlanes != 0) planes = kPlanes;
  __m256i lo[kMax], hi[kMax];
  for (unsigned p = 0; p < planes; ++p) lo[p] = hi[p] = _mm256_setzero_si256();
  unsigned reach = 1;
  for (uint32_t v = 0; v < count; ++v) {
    if (reach < planes && ((uint64_t(v) + 1) >> reach) != 0) ++reach;
    __m256i carry_lo = load(vectors[v] + offset);
    __m256i carry_hi = load(vectors[v] + offset + 32);
#pragma GCC unroll 8
    for (unsigned p = 0; p < planes; ++p) {
      if (kPlanes == 0 && p >= reach) break;
      const __m256i t_lo = _mm256_and_si256(lo[p], carry_lo);
      const __m256i t_hi = _mm256_and_si256(hi[p], carry_hi);
      lo[p] = _mm256_xor_si256(lo[p], carry_lo);
      hi[p] = _mm256_xor_si256(hi[p], carry_hi);
      carry_lo = t_lo;
      carry_hi = t_hi;
    }
  }
  __m256i gt_lo = _mm256_setzero_si256(), gt_hi = gt_lo;
  __m256i eq_lo = _mm256_set1_epi8(-1), eq_hi = eq_lo;
  for (unsigned p = planes; p-- > 0;) {
    if ((threshold >> p) & 1) {
      eq_lo = _mm256_and_si256(eq_lo, lo[p]);
      eq_hi = _mm256_and_si256(eq_hi, hi[p]);
    } else {
      gt_lo = _mm256_or_si256(gt_lo, _mm256_and_si256(eq_lo, lo[p]));
      gt_hi = _mm256_or_si256(gt_hi, _mm256_and_si256(eq_hi, hi[p]));
      eq_lo = _mm256_andnot_si256(lo[p], eq_lo);
      eq_hi = _mm256_andnot_si256(hi[p], eq_hi);
    }
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_or_si256(gt_lo, eq_lo));
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 32), _mm256_or_si256(gt_hi, eq_hi));
}

template <unsigned kPlanes>
uint64_t majority_tiles(const uint8_t *const *vectors, uint32_t count, uint64_t threshold,
                        unsigned planes, uint64_t n, uint8_t *out) {
  uint64_t k = 0;
  for (; k + 64 <= n; k += 64)
    majority_tile<kPlanes>(vectors, count, threshold, planes, k, out + k);
  return k;
}

}  // namespace

void majority_avx2(const uint8_t *const *vectors, uint32_t count, uint64_t threshold,
                   uint64_t n, uint8_t *out) {
  const unsigned planes = counter_planes(count);
  uint64_t k;
  switch (planes) {
    case 1: k = majority_tiles<1>(vectors, count, threshold, planes, n, out); break;
    case 2: k = majority_tiles<2>(vectors, count, threshold, planes, n, out); break;
    case 3: k = majority_tiles<3>(vectors, count, threshold, planes, n, out); break;
    case 4: k = majority_tiles<4>(vectors, count, threshold, planes, n, out); break;
    case 5: k = majority_tiles<5>(vectors, count, threshold, planes, n, out); break;
    case 6: k = majority_tiles<6>(vectors, count, threshold, planes, n, out); break;
    default: k = majority_tiles<0>(vectors, count, threshold, planes, n, out); break;
  }
  if (k < n) majority_portable(vectors, count, threshold, k, n, out);
}

}  // namespace kaldro::hdc
