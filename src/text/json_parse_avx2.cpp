// The JSON parser compiled with AVX2 scans: 32 bytes at a time for string runs and
// white space, falling back to the word-at-a-time scans near the end of the text.
#include "text/json_parse_impl.h"

#include <immintrin.h>

namespace kaldro::json {
namespace {

struct ScanAvx2 {
  static const uint8_t *find_special(const uint8_t *p, const uint8_t *end) {
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i bslash = _mm256_set1_epi8('\\');
    const __m256i ctl = _mm256_set1_epi8(0x1F);
    while (end - p >= 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
      const __m256i m = _mm256_or_si256(
          _mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, bslash)),
          _mm256_cmpeq_epi8(_mm256_min_epu8(v, ctl), v));
      const uint32_t bits = uint32_t(_mm256_movemask_epi8(m));
      if (bits) return p + __builtin_ctz(bits);
      p += 32;
    }
    return find_special_portable(p, end);
  }
  static const uint8_t *find_quote(const uint8_t *p, const uint8_t *end) {
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i bslash = _mm256_set1_epi8('\\');
    while (end - p >= 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
      const __m256i m = _mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, bslash));
      const uint32_t bits = uint32_t(_mm256_movemask_epi8(m));
      if (bits) return p + __builtin_ctz(bits);
      p += 32;
    }
    return find_quote_portable(p, end);
  }
  static const uint8_t *skip_ws(const uint8_t *p, const uint8_t *end) {
    // Most runs are empty or a single byte; long runs (indentation) go 32 at a time.
    if (p < end && !is_ws(*p)) return p;
    while (end - p >= 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
      const __m256i m = _mm256_or_si256(
          _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
                          _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t'))),
          _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')),
                          _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'))));
      const uint32_t bits = ~uint32_t(_mm256_movemask_epi8(m));
      if (bits) return p + __builtin_ctz(bits);
      p += 32;
    }
    while (p < end && is_ws(*p)) ++p;
    return p;
  }
};

}  // namespace

kaldro_status parse_avx2(const void *text, uint64_t text_len, void *arena, uint64_t arena_bytes,
                         kaldro_json_node **out_root) {
  return parse_with<ScanAvx2>(text, text_len, arena, arena_bytes, out_root);
}

}  // namespace kaldro::json
