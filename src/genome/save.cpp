// Saving a genome: the body is checked, written to a temporary file and digested on the
// way, its manifest is built and serialised in the workspace, and only then are
// "turns.bin" and "manifest.json" each replaced by renaming a synced temporary file
// into place.
//
// A failed save therefore leaves both files as they were. One window remains: a crash
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

// The body goes to the disk in pieces of this size, each digested while it is still in
// the cache, while the system writes the earlier pieces back to the disk.
constexpr uint64_t kBodyPiece = uint64_t(1) << 20;

}  // namespace

namespace {

// Where save puts its areas, and the catalog record whose tables it carved.
struct SaveLayout {
  CatalogRecord rec;
  uint64_t text_at;
  uint64_t text_bytes;
  uint64_t tree_at;
};

// Workspace: the catalog tables, the manifest text area, then the tree area. Every
// check that needs no digest.
kaldro_status save_layout(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                          uint8_t *workspace, uint64_t workspace_bytes, SaveLayout *l) {
  uint64_t tables_end = 0;
  KALDRO_TRY(catalog_layout(body, body_len, leaf_dim, workspace, workspace_bytes, 0, &l->rec,
                            &tables_end));
  l->text_at = align16(tables_end);
  l->text_bytes = kTextPerChromosome * l->rec.capacity + kTextFixed + 1;
  if (l->text_at > workspace_bytes || workspace_bytes - l->text_at < l->text_bytes)
    return KALDRO_ERR_CAPACITY;
  l->tree_at = align16(l->text_at + l->text_bytes);
  if (l->tree_at > workspace_bytes) l->tree_at = workspace_bytes;
  return KALDRO_OK;
}

// The manifest file's bytes (the text and its line feed) in the laid-out workspace.
kaldro_status save_text(SaveLayout *l, const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                        const uint8_t *the_one, const char *body_sha256, uint8_t *workspace,
                        uint64_t workspace_bytes, uint8_t **text, uint64_t *text_bytes) {
  catalog_fill(body, body_len, leaf_dim, the_one, body_sha256, &l->rec);
  ManifestTree tree;
  KALDRO_TRY(manifest_build(l->rec, leaf_dim, body_len, workspace + l->tree_at,
                            workspace_bytes - l->tree_at, &tree));
  uint64_t len = 0;
  KALDRO_TRY(manifest_text(tree, workspace, workspace_bytes, workspace + l->text_at,
                           l->text_bytes - 1, text, &len));
  (*text)[len] = '\n';
  *text_bytes = len + 1;
  return KALDRO_OK;
}

// A directory in place of turns.bin or manifest.json would refuse its rename only after
// the other file had been replaced, so a save checks for one before it writes anything.
bool files_replaceable(const char *turns_path, const char *manifest_path) {
  return !kaldro::path_is_directory(turns_path) && !kaldro::path_is_directory(manifest_path);
}

// Writes the body to a new temporary file next to turns.bin in pieces, digesting each
// piece on the way when `digest` is given (also when `may_write` is false). False when
// nothing may be written, the file could not be made or a write failed; `opened` tells
// whether there is a temporary file to abort.
bool body_to_temp(kaldro::AtomicFile *turns, const char *turns_path, const uint8_t *body,
                  uint64_t body_len, BodyDigest *digest, bool may_write, bool *opened) {
  bool written = may_write && kaldro::atomic_file_begin(turns, turns_path) == KALDRO_OK;
  *opened = written;
  for (uint64_t at = 0; at < body_len;) {
    const uint64_t piece = body_len - at < kBodyPiece ? body_len - at : kBodyPiece;
    if (written) written = kaldro::atomic_file_append(turns, body + at, piece);
    if (digest) digest->update(body + at, piece);
    else if (!written) break;
    at += piece;
  }
  return written;
}

}  // namespace

namespace kaldro::genome {

kaldro_status save_prepare(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                           const uint8_t *the_one, const char *body_sha256, uint8_t *workspace,
                           uint64_t workspace_bytes, uint8_t **text, uint64_t *text_bytes) {
  SaveLayout l;
  KALDRO_TRY(save_layout(body, body_len, leaf_dim, workspace, workspace_bytes, &l));
  return save_text(&l, body, body_len, leaf_dim, the_one, body_sha256, workspace, workspace_bytes,
                   text, text_bytes);
}

kaldro_status save_files(const char *turns_path, const char *manifest_path, const uint8_t *body,
                         uint64_t body_len, const uint8_t *text, uint64_t text_bytes) {
  kaldro::AtomicFile turns;
  bool opened = false;
  if (!body_to_temp(&turns, turns_path, body, body_len, nullptr,
                    files_replaceable(turns_path, manifest_path), &opened)) {
    if (opened) kaldro::atomic_file_abort(&turns);
    return KALDRO_ERR_IO;
  }
  KALDRO_TRY(kaldro::atomic_file_commit(&turns));
  return kaldro::file_write_atomic(manifest_path, text, text_bytes);
}

kaldro_status save_genome(const char *dir, const uint8_t *body, uint64_t body_len,
                          uint32_t leaf_dim, const uint8_t *the_one, uint8_t *workspace,
                          uint64_t workspace_bytes, const char *body_sha256) {
  char turns_path[kaldro::kPathBytes];
  char manifest_path[kaldro::kPathBytes];
  KALDRO_TRY(kaldro::path_join(turns_path, dir, kTurnsName));
  KALDRO_TRY(kaldro::path_join(manifest_path, dir, kManifestName));
  uint8_t *text = nullptr;
  uint64_t text_bytes = 0;
  if (body_sha256) {
    // Every check first; only then are the files replaced.
    KALDRO_TRY(save_prepare(body, body_len, leaf_dim, the_one, body_sha256, workspace,
                            workspace_bytes, &text, &text_bytes));
    return save_files(turns_path, manifest_path, body, body_len, text, text_bytes);
  }

  // The digest is taken while the body goes to its temporary file. A failed write is
  // reported only after the checks that follow, which come first.
  SaveLayout l;
  KALDRO_TRY(save_layout(body, body_len, leaf_dim, workspace, workspace_bytes, &l));
  kaldro::AtomicFile turns;
  bool opened = false;
  BodyDigest digest;
  digest.start();
  const bool written = body_to_temp(&turns, turns_path, body, body_len, &digest,
                                    files_replaceable(turns_path, manifest_path), &opened);
  char computed[65];
  digest.finish_hex(computed);
  kaldro_status st = save_text(&l, body, body_len, leaf_dim, the_one, computed, workspace,
                               workspace_bytes, &text, &text_bytes);
  if (st == KALDRO_OK && !written) st = KALDRO_ERR_IO;
  if (st != KALDRO_OK) {
    if (opened) kaldro::atomic_file_abort(&turns);
    return st;
  }
  // Everything is ready: only now are the files replaced.
  KALDRO_TRY(kaldro::atomic_file_commit(&turns));
  return kaldro::file_write_atomic(manifest_path, text, text_bytes);
}

}  // namespace kaldro::genome

extern "C" KALDRO_API kaldro_status kaldro_genome_save(const char *dir, const uint8_t *body,
                                                       size_t body_len, uint32_t leaf_dim,
                                                       const uint8_t *the_one, size_t the_one_len,
                                                       uint8_t *workspace, size_t workspace_bytes) {
  if (!dir || !the_one || !workspace || (!body && body_len > 0)) return KALDRO_ERR_NULL;
  if (leaf_dim == 0 || leaf_dim > kLeafDimMax || the_one_len != leaf_dim) return KALDRO_ERR_INVALID;
  return save_genome(dir, body, body_len, leaf_dim, the_one, workspace, workspace_bytes, nullptr);
}
