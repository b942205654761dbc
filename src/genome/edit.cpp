// Work on one chromosome of a saved genome, named by its label: the verified window read
// of its region, and the edits (append, remove, replace) that read and verify the whole
// body, change it in the workspace and save the genome anew.
#include <cstring>

#include "frame/internal.h"
#include "genome/genome.h"

namespace kaldro::genome {

bool manifest_leaf_dim(const kaldro_json_node *root, int64_t *leaf_dim) {
  const kaldro_json_node *v = kaldro_json_object_get(kaldro_json_object_get(root, "data"), "leaf_dim");
  if (!v || v->kind != KALDRO_JSON_INT) return false;
  *leaf_dim = v->integer;
  return true;
}

const kaldro_json_node *manifest_chromosomes(const kaldro_json_node *root) {
  const kaldro_json_node *v =
      kaldro_json_object_get(kaldro_json_object_get(root, "data"), "chromosomes");
  return v && v->kind == KALDRO_JSON_ARRAY ? v : nullptr;
}

bool chromosome_find(const kaldro_json_node *root, const char *label, size_t label_len,
                     ChromosomeEntry *out) {
  const kaldro_json_node *list = manifest_chromosomes(root);
  if (!list) return false;
  for (uint32_t i = 0; i < list->count; ++i) {
    const kaldro_json_node *entry = list->items[i];
    if (!json_string_is(kaldro_json_object_get(entry, "label"), label, label_len)) continue;
    out->index = i;
    out->byte_offset = kaldro_json_object_get(entry, "byte_offset");
    out->byte_len = kaldro_json_object_get(entry, "byte_len");
    out->cap_sha256 = kaldro_json_object_get(entry, "cap_sha256");
    return out->byte_offset && out->byte_len;
  }
  return false;
}

kaldro_status chromosome_region(const ChromosomeEntry &entry, uint32_t leaf_dim,
                                uint64_t *offset, uint64_t *len) {
  const kaldro_json_node *o = entry.byte_offset;
  const kaldro_json_node *l = entry.byte_len;
  if (o->kind != KALDRO_JSON_INT || l->kind != KALDRO_JSON_INT) return KALDRO_ERR_INVALID;
  if (o->integer < 0 || l->integer < int64_t(leaf_dim)) return KALDRO_ERR_INVALID;
  if (uint64_t(o->integer) % leaf_dim != 0 || uint64_t(l->integer) % leaf_dim != 0)
    return KALDRO_ERR_INVALID;
  *offset = uint64_t(o->integer);
  *len = uint64_t(l->integer);
  return KALDRO_OK;
}

kaldro_status body_read_verify(const char *turns_path, const kaldro_json_node *root,
                               uint8_t *area, uint64_t cap, uint64_t *len, uint64_t keep,
                               BodyDigest *prefix) {
  uint64_t got = 0;
  KALDRO_TRY(kaldro_plat_file_read(turns_path, area, cap, &got));
  char hex[65];
  BodyDigest digest;
  digest.start();
  const uint64_t kept = keep < got ? keep : got;
  if (prefix) {
    digest.update(area, kept);
    *prefix = digest;
    digest.update(area + kept, got - kept);
  } else {
    digest.update(area, got);
  }
  digest.finish_hex(hex);
  const kaldro_json_node *digest_node =
      kaldro_json_object_get(kaldro_json_object_get(root, "data"), "body_sha256");
  if (!json_string_is(digest_node, hex, 64)) return KALDRO_ERR_INVALID;
  *len = got;
  return KALDRO_OK;
}

void body_digest_continue(const BodyDigest &prefix, uint64_t kept, const uint8_t *body,
                          uint64_t len, char hex[65]) {
  BodyDigest digest = prefix;
  digest.update(body + kept, len - kept);
  digest.finish_hex(hex);
}

bool manifest_labels_are_strings(const kaldro_json_node *chromosomes) {
  for (uint32_t i = 0; i < chromosomes->count; ++i) {
    const kaldro_json_node *l = kaldro_json_object_get(chromosomes->items[i], "label");
    if (!l || l->kind != KALDRO_JSON_STRING) return false;
  }
  return true;
}

bool manifest_label_taken(const kaldro_json_node *chromosomes, const uint8_t *label,
                          size_t label_len, uint32_t skip) {
  for (uint32_t i = 0; i < chromosomes->count; ++i) {
    if (i != skip && json_string_is(kaldro_json_object_get(chromosomes->items[i], "label"), label,
                                    label_len))
      return true;
  }
  return false;
}

}  // namespace kaldro::genome

using namespace kaldro::genome;

namespace {

// Edit workspace: the body area first, room for T bytes rounded up to 16 (16 when T is
// 0) and clamped to the workspace; the rest serves the catalog and then the save.
struct EditSpace {
  uint8_t *rest;
  uint64_t rest_bytes;
};
EditSpace edit_space(uint8_t *workspace, uint64_t workspace_bytes, uint64_t total) {
  uint64_t area = total == 0 ? 16 : align16(total);
  if (area > workspace_bytes) area = workspace_bytes;
  return {workspace + area, workspace_bytes - area};
}

// Calls fn(label, label_len) for every cap record of a region of whole records, in
// order, until it returns false; returns false when it was stopped.
template <typename Fn>
bool each_cap(const uint8_t *src, uint64_t src_len, uint32_t leaf_dim, Fn &&fn) {
  for (uint64_t off = 0; off < src_len; off += leaf_dim) {
    if (src[off] != kCapTag) continue;
    if (!fn(src + off, src + off + 1, cap_label_len(src + off, leaf_dim))) return false;
  }
  return true;
}

// True when no two cap records of the region carry the same label.
bool region_labels_distinct(const uint8_t *src, uint64_t src_len, uint32_t leaf_dim) {
  return each_cap(src, src_len, leaf_dim, [&](const uint8_t *cap, const uint8_t *label, size_t len) {
    return each_cap(src, uint64_t(cap - src), leaf_dim,
                    [&](const uint8_t *, const uint8_t *other, size_t other_len) {
                      return other_len != len || memcmp(other, label, len) != 0;
                    });
  });
}

// True when no cap record of the region carries a label that an entry of the manifest
// other than `skip` carries.
bool region_labels_free(const uint8_t *src, uint64_t src_len, uint32_t leaf_dim,
                        const kaldro_json_node *chromosomes, uint32_t skip) {
  return each_cap(src, src_len, leaf_dim, [&](const uint8_t *, const uint8_t *label, size_t len) {
    return !manifest_label_taken(chromosomes, label, len, skip);
  });
}

// Size of the body the edit starts from, and the turns.bin path it is read from.
kaldro_status body_size(const char *dir, char *turns_path, uint64_t *size) {
  KALDRO_TRY(kaldro::path_join(turns_path, dir, kTurnsName));
  return kaldro_plat_file_size(turns_path, size);
}

}  // namespace

extern "C" KALDRO_API kaldro_status kaldro_genome_window(const char *dir, const char *label,
                                                         uint8_t *out, size_t out_cap,
                                                         size_t *out_len, const uint8_t *the_one,
                                                         size_t the_one_len, uint8_t *workspace,
                                                         size_t workspace_bytes) {
  if (!dir || !label || !out || !out_len || !workspace) return KALDRO_ERR_NULL;
  const kaldro_json_node *root = nullptr;
  KALDRO_TRY(catalog_get(dir, the_one, the_one_len, workspace, workspace_bytes, &root));
  ChromosomeEntry entry;
  if (!chromosome_find(root, label, strlen(label), &entry) || !entry.cap_sha256 ||
      entry.cap_sha256->kind != KALDRO_JSON_STRING)
    return KALDRO_ERR_INVALID;
  int64_t leaf_dim = 0;
  if (!manifest_leaf_dim(root, &leaf_dim) || leaf_dim < 1 || leaf_dim > int64_t(kLeafDimMax))
    return KALDRO_ERR_INVALID;
  uint64_t offset = 0, len = 0;
  KALDRO_TRY(chromosome_region(entry, uint32_t(leaf_dim), &offset, &len));
  char path[kaldro::kPathBytes];
  uint64_t size = 0;
  KALDRO_TRY(body_size(dir, path, &size));
  if (offset > size || len > size - offset) return KALDRO_ERR_INVALID;
  if (out_cap < len) return KALDRO_ERR_CAPACITY;
  KALDRO_TRY(kaldro_plat_file_read_region(path, offset, out, len));
  *out_len = len;
  char hex[65];
  kaldro_sha256_hex(out, size_t(leaf_dim), hex);
  return json_string_is(entry.cap_sha256, hex, 64) ? KALDRO_OK : KALDRO_ERR_INVALID;
}

extern "C" KALDRO_API kaldro_status kaldro_genome_append(const char *dir, const char *label,
                                                         const uint8_t *src, size_t src_len,
                                                         uint32_t leaf_dim, const uint8_t *the_one,
                                                         size_t the_one_len, uint8_t *workspace,
                                                         size_t workspace_bytes) {
  if (!dir || !label || !the_one || !workspace || (!src && src_len > 0)) return KALDRO_ERR_NULL;
  if (leaf_dim == 0 || leaf_dim > kLeafDimMax || src_len == 0 || the_one_len != leaf_dim ||
      src_len % leaf_dim != 0)
    return KALDRO_ERR_INVALID;
  // The new chromosome opens with a cap carrying `label`, and the region adds no label
  // twice: no edit leaves two chromosomes with one label.
  const size_t label_len = strlen(label);
  if (src[0] != kCapTag || cap_label_len(src, leaf_dim) != label_len ||
      memcmp(src + 1, label, label_len) != 0 || !region_labels_distinct(src, src_len, leaf_dim))
    return KALDRO_ERR_INVALID;
  char path[kaldro::kPathBytes];
  uint64_t old_size = 0;
  KALDRO_TRY(body_size(dir, path, &old_size));
  if (src_len > UINT64_MAX - old_size) return KALDRO_ERR_CAPACITY;
  const uint64_t total = old_size + src_len;
  if (workspace_bytes < total) return KALDRO_ERR_CAPACITY;
  const EditSpace space = edit_space(workspace, workspace_bytes, total);

  const kaldro_json_node *root = nullptr;
  KALDRO_TRY(catalog_get(dir, the_one, the_one_len, space.rest, space.rest_bytes, &root));
  int64_t genome_leaf_dim = 0;
  if (!manifest_leaf_dim(root, &genome_leaf_dim) || genome_leaf_dim != int64_t(leaf_dim))
    return KALDRO_ERR_INVALID;
  const kaldro_json_node *chromosomes = manifest_chromosomes(root);
  if (!chromosomes) return KALDRO_ERR_INVALID;
  if (!manifest_labels_are_strings(chromosomes) ||
      !region_labels_free(src, src_len, leaf_dim, chromosomes, UINT32_MAX))
    return KALDRO_ERR_INVALID;

  // The old body is digested once: its digest, continued over the new region, is the
  // new body's.
  uint64_t body_len = 0;
  BodyDigest prefix;
  KALDRO_TRY(body_read_verify(path, root, workspace, total, &body_len, UINT64_MAX, &prefix));
  memcpy(workspace + body_len, src, src_len);
  char hex[65];
  body_digest_continue(prefix, body_len, workspace, body_len + src_len, hex);
  return save_genome(dir, workspace, body_len + src_len, leaf_dim, the_one, space.rest,
                     space.rest_bytes, hex);
}

extern "C" KALDRO_API kaldro_status kaldro_genome_remove(const char *dir, const char *label,
                                                         const uint8_t *the_one, size_t the_one_len,
                                                         uint8_t *workspace, size_t workspace_bytes) {
  if (!dir || !label || !the_one || !workspace) return KALDRO_ERR_NULL;
  if (the_one_len < 1 || the_one_len > kLeafDimMax) return KALDRO_ERR_INVALID;
  const uint32_t leaf_dim = uint32_t(the_one_len);
  char path[kaldro::kPathBytes];
  uint64_t old_size = 0;
  KALDRO_TRY(body_size(dir, path, &old_size));
  if (workspace_bytes < (old_size > 0 ? old_size : 1)) return KALDRO_ERR_CAPACITY;
  const EditSpace space = edit_space(workspace, workspace_bytes, old_size);

  const kaldro_json_node *root = nullptr;
  KALDRO_TRY(catalog_get(dir, the_one, the_one_len, space.rest, space.rest_bytes, &root));
  int64_t genome_leaf_dim = 0;
  const kaldro_json_node *chromosomes = manifest_chromosomes(root);
  if (!manifest_leaf_dim(root, &genome_leaf_dim) || genome_leaf_dim != int64_t(leaf_dim) ||
      !chromosomes || chromosomes->count < 2)
    return KALDRO_ERR_INVALID;
  ChromosomeEntry entry;
  if (!chromosome_find(root, label, strlen(label), &entry) || !entry.cap_sha256)
    return KALDRO_ERR_INVALID;
  uint64_t offset = 0, len = 0;
  KALDRO_TRY(chromosome_region(entry, leaf_dim, &offset, &len));

  // The bytes before the chromosome stay: their digest is continued over the rest.
  uint64_t body_len = 0;
  BodyDigest prefix;
  KALDRO_TRY(body_read_verify(path, root, workspace, old_size, &body_len, offset, &prefix));
  if (offset > body_len || len > body_len - offset) return KALDRO_ERR_INVALID;
  memmove(workspace + offset, workspace + offset + len, body_len - offset - len);
  char hex[65];
  body_digest_continue(prefix, offset, workspace, body_len - len, hex);
  return save_genome(dir, workspace, body_len - len, leaf_dim, the_one, space.rest,
                     space.rest_bytes, hex);
}

extern "C" KALDRO_API kaldro_status kaldro_genome_replace(const char *dir, const char *label,
                                                          const uint8_t *src, size_t src_len,
                                                          uint32_t leaf_dim, const uint8_t *the_one,
                                                          size_t the_one_len, uint8_t *workspace,
                                                          size_t workspace_bytes) {
  if (!dir || !label || !the_one || !workspace || (!src && src_len > 0)) return KALDRO_ERR_NULL;
  if (leaf_dim == 0 || leaf_dim > kLeafDimMax || the_one_len != leaf_dim || src_len % leaf_dim != 0)
    return KALDRO_ERR_INVALID;
  // A replacement is empty (the chromosome goes) or opens with a cap, which may rename it.
  if (src_len > 0 && (src[0] != kCapTag || !region_labels_distinct(src, src_len, leaf_dim)))
    return KALDRO_ERR_INVALID;
  char path[kaldro::kPathBytes];
  uint64_t old_size = 0;
  KALDRO_TRY(body_size(dir, path, &old_size));
  if (src_len > UINT64_MAX - old_size) return KALDRO_ERR_CAPACITY;
  const uint64_t total = old_size + src_len;
  if (workspace_bytes < (total > 0 ? total : 1)) return KALDRO_ERR_CAPACITY;
  const EditSpace space = edit_space(workspace, workspace_bytes, total);

  const kaldro_json_node *root = nullptr;
  KALDRO_TRY(catalog_get(dir, the_one, the_one_len, space.rest, space.rest_bytes, &root));
  int64_t genome_leaf_dim = 0;
  if (!manifest_leaf_dim(root, &genome_leaf_dim) || genome_leaf_dim != int64_t(leaf_dim))
    return KALDRO_ERR_INVALID;
  ChromosomeEntry entry;
  if (!chromosome_find(root, label, strlen(label), &entry) || !entry.cap_sha256)
    return KALDRO_ERR_INVALID;
  uint64_t offset = 0, len = 0;
  KALDRO_TRY(chromosome_region(entry, leaf_dim, &offset, &len));
  if (!region_labels_free(src, src_len, leaf_dim, manifest_chromosomes(root), entry.index))
    return KALDRO_ERR_INVALID;

  uint64_t body_len = 0;
  BodyDigest prefix;
  KALDRO_TRY(body_read_verify(path, root, workspace, total, &body_len, offset, &prefix));
  if (offset > body_len || len > body_len - offset) return KALDRO_ERR_INVALID;
  memmove(workspace + offset + src_len, workspace + offset + len, body_len - offset - len);
  if (src_len > 0) memcpy(workspace + offset, src, src_len);
  char hex[65];
  body_digest_continue(prefix, offset, workspace, body_len + src_len - len, hex);
  return save_genome(dir, workspace, body_len + src_len - len, leaf_dim, the_one, space.rest,
                     space.rest_bytes, hex);
}
