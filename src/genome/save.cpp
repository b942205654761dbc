// Saving a genome: the body is scanned and its manifest built and serialised in the
// workspace before anything is written, and then "turns.bin" and "manifest.json" are
// each replaced through a synced temporary file renamed into place.
//
// A failed save therefore leaves the directory as it was. One window remains: a crash
// (or a failed manifest write) after turns.bin has been renamed into place and before
// manifest.json has leaves the new body under the old manifest; load and the edits
// detect it as a body digest mismatch, and the next successful save repairs it.
#include <cstring>

#include "frame/internal.h"
#include "genome/genome.h"
#include "platform/platform.h"

using namespace kaldro::genome;

namespace {

// Serialises the manifest tree. The text goes into the text area when it fits there;
// labels full of escaped bytes can make it longer than the area's bound, and it is then
// placed in the free tail of the tree area, behind the writer's own workspace.
kaldro_status manifest_text(const ManifestTree &tree, uint8_t *workspace, uint64_t workspace_bytes,
                            uint8_t *text_area, uint64_t text_cap, uint8_t **text,
                            uint64_t *text_len) {
  const kaldro_status st =
      kaldro_json_write_ws(tree.root, text_area, text_cap, text_len, tree.tail, tree.tail_bytes);
  if (st != KALDRO_ERR_CAPACITY) {
    *text = text_area;
    return st;
  }
  uint64_t need = 0;
  KALDRO_TRY(kaldro_json_write_ws(tree.root, nullptr, 0, &need, tree.tail, tree.tail_bytes));
  const uint64_t writer_bytes = kaldro_json_write_arena_bytes(tree.root);
  kaldro::Carver carve(workspace, workspace_bytes);
  carve.used = uint64_t(tree.tail - workspace);
  uint8_t *writer_ws = static_cast<uint8_t *>(carve.take(writer_bytes, 16));
  uint8_t *out = writer_ws ? static_cast<uint8_t *>(carve.take(need + 1, 16)) : nullptr;
  if (!out) return KALDRO_ERR_CAPACITY;
  KALDRO_TRY(kaldro_json_write_ws(tree.root, out, need, text_len, writer_ws, writer_bytes));
  *text = out;
  return KALDRO_OK;
}

}  // namespace

extern "C" KALDRO_API kaldro_status kaldro_genome_save(const char *dir, const uint8_t *body,
                                                       size_t body_len, uint32_t leaf_dim,
                                                       const uint8_t *the_one, size_t the_one_len,
                                                       uint8_t *workspace, size_t workspace_bytes) {
  if (!dir || !the_one || !workspace || (!body && body_len > 0)) return KALDRO_ERR_NULL;
  if (leaf_dim == 0 || leaf_dim > kLeafDimMax || the_one_len != leaf_dim) return KALDRO_ERR_INVALID;
  char turns_path[kaldro::kPathBytes];
  char manifest_path[kaldro::kPathBytes];
  KALDRO_TRY(kaldro::path_join(turns_path, dir, kTurnsName));
  KALDRO_TRY(kaldro::path_join(manifest_path, dir, kManifestName));

  // Workspace: the catalog tables, the manifest text area, then the tree area.
  CatalogRecord rec;
  uint64_t tables_end = 0;
  KALDRO_TRY(catalog_scan(body, body_len, leaf_dim, the_one, workspace, workspace_bytes, 0, &rec,
                          &tables_end));
  const uint64_t text_at = align16(tables_end);
  const uint64_t text_bytes = kTextPerChromosome * rec.count + kTextFixed + 1;
  if (text_at > workspace_bytes || workspace_bytes - text_at < text_bytes) return KALDRO_ERR_CAPACITY;
  uint64_t tree_at = align16(text_at + text_bytes);
  if (tree_at > workspace_bytes) tree_at = workspace_bytes;
  ManifestTree tree;
  KALDRO_TRY(manifest_build(rec, leaf_dim, body_len, workspace + tree_at, workspace_bytes - tree_at,
                            &tree));
  uint8_t *text = nullptr;
  uint64_t text_len = 0;
  KALDRO_TRY(manifest_text(tree, workspace, workspace_bytes, workspace + text_at, text_bytes - 1,
                           &text, &text_len));
  text[text_len] = '\n';

  // Everything is ready: only now is the directory touched. A directory in place of
  // manifest.json would refuse its rename only after turns.bin had been replaced.
  if (kaldro::path_is_directory(turns_path) || kaldro::path_is_directory(manifest_path))
    return KALDRO_ERR_IO;
  KALDRO_TRY(kaldro::file_write_atomic(turns_path, body, body_len));
  return kaldro::file_write_atomic(manifest_path, text, text_len + 1);
}
