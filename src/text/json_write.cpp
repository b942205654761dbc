// The exported canonical writer with its instruction-set dispatch, and the workspace
// size query.
#include "text/json_write_impl.h"

namespace kaldro::json {

kaldro_status write_tier(int tier, const kaldro_json_node *root, void *out, uint64_t out_cap,
                         uint64_t *out_len, void *workspace, uint64_t workspace_bytes) {
#if defined(__x86_64__)
  if (tier >= 2 && cpu_has(Cpu::avx2))
    return write_avx2(root, out, out_cap, out_len, workspace, workspace_bytes);
#else
  (void)tier;
#endif
  return write_with<ScanPortable>(root, out, out_cap, out_len, workspace, workspace_bytes);
}

}  // namespace kaldro::json

extern "C" KALDRO_API uint64_t kaldro_json_write_arena_bytes(const kaldro_json_node *root) {
  if (!root) return 0;
  const kaldro::json::Shape shape = kaldro::json::measure_tree(root);
  return 16 + uint64_t(shape.depth) * (24 + 4 * uint64_t(shape.members));
}

extern "C" KALDRO_API kaldro_status kaldro_json_write_ws(const kaldro_json_node *root, void *out,
                                                         uint64_t out_cap, uint64_t *out_len,
                                                         void *workspace,
                                                         uint64_t workspace_bytes) {
  return kaldro::json::write_tier(2, root, out, out_cap, out_len, workspace, workspace_bytes);
}
