// The JSON builder: a bump allocator of nodes over the caller's arena. Nodes are
// zero-filled; strings and keys are the caller's own bytes, pointer arrays are copied.
#include "text/json_internal.h"

namespace {

using kaldro::json::arena_take;

// A constructor given no builder has nothing to allocate from and returns null.
void *builder_take(kaldro_json_builder *b, uint64_t bytes) {
  if (!b) return nullptr;
  void *p = arena_take(b->base, b->size, b->used, bytes);
  if (!p) b->failed = 1;
  return p;
}

kaldro_json_node *builder_node(kaldro_json_builder *b, kaldro_json_kind kind) {
  auto *n = static_cast<kaldro_json_node *>(builder_take(b, sizeof(kaldro_json_node)));
  if (n) {
    std::memset(static_cast<void *>(n), 0, sizeof *n);
    n->kind = kind;
  }
  return n;
}

}  // namespace

extern "C" KALDRO_API kaldro_status kaldro_json_builder_init(kaldro_json_builder *builder,
                                                             void *arena, uint64_t arena_bytes) {
  if (!builder || (!arena && arena_bytes)) return KALDRO_ERR_NULL;
  builder->base = static_cast<uint8_t *>(arena);
  builder->size = arena_bytes;
  builder->used = 0;
  builder->failed = 0;
  return KALDRO_OK;
}

extern "C" KALDRO_API kaldro_json_node *kaldro_json_new_null(kaldro_json_builder *builder) {
  return builder_node(builder, KALDRO_JSON_NULL);
}

extern "C" KALDRO_API kaldro_json_node *kaldro_json_new_bool(kaldro_json_builder *builder,
                                                             int32_t value) {
  kaldro_json_node *n = builder_node(builder, KALDRO_JSON_BOOL);
  if (n) n->boolean = value != 0;
  return n;
}

extern "C" KALDRO_API kaldro_json_node *kaldro_json_new_int(kaldro_json_builder *builder,
                                                            int64_t value) {
  kaldro_json_node *n = builder_node(builder, KALDRO_JSON_INT);
  if (n) n->integer = value;
  return n;
}

extern "C" KALDRO_API kaldro_json_node *kaldro_json_new_double(kaldro_json_builder *builder,
                                                               double value) {
  kaldro_json_node *n = builder_node(builder, KALDRO_JSON_DOUBLE);
  if (n) n->number = value;
  return n;
}

extern "C" KALDRO_API kaldro_json_node *kaldro_json_new_string(kaldro_json_builder *builder,
                                                               const char *bytes, uint32_t len) {
  kaldro_json_node *n = builder_node(builder, KALDRO_JSON_STRING);
  if (n) {
    n->str = bytes;
    n->len = len;
  }
  return n;
}

extern "C" KALDRO_API kaldro_json_node *kaldro_json_new_array(kaldro_json_builder *builder,
                                                              kaldro_json_node *const *items,
                                                              uint32_t count) {
  kaldro_json_node *n = builder_node(builder, KALDRO_JSON_ARRAY);
  const uint64_t bytes = count ? uint64_t(count) * 8 : 8;
  auto *copy = static_cast<kaldro_json_node **>(builder_take(builder, bytes));
  if (!n || !copy) return nullptr;
  if (count) std::memcpy(static_cast<void *>(copy), items, uint64_t(count) * 8);
  n->items = copy;
  n->count = count;
  return n;
}

extern "C" KALDRO_API kaldro_json_node *kaldro_json_new_object(kaldro_json_builder *builder,
                                                               const char *const *keys,
                                                               kaldro_json_node *const *values,
                                                               uint32_t count) {
  kaldro_json_node *n = builder_node(builder, KALDRO_JSON_OBJECT);
  const uint64_t bytes = count ? uint64_t(count) * 8 : 8;
  auto *key_copy = static_cast<const char **>(builder_take(builder, bytes));
  auto *value_copy = static_cast<kaldro_json_node **>(builder_take(builder, bytes));
  if (!n || !key_copy || !value_copy) return nullptr;
  if (count) {
    std::memcpy(static_cast<void *>(key_copy), keys, uint64_t(count) * 8);
    std::memcpy(static_cast<void *>(value_copy), values, uint64_t(count) * 8);
  }
  n->keys = key_copy;
  n->values = value_copy;
  n->member_count = count;
  return n;
}
