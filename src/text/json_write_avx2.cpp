// The canonical writer compiled with the AVX2 scans for runs of bytes that need no
// escape.
#include "text/json_scan_avx2.h"
#include "text/json_write_impl.h"

namespace kaldro::json {

kaldro_status write_avx2(const kaldro_json_node *root, void *out, uint64_t out_cap,
                         uint64_t *out_len, void *workspace, uint64_t workspace_bytes) {
  return write_with<ScanAvx2>(root, out, out_cap, out_len, workspace, workspace_bytes);
}

}  // namespace kaldro::json
