// Fuzzes the TOML parser and the configuration loader built on it: any text either
// parses into a tree that keeps the tree's invariants or is refused with a status.
// Arenas come from a static region poisoned past the size handed out.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kaldro.h"
#include "scratch.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;  // longer inputs are cut here
fuzz::Region<65536 + 64 * kMaxInput> arena_region;

void check(const kaldro_toml_node *n, int depth) {
  if (depth > 200) abort();
  switch (n->kind) {
    case KALDRO_TOML_STRING:
      if (n->as.string.str == nullptr || n->as.string.str[n->as.string.len] != 0) abort();
      break;
    case KALDRO_TOML_INT:
    case KALDRO_TOML_FLOAT:
      break;
    case KALDRO_TOML_BOOL:
      if (n->as.boolean != 0 && n->as.boolean != 1) abort();
      break;
    case KALDRO_TOML_ARRAY:
      if ((n->as.array.count == 0) != (n->as.array.items == nullptr)) abort();
      for (uint32_t i = 0; i < n->as.array.count; ++i) check(n->as.array.items[i], depth + 1);
      break;
    case KALDRO_TOML_TABLE: {
      uint32_t count = n->as.table.count;
      if ((count == 0) != (n->as.table.keys == nullptr)) abort();
      if ((count == 0) != (n->as.table.values == nullptr)) abort();
      for (uint32_t i = 0; i < count; ++i) {
        const char *key = n->as.table.keys[i];
        for (uint32_t j = 0; j < i; ++j)
          if (strcmp(key, n->as.table.keys[j]) == 0) abort();  // keys are unique
        if (kaldro_toml_table_get(n, key) != n->as.table.values[i]) abort();
        check(n->as.table.values[i], depth + 1);
      }
      break;
    }
    default:
      abort();
  }
}

kaldro_status parse(const uint8_t *data, size_t size, uint64_t arena_bytes) {
  void *arena = arena_region.take(arena_bytes);
  kaldro_toml_node *root = reinterpret_cast<kaldro_toml_node *>(1);
  kaldro_status st =
      kaldro_toml_parse(reinterpret_cast<const char *>(data), size, arena, arena_bytes, &root);
  if (st == KALDRO_OK) {
    if (root == nullptr || root->kind != KALDRO_TOML_TABLE) abort();
    check(root, 0);
  } else {
    if (root != nullptr) abort();
    if (st != KALDRO_ERR_INVALID && st != KALDRO_ERR_CAPACITY) abort();
  }
  return st;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > kMaxInput) return 0;
  kaldro_status roomy = parse(data, size, 65536 + 64 * uint64_t(size));
  kaldro_status tight = parse(data, size, 3 * uint64_t(size));
  // Less room can only turn a success into a capacity failure, never into another result.
  if (roomy != KALDRO_OK && tight != roomy && tight != KALDRO_ERR_CAPACITY) abort();
  if (roomy == KALDRO_OK && tight != KALDRO_OK && tight != KALDRO_ERR_CAPACITY) abort();

  uint64_t arena_bytes = 65536 + 64 * uint64_t(size);
  void *arena = arena_region.take(arena_bytes);
  int32_t before = kaldro_config_hermitian_max_nodes();
  kaldro_status st = kaldro_config_load_toml(reinterpret_cast<const char *>(data), size,
                                             arena, arena_bytes);
  if (st != roomy) abort();
  int32_t after = kaldro_config_hermitian_max_nodes();
  if (st != KALDRO_OK && after != before) abort();
  if (after < 1) abort();
  kaldro_config_reset_defaults();
  return 0;
}
