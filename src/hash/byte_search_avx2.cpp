// AVX2 byte search: 32 candidate start positions per step, kept when both the needle's
// first and last bytes match there; only those are compared in full.
#include <immintrin.h>

#include <cstring>

#include "hash/byte_search.h"

namespace kaldro {
namespace {

// Bit j set when start position at + j matches the needle's first and last bytes.
inline uint32_t candidates(const uint8_t *at, __m256i first, __m256i last, size_t last_off) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + last_off));
  const __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last));
  return uint32_t(_mm256_movemask_epi8(both));
}

// Needle bytes 1 .. len-2 (the first and last already match).
inline bool middle_matches(const uint8_t *at, const uint8_t *needle, size_t len) {
  return len <= 2 || std::memcmp(at + 1, needle + 1, len - 2) == 0;
}

}  // namespace

int64_t search_first_avx2(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                          size_t needle_len) {
  if (needle_len == 1) {
    const void *hit = std::memchr(hay, needle[0], hay_len);
    return hit ? static_cast<const uint8_t *>(hit) - hay : -1;
  }
  const size_t last_off = needle_len - 1;
  const size_t starts = hay_len - needle_len + 1;
  const __m256i first = _mm256_set1_epi8(char(needle[0]));
  const __m256i last = _mm256_set1_epi8(char(needle[last_off]));
  size_t i = 0;
  // 64 start positions per step while candidates are rare.
  for (; i + 64 <= starts; i += 64) {
    uint64_t mask = candidates(hay + i, first, last, last_off) |
                    uint64_t(candidates(hay + i + 32, first, last, last_off)) << 32;
    while (mask != 0) {
      const size_t at = i + size_t(__builtin_ctzll(mask));
      if (middle_matches(hay + at, needle, needle_len)) return int64_t(at);
      mask &= mask - 1;
    }
  }
  for (; i + 32 <= starts; i += 32) {
    uint32_t mask = candidates(hay + i, first, last, last_off);
    while (mask != 0) {
      const size_t at = i + size_t(__builtin_ctz(mask));
      if (middle_matches(hay + at, needle, needle_len)) return int64_t(at);
      mask &= mask - 1;
    }
  }
  for (; i < starts; ++i)
    if (hay[i] == needle[0] && hay[i + last_off] == needle[last_off] &&
        middle_matches(hay + i, needle, needle_len))
      return int64_t(i);
  return -1;
}

int64_t search_last_avx2(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                         size_t needle_len) {
  if (needle_len == 1) {
    const void *hit = memrchr(hay, needle[0], hay_len);
    return hit ? static_cast<const uint8_t *>(hit) - hay : -1;
  }
  const size_t last_off = needle_len - 1;
  size_t end = hay_len - needle_len + 1;  // start positions below `end` remain
  const __m256i first = _mm256_set1_epi8(char(needle[0]));
  const __m256i last = _mm256_set1_epi8(char(needle[last_off]));
  for (; end >= 32; end -= 32) {
    const size_t base = end - 32;
    uint32_t mask = candidates(hay + base, first, last, last_off);
    while (mask != 0) {
      const int top = 31 - __builtin_clz(mask);
      const size_t at = base + size_t(top);
      if (middle_matches(hay + at, needle, needle_len)) return int64_t(at);
      mask &= ~(1u << top);
    }
  }
  while (end > 0) {
    const size_t i = --end;
    if (hay[i] == needle[0] && hay[i + last_off] == needle[last_off] &&
        middle_matches(hay + i, needle, needle_len))
      return int64_t(i);
  }
  return -1;
}

}  // namespace kaldro
