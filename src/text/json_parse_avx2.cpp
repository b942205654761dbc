// The JSON parser compiled with the AVX2 scans: 32 bytes at a time for string runs and
// white space, falling back to the word-at-a-time scans near the end of the text.
#include "text/json_parse_impl.h"
#include "text/json_scan_avx2.h"

namespace kaldro::json {

kaldro_status parse_avx2(const void *text, uint64_t text_len, void *arena, uint64_t arena_bytes,
                         kaldro_json_node **out_root) {
  return parse_with<ScanAvx2>(text, text_len, arena, arena_bytes, out_root);
}

}  // namespace kaldro::json
