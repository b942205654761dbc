// The canonical writer compiled with an AVX2 scan for runs of bytes that need no escape.
#include "text/json_write_impl.h"

#include <immintrin.h>

namespace kaldro::json {
namespace {

struct WriteScanAvx2 {
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
};

}  // namespace

kaldro_status write_avx2(const kaldro_json_node *root, void *out, uint64_t out_cap,
                         uint64_t *out_len, void *workspace, uint64_t workspace_bytes) {
  return write_with<WriteScanAvx2>(root, out, out_cap, out_len, workspace, workspace_bytes);
}

}  // namespace kaldro::json
