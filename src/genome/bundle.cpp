// Chromosome bundles: export writes one catalogued chromosome as a self-verifying JSON
// document (its region as hex text with its digest, the genome's the_one, attestation
// and rendering); import verifies a bundle and adds its chromosome to a genome through
// the store's crash-safe save, creating the genome when the directory has no body.
#include <cstring>

#include "frame/internal.h"
#include "genome/bundle.h"
#include "genome/genome.h"

namespace kaldro::genome {
namespace {

// What export takes out of the catalog before the workspace is reused, and the texts it
// derives; the bundle tree's strings point here.
struct ExportRecord {
  char label[kLabelMax + 1];
  size_t label_len;
  char cap_sha256[65];
  char the_one_sha256[65];
  char the_one_hex[2 * kLeafDimMax + 1];
  size_t the_one_hex_len;
  char region_sha256[65];
  char parser_version[sizeof(kParserVersion)];
  char rule_hash[65];
  char descriptor_hash[65];
  char readable_name[sizeof(kBundleNamePrefix) - 1 + kLabelMax + 2];
  size_t readable_len;
  uint32_t leaf_dim;
  int64_t leaf_count;
};

bool is_kind(const kaldro_json_node *node, kaldro_json_kind kind) {
  return node && node->kind == kind;
}


// True when a region of whole records is one chromosome labelled `label`: it opens with
// a cap record carrying exactly that label and holds no other cap record.
bool region_is_chromosome(const uint8_t *region, uint64_t len, uint32_t leaf_dim,
                          const void *label, size_t label_len) {
  if (len < leaf_dim || len % leaf_dim != 0 || region[0] != kCapTag) return false;
  if (cap_label_len(region, leaf_dim) != label_len ||
      (label_len > 0 && memcmp(region + 1, label, label_len) != 0))
    return false;
  if (leaf_dim == 1) return memchr(region + 1, kCapTag, size_t(len - 1)) == nullptr;
  for (uint64_t off = leaf_dim; off < len; off += leaf_dim)
    if (region[off] == kCapTag) return false;
  return true;
}

// The bundle tree over the builder `b`. String nodes point into the record, the hex
// area and the constant texts.
const kaldro_json_node *bundle_build(kaldro_json_builder *b, const ExportRecord &rec,
                                     const char *region_hex, uint64_t region_hex_len) {
  static const char *const kHexKeys[] = {"hex", "sha256"};
  static const char *const kDataKeys[] = {"format_version", "leaf_dim",   "label", "leaf_count",
                                          "cap_sha256",     "the_one",    "region"};
  auto text = [b](const char *s, uint64_t len) { return kaldro_json_new_string(b, s, uint32_t(len)); };
  auto constant = [&text](const char *s) { return text(s, strlen(s)); };

  kaldro_json_node *mpr = constant(kMprVersion);
  kaldro_json_node *data_v[7];
  data_v[0] = kaldro_json_new_int(b, kFormatVersion);
  data_v[1] = kaldro_json_new_int(b, rec.leaf_dim);
  data_v[2] = text(rec.label, rec.label_len);
  data_v[3] = kaldro_json_new_int(b, rec.leaf_count);
  data_v[4] = text(rec.cap_sha256, 64);
  kaldro_json_node *one_v[2] = {text(rec.the_one_hex, rec.the_one_hex_len),
                                text(rec.the_one_sha256, 64)};
  data_v[5] = kaldro_json_new_object(b, kHexKeys, one_v, 2);
  kaldro_json_node *region_v[2] = {text(region_hex, region_hex_len), text(rec.region_sha256, 64)};
  data_v[6] = kaldro_json_new_object(b, kHexKeys, region_v, 2);
  kaldro_json_node *data = kaldro_json_new_object(b, kDataKeys, data_v, 7);
  const DocumentFrame frame = {kBundleSchemaId,   rec.descriptor_hash, rec.rule_hash,
                               rec.parser_version, rec.region_sha256,   kBundleDoi,
                               kBundleUrl,        kBundleCiteAs,       rec.readable_name,
                               rec.readable_len,  kBundlePurpose};
  return document_build(b, mpr, data, frame);
}

// Serialises the bundle tree. The text goes into the text area when it fits there; a
// label full of escaped bytes (it is written twice) can make it longer than the area's
// bound, and it is then placed in the builder's free tail, behind the writer's own
// workspace. Only a workspace that cannot hold it there either is too small.
kaldro_status bundle_text(const kaldro_json_node *root, const kaldro_json_builder &b,
                          uint8_t *workspace, uint64_t workspace_bytes, uint8_t *text_area,
                          uint64_t text_cap, uint8_t **text, uint64_t *text_len) {
  uint8_t *tail = b.base + b.used;
  const uint64_t tail_bytes = b.size - b.used;
  const kaldro_status st = kaldro_json_write_ws(root, text_area, text_cap, text_len, tail, tail_bytes);
  if (st != KALDRO_ERR_CAPACITY) {
    *text = text_area;
    return st;
  }
  uint64_t need = 0;
  KALDRO_TRY(kaldro_json_write_ws(root, nullptr, 0, &need, tail, tail_bytes));
  const uint64_t writer_bytes = kaldro_json_write_arena_bytes(root);
  Carver carve(workspace, workspace_bytes);
  carve.used = uint64_t(tail - workspace);
  uint8_t *writer_ws = static_cast<uint8_t *>(carve.take(writer_bytes, 16));
  uint8_t *out = writer_ws ? static_cast<uint8_t *>(carve.take(need + 1, 16)) : nullptr;
  if (!out) return KALDRO_ERR_CAPACITY;
  KALDRO_TRY(kaldro_json_write_ws(root, out, need, text_len, writer_ws, writer_bytes));
  *text = out;
  return KALDRO_OK;
}

// Decodes the "hex" text of an object with "hex" and "sha256" strings into `out`
// (capacity `cap` bytes) and checks that the hex SHA-256 of the decoded bytes is its
// "sha256" exactly. KALDRO_ERR_INVALID for a missing or mistyped member, an odd length,
// a character that is not a hex digit or a digest that differs; KALDRO_ERR_CAPACITY
// when the decoded bytes would not fit. `digest` receives the computed digest.
kaldro_status hex_member_decode(const kaldro_json_node *object, uint8_t *out, uint64_t cap,
                                uint64_t *len, char *digest) {
  if (!is_kind(object, KALDRO_JSON_OBJECT)) return KALDRO_ERR_INVALID;
  const kaldro_json_node *hex = kaldro_json_object_get(object, "hex");
  const kaldro_json_node *sha = kaldro_json_object_get(object, "sha256");
  if (!is_kind(hex, KALDRO_JSON_STRING) || !is_kind(sha, KALDRO_JSON_STRING)) return KALDRO_ERR_INVALID;
  if (hex->len % 2 != 0) return KALDRO_ERR_INVALID;
  const uint64_t n = hex->len / 2;
  if (n > cap) return KALDRO_ERR_CAPACITY;
  if (!hex_decode(hex->str, size_t(n), out)) return KALDRO_ERR_INVALID;
  kaldro_sha256_hex(out, size_t(n), digest);
  if (!json_string_is(sha, digest, 64)) return KALDRO_ERR_INVALID;
  *len = n;
  return KALDRO_OK;
}

}  // namespace

uint64_t export_areas_bytes(uint64_t region_len) {
  if (region_len > (UINT64_MAX - 8192) / 8) return UINT64_MAX;
  const uint64_t hex_at = align16(region_len > 0 ? region_len : 1);
  const uint64_t text_at = align16(hex_at + 2 * region_len + 1);
  return align16(text_at + 2 * region_len + kTextFixed);
}

kaldro_status export_from_catalog(const kaldro_json_node *root, const char *dir, const char *label,
                                  const char *out_path, uint8_t *workspace,
                                  uint64_t workspace_bytes, uint32_t first) {
  const kaldro_json_node *data = kaldro_json_object_get(root, "data");
  const kaldro_json_node *leaf_dim = kaldro_json_object_get(data, "leaf_dim");
  const kaldro_json_node *one = kaldro_json_object_get(data, "the_one");
  const kaldro_json_node *chromosomes = kaldro_json_object_get(data, "chromosomes");
  if (!is_kind(leaf_dim, KALDRO_JSON_INT) || leaf_dim->integer < 1 ||
      leaf_dim->integer > int64_t(kLeafDimMax) || !is_kind(one, KALDRO_JSON_OBJECT) ||
      !is_kind(chromosomes, KALDRO_JSON_ARRAY))
    return KALDRO_ERR_INVALID;

  // The first entry with this label; entries without a string label are passed over.
  const size_t label_len = strlen(label);
  const kaldro_json_node *entry = nullptr;
  if (first < chromosomes->count &&
      json_string_is(kaldro_json_object_get(chromosomes->items[first], "label"), label, label_len))
    entry = chromosomes->items[first];
  for (uint32_t i = 0; i < chromosomes->count && !entry; ++i) {
    if (json_string_is(kaldro_json_object_get(chromosomes->items[i], "label"), label, label_len))
      entry = chromosomes->items[i];
  }
  if (!entry) return KALDRO_ERR_INVALID;
  ChromosomeEntry found = {0, kaldro_json_object_get(entry, "byte_offset"),
                           kaldro_json_object_get(entry, "byte_len"),
                           kaldro_json_object_get(entry, "cap_sha256")};
  const kaldro_json_node *leaf_count = kaldro_json_object_get(entry, "leaf_count");
  const kaldro_json_node *one_sha = kaldro_json_object_get(one, "sha256");
  const kaldro_json_node *one_hex = kaldro_json_object_get(one, "hex");
  if (!is_kind(found.byte_offset, KALDRO_JSON_INT) || !is_kind(found.byte_len, KALDRO_JSON_INT) ||
      !is_kind(found.cap_sha256, KALDRO_JSON_STRING) || found.cap_sha256->len != 64 ||
      !is_kind(leaf_count, KALDRO_JSON_INT) || !is_kind(one_sha, KALDRO_JSON_STRING) ||
      one_sha->len != 64 || !is_kind(one_hex, KALDRO_JSON_STRING) || one_hex->len > 2 * kLeafDimMax)
    return KALDRO_ERR_INVALID;
  // A manifest edited by hand must not make export read bytes the chromosome does not
  // own: the entry names whole records within the body, and a label no cap can carry is
  // no chromosome's.
  const uint32_t ld = uint32_t(leaf_dim->integer);
  uint64_t offset = 0, region_len = 0;
  KALDRO_TRY(chromosome_region(found, ld, &offset, &region_len));
  if (label_len > kLabelMax) return KALDRO_ERR_INVALID;
  char turns_path[kPathBytes];
  KALDRO_TRY(path_join(turns_path, dir, kTurnsName));
  uint64_t body_size = 0;
  KALDRO_TRY(kaldro_plat_file_size(turns_path, &body_size));
  if (offset > body_size || region_len > body_size - offset) return KALDRO_ERR_INVALID;

  // Everything the bundle needs from the catalog, before the workspace is reused.
  ExportRecord rec;
  memcpy(rec.label, label, label_len);
  rec.label[label_len] = '\0';
  rec.label_len = label_len;
  memcpy(rec.cap_sha256, found.cap_sha256->str, 64);
  rec.cap_sha256[64] = '\0';
  memcpy(rec.the_one_sha256, one_sha->str, 64);
  rec.the_one_sha256[64] = '\0';
  memcpy(rec.the_one_hex, one_hex->str, one_hex->len);
  rec.the_one_hex[one_hex->len] = '\0';
  rec.the_one_hex_len = one_hex->len;
  rec.leaf_dim = ld;
  rec.leaf_count = leaf_count->integer;

  // Workspace: the region, its hex text, the bundle text, then the builder's area.
  // The hex text is one JSON string, whose length is held in 32 bits.
  if (region_len > UINT32_MAX / 2) return KALDRO_ERR_CAPACITY;
  const uint64_t hex_at = align16(region_len > 0 ? region_len : 1);
  const uint64_t text_at = align16(hex_at + 2 * region_len + 1);
  const uint64_t text_bytes = 2 * region_len + kTextFixed;
  if (text_at > workspace_bytes || workspace_bytes - text_at < text_bytes) return KALDRO_ERR_CAPACITY;
  uint64_t builder_at = align16(text_at + text_bytes);
  if (builder_at > workspace_bytes) builder_at = workspace_bytes;

  uint8_t *region = workspace;
  KALDRO_TRY(kaldro_plat_file_read_region(turns_path, offset, region, region_len));
  char digest[65];
  kaldro_sha256_hex(region, ld, digest);
  if (memcmp(digest, rec.cap_sha256, 64) != 0) return KALDRO_ERR_INVALID;
  // A bundle is one chromosome: the cap that opens the region carries the label, and
  // the region reaches no further cap.
  if (!region_is_chromosome(region, region_len, ld, label, label_len)) return KALDRO_ERR_INVALID;
  kaldro_sha256_hex(region, size_t(region_len), rec.region_sha256);
  char *region_hex = reinterpret_cast<char *>(workspace + hex_at);
  hex_encode(region, size_t(region_len), region_hex);
  region_hex[2 * region_len] = '\0';

  sha256_text(kBundleRule, rec.rule_hash);
  sha256_text(kBundleSchemaId, rec.descriptor_hash);
  memcpy(rec.parser_version, kParserVersion, sizeof(kParserVersion));
  const size_t prefix = sizeof(kBundleNamePrefix) - 1;
  memcpy(rec.readable_name, kBundleNamePrefix, prefix);
  memcpy(rec.readable_name + prefix, label, label_len);
  rec.readable_name[prefix + label_len] = ')';
  rec.readable_name[prefix + label_len + 1] = '\0';
  rec.readable_len = prefix + label_len + 1;

  kaldro_json_builder b;
  KALDRO_TRY(kaldro_json_builder_init(&b, workspace + builder_at, workspace_bytes - builder_at));
  const kaldro_json_node *tree = bundle_build(&b, rec, region_hex, 2 * region_len);
  if (!tree) return KALDRO_ERR_CAPACITY;
  uint8_t *text = nullptr;
  uint64_t text_len = 0;
  KALDRO_TRY(bundle_text(tree, b, workspace, workspace_bytes, workspace + text_at, text_bytes - 1,
                         &text, &text_len));
  text[text_len] = '\n';
  return kaldro_plat_file_write(out_path, 0, text, text_len + 1);
}

}  // namespace kaldro::genome

using namespace kaldro::genome;

namespace {

bool the_one_usable(const uint8_t *the_one, size_t the_one_len) {
  return !the_one || (the_one_len >= 1 && the_one_len <= kLeafDimMax);
}

// Adds a verified region to the genome whose body is `turns_path` (of `body_size`
// bytes): the genome must have the bundle's leaf_dim and the_one and must not catalogue
// its label yet; the merged body is saved through the crash-safe save.
kaldro_status import_merge(const char *dir, const char *turns_path, uint64_t body_size,
                           const uint8_t *region, uint64_t region_len, uint32_t leaf_dim,
                           const uint8_t *bundle_one, const uint8_t *label, size_t label_len,
                           const uint8_t *the_one, size_t the_one_len, uint8_t *workspace,
                           uint64_t workspace_bytes) {
  if (region_len > UINT64_MAX - body_size) return KALDRO_ERR_CAPACITY;
  const uint64_t total = body_size + region_len;
  if (workspace_bytes < (total > 0 ? total : 1)) return KALDRO_ERR_CAPACITY;
  uint64_t body_area = align16(total > 0 ? total : 1);
  if (body_area > workspace_bytes) body_area = workspace_bytes;
  uint8_t *rest = workspace + body_area;
  const uint64_t rest_bytes = workspace_bytes - body_area;

  const kaldro_json_node *root = nullptr;
  if (the_one)
    KALDRO_TRY(catalog_get(dir, the_one, the_one_len, rest, rest_bytes, &root));
  else
    KALDRO_TRY(catalog_get(dir, bundle_one, leaf_dim, rest, rest_bytes, &root));
  const kaldro_json_node *data = kaldro_json_object_get(root, "data");
  if (!data) return KALDRO_ERR_INVALID;
  int64_t genome_leaf_dim = 0;
  if (!manifest_leaf_dim(root, &genome_leaf_dim) || genome_leaf_dim != int64_t(leaf_dim))
    return KALDRO_ERR_INVALID;
  // A bundle joins only a genome with the same the_one.
  char one_digest[65];
  kaldro_sha256_hex(bundle_one, leaf_dim, one_digest);
  const kaldro_json_node *one = kaldro_json_object_get(data, "the_one");
  if (!one || !json_string_is(kaldro_json_object_get(one, "sha256"), one_digest, 64))
    return KALDRO_ERR_INVALID;
  const kaldro_json_node *chromosomes = manifest_chromosomes(root);
  if (!chromosomes || !manifest_labels_are_strings(chromosomes) ||
      manifest_label_taken(chromosomes, label, label_len, UINT32_MAX))
    return KALDRO_ERR_INVALID;

  uint64_t got = 0;
  BodyDigest prefix;
  KALDRO_TRY(body_read_verify(turns_path, root, workspace, total, &got, UINT64_MAX, &prefix));
  if (region_len > total - got) return KALDRO_ERR_CAPACITY;
  memcpy(workspace + got, region, size_t(region_len));
  char hex[65];
  body_digest_continue(prefix, got, workspace, got + region_len, hex);
  return save_genome(dir, workspace, got + region_len, leaf_dim, bundle_one, rest, rest_bytes, hex);
}

}  // namespace

extern "C" KALDRO_API kaldro_status kaldro_genome_export(const char *dir, const char *label,
                                                         const char *out_path,
                                                         const uint8_t *the_one, size_t the_one_len,
                                                         uint8_t *workspace,
                                                         size_t workspace_bytes) {
  if (!dir || !label || !out_path || !workspace) return KALDRO_ERR_NULL;
  if (!the_one_usable(the_one, the_one_len)) return KALDRO_ERR_INVALID;
  const kaldro_json_node *root = nullptr;
  KALDRO_TRY(catalog_get(dir, the_one, the_one_len, workspace, workspace_bytes, &root));
  return export_from_catalog(root, dir, label, out_path, workspace, workspace_bytes, UINT32_MAX);
}

namespace kaldro::genome {

kaldro_status bundle_load(const char *bundle_path, uint8_t *workspace, uint64_t workspace_bytes,
                          LoadedBundle *out) {
  uint64_t size = 0;
  KALDRO_TRY(kaldro_plat_file_size(bundle_path, &size));

  // Workspace: the bundle text, the decoded region (room for as many bytes as the file
  // has), then the parser's arena, which later serves the save or the merge.
  const uint64_t region_at = (size & ~uint64_t(15)) + 16;
  if (size >= UINT64_MAX - region_at || workspace_bytes < region_at + size + 1)
    return KALDRO_ERR_CAPACITY;
  uint8_t *text = workspace;
  uint8_t *region = workspace + region_at;
  uint64_t got = 0;
  KALDRO_TRY(kaldro_plat_file_read(bundle_path, text, size + 1, &got));
  got = strip_line_ends(text, got);
  uint64_t arena_at = align16(region_at + size + 1);
  if (arena_at > workspace_bytes) arena_at = workspace_bytes;
  kaldro_json_node *root = nullptr;
  KALDRO_TRY(kaldro_json_parse(text, got, workspace + arena_at, workspace_bytes - arena_at, &root));

  // Every digest and shape the bundle carries is checked before the genome is touched.
  if (!json_string_is(kaldro_json_object_get(root, "data_schema_id"), kBundleSchemaId,
                      kBundleSchemaIdLen))
    return KALDRO_ERR_INVALID;
  const kaldro_json_node *data = kaldro_json_object_get(root, "data");
  const kaldro_json_node *attestation = kaldro_json_object_get(root, "attestation");
  if (!is_kind(data, KALDRO_JSON_OBJECT) || !is_kind(attestation, KALDRO_JSON_OBJECT))
    return KALDRO_ERR_INVALID;
  const kaldro_json_node *leaf_dim_node = kaldro_json_object_get(data, "leaf_dim");
  const kaldro_json_node *label_node = kaldro_json_object_get(data, "label");
  if (!is_kind(leaf_dim_node, KALDRO_JSON_INT) || leaf_dim_node->integer < 1 ||
      leaf_dim_node->integer > int64_t(kLeafDimMax) || !is_kind(label_node, KALDRO_JSON_STRING) ||
      label_node->len > kLabelMax)
    return KALDRO_ERR_INVALID;
  const uint32_t leaf_dim = uint32_t(leaf_dim_node->integer);
  out->leaf_dim = leaf_dim;
  out->label_len = label_node->len;
  memcpy(out->label, label_node->str, out->label_len);
  out->label[out->label_len] = 0;

  uint64_t region_len = 0;
  char region_digest[65];
  KALDRO_TRY(hex_member_decode(kaldro_json_object_get(data, "region"), region, size + 1,
                               &region_len, region_digest));
  if (!json_string_is(kaldro_json_object_get(attestation, "response_sha256"), region_digest, 64))
    return KALDRO_ERR_INVALID;
  uint64_t one_len = 0;
  char one_digest[65];
  KALDRO_TRY(hex_member_decode(kaldro_json_object_get(data, "the_one"), out->one, sizeof out->one,
                               &one_len, one_digest));
  if (one_len != leaf_dim) return KALDRO_ERR_INVALID;
  // A bundle is one chromosome: its region opens with a cap record carrying the
  // bundle's label and holds no other cap, so a merge can neither extend the genome's
  // last chromosome nor catalogue the region under a label the bundle does not name.
  if (!region_is_chromosome(region, region_len, leaf_dim, out->label, out->label_len))
    return KALDRO_ERR_INVALID;
  memcpy(out->one_sha256, one_digest, sizeof one_digest);
  memcpy(out->region_sha256, region_digest, sizeof region_digest);
  out->region = region;
  out->region_len = region_len;
  out->arena_at = arena_at;
  return KALDRO_OK;
}

}  // namespace kaldro::genome

extern "C" KALDRO_API kaldro_status kaldro_genome_import(const char *bundle_path, const char *dir,
                                                         const uint8_t *the_one, size_t the_one_len,
                                                         uint8_t *workspace,
                                                         size_t workspace_bytes) {
  if (!bundle_path || !dir || !workspace) return KALDRO_ERR_NULL;
  if (!the_one_usable(the_one, the_one_len)) return KALDRO_ERR_INVALID;
  LoadedBundle b;
  KALDRO_TRY(bundle_load(bundle_path, workspace, workspace_bytes, &b));

  // From here on the parser's arena is free: the values still needed are copied out.
  uint8_t *rest = workspace + b.arena_at;
  const uint64_t rest_bytes = workspace_bytes - b.arena_at;
  char turns_path[kaldro::kPathBytes];
  uint64_t body_size = 0;
  const bool has_body = kaldro::path_join(turns_path, dir, kTurnsName) == KALDRO_OK &&
                        kaldro_plat_file_size(turns_path, &body_size) == KALDRO_OK;
  // A new genome's body is the region, whose digest is already taken.
  if (!has_body)
    return save_genome(dir, b.region, b.region_len, b.leaf_dim, b.one, rest, rest_bytes,
                       b.region_sha256);
  return import_merge(dir, turns_path, body_size, b.region, b.region_len, b.leaf_dim, b.one,
                      b.label, b.label_len, the_one, the_one_len, rest, rest_bytes);
}
