// The AVX2 scans over JSON text, shared by the parser and the writer files built for
// that tier: 32 bytes at a time, with the word-at-a-time scans for the last bytes.
// Include only from files compiled with AVX2 enabled.
#pragma once

#include "text/json_internal.h"

#include <immintrin.h>

namespace kaldro::json {
namespace {

struct ScanAvx2 {
  static __m256i load(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
  // Quotation marks, backslashes and bytes below 0x20.
  static uint32_t special_bits(__m256i v) {
    const __m256i m = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')),
                        _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'))),
        _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(0x1F)), v));
    return uint32_t(_mm256_movemask_epi8(m));
  }

  static const uint8_t *find_special(const uint8_t *p, const uint8_t *end) {
    while (end - p >= 32) {
      const uint32_t bits = special_bits(load(p));
      if (bits) return p + __builtin_ctz(bits);
      p += 32;
    }
    return find_special_portable(p, end);
  }

  static const uint8_t *find_quote(const uint8_t *p, const uint8_t *end) {
    while (end - p >= 32) {
      const __m256i v = load(p);
      const __m256i m = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')),
                                        _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\')));
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
      const __m256i v = load(p);
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

  // Copies the plain bytes of [s, end) to w up to the first special byte, whose
  // position it returns. Whole blocks are stored, so up to 31 bytes past that position
  // may be written too, never more than end - s bytes in all.
  static const uint8_t *copy_plain(uint8_t *w, const uint8_t *s, const uint8_t *end) {
    while (end - s >= 32) {
      const __m256i v = load(s);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(w), v);
      const uint32_t bits = special_bits(v);
      if (bits) return s + __builtin_ctz(bits);
      s += 32;
      w += 32;
    }
    return copy_plain_portable(w, s, end);
  }
};

}  // namespace
}  // namespace kaldro::json
