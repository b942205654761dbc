// SHA-256 internals shared by the entry points, the instruction-set paths and other
// subsystems: the compression functions, the multi-buffer lane kernels, and a raw digest
// of one message that picks the fastest compression the processor has.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kaldro {

// The standard's initial hash values and round constants.
extern const uint32_t kSha256Init[8];
extern const uint32_t kSha256K[64];

// Compresses `nblocks` consecutive 64-byte blocks into `state`.
using Sha256Compress = void (*)(uint32_t state[8], const uint8_t *blocks, size_t nblocks);

// The portable scalar compression: built for the baseline instruction set (generic),
// and on x86-64 also for x86-64-v3, which the portable path uses where it runs.
void sha256_compress_portable(uint32_t state[8], const uint8_t *blocks, size_t nblocks);
void sha256_compress_generic(uint32_t state[8], const uint8_t *blocks, size_t nblocks);

// One block for each of L lanes: `state` holds word w of lane l at state[w * L + l];
// blocks[l] points at the 64-byte block of lane l.
using Sha256LaneKernel = void (*)(uint32_t *state, const uint8_t *const *blocks);

// A message as the compression reads it: `whole` blocks in the caller's memory at
// `data`, then `tail_blocks` (1 or 2) padded blocks at `tail`.
struct Sha256Blocks {
  const uint8_t *data;
  size_t whole;
  const uint8_t *tail;
  size_t tail_blocks;
};

#if defined(__x86_64__)
void sha256_compress_scalar_v3(uint32_t state[8], const uint8_t *blocks, size_t nblocks);
void sha256_compress_shani(uint32_t state[8], const uint8_t *blocks, size_t nblocks);
// Two messages side by side from the initial state; writes their final states.
void sha256_pair_shani(const Sha256Blocks msg[2], uint32_t state[2][8]);
void sha256_lanes4_sse2(uint32_t *state, const uint8_t *const *blocks);
void sha256_lanes8_avx2(uint32_t *state, const uint8_t *const *blocks);
#endif

// The fastest single-message compression this processor runs (SHA-NI when present).
Sha256Compress sha256_fastest_compress();

// Raw 32-byte digest of one message (data may be null when len is 0), by the fastest
// compression available. Reads no environment variable.
void sha256_digest(const void *data, size_t len, uint8_t digest[32]);

// Batch paths, after the entry point's checks. `lanes` is 0 for the sequential path
// (with `compress`), 2, 4 or 8 for the multi-buffer paths (with `kernel`, and
// `compress` for the last few messages). Digests are written to digests + 32 i.
void sha256_batch_run(const uint8_t *const *datas, const size_t *lens, size_t n,
                      uint8_t *digests, int lanes, Sha256LaneKernel kernel,
                      Sha256Compress compress);

// Which batch path a tier selects on a processor with the given features, never one
// the processor cannot run: 0 (one message after another, portable), 2 (two SHA-NI
// lanes, tier 2 on processors with the SHA extensions, where they outrun the vector
// lanes), 8 (eight AVX2 lanes, tier 2 otherwise) or 4 (four SSE2 lanes, tier 1, and
// tier 2 without AVX2 or SHA-NI).
int sha256_batch_lanes(int tier, bool has_sse2, bool has_avx2, bool has_shani);
// The lane kernel for a lane count that sha256_batch_lanes returns (null for 0 and for
// 2, whose pairs of messages run in sha256_pair_shani).
Sha256LaneKernel sha256_lane_kernel(int lanes);
// Whether the single-message entry point runs SHA-NI for this tier and processor.
bool sha256_shani_selected(int tier, bool has_shani);

}  // namespace kaldro
