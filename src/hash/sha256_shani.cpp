// SHA-256 compression with the SHA extensions: two rounds per sha256rnds2, the message
// schedule by sha256msg1/sha256msg2, the state kept as the ABEF and CDGH register pair.
// The pair form interleaves two independent messages, which hides the latency of
// sha256rnds2 that bounds a single message.
#include <immintrin.h>

#include "hash/sha256.h"

namespace kaldro {
namespace {

inline __m128i load_message(const uint8_t *p) {
  const __m128i bswap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), bswap);
}

// The ABEF/CDGH pair from the state words A..H, and back.
inline void to_registers(const uint32_t *abcd, const uint32_t *efgh, __m128i &st0, __m128i &st1) {
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(abcd)), 0xB1);
  st1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(efgh)), 0x1B);
  st0 = _mm_alignr_epi8(tmp, st1, 8);   // ABEF
  st1 = _mm_blend_epi16(st1, tmp, 0xF0);  // CDGH
}

inline void from_registers(__m128i st0, __m128i st1, uint32_t *abcd, uint32_t *efgh) {
  const __m128i tmp = _mm_shuffle_epi32(st0, 0x1B);  // FEBA
  st1 = _mm_shuffle_epi32(st1, 0xB1);                // DCHG
  _mm_storeu_si128(reinterpret_cast<__m128i *>(abcd), _mm_blend_epi16(tmp, st1, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(efgh), _mm_alignr_epi8(st1, tmp, 8));
}

// Schedule words 4g..4g+3 into m[g & 3] from the four groups before them.
inline void schedule(__m128i m[4], int g) {
  __m128i x = _mm_sha256msg1_epu32(m[g & 3], m[(g + 1) & 3]);
  x = _mm_add_epi32(x, _mm_alignr_epi8(m[(g + 3) & 3], m[(g + 2) & 3], 4));
  m[g & 3] = _mm_sha256msg2_epu32(x, m[(g + 3) & 3]);
}

// Four rounds with the scheduled words of group g.
inline void four_rounds(__m128i &st0, __m128i &st1, __m128i words, int g) {
  __m128i wk = _mm_add_epi32(words, _mm_loadu_si128(reinterpret_cast<const __m128i *>(kSha256K) + g));
  st1 = _mm_sha256rnds2_epu32(st1, st0, wk);
  wk = _mm_shuffle_epi32(wk, 0x0E);
  st0 = _mm_sha256rnds2_epu32(st0, st1, wk);
}

// One block into the ABEF/CDGH pair.
inline void one_block(__m128i &st0, __m128i &st1, const uint8_t *block) {
  const __m128i save0 = st0, save1 = st1;
  __m128i m[4];
  for (int i = 0; i < 4; ++i) m[i] = load_message(block + 16 * i);
#pragma GCC unroll 16
  for (int g = 0; g < 16; ++g) {
    if (g >= 4) schedule(m, g);
    four_rounds(st0, st1, m[g & 3], g);
  }
  st0 = _mm_add_epi32(st0, save0);
  st1 = _mm_add_epi32(st1, save1);
}

inline const uint8_t *block_at(const Sha256Blocks &m, size_t b) {
  return b < m.whole ? m.data + 64 * b : m.tail + 64 * (b - m.whole);
}

}  // namespace

void sha256_compress_shani(uint32_t state[8], const uint8_t *blocks, size_t nblocks) {
  __m128i st0, st1;
  to_registers(state, state + 4, st0, st1);
  for (size_t blk = 0; blk < nblocks; ++blk, blocks += 64) one_block(st0, st1, blocks);
  from_registers(st0, st1, state, state + 4);
}

void sha256_pair_shani(const Sha256Blocks msg[2], uint32_t state[2][8]) {
  __m128i a0, a1, b0, b1;
  to_registers(kSha256Init, kSha256Init + 4, a0, a1);
  b0 = a0;
  b1 = a1;
  const size_t total0 = msg[0].whole + msg[0].tail_blocks;
  const size_t total1 = msg[1].whole + msg[1].tail_blocks;
  const size_t common = total0 < total1 ? total0 : total1;
  for (size_t blk = 0; blk < common; ++blk) {
    const uint8_t *pa = block_at(msg[0], blk), *pb = block_at(msg[1], blk);
    const __m128i sa0 = a0, sa1 = a1, sb0 = b0, sb1 = b1;
    __m128i ma[4], mb[4];
    for (int i = 0; i < 4; ++i) {
      ma[i] = load_message(pa + 16 * i);
      mb[i] = load_message(pb + 16 * i);
    }
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      if (g >= 4) {
        schedule(ma, g);
        schedule(mb, g);
      }
      four_rounds(a0, a1, ma[g & 3], g);
      four_rounds(b0, b1, mb[g & 3], g);
    }
    a0 = _mm_add_epi32(a0, sa0);
    a1 = _mm_add_epi32(a1, sa1);
    b0 = _mm_add_epi32(b0, sb0);
    b1 = _mm_add_epi32(b1, sb1);
  }
  for (size_t blk = common; blk < total0; ++blk) one_block(a0, a1, block_at(msg[0], blk));
  for (size_t blk = common; blk < total1; ++blk) one_block(b0, b1, block_at(msg[1], blk));
  from_registers(a0, a1, state[0], state[0] + 4);
  from_registers(b0, b1, state[1], state[1] + 4);
}

}  // namespace kaldro
