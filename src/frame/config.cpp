// The library's one runtime setting, the Hermitian node limit, and its loaders from TOML
// text or a TOML file. A plain global without a lock: configure before parallel work.
#include "frame/internal.h"

namespace kaldro {
namespace {

constexpr int32_t kDefaultHermitianMaxNodes = 2048;
int32_t hermitian_max_nodes = kDefaultHermitianMaxNodes;

// Takes [hermitian] max_nodes when it is an integer from 1 to 2^31 - 1; anything else in
// the document, or a value of another kind or out of range, leaves the limit as it is.
// Nodes are copied out before use: the file loader's arena need not be 8-byte aligned.
kaldro_toml_node read_node(const kaldro_toml_node *at) {
  kaldro_toml_node n;
  __builtin_memcpy(&n, static_cast<const void *>(at), sizeof n);
  return n;
}

// Takes [hermitian] max_nodes when it is an integer from 1 to 2^31 - 1; anything else in
// the document, or a value of another kind or out of range, leaves the limit as it is.
void apply(const kaldro_toml_node *root) {
  const kaldro_toml_node *section = kaldro_toml_table_get(root, "hermitian");
  if (section == nullptr || read_node(section).kind != KALDRO_TOML_TABLE) return;
  const kaldro_toml_node *value = kaldro_toml_table_get(section, "max_nodes");
  if (value == nullptr) return;
  const kaldro_toml_node v = read_node(value);
  if (v.kind != KALDRO_TOML_INT) return;
  if (v.as.integer >= 1 && v.as.integer <= INT32_MAX) hermitian_max_nodes = int32_t(v.as.integer);
}

}  // namespace
}  // namespace kaldro

extern "C" {

KALDRO_API int32_t kaldro_config_hermitian_max_nodes(void) { return kaldro::hermitian_max_nodes; }

KALDRO_API void kaldro_config_reset_defaults(void) {
  kaldro::hermitian_max_nodes = kaldro::kDefaultHermitianMaxNodes;
}

KALDRO_API kaldro_status kaldro_config_load_toml(const char *text, uint64_t text_len,
                                                 void *arena, uint64_t arena_bytes) {
  kaldro_toml_node *root = nullptr;
  KALDRO_TRY(kaldro_toml_parse(text, text_len, arena, arena_bytes, &root));
  kaldro::apply(root);
  return KALDRO_OK;
}

// The file goes into the first half of the buffer; the second half, from buffer + h (not
// necessarily 8-byte aligned, and the larger half when the size is odd), is the arena.
KALDRO_API kaldro_status kaldro_config_load_file(const char *path, void *buffer,
                                                 uint64_t buffer_bytes) {
  // The platform layer trusts its pointers, so they are checked here.
  if (path == nullptr || buffer == nullptr) return KALDRO_ERR_NULL;
  uint8_t *bytes = static_cast<uint8_t *>(buffer);
  const uint64_t half = buffer_bytes / 2;
  uint64_t text_len = 0;
  KALDRO_TRY(kaldro_plat_file_read(path, bytes, half, &text_len));
  return kaldro_config_load_toml(reinterpret_cast<const char *>(bytes), text_len, bytes + half,
                                 buffer_bytes - half);
}

}  // extern "C"
