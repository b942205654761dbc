// SHA-256: the portable compression function, message padding, the multi-buffer lane
// scheduler, and the three exported entry points with their tier selection.
#include "hash/sha256.h"

#include <cstring>

#include "frame/internal.h"
#include "hash/sha256_scalar.h"

namespace kaldro {

const uint32_t kSha256Init[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

const uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

namespace {

inline uint32_t to_big32(uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap32(v);
#else
  return v;
#endif
}

inline uint64_t to_big64(uint64_t v) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap64(v);
#else
  return v;
#endif
}

inline void store_be32(uint8_t *p, uint32_t v) {
  v = to_big32(v);
  std::memcpy(p, &v, 4);
}

inline void store_be64(uint8_t *p, uint64_t v) {
  v = to_big64(v);
  std::memcpy(p, &v, 8);
}

// Splits a message into its whole blocks and a padded tail: writes the tail block(s) to
// `tail` and returns their number (1 when at most 55 bytes remain, else 2).
size_t pad_tail(const uint8_t *data, size_t len, uint8_t tail[128]) {
  const size_t rem = len % 64;
  const size_t tail_blocks = rem <= 55 ? 1 : 2;
  std::memset(tail, 0, 64 * tail_blocks);
  if (rem != 0) std::memcpy(tail, data + (len - rem), rem);
  tail[rem] = 0x80;
  store_be64(tail + 64 * tail_blocks - 8, uint64_t(len) * 8);
  return tail_blocks;
}

void emit(const uint32_t state[8], uint8_t digest[32]) {
  for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, state[i]);
}

void digest_with(Sha256Compress compress, const uint8_t *data, size_t len,
                 uint8_t digest[32]) {
  uint32_t state[8];
  std::memcpy(state, kSha256Init, sizeof state);
  if (len >= 64) compress(state, data, len / 64);
  uint8_t tail[128];
  compress(state, tail, pad_tail(data, len, tail));
  emit(state, digest);
}

bool overlaps(const uint8_t *a, size_t a_len, const uint8_t *b, size_t b_len) {
  const uintptr_t pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
  return a_len != 0 && b_len != 0 && pa < pb + b_len && pb < pa + a_len;
}

// One message in a multi-buffer lane: its whole blocks come from the caller's memory,
// then its padded tail.
struct Lane {
  const uint8_t *data;
  size_t whole;   // whole blocks in the message
  size_t total;   // whole plus tail blocks
  size_t done;    // blocks compressed so far
  size_t index;   // message index, for its digest
  bool active;
  uint8_t tail[128];

  const uint8_t *block(size_t b) const { return b < whole ? data + 64 * b : tail + 64 * (b - whole); }
};

alignas(64) const uint8_t kIdleBlock[64] = {};

constexpr int kMaxLanes = 8;

}  // namespace

void sha256_compress_generic(uint32_t state[8], const uint8_t *blocks, size_t nblocks) {
  compress_scalar(state, blocks, nblocks);
}

void sha256_compress_portable(uint32_t state[8], const uint8_t *blocks, size_t nblocks) {
#if defined(__x86_64__)
  // The same scalar rounds built for x86-64-v3, whose rotate and and-not instructions
  // take three operands. The level query runs CPUID, so its answer is kept.
  static const bool v3 = cpu_has_x86_64_v3();
  if (v3) return sha256_compress_scalar_v3(state, blocks, nblocks);
#endif
  compress_scalar(state, blocks, nblocks);
}

Sha256Compress sha256_fastest_compress() {
#if defined(__x86_64__)
  if (cpu_has(Cpu::shani)) return sha256_compress_shani;
#endif
  return sha256_compress_portable;
}

void sha256_digest(const void *data, size_t len, uint8_t digest[32]) {
  digest_with(sha256_fastest_compress(), static_cast<const uint8_t *>(data), len, digest);
}

void sha256_batch_run(const uint8_t *const *datas, const size_t *lens, size_t n,
                      uint8_t *digests, int lanes, Sha256LaneKernel kernel,
                      Sha256Compress compress) {
  // Lanes finish out of index order and take their messages ahead of time. When a
  // message, or the pointer or length arrays, lie in the digest array, an early write
  // could change what a later message reads, so such batches run one message after
  // another.
#if defined(__x86_64__)
  const bool pairs = lanes == 2;
#else
  const bool pairs = false;
#endif
  bool sequential = lanes <= 1 || (!pairs && (kernel == nullptr || lanes > kMaxLanes)) ||
                    overlaps(reinterpret_cast<const uint8_t *>(datas), n * sizeof *datas, digests, 32 * n) ||
                    overlaps(reinterpret_cast<const uint8_t *>(lens), n * sizeof *lens, digests, 32 * n);
  for (size_t i = 0; i < n && !sequential; ++i)
    sequential = overlaps(datas[i], lens[i], digests, 32 * n);
  if (sequential) {
    for (size_t i = 0; i < n; ++i) digest_with(compress, datas[i], lens[i], digests + 32 * i);
    return;
  }

#if defined(__x86_64__)
  if (pairs) {
    // Pairs of messages with the SHA extensions, written in index order.
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
      uint8_t tails[2][128];
      Sha256Blocks msg[2];
      for (int k = 0; k < 2; ++k)
        msg[k] = {datas[i + k], lens[i + k] / 64, tails[k], pad_tail(datas[i + k], lens[i + k], tails[k])};
      uint32_t states[2][8];
      sha256_pair_shani(msg, states);
      emit(states[0], digests + 32 * i);
      emit(states[1], digests + 32 * i + 32);
    }
    if (i < n) digest_with(compress, datas[i], lens[i], digests + 32 * i);
    return;
  }
#endif
  Lane lane[kMaxLanes];
  alignas(32) uint32_t state[8 * kMaxLanes];
  const uint8_t *blocks[kMaxLanes];
  size_t next = 0;
  int active = 0;
  auto start = [&](int l) {
    Lane &ln = lane[l];
    ln.active = next < n;
    if (!ln.active) return;
    ln.index = next++;
    ln.data = datas[ln.index];
    const size_t len = lens[ln.index];
    ln.whole = len / 64;
    ln.total = ln.whole + pad_tail(ln.data, len, ln.tail);
    ln.done = 0;
    for (int w = 0; w < 8; ++w) state[w * lanes + l] = kSha256Init[w];
    ++active;
  };
  for (int l = 0; l < lanes; ++l) start(l);

  // Full-width steps while at least half the lanes have work; the last few messages
  // are finished one at a time, which costs less than idle lanes.
  while (active * 2 >= lanes) {
    for (int l = 0; l < lanes; ++l)
      blocks[l] = lane[l].active ? lane[l].block(lane[l].done) : kIdleBlock;
    kernel(state, blocks);
    for (int l = 0; l < lanes; ++l) {
      Lane &ln = lane[l];
      if (!ln.active || ++ln.done < ln.total) continue;
      uint32_t s[8];
      for (int w = 0; w < 8; ++w) s[w] = state[w * lanes + l];
      emit(s, digests + 32 * ln.index);
      --active;
      start(l);
    }
  }
  for (int l = 0; l < lanes; ++l) {
    Lane &ln = lane[l];
    if (!ln.active) continue;
    uint32_t s[8];
    for (int w = 0; w < 8; ++w) s[w] = state[w * lanes + l];
    if (ln.done < ln.whole) compress(s, ln.block(ln.done), ln.whole - ln.done);
    const size_t from = ln.done > ln.whole ? ln.done : ln.whole;
    compress(s, ln.block(from), ln.total - from);
    emit(s, digests + 32 * ln.index);
  }
}

int sha256_batch_lanes(int tier, bool has_sse2, bool has_avx2, bool has_shani) {
#if defined(__x86_64__)
  if (tier >= 2 && has_shani) return 2;
  if (tier >= 2 && has_avx2) return 8;
  if (tier >= 1 && has_sse2) return 4;
#else
  (void)tier, (void)has_sse2, (void)has_avx2, (void)has_shani;
#endif
  return 0;
}

Sha256LaneKernel sha256_lane_kernel(int lanes) {
#if defined(__x86_64__)
  if (lanes == 4) return sha256_lanes4_sse2;
  if (lanes == 8) return sha256_lanes8_avx2;
#else
  (void)lanes;
#endif
  return nullptr;
}

bool sha256_shani_selected(int tier, bool has_shani) {
#if defined(__x86_64__)
  return tier >= 1 && has_shani;
#else
  (void)tier, (void)has_shani;
  return false;
#endif
}

}  // namespace kaldro

extern "C" {

KALDRO_API kaldro_status kaldro_sha256_hex(const void *data, size_t data_len, char *out_hex) {
  if (out_hex == nullptr) return KALDRO_ERR_NULL;
  if (data == nullptr && data_len > 0) return KALDRO_ERR_NULL;
  uint8_t digest[32];
  kaldro::sha256_digest(data, data_len, digest);
  kaldro::hex_encode(digest, 32, out_hex);
  out_hex[64] = '\0';
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_sha256_batch(const uint8_t *const *datas, const size_t *lens,
                                             size_t n, uint8_t *digests) {
  if (n == 0) return KALDRO_OK;
  if (datas == nullptr || lens == nullptr || digests == nullptr) return KALDRO_ERR_NULL;
  for (size_t i = 0; i < n; ++i)
    if (datas[i] == nullptr && lens[i] > 0) return KALDRO_ERR_NULL;
  const int detected = kaldro_simd_has_avx2() ? 2 : kaldro_simd_has_sse2() ? 1 : 0;
  const int tier = kaldro_simd_tier("KALDRO_SHA256_FORCE_TIER", detected, 2);
  const int lanes = kaldro::sha256_batch_lanes(tier, kaldro::cpu_has(kaldro::Cpu::sse2),
                                               kaldro::cpu_has(kaldro::Cpu::avx2),
                                               kaldro::cpu_has(kaldro::Cpu::shani));
  // The vector paths finish their last few messages with the fastest single-message
  // compression; tier 0 stays portable throughout.
  const kaldro::Sha256Compress compress =
      lanes == 0 ? kaldro::sha256_compress_portable : kaldro::sha256_fastest_compress();
  kaldro::sha256_batch_run(datas, lens, n, digests, lanes, kaldro::sha256_lane_kernel(lanes),
                           compress);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_sha256_shani(const void *data, size_t data_len,
                                             uint8_t *digest) {
  if (digest == nullptr) return KALDRO_ERR_NULL;
  if (data == nullptr && data_len > 0) return KALDRO_ERR_NULL;
  const int detected = kaldro_simd_has_shani() ? 1 : 0;
  const int tier = kaldro_simd_tier("KALDRO_SHANI_FORCE_TIER", detected, 1);
  const bool shani = kaldro::sha256_shani_selected(tier, kaldro::cpu_has(kaldro::Cpu::shani));
  kaldro::Sha256Compress compress = kaldro::sha256_compress_portable;
#if defined(__x86_64__)
  if (shani) compress = kaldro::sha256_compress_shani;
#else
  (void)shani;
#endif
  kaldro::digest_with(compress, static_cast<const uint8_t *>(data), data_len, digest);
  return KALDRO_OK;
}

}  // extern "C"
