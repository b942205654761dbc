// The catalog of a genome: the scan that derives chromosome tables and digests from a
// body, the manifest tree built from them, reading or rebuilding a directory's catalog,
// verified loads of the body, and the workspace sizing rule.
#include <cstring>

#include "frame/internal.h"
#include "genome/genome.h"

namespace kaldro::genome {

size_t cap_label_len(const uint8_t *cap, uint32_t leaf_dim) {
  if (leaf_dim < 2) return 0;
  const void *zero = memchr(cap + 1, 0, leaf_dim - 1);
  return zero ? size_t(static_cast<const uint8_t *>(zero) - (cap + 1)) : size_t(leaf_dim - 1);
}

namespace {

uint64_t count_caps(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim) {
  uint64_t n = 0;
  if (leaf_dim == 1) {
    const uint8_t *p = body;
    const uint8_t *end = body + body_len;
    while (p < end) {
      const void *hit = memchr(p, kCapTag, size_t(end - p));
      if (!hit) break;
      ++n;
      p = static_cast<const uint8_t *>(hit) + 1;
    }
    return n;
  }
  for (uint64_t off = 0; off < body_len; off += leaf_dim) n += body[off] == kCapTag;
  return n;
}


}  // namespace

kaldro_status catalog_layout(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                             uint8_t *workspace, uint64_t workspace_bytes, uint64_t in_use,
                             CatalogRecord *rec, uint64_t *in_use_end) {
  if (body_len % leaf_dim != 0) return KALDRO_ERR_INVALID;
  // Offsets and lengths are held in 32 bits: such a body cannot be catalogued.
  if (body_len > UINT32_MAX) return KALDRO_ERR_CAPACITY;
  const uint64_t n = count_caps(body, body_len, leaf_dim);

  Carver carve(workspace, workspace_bytes);
  carve.used = in_use;
  rec->cap_sha256 = static_cast<char(*)[65]>(carve.take(n * 65, 16));
  rec->byte_offset = static_cast<uint32_t *>(rec->cap_sha256 ? carve.take(n * 4, 16) : nullptr);
  rec->byte_len = static_cast<uint32_t *>(rec->byte_offset ? carve.take(n * 4, 16) : nullptr);
  rec->label = static_cast<char(*)[kLabelMax + 1]>(rec->byte_len ? carve.take(n * 256, 16) : nullptr);
  rec->leaf_count = static_cast<uint32_t *>(rec->label ? carve.take(n * 4, 16) : nullptr);
  if (!rec->leaf_count) return KALDRO_ERR_CAPACITY;
  *in_use_end = carve.used;
  rec->capacity = uint32_t(n);
  rec->count = 0;

  // Every record belongs to the chromosome its nearest cap before it opens.
  if (body_len > 0 && body[0] != kCapTag) return KALDRO_ERR_INVALID;
  return KALDRO_OK;
}

void catalog_fill(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                  const uint8_t *the_one, const char *body_sha256, CatalogRecord *rec) {
  if (body_sha256) {
    memcpy(rec->body_sha256, body_sha256, 64);
    rec->body_sha256[64] = '\0';
  } else {
    kaldro_sha256_hex(body, body_len, rec->body_sha256);
  }
  kaldro_sha256_hex(the_one, leaf_dim, rec->the_one_sha256);
  hex_encode(the_one, leaf_dim, rec->the_one_hex);
  rec->the_one_hex[2 * leaf_dim] = '\0';
  sha256_text(kManifestRule, rec->rule_hash);
  sha256_text(kManifestSchemaId, rec->descriptor_hash);
  memcpy(rec->parser_version, kParserVersion, sizeof(kParserVersion));

  // One chromosome at a time: its records are counted in registers up to the next cap.
  char(*const cap_sha256)[65] = rec->cap_sha256;
  char(*const labels)[kLabelMax + 1] = rec->label;
  uint32_t *const offsets = rec->byte_offset;
  uint32_t *const lengths = rec->byte_len;
  uint32_t *const leaf_counts = rec->leaf_count;
  uint32_t count = 0;
  for (uint64_t off = 0; off < body_len;) {
    const uint8_t *cap = body + off;
    kaldro_sha256_hex(cap, leaf_dim, cap_sha256[count]);
    const size_t label_len = cap_label_len(cap, leaf_dim);
    memcpy(labels[count], cap + 1, label_len);
    labels[count][label_len] = '\0';
    offsets[count] = uint32_t(off);
    uint32_t leaves = 0;
    uint64_t end = off + leaf_dim;
    for (; end < body_len; end += leaf_dim) {
      const uint8_t tag = body[end];
      if (tag == kCapTag) break;
      leaves += tag != kNonLeafTag;
    }
    lengths[count] = uint32_t(end - off);
    leaf_counts[count] = leaves;
    ++count;
    off = end;
  }
  rec->count = count;
}

kaldro_status catalog_scan(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                           const uint8_t *the_one, uint8_t *workspace, uint64_t workspace_bytes,
                           uint64_t in_use, CatalogRecord *rec, uint64_t *in_use_end) {
  KALDRO_TRY(catalog_layout(body, body_len, leaf_dim, workspace, workspace_bytes, in_use, rec,
                            in_use_end));
  catalog_fill(body, body_len, leaf_dim, the_one, nullptr, rec);
  return KALDRO_OK;
}

void sha256_text(const char *text, char *hex) { kaldro_sha256_hex(text, strlen(text), hex); }

kaldro_json_node *document_build(kaldro_json_builder *b, kaldro_json_node *mpr,
                                 kaldro_json_node *data, const DocumentFrame &f) {
  static const char *const kAttestationKeys[] = {
      "collector_descriptor_hash", "collector_descriptor_path", "license",
      "parser_rule_hash",          "parser_version",            "response_sha256",
      "retrieved_at",              "source_doi",                "source_url"};
  static const char *const kRenderingKeys[] = {"cite_as", "human_readable_name", "purpose"};
  static const char *const kRootKeys[] = {"mpr_version", "data", "data_schema_id",
                                          "attestation", "rendering"};
  auto text = [b](const char *s, size_t len) { return kaldro_json_new_string(b, s, uint32_t(len)); };
  auto constant = [&text](const char *s) { return text(s, strlen(s)); };

  kaldro_json_node *schema = constant(f.schema_id);
  kaldro_json_node *att_v[9] = {text(f.descriptor_hash, 64), constant(kCollectorPath),
                                constant(kLicense),          text(f.rule_hash, 64),
                                constant(f.parser_version),  text(f.response_sha256, 64),
                                constant(kRetrievedAt),      constant(f.doi),
                                constant(f.url)};
  kaldro_json_node *attestation = kaldro_json_new_object(b, kAttestationKeys, att_v, 9);
  kaldro_json_node *ren_v[3] = {constant(f.cite_as), text(f.readable_name, f.readable_len),
                                constant(f.purpose)};
  kaldro_json_node *rendering = kaldro_json_new_object(b, kRenderingKeys, ren_v, 3);
  kaldro_json_node *root_v[5] = {mpr, data, schema, attestation, rendering};
  kaldro_json_node *root = kaldro_json_new_object(b, kRootKeys, root_v, 5);
  return b->failed ? nullptr : root;
}

kaldro_status manifest_build(const CatalogRecord &rec, uint32_t leaf_dim, uint64_t body_len,
                             uint8_t *region, uint64_t region_bytes, ManifestTree *out) {
  const uint32_t n = rec.count;
  Carver carve(region, region_bytes);
  kaldro_json_node **chromosomes = nullptr;
  if (n > 0) {
    chromosomes = carve.take_array<kaldro_json_node *>(n, 16);
    if (!chromosomes) return KALDRO_ERR_CAPACITY;
  }
  const uint64_t builder_at = n > 0 ? align16(carve.used) : 0;
  const uint64_t at = builder_at < region_bytes ? builder_at : region_bytes;
  kaldro_json_builder b;
  KALDRO_TRY(kaldro_json_builder_init(&b, region + at, region_bytes - at));

  static const char *const kChromosomeKeys[] = {"label", "cap_sha256", "leaf_count",
                                                "byte_offset", "byte_len"};
  static const char *const kTheOneKeys[] = {"sha256", "hex"};
  static const char *const kDataKeys[] = {"format_version", "leaf_dim",    "n_turns",
                                          "the_one",        "body_sha256", "chromosomes"};
  auto text = [&b](const char *s, size_t len) { return kaldro_json_new_string(&b, s, uint32_t(len)); };
  auto constant = [&text](const char *s) { return text(s, strlen(s)); };

  kaldro_json_node *mpr = constant(kMprVersion);
  for (uint32_t i = 0; i < n; ++i) {
    kaldro_json_node *v[5];
    v[0] = text(rec.label[i], strnlen(rec.label[i], kLabelMax));
    v[1] = text(rec.cap_sha256[i], 64);
    v[2] = kaldro_json_new_int(&b, rec.leaf_count[i]);
    v[3] = kaldro_json_new_int(&b, rec.byte_offset[i]);
    v[4] = kaldro_json_new_int(&b, rec.byte_len[i]);
    chromosomes[i] = kaldro_json_new_object(&b, kChromosomeKeys, v, 5);
    if (b.failed) return KALDRO_ERR_CAPACITY;
  }
  kaldro_json_node *list = kaldro_json_new_array(&b, chromosomes, n);

  kaldro_json_node *data_v[6];
  data_v[0] = kaldro_json_new_int(&b, kFormatVersion);
  data_v[1] = kaldro_json_new_int(&b, leaf_dim);
  data_v[2] = kaldro_json_new_int(&b, int64_t(body_len / leaf_dim));
  kaldro_json_node *one_v[2] = {text(rec.the_one_sha256, 64), text(rec.the_one_hex, 2 * size_t(leaf_dim))};
  data_v[3] = kaldro_json_new_object(&b, kTheOneKeys, one_v, 2);
  data_v[4] = text(rec.body_sha256, 64);
  data_v[5] = list;
  kaldro_json_node *data = kaldro_json_new_object(&b, kDataKeys, data_v, 6);
  const DocumentFrame frame = {kManifestSchemaId,   rec.descriptor_hash, rec.rule_hash,
                               rec.parser_version,  rec.body_sha256,     kManifestDoi,
                               kManifestUrl,        kManifestCiteAs,     kManifestReadableName,
                               strlen(kManifestReadableName),            kManifestPurpose};
  kaldro_json_node *root = document_build(&b, mpr, data, frame);
  if (b.failed || !root) return KALDRO_ERR_CAPACITY;

  out->root = root;
  out->tail = b.base + b.used;
  out->tail_bytes = b.size - b.used;
  return KALDRO_OK;
}

uint64_t strip_line_ends(const uint8_t *text, uint64_t len) {
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
  return len;
}

bool json_string_is(const kaldro_json_node *node, const void *bytes, size_t len) {
  return node && node->kind == KALDRO_JSON_STRING && node->len == len &&
         (len == 0 || memcmp(node->str, bytes, len) == 0);
}

kaldro_status catalog_get(const char *dir, const uint8_t *the_one, size_t the_one_len,
                          uint8_t *workspace, uint64_t workspace_bytes,
                          const kaldro_json_node **out_root) {
  char path[kPathBytes];
  KALDRO_TRY(path_join(path, dir, kManifestName));
  uint64_t size = 0;
  if (kaldro_plat_file_size(path, &size) == KALDRO_OK) {
    if (size >= workspace_bytes) return KALDRO_ERR_CAPACITY;
    uint64_t got = 0;
    KALDRO_TRY(kaldro_plat_file_read(path, workspace, size + 1, &got));
    got = strip_line_ends(workspace, got);
    uint64_t at = (size & ~uint64_t(15)) + 16;
    if (at > workspace_bytes) at = workspace_bytes;
    kaldro_json_node *root = nullptr;
    KALDRO_TRY(kaldro_json_parse(workspace, got, workspace + at, workspace_bytes - at, &root));
    *out_root = root;
    return KALDRO_OK;
  }

  // No readable manifest: derive it from the body, writing nothing.
  if (!the_one || the_one_len < 1 || the_one_len > kLeafDimMax) return KALDRO_ERR_INVALID;
  const uint32_t leaf_dim = uint32_t(the_one_len);
  KALDRO_TRY(path_join(path, dir, kTurnsName));
  KALDRO_TRY(kaldro_plat_file_size(path, &size));
  const uint64_t body_area = size > 0 ? size : 1;
  if (workspace_bytes < body_area) return KALDRO_ERR_CAPACITY;
  uint64_t got = 0;
  KALDRO_TRY(kaldro_plat_file_read(path, workspace, size, &got));
  CatalogRecord rec;
  uint64_t end = 0;
  KALDRO_TRY(catalog_scan(workspace, got, leaf_dim, the_one, workspace, workspace_bytes, body_area,
                          &rec, &end));
  // The tree is returned to the caller, so the record its strings point into must live
  // in the workspace too, not in this frame.
  Carver carve(workspace, workspace_bytes);
  carve.used = end;
  CatalogRecord *kept = static_cast<CatalogRecord *>(carve.take(sizeof(CatalogRecord), 16));
  if (!kept) return KALDRO_ERR_CAPACITY;
  memcpy(kept, &rec, sizeof rec);
  uint64_t tree_at = align16(carve.used);
  if (tree_at > workspace_bytes) tree_at = workspace_bytes;
  ManifestTree tree;
  KALDRO_TRY(manifest_build(*kept, leaf_dim, got, workspace + tree_at, workspace_bytes - tree_at,
                            &tree));
  *out_root = tree.root;
  return KALDRO_OK;
}

}  // namespace kaldro::genome

using namespace kaldro::genome;

extern "C" KALDRO_API uint64_t kaldro_genome_arena_bytes(uint64_t body_bytes, uint32_t chromosomes,
                                                         uint64_t region_bytes) {
  return 2 * body_bytes + 2033 * uint64_t(chromosomes) + 6 * region_bytes + 77824;
}

extern "C" KALDRO_API kaldro_status kaldro_genome_catalog(const char *dir, const uint8_t *the_one,
                                                          size_t the_one_len, uint8_t *workspace,
                                                          size_t workspace_bytes,
                                                          const kaldro_json_node **out_root) {
  if (!dir || !workspace || !out_root) return KALDRO_ERR_NULL;
  return catalog_get(dir, the_one, the_one_len, workspace, workspace_bytes, out_root);
}

extern "C" KALDRO_API kaldro_status kaldro_genome_load(const char *dir, uint8_t *body_out,
                                                       size_t body_cap, size_t *body_len_out,
                                                       const uint8_t *the_one, size_t the_one_len,
                                                       uint8_t *workspace, size_t workspace_bytes) {
  if (!dir || !body_out || !body_len_out || !workspace) return KALDRO_ERR_NULL;
  const kaldro_json_node *root = nullptr;
  KALDRO_TRY(catalog_get(dir, the_one, the_one_len, workspace, workspace_bytes, &root));
  const kaldro_json_node *digest =
      kaldro_json_object_get(kaldro_json_object_get(root, "data"), "body_sha256");
  if (!digest || digest->kind != KALDRO_JSON_STRING) return KALDRO_ERR_INVALID;
  char path[kaldro::kPathBytes];
  KALDRO_TRY(kaldro::path_join(path, dir, kTurnsName));
  uint64_t got = 0;
  KALDRO_TRY(kaldro_plat_file_read(path, body_out, body_cap, &got));
  *body_len_out = got;
  char hex[65];
  kaldro_sha256_hex(body_out, got, hex);
  return json_string_is(digest, hex, 64) ? KALDRO_OK : KALDRO_ERR_INVALID;
}
