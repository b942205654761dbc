// The scalar SHA-256 rounds built for x86-64-v3 (three-operand rotates), with the
// message schedule computed four words at a time in vector registers, one block ahead
// and interleaved with the rounds of the block before; chosen for the portable path on
// processors of that level.
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

// The schedule of one block, four words at a time: group g holds words 4g..4g+3, and
// wk[4g..4g+3] receives them plus their round constants.
struct Schedule {
  __m128i x[4];
  uint32_t *wk;

  void load(const uint8_t *block, uint32_t *out) {
    const __m128i bswap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    wk = out;
    for (int i = 0; i < 4; ++i) {
      x[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i)), bswap);
      store(i, x[i]);
    }
  }
  void store(int g, __m128i v) {
    const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kSha256K) + g);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(wk + 4 * g), _mm_add_epi32(v, k));
  }
  // Group g (4 to 15) from the four groups before it.
  void group(int g) {
    const __m128i x0 = x[g & 3], x1 = x[(g + 1) & 3], x2 = x[(g + 2) & 3], x3 = x[(g + 3) & 3];
    __m128i v = _mm_add_epi32(_mm_add_epi32(x0, _mm_alignr_epi8(x3, x2, 4)),
                              sigma0(_mm_alignr_epi8(x1, x0, 4)));
    // The first two words need sigma1 of words 4g-2 and 4g-1, the last two of the first two.
    v = _mm_add_epi32(v, _mm_srli_si128(sigma1(x3), 8));
    v = _mm_add_epi32(v, _mm_slli_si128(sigma1(v), 8));
    x[g & 3] = v;
    store(g, v);
  }
};

#define SHA_FOUR_A(t)                              \
  SHA_ROUND(a, b, c, d, e, f, g, h, wk[(t) + 0]); \
  SHA_ROUND(h, a, b, c, d, e, f, g, wk[(t) + 1]); \
  SHA_ROUND(g, h, a, b, c, d, e, f, wk[(t) + 2]); \
  SHA_ROUND(f, g, h, a, b, c, d, e, wk[(t) + 3])
#define SHA_FOUR_B(t)                              \
  SHA_ROUND(e, f, g, h, a, b, c, d, wk[(t) + 0]); \
  SHA_ROUND(d, e, f, g, h, a, b, c, wk[(t) + 1]); \
  SHA_ROUND(c, d, e, f, g, h, a, b, wk[(t) + 2]); \
  SHA_ROUND(b, c, d, e, f, g, h, a, wk[(t) + 3])

}  // namespace

void sha256_compress_scalar_v3(uint32_t state[8], const uint8_t *blocks, size_t nblocks) {
  if (nblocks == 0) return;
  alignas(16) uint32_t buffers[2][64];
  Schedule next;
  next.load(blocks, buffers[0]);
  for (int grp = 4; grp < 16; ++grp) next.group(grp);
  for (size_t blk = 0; blk < nblocks; ++blk) {
    const uint32_t *wk = buffers[blk & 1];
    const bool more = blk + 1 < nblocks;
    if (more) next.load(blocks + 64 * (blk + 1), buffers[(blk + 1) & 1]);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t bc = b ^ c;
    // Rounds of this block, with the next block's schedule in between.
#pragma GCC unroll 8
    for (int t = 0; t < 64; t += 8) {
      SHA_FOUR_A(t);
      if (more && t / 4 + 4 < 16) next.group(t / 4 + 4);
      SHA_FOUR_B(t + 4);
      if (more && t / 4 + 5 < 16) next.group(t / 4 + 5);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace kaldro
