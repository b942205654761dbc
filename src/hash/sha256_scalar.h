// The scalar SHA-256 rounds, included by the portable build and by its x86-64-v3 build.
// Everything here has internal linkage, so each build keeps its own copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/sha256.h"

namespace kaldro {
namespace {

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load_be32(const uint8_t *p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

#if defined(__BMI2__)
// Three-operand rotates: three independent rotations keep the dependency chain short.
inline uint32_t big_s0(uint32_t a) { return rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22); }
inline uint32_t big_s1(uint32_t e) { return rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25); }
inline uint32_t small_s0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline uint32_t small_s1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }
#else
// Two-operand rotates: nested rotations need fewer register copies, as
// S1(e) = ror6 ^ ror11 ^ ror25 = ror(e ^ ror(e ^ ror(e, 14), 5), 6).
inline uint32_t big_s0(uint32_t a) { return rotr(a ^ rotr(a ^ rotr(a, 9), 11), 2); }
inline uint32_t big_s1(uint32_t e) { return rotr(e ^ rotr(e ^ rotr(e, 14), 5), 6); }
inline uint32_t small_s0(uint32_t x) { return rotr(x ^ rotr(x, 11), 7) ^ (x >> 3); }
inline uint32_t small_s1(uint32_t x) { return rotr(x ^ rotr(x, 2), 17) ^ (x >> 10); }
#endif

// Schedule word t (t >= 16) in a 16-word ring.
#define SHA_SCHEDULE(w, t)                                                            \
  (w[(t) & 15] += small_s1(w[((t) - 2) & 15]) + w[((t) - 7) & 15] + small_s0(w[((t) - 15) & 15]))

// Ch(e, f, g): with and-not, as the sum of its two disjoint halves; otherwise in the
// form that needs no complement.
#if defined(__BMI__)
#define SHA_CH(e, f, g) (((e) & (f)) + (~(e) & (g)))
#else
#define SHA_CH(e, f, g) ((g) ^ ((e) & ((f) ^ (g))))
#endif

// One round with wkt the round constant plus the schedule word, accumulated in place in
// h; the caller rotates the roles of the eight working variables. Maj(a, b, c) is
// b ^ ((a ^ b) & (b ^ c)), and this round's a ^ b is the next round's b ^ c.
#define SHA_ROUND(a, b, c, d, e, f, g, h, wkt)                                        \
  do {                                                                                \
    h += (wkt);                                                                       \
    h += SHA_CH(e, f, g);                                                             \
    h += big_s1(e);                                                                   \
    d += h;                                                                           \
    const uint32_t ab = a ^ b;                                                        \
    h += b ^ (ab & bc);                                                               \
    h += big_s0(a);                                                                   \
    bc = ab;                                                                          \
  } while (0)

#define SHA_EIGHT(t, W)                          \
  SHA_ROUND(a, b, c, d, e, f, g, h, W(t + 0));   \
  SHA_ROUND(h, a, b, c, d, e, f, g, W(t + 1));   \
  SHA_ROUND(g, h, a, b, c, d, e, f, W(t + 2));   \
  SHA_ROUND(f, g, h, a, b, c, d, e, W(t + 3));   \
  SHA_ROUND(e, f, g, h, a, b, c, d, W(t + 4));   \
  SHA_ROUND(d, e, f, g, h, a, b, c, W(t + 5));   \
  SHA_ROUND(c, d, e, f, g, h, a, b, W(t + 6));   \
  SHA_ROUND(b, c, d, e, f, g, h, a, W(t + 7))

#define SHA_W_LOAD(t) (kSha256K[t] + w[t])
#define SHA_W_NEXT(t) (kSha256K[t] + SHA_SCHEDULE(w, t))

inline void compress_scalar(uint32_t state[8], const uint8_t *blocks, size_t nblocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (size_t blk = 0; blk < nblocks; ++blk, blocks += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = load_be32(blocks + 4 * i);
    uint32_t bc = b ^ c;
    SHA_EIGHT(0, SHA_W_LOAD);
    SHA_EIGHT(8, SHA_W_LOAD);
    SHA_EIGHT(16, SHA_W_NEXT);
    SHA_EIGHT(24, SHA_W_NEXT);
    SHA_EIGHT(32, SHA_W_NEXT);
    SHA_EIGHT(40, SHA_W_NEXT);
    SHA_EIGHT(48, SHA_W_NEXT);
    SHA_EIGHT(56, SHA_W_NEXT);
    a = state[0] += a;
    b = state[1] += b;
    c = state[2] += c;
    d = state[3] += d;
    e = state[4] += e;
    f = state[5] += f;
    g = state[6] += g;
    h = state[7] += h;
  }
}

// The same rounds over a block whose 64 schedule words, each plus its round constant,
// were computed beforehand into wk.
#define SHA_WK(t) wk[t]
inline void rounds_scheduled(uint32_t state[8], const uint32_t wk[64]) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  uint32_t bc = b ^ c;
  SHA_EIGHT(0, SHA_WK);
  SHA_EIGHT(8, SHA_WK);
  SHA_EIGHT(16, SHA_WK);
  SHA_EIGHT(24, SHA_WK);
  SHA_EIGHT(32, SHA_WK);
  SHA_EIGHT(40, SHA_WK);
  SHA_EIGHT(48, SHA_WK);
  SHA_EIGHT(56, SHA_WK);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace
}  // namespace kaldro
