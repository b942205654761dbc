// SHA-256 compression with the SHA extensions: two rounds per sha256rnds2, the message
// schedule by sha256msg1/sha256msg2, the state kept as the ABEF and CDGH register pair.
#include <immintrin.h>

#include "hash/sha256.h"

namespace kaldro {

void sha256_compress_shani(uint32_t state[8], const uint8_t *blocks, size_t nblocks) {
  const __m128i bswap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i *k = reinterpret_cast<const __m128i *>(kSha256K);

  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));       // ABCD
  __m128i st1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));   // EFGH
  tmp = _mm_shuffle_epi32(tmp, 0xB1);
  st1 = _mm_shuffle_epi32(st1, 0x1B);
  __m128i st0 = _mm_alignr_epi8(tmp, st1, 8);  // ABEF
  st1 = _mm_blend_epi16(st1, tmp, 0xF0);       // CDGH

  for (size_t blk = 0; blk < nblocks; ++blk, blocks += 64) {
    const __m128i save0 = st0, save1 = st1;
    __m128i m[4];
    for (int i = 0; i < 4; ++i)
      m[i] = _mm_shuffle_epi8(
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(blocks + 16 * i)), bswap);
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      if (g >= 4) {
        // Words 4g..4g+3 from the four groups before them.
        __m128i x = _mm_sha256msg1_epu32(m[g & 3], m[(g + 1) & 3]);
        x = _mm_add_epi32(x, _mm_alignr_epi8(m[(g + 3) & 3], m[(g + 2) & 3], 4));
        m[g & 3] = _mm_sha256msg2_epu32(x, m[(g + 3) & 3]);
      }
      __m128i wk = _mm_add_epi32(m[g & 3], _mm_loadu_si128(k + g));
      st1 = _mm_sha256rnds2_epu32(st1, st0, wk);
      wk = _mm_shuffle_epi32(wk, 0x0E);
      st0 = _mm_sha256rnds2_epu32(st0, st1, wk);
    }
    st0 = _mm_add_epi32(st0, save0);
    st1 = _mm_add_epi32(st1, save1);
  }

  tmp = _mm_shuffle_epi32(st0, 0x1B);        // FEBA
  st1 = _mm_shuffle_epi32(st1, 0xB1);        // DCHG
  st0 = _mm_blend_epi16(tmp, st1, 0xF0);     // DCBA
  st1 = _mm_alignr_epi8(st1, tmp, 8);        // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), st0);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), st1);
}

}  // namespace kaldro
