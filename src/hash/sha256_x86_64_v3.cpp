// The scalar SHA-256 rounds built for x86-64-v3 (three-operand rotates), with the
// message schedule computed four words at a time in vector registers beforehand; chosen
// for the portable path on processors of that level.
#include <immintrin.h>

#include "hash/sha256_scalar.h"

namespace kaldro {
namespace {

template <int N>
inline __m128i rotr4(__m128i x) {
  return _mm_or_si128(_mm_srli_epi32(x, N), _mm_slli_epi32(x, 32 - N));
}

inline __m128i sigma0(__m128i x) {
  return _mm_xor_si128(_mm_xor_si128(rotr4<7>(x), rotr4<18>(x)), _mm_srli_epi32(x, 3));
}

inline __m128i sigma1(__m128i x) {
  return _mm_xor_si128(_mm_xor_si128(rotr4<17>(x), rotr4<19>(x)), _mm_srli_epi32(x, 10));
}

// wk[t] = K[t] + W[t] for the 64 schedule words of one block. Kept out of line so that
// the rounds read the words from memory rather than extracting them from vectors.
[[gnu::noinline]] void schedule(const uint8_t *block, uint32_t wk[64]) {
  const __m128i bswap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i *k = reinterpret_cast<const __m128i *>(kSha256K);
  __m128i x[4];
  for (int i = 0; i < 4; ++i) {
    x[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i)), bswap);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(wk + 4 * i), _mm_add_epi32(x[i], _mm_loadu_si128(k + i)));
  }
#pragma GCC unroll 12
  for (int g = 4; g < 16; ++g) {
    // Words 4g..4g+3 from the groups x0 = 4g-16.., x1 = 4g-12.., x2 = 4g-8.., x3 = 4g-4..
    const __m128i x0 = x[g & 3], x1 = x[(g + 1) & 3], x2 = x[(g + 2) & 3], x3 = x[(g + 3) & 3];
    const __m128i w15 = _mm_alignr_epi8(x1, x0, 4);
    const __m128i w7 = _mm_alignr_epi8(x3, x2, 4);
    __m128i v = _mm_add_epi32(_mm_add_epi32(x0, w7), sigma0(w15));
    // The first two words need sigma1 of words 4g-2 and 4g-1, the last two of the first two.
    v = _mm_add_epi32(v, _mm_srli_si128(sigma1(x3), 8));
    v = _mm_add_epi32(v, _mm_slli_si128(sigma1(v), 8));
    x[g & 3] = v;
    _mm_storeu_si128(reinterpret_cast<__m128i *>(wk + 4 * g), _mm_add_epi32(v, _mm_loadu_si128(k + g)));
  }
}

}  // namespace

void sha256_compress_scalar_v3(uint32_t state[8], const uint8_t *blocks, size_t nblocks) {
  alignas(16) uint32_t wk[64];
  for (size_t blk = 0; blk < nblocks; ++blk, blocks += 64) {
    schedule(blocks, wk);
    rounds_scheduled(state, wk);
  }
}

}  // namespace kaldro
