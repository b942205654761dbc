// The exported JSON parser entry point with its instruction-set dispatch, and the member
// lookup by key.
#include "text/json_parse_impl.h"

namespace kaldro::json {

kaldro_status parse_tier(int tier, const void *text, uint64_t text_len, void *arena,
                         uint64_t arena_bytes, kaldro_json_node **out_root) {
  if (!out_root || (!text && text_len) || (!arena && arena_bytes)) return KALDRO_ERR_NULL;
  if (!text) text = "";
#if defined(__x86_64__)
  if (tier >= 2 && cpu_has(Cpu::avx2))
    return parse_avx2(text, text_len, arena, arena_bytes, out_root);
#else
  (void)tier;
#endif
  return parse_with<ScanPortable>(text, text_len, arena, arena_bytes, out_root);
}

}  // namespace kaldro::json

extern "C" KALDRO_API kaldro_status kaldro_json_parse(const void *text, uint64_t text_len,
                                                      void *arena, uint64_t arena_bytes,
                                                      kaldro_json_node **out_root) {
  return kaldro::json::parse_tier(2, text, text_len, arena, arena_bytes, out_root);
}

extern "C" KALDRO_API const kaldro_json_node *kaldro_json_object_get(
    const kaldro_json_node *object, const char *key) {
  if (!object || !key || object->kind != KALDRO_JSON_OBJECT) return nullptr;
  const char *const *keys = object->keys;
  const uint32_t n = object->member_count;
  const char first = key[0];
  for (uint32_t i = 0; i < n; ++i) {
    const char *k = keys[i];
    if (k && k[0] == first && std::strcmp(k, key) == 0) return object->values[i];
  }
  return nullptr;
}
