// SHA-256 multi-buffer kernel for eight lanes in AVX2 registers: one 32-bit word of
// each lane per register, blocks loaded by an 8x8 transpose.
#include <immintrin.h>

#include "hash/sha256.h"

namespace kaldro {
namespace {

using V = __m256i;

inline V add(V a, V b) { return _mm256_add_epi32(a, b); }
template <int N>
inline V rotr(V x) {
  return _mm256_or_si256(_mm256_srli_epi32(x, N), _mm256_slli_epi32(x, 32 - N));
}
inline V big_s0(V a) { return _mm256_xor_si256(_mm256_xor_si256(rotr<2>(a), rotr<13>(a)), rotr<22>(a)); }
inline V big_s1(V e) { return _mm256_xor_si256(_mm256_xor_si256(rotr<6>(e), rotr<11>(e)), rotr<25>(e)); }
inline V small_s0(V x) {
  return _mm256_xor_si256(_mm256_xor_si256(rotr<7>(x), rotr<18>(x)), _mm256_srli_epi32(x, 3));
}
inline V small_s1(V x) {
  return _mm256_xor_si256(_mm256_xor_si256(rotr<17>(x), rotr<19>(x)), _mm256_srli_epi32(x, 10));
}
inline V choose(V e, V f, V g) { return _mm256_xor_si256(g, _mm256_and_si256(e, _mm256_xor_si256(f, g))); }
inline V majority(V a, V b, V c) {
  return _mm256_or_si256(_mm256_and_si256(a, b), _mm256_and_si256(c, _mm256_or_si256(a, b)));
}

// Words 8*half .. 8*half+7 of every lane's block, one word per register, big-endian.
inline void load_words(const uint8_t *const *blocks, int half, V out[8]) {
  const V bswap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                   3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  V r[8];
  for (int l = 0; l < 8; ++l)
    r[l] = _mm256_loadu_si256(reinterpret_cast<const V *>(blocks[l] + 32 * half));
  V t[8], u[8];
  for (int i = 0; i < 4; ++i) {
    t[2 * i] = _mm256_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm256_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
  }
  for (int i = 0; i < 2; ++i) {
    u[4 * i + 0] = _mm256_unpacklo_epi64(t[4 * i], t[4 * i + 2]);
    u[4 * i + 1] = _mm256_unpackhi_epi64(t[4 * i], t[4 * i + 2]);
    u[4 * i + 2] = _mm256_unpacklo_epi64(t[4 * i + 1], t[4 * i + 3]);
    u[4 * i + 3] = _mm256_unpackhi_epi64(t[4 * i + 1], t[4 * i + 3]);
  }
  for (int w = 0; w < 4; ++w) {
    out[w] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u[w], u[w + 4], 0x20), bswap);
    out[w + 4] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u[w], u[w + 4], 0x31), bswap);
  }
}

#define LANE_ROUND(a, b, c, d, e, f, g, h, t)                                          \
  do {                                                                                 \
    if ((t) >= 16)                                                                     \
      w[(t) & 15] = add(add(w[(t) & 15], small_s1(w[((t) - 2) & 15])),                 \
                        add(w[((t) - 7) & 15], small_s0(w[((t) - 15) & 15])));         \
    const V t1 = add(add(add(h, big_s1(e)), add(choose(e, f, g), w[(t) & 15])),        \
                     _mm256_set1_epi32(int(kSha256K[t])));                             \
    const V t2 = add(big_s0(a), majority(a, b, c));                                    \
    d = add(d, t1);                                                                    \
    h = add(t1, t2);                                                                   \
  } while (0)

}  // namespace

void sha256_lanes8_avx2(uint32_t *state, const uint8_t *const *blocks) {
  V *s = reinterpret_cast<V *>(state);
  V a = _mm256_loadu_si256(s + 0), b = _mm256_loadu_si256(s + 1);
  V c = _mm256_loadu_si256(s + 2), d = _mm256_loadu_si256(s + 3);
  V e = _mm256_loadu_si256(s + 4), f = _mm256_loadu_si256(s + 5);
  V g = _mm256_loadu_si256(s + 6), h = _mm256_loadu_si256(s + 7);
  V w[16];
  load_words(blocks, 0, w);
  load_words(blocks, 1, w + 8);
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
  _mm256_storeu_si256(s + 0, add(a, _mm256_loadu_si256(s + 0)));
  _mm256_storeu_si256(s + 1, add(b, _mm256_loadu_si256(s + 1)));
  _mm256_storeu_si256(s + 2, add(c, _mm256_loadu_si256(s + 2)));
  _mm256_storeu_si256(s + 3, add(d, _mm256_loadu_si256(s + 3)));
  _mm256_storeu_si256(s + 4, add(e, _mm256_loadu_si256(s + 4)));
  _mm256_storeu_si256(s + 5, add(f, _mm256_loadu_si256(s + 5)));
  _mm256_storeu_si256(s + 6, add(g, _mm256_loadu_si256(s + 6)));
  _mm256_storeu_si256(s + 7, add(h, _mm256_loadu_si256(s + 7)));
}

}  // namespace kaldro
