// SHA-256 multi-buffer kernel for four lanes in SSE2 registers: one 32-bit word of each
// lane per register, blocks loaded by 4x4 transposes.
#include <emmintrin.h>

#include "hash/sha256.h"

namespace kaldro {
namespace {

using V = __m128i;

inline V add(V a, V b) { return _mm_add_epi32(a, b); }
template <int N>
inline V rotr(V x) {
  return _mm_or_si128(_mm_srli_epi32(x, N), _mm_slli_epi32(x, 32 - N));
}
inline V big_s0(V a) { return _mm_xor_si128(_mm_xor_si128(rotr<2>(a), rotr<13>(a)), rotr<22>(a)); }
inline V big_s1(V e) { return _mm_xor_si128(_mm_xor_si128(rotr<6>(e), rotr<11>(e)), rotr<25>(e)); }
inline V small_s0(V x) {
  return _mm_xor_si128(_mm_xor_si128(rotr<7>(x), rotr<18>(x)), _mm_srli_epi32(x, 3));
}
inline V small_s1(V x) {
  return _mm_xor_si128(_mm_xor_si128(rotr<17>(x), rotr<19>(x)), _mm_srli_epi32(x, 10));
}
inline V choose(V e, V f, V g) { return _mm_xor_si128(g, _mm_and_si128(e, _mm_xor_si128(f, g))); }
inline V majority(V a, V b, V c) {
  return _mm_or_si128(_mm_and_si128(a, b), _mm_and_si128(c, _mm_or_si128(a, b)));
}

// Byte order of each 32-bit word reversed (SSE2 has no byte shuffle).
inline V bswap32(V x) {
  x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);
}

// Words 4*quarter .. 4*quarter+3 of every lane's block, one word per register.
inline void load_words(const uint8_t *const *blocks, int quarter, V out[4]) {
  V r[4];
  for (int l = 0; l < 4; ++l)
    r[l] = _mm_loadu_si128(reinterpret_cast<const V *>(blocks[l] + 16 * quarter));
  const V t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpackhi_epi32(r[0], r[1]);
  const V t2 = _mm_unpacklo_epi32(r[2], r[3]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
  out[0] = bswap32(_mm_unpacklo_epi64(t0, t2));
  out[1] = bswap32(_mm_unpackhi_epi64(t0, t2));
  out[2] = bswap32(_mm_unpacklo_epi64(t1, t3));
  out[3] = bswap32(_mm_unpackhi_epi64(t1, t3));
}

#define LANE_ROUND(a, b, c, d, e, f, g, h, t)                                          \
  do {                                                                                 \
    if ((t) >= 16)                                                                     \
      w[(t) & 15] = add(add(w[(t) & 15], small_s1(w[((t) - 2) & 15])),                 \
                        add(w[((t) - 7) & 15], small_s0(w[((t) - 15) & 15])));         \
    const V t1 = add(add(add(h, big_s1(e)), add(choose(e, f, g), w[(t) & 15])),        \
                     _mm_set1_epi32(int(kSha256K[t])));                                \
    const V t2 = add(big_s0(a), majority(a, b, c));                                    \
    d = add(d, t1);                                                                    \
    h = add(t1, t2);                                                                   \
  } while (0)

}  // namespace

void sha256_lanes4_sse2(uint32_t *state, const uint8_t *const *blocks) {
  V *s = reinterpret_cast<V *>(state);
  V a = _mm_loadu_si128(s + 0), b = _mm_loadu_si128(s + 1);
  V c = _mm_loadu_si128(s + 2), d = _mm_loadu_si128(s + 3);
  V e = _mm_loadu_si128(s + 4), f = _mm_loadu_si128(s + 5);
  V g = _mm_loadu_si128(s + 6), h = _mm_loadu_si128(s + 7);
  V w[16];
  for (int q = 0; q < 4; ++q) load_words(blocks, q, w + 4 * q);
#pragma GCC unroll 8
  for (int t = 0; t < 64; t += 8) {
    LANE_ROUND(a, b, c, d, e, f, g, h, t + 0);
    LANE_ROUND(h, a, b, c, d, e, f, g, t + 1);
    LANE_ROUND(g, h, a, b, c, d, e, f, t + 2);
    LANE_ROUND(f, g, h, a, b, c, d, e, t + 3);
    LANE_ROUND(e, f, g, h, a, b, c, d, t + 4);
    LANE_ROUND(d, e, f, g, h, a, b, c, t + 5);
    LANE_ROUND(c, d, e, f, g, h, a, b, t + 6);
    LANE_ROUND(b, c, d, e, f, g, h, a, t + 7);
  }
  _mm_storeu_si128(s + 0, add(a, _mm_loadu_si128(s + 0)));
  _mm_storeu_si128(s + 1, add(b, _mm_loadu_si128(s + 1)));
  _mm_storeu_si128(s + 2, add(c, _mm_loadu_si128(s + 2)));
  _mm_storeu_si128(s + 3, add(d, _mm_loadu_si128(s + 3)));
  _mm_storeu_si128(s + 4, add(e, _mm_loadu_si128(s + 4)));
  _mm_storeu_si128(s + 5, add(f, _mm_loadu_si128(s + 5)));
  _mm_storeu_si128(s + 6, add(g, _mm_loadu_si128(s + 6)));
  _mm_storeu_si128(s + 7, add(h, _mm_loadu_si128(s + 7)));
}

}  // namespace kaldro
