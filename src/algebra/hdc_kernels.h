// Inner loops of the binary hypervectors: the popcount of an exclusive or and the
// bit-sliced majority vote, in a portable form and in wider forms chosen at run time.
// Every form gives the same result.
#pragma once

#include <cstdint>

namespace kaldro::hdc {

// Number of set bits of a[k] XOR b[k] over n bytes.
uint64_t xor_popcount_portable(const uint8_t *a, const uint8_t *b, uint64_t n);

// For bytes begin..end-1: out bit = 1 when at least `threshold` of the count vectors
// have the bit set. count >= 1, 1 <= threshold <= count. Every input byte k is read
// before out[k] is written, so out may be one of the vectors.
void majority_portable(const uint8_t *const *vectors, uint32_t count, uint64_t threshold,
                       uint64_t begin, uint64_t end, uint8_t *out);

// Number of bit planes a counter of values 0..count needs.
inline unsigned counter_planes(uint32_t count) {
  return 32u - unsigned(__builtin_clz(count));
}

#if defined(__x86_64__)
uint64_t xor_popcount_avx2(const uint8_t *a, const uint8_t *b, uint64_t n);
void majority_avx2(const uint8_t *const *vectors, uint32_t count, uint64_t threshold,
                   uint64_t n, uint8_t *out);
#endif

}  // namespace kaldro::hdc
