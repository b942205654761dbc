// Explode writes every chromosome of a genome as a bundle file "<label>.chr" into a
// directory; pack imports every bundle file of a directory into a genome, in the order
// of their labels. Both check all their inputs before they write anything.
#include <cstring>

#include "frame/internal.h"
#include "genome/bundle.h"
#include "genome/genome.h"

namespace {

using namespace kaldro::genome;

constexpr char kBundleExt[] = ".chr";
constexpr size_t kBundleExtLen = sizeof(kBundleExt) - 1;
// A file name has at most 255 bytes, and a bundle's name is its label and ".chr".
constexpr size_t kFileNameMax = 255;
constexpr size_t kNameMax = kFileNameMax - kBundleExtLen;
// Bundle names are held, with their terminator, in entries of this size.
constexpr size_t kNameBytes = kBundleNameBytes;
constexpr uint32_t kListingMax = 65536;

bool the_one_usable(const uint8_t *the_one, size_t the_one_len) {
  return !the_one || (the_one_len >= 1 && the_one_len <= kLeafDimMax);
}

// A label usable as a file name: non-empty, not "." or "..", without '/' or '\\', and
// short enough that "<label>.chr" is a file name.
bool name_usable(const char *name, size_t len) {
  if (len == 0 || len > kNameMax) return false;
  if ((len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.')) return false;
  return !memchr(name, '/', len) && !memchr(name, '\\', len);
}

uint32_t name_hash(const char *name, size_t len) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < len; ++i) h = (h ^ uint8_t(name[i])) * 16777619u;
  return h;
}

// Checks every label of the catalog's chromosome list and copies it into the label
// table: each must be a usable file name, and no two may name the same file (the second
// export would overwrite the first bundle with the first chromosome again, and the other
// chromosome would be lost). A bitmap of name hashes on the stack keeps the search for
// an earlier equal name to the rare hash collisions.
kaldro_status labels_check(const kaldro_json_node *chromosomes, char (*labels)[kLabelMax + 1]) {
  constexpr uint32_t kBits = 1u << 17;
  uint64_t seen[kBits / 64] = {};
  for (uint32_t i = 0; i < chromosomes->count; ++i) {
    const kaldro_json_node *l = kaldro_json_object_get(chromosomes->items[i], "label");
    if (!l || l->kind != KALDRO_JSON_STRING || l->len > kLabelMax) return KALDRO_ERR_INVALID;
    memcpy(labels[i], l->str, l->len);
    labels[i][l->len] = '\0';
    const size_t len = strlen(labels[i]);
    if (!name_usable(labels[i], len)) return KALDRO_ERR_INVALID;
    const uint32_t bit = name_hash(labels[i], len) & (kBits - 1);
    if (seen[bit / 64] >> (bit % 64) & 1) {
      for (uint32_t j = 0; j < i; ++j)
        if (strcmp(labels[j], labels[i]) == 0) return KALDRO_ERR_INVALID;
    }
    seen[bit / 64] |= uint64_t(1) << (bit % 64);
  }
  return KALDRO_OK;
}

// The bundle path "<out_dir>/<label>.chr".
kaldro_status bundle_path(char *path, const char *out_dir, const char *label) {
  char name[kNameBytes];
  const size_t len = strlen(label);
  memcpy(name, label, len);
  memcpy(name + len, kBundleExt, kBundleExtLen + 1);
  return kaldro::path_join(path, out_dir, name, len + kBundleExtLen);
}

// The longest region an entry of the chromosome list names, for sizing the exports.
uint64_t largest_region(const kaldro_json_node *chromosomes) {
  uint64_t most = 0;
  for (uint32_t i = 0; i < chromosomes->count; ++i) {
    const kaldro_json_node *l = kaldro_json_object_get(chromosomes->items[i], "byte_len");
    if (l && l->kind == KALDRO_JSON_INT && l->integer > 0 && uint64_t(l->integer) > most)
      most = uint64_t(l->integer);
  }
  return most;
}

bool is_bundle_name(const char *name) {
  const size_t len = strlen(name);
  return len > kBundleExtLen && len < kNameBytes &&
         memcmp(name + len - kBundleExtLen, kBundleExt, kBundleExtLen) == 0;
}

// One listing pass over `dir`: counts the bundle names among its first 65536 entries
// and, with a table, copies them into it (KALDRO_ERR_CAPACITY for more than `capacity`).
// A directory that cannot be opened has none. The directory is closed on every path.
kaldro_status bundle_listing(const char *dir, char (*names)[kNameBytes], uint32_t capacity,
                             uint32_t *count) {
  kaldro_plat_dir d;
  *count = 0;
  if (kaldro_plat_dir_open(dir, &d) != KALDRO_OK) return KALDRO_OK;
  char name[kNameBytes];
  uint32_t found = 0;
  kaldro_status st = KALDRO_OK;
  for (uint32_t seen = 0; seen < kListingMax; ++seen) {
    int32_t has_entry = 0;
    st = kaldro_plat_dir_next(&d, name, sizeof name, &has_entry);
    if (st != KALDRO_OK || !has_entry) break;
    if (!is_bundle_name(name)) continue;
    if (names) {
      if (found == capacity) {
        st = KALDRO_ERR_CAPACITY;
        break;
      }
      memcpy(names[found], name, strlen(name) + 1);
    }
    ++found;
  }
  kaldro_plat_dir_close(&d);
  if (st == KALDRO_OK) *count = found;
  return st;
}

// Reads and parses one bundle in the file area and copies its label into `label`:
// its "data_schema_id" must be the bundle schema and "data"."label" a string of at
// most 255 bytes.
kaldro_status bundle_precheck(const char *path, uint8_t *area, uint64_t area_bytes, char *label) {
  uint64_t size = 0;
  KALDRO_TRY(kaldro_plat_file_size(path, &size));
  if (area_bytes < size || area_bytes - size < 1) return KALDRO_ERR_CAPACITY;
  uint64_t got = 0;
  KALDRO_TRY(kaldro_plat_file_read(path, area, size + 1, &got));
  got = strip_line_ends(area, got);
  uint64_t arena_at = (size & ~uint64_t(15)) + 16;
  if (arena_at > area_bytes) arena_at = area_bytes;
  kaldro_json_node *root = nullptr;
  KALDRO_TRY(kaldro_json_parse(area, got, area + arena_at, area_bytes - arena_at, &root));
  if (!json_string_is(kaldro_json_object_get(root, "data_schema_id"), kBundleSchemaId,
                      kBundleSchemaIdLen))
    return KALDRO_ERR_INVALID;
  const kaldro_json_node *l = kaldro_json_object_get(kaldro_json_object_get(root, "data"), "label");
  if (!l || l->kind != KALDRO_JSON_STRING || l->len > kLabelMax) return KALDRO_ERR_INVALID;
  memcpy(label, l->str, l->len);
  label[l->len] = '\0';
  return KALDRO_OK;
}


// Labels of the caps of a body, in an open-addressing table of cap offsets (plus one;
// zero marks a free slot) in the workspace, for telling whether a label is catalogued.
struct CapLabels {
  const uint8_t *body;
  uint32_t leaf_dim;
  uint32_t *slots;
  uint64_t mask;

  bool has(const uint8_t *label, size_t len) const {
    for (uint64_t i = name_hash(reinterpret_cast<const char *>(label), len) & mask;; i = (i + 1) & mask) {
      const uint32_t at = slots[i];
      if (at == 0) return false;
      const uint8_t *cap = body + (at - 1);
      if (cap_label_len(cap, leaf_dim) == len && memcmp(cap + 1, label, len) == 0) return true;
    }
  }
};

// The body's caps in a table of at least twice their number of slots; false when the
// table does not fit.
bool cap_labels_index(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                      kaldro::Carver *carve, CapLabels *out) {
  uint64_t caps = 0;
  for (uint64_t off = 0; off < body_len; off += leaf_dim) caps += body[off] == kCapTag;
  uint64_t slots = 16;
  while (slots < 2 * caps) slots *= 2;
  uint32_t *table = carve->take_array<uint32_t>(slots, 16);
  if (!table) return false;
  memset(table, 0, size_t(slots) * sizeof(uint32_t));
  out->body = body;
  out->leaf_dim = leaf_dim;
  out->slots = table;
  out->mask = slots - 1;
  for (uint64_t off = 0; off < body_len; off += leaf_dim) {
    if (body[off] != kCapTag) continue;
    const uint8_t *cap = body + off;
    const size_t len = cap_label_len(cap, leaf_dim);
    uint64_t i = name_hash(reinterpret_cast<const char *>(cap + 1), len) & out->mask;
    while (table[i] != 0) i = (i + 1) & out->mask;
    table[i] = uint32_t(off + 1);
  }
  return true;
}

// Pack after its first import, with one save: the imports of the bundles after the
// first are carried out in the workspace, with every check and status an import makes,
// and the genome they give is saved once. The files are those that importing the
// bundles one by one leaves, also when a bundle is refused: the genome then holds the
// chromosomes imported before it. Where the workspace could be too small for one of
// those imports, or anything is not as the plain way would find it, *plain is set and
// nothing has been written: the caller imports the rest one by one.
kaldro_status pack_rest_batched(const char *bundle_dir, const char *dir,
                                char (*names)[kNameBytes], char (*labels)[kLabelMax + 1],
                                uint32_t m, uint8_t *area, uint64_t area_bytes, bool *plain) {
  *plain = true;
  char turns_path[kaldro::kPathBytes];
  char manifest_path[kaldro::kPathBytes];
  char path[kaldro::kPathBytes];
  if (kaldro::path_join(turns_path, dir, kTurnsName) != KALDRO_OK ||
      kaldro::path_join(manifest_path, dir, kManifestName) != KALDRO_OK)
    return KALDRO_OK;
  uint64_t start_len = 0;
  if (kaldro_plat_file_size(turns_path, &start_len) != KALDRO_OK) return KALDRO_OK;
  // Room for the body: what it holds now and, at most, half of every bundle file.
  uint64_t body_cap = start_len;
  for (uint32_t i = 1; i < m; ++i) {
    uint64_t size = 0;
    if (kaldro::path_join(path, bundle_dir, names[i]) != KALDRO_OK ||
        kaldro_plat_file_size(path, &size) != KALDRO_OK)
      return KALDRO_OK;
    body_cap += size / 2;
  }
  // Offsets are held in 32 bits: a genome that may outgrow them is packed the plain way.
  if (body_cap > UINT32_MAX) return KALDRO_OK;
  kaldro::Carver carve(area, area_bytes);
  uint8_t *body = static_cast<uint8_t *>(carve.take(body_cap > 0 ? body_cap : 1, 16));
  if (!body) return KALDRO_OK;
  const uint64_t after_body = align16(carve.used);
  if (after_body > area_bytes) return KALDRO_OK;

  // The genome as the first import left it, read and verified as the next import would.
  const kaldro_json_node *root = nullptr;
  if (catalog_get(dir, nullptr, 0, area + after_body, area_bytes - after_body, &root) != KALDRO_OK)
    return KALDRO_OK;
  int64_t leaf_dim = 0;
  const kaldro_json_node *one = kaldro_json_object_get(kaldro_json_object_get(root, "data"), "the_one");
  const kaldro_json_node *one_sha = kaldro_json_object_get(one, "sha256");
  const kaldro_json_node *chromosomes = manifest_chromosomes(root);
  if (!manifest_leaf_dim(root, &leaf_dim) || leaf_dim < 1 || leaf_dim > int64_t(kLeafDimMax) ||
      !one_sha || one_sha->kind != KALDRO_JSON_STRING || one_sha->len != 64 || !chromosomes ||
      !manifest_labels_are_strings(chromosomes))
    return KALDRO_OK;
  char genome_one_sha[64];
  memcpy(genome_one_sha, one_sha->str, 64);
  uint64_t len = 0;
  BodyDigest digest;
  if (body_read_verify(turns_path, root, body, body_cap, &len, UINT64_MAX, &digest) != KALDRO_OK ||
      len != start_len)
    return KALDRO_OK;
  const uint32_t ld = uint32_t(leaf_dim);
  CapLabels taken;
  if (!cap_labels_index(body, len, ld, &carve, &taken)) return KALDRO_OK;
  const uint64_t work_at = align16(carve.used);
  if (work_at > area_bytes) return KALDRO_OK;
  uint8_t *work = area + work_at;
  const uint64_t work_bytes = area_bytes - work_at;

  // The imports. Each bundle is loaded in a smaller area than the plain import gives
  // it, so what loads here loads there; needs (the largest parser arena offset and
  // merged body) are kept to check the plain imports' room below.
  kaldro_status refused = KALDRO_OK;
  uint32_t imported = 0;
  uint64_t arena_need = 0, merged_need = len;
  uint8_t last_one[kLeafDimMax];
  const uint8_t *prev_label = nullptr;
  size_t prev_len = 0;
  LoadedBundle b;
  for (uint32_t i = 1; i < m && refused == KALDRO_OK; ++i) {
    if (kaldro::path_join(path, bundle_dir, names[i]) != KALDRO_OK) return KALDRO_OK;
    const kaldro_status st = bundle_load(path, work, work_bytes, &b);
    if (st == KALDRO_ERR_CAPACITY) return KALDRO_OK;
    if (st != KALDRO_OK) {
      refused = st;
      break;
    }
    // The file must still be the bundle that was pre-checked.
    if (strlen(labels[i]) != b.label_len || memcmp(labels[i], b.label, b.label_len) != 0)
      return KALDRO_OK;
    if (b.arena_at > arena_need) arena_need = b.arena_at;
    const uint64_t merged = len + b.region_len;
    if (merged > merged_need) merged_need = merged;
    // The merge's checks, in its order: leaf_dim, the_one, the label.
    if (int64_t(b.leaf_dim) != leaf_dim || memcmp(b.one_sha256, genome_one_sha, 64) != 0) {
      refused = KALDRO_ERR_INVALID;
      break;
    }
    // Labels arrive sorted, so one the bundles imported already carry is the last one's.
    if (taken.has(b.label, b.label_len) ||
        (prev_label && prev_len == b.label_len && memcmp(prev_label, b.label, prev_len) == 0)) {
      refused = KALDRO_ERR_INVALID;
      break;
    }
    if (merged > body_cap) return KALDRO_OK;
    memcpy(body + len, b.region, size_t(b.region_len));
    digest.update(b.region, b.region_len);
    len = merged;
    prev_label = reinterpret_cast<const uint8_t *>(labels[i]);
    prev_len = b.label_len;
    memcpy(last_one, b.one, ld);
    ++imported;
  }
  if (imported == 0) {
    *plain = false;
    return refused;
  }

  // Room: every plain import lays out its parser arena, then the merged body, then the
  // catalog and the save of a genome no larger than this one. The save is prepared here
  // in the least of those rooms, and the catalog of its manifest parsed there: when both
  // fit, no plain import would have run short.
  const uint64_t merged_area = align16(merged_need > 0 ? merged_need : 1);
  if (arena_need > area_bytes || merged_area > area_bytes - arena_need) return KALDRO_OK;
  const uint64_t room = area_bytes - arena_need - merged_area;
  const uint64_t save_at = align16(len > 0 ? len : 1);
  if (save_at > area_bytes || area_bytes - save_at < room) return KALDRO_OK;
  uint8_t *ws = area + save_at;
  char hex[65];
  digest.finish_hex(hex);
  uint8_t *text = nullptr;
  uint64_t text_bytes = 0;
  if (save_prepare(body, len, ld, last_one, hex, ws, room, &text, &text_bytes) != KALDRO_OK)
    return KALDRO_OK;
  if (text_bytes >= room) return KALDRO_OK;
  memmove(ws, text, size_t(text_bytes));
  uint64_t parse_at = (text_bytes & ~uint64_t(15)) + 16;
  if (parse_at > room) parse_at = room;
  kaldro_json_node *check = nullptr;
  if (kaldro_json_parse(ws, strip_line_ends(ws, text_bytes), ws + parse_at, room - parse_at,
                        &check) != KALDRO_OK)
    return KALDRO_OK;

  *plain = false;
  KALDRO_TRY(save_files(turns_path, manifest_path, body, len, ws, text_bytes));
  return refused;
}
}  // namespace

namespace kaldro::genome {

// Labels compare as NUL-terminated strings of unsigned bytes.
static bool label_less(const char *a, const char *b) { return strcmp(a, b) < 0; }

static void swap_entry(char (*names)[kBundleNameBytes], char (*labels)[kLabelMax + 1], uint32_t to,
                uint32_t from) {
  memcpy(names[to], names[from], kBundleNameBytes);
  memcpy(labels[to], labels[from], kLabelMax + 1);
}

// Stable insertion sort of the entries by label; each name moves with its label, and
// equal labels keep their listing order. With room for an index per entry in `scratch`
// the insertions move 4-byte indices (found by binary search) and the entries are then
// put in place cycle by cycle; otherwise the entries themselves are moved.
void sort_by_label(char (*names)[kBundleNameBytes], char (*labels)[kLabelMax + 1], uint32_t m,
                   uint8_t *scratch, uint64_t scratch_bytes) {
  if (m < 2) return;
  if (scratch_bytes >= uint64_t(m) * sizeof(uint32_t)) {
    uint32_t *order = reinterpret_cast<uint32_t *>(scratch);
    for (uint32_t i = 0; i < m; ++i) {
      // Insert entry i after every earlier entry whose label is not greater.
      uint32_t lo = 0, hi = i;
      while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (label_less(labels[i], labels[order[mid]])) hi = mid; else lo = mid + 1;
      }
      memmove(order + lo + 1, order + lo, (i - lo) * sizeof(uint32_t));
      order[lo] = i;
    }
    // order[k] is the entry that belongs at position k.
    char name[kBundleNameBytes];
    char label[kLabelMax + 1];
    for (uint32_t start = 0; start < m; ++start) {
      if (order[start] == start) continue;
      memcpy(name, names[start], kBundleNameBytes);
      memcpy(label, labels[start], kLabelMax + 1);
      uint32_t at = start;
      for (;;) {
        const uint32_t from = order[at];
        order[at] = at;
        if (from == start) {
          memcpy(names[at], name, kBundleNameBytes);
          memcpy(labels[at], label, kLabelMax + 1);
          break;
        }
        swap_entry(names, labels, at, from);
        at = from;
      }
    }
    return;
  }
  char name[kBundleNameBytes];
  char label[kLabelMax + 1];
  for (uint32_t i = 1; i < m; ++i) {
    uint32_t at = i;
    while (at > 0 && label_less(labels[i], labels[at - 1])) --at;
    if (at == i) continue;
    memcpy(name, names[i], kBundleNameBytes);
    memcpy(label, labels[i], kLabelMax + 1);
    memmove(names[at + 1], names[at], size_t(i - at) * kBundleNameBytes);
    memmove(labels[at + 1], labels[at], size_t(i - at) * (kLabelMax + 1));
    memcpy(names[at], name, kBundleNameBytes);
    memcpy(labels[at], label, kLabelMax + 1);
  }
}

}  // namespace kaldro::genome

extern "C" KALDRO_API kaldro_status kaldro_genome_explode(const char *dir, const char *out_dir,
                                                          const uint8_t *the_one,
                                                          size_t the_one_len, uint8_t *workspace,
                                                          size_t workspace_bytes) {
  if (!dir || !out_dir || !workspace) return KALDRO_ERR_NULL;
  if (!the_one_usable(the_one, the_one_len)) return KALDRO_ERR_INVALID;
  const kaldro_json_node *root = nullptr;
  KALDRO_TRY(catalog_get(dir, the_one, the_one_len, workspace, workspace_bytes, &root));
  const kaldro_json_node *chromosomes = manifest_chromosomes(root);
  if (!kaldro_json_object_get(root, "data") || !chromosomes) return KALDRO_ERR_INVALID;
  const uint32_t n = chromosomes->count;
  const uint64_t table_bytes = uint64_t(n > 0 ? n : 1) * (kLabelMax + 1);
  if (workspace_bytes < table_bytes) return KALDRO_ERR_CAPACITY;
  char(*labels)[kLabelMax + 1] = reinterpret_cast<char(*)[kLabelMax + 1]>(workspace);
  uint8_t *rest = workspace + table_bytes;
  const uint64_t rest_bytes = workspace_bytes - table_bytes;

  // Each export reads the catalog anew over the rest of the workspace. When the rest
  // can hold the catalog and, behind it, the areas of the largest export, the catalog
  // is read once and every export works from it: the same files and statuses for a
  // fraction of the work. An export that runs short of room there is done anew the
  // plain way, and so is every export after it.
  const uint64_t areas = export_areas_bytes(largest_region(chromosomes));
  const uint64_t reserve = areas > UINT64_MAX - kExportBuilderBytes ? UINT64_MAX : areas + kExportBuilderBytes;
  bool shared = false;
  uint64_t reserve_at = 0;
  if (reserve < rest_bytes) {
    reserve_at = (rest_bytes - reserve) & ~uint64_t(15);
    shared = catalog_get(dir, the_one, the_one_len, rest, reserve_at, &root) == KALDRO_OK;
  }
  if (!shared) KALDRO_TRY(catalog_get(dir, the_one, the_one_len, rest, rest_bytes, &root));

  // Every label is checked before any file is written. The genome read again must
  // still list as many chromosomes as the table has room for.
  chromosomes = manifest_chromosomes(root);
  if (!chromosomes || chromosomes->count != n) return KALDRO_ERR_INVALID;
  KALDRO_TRY(labels_check(chromosomes, labels));
  for (uint32_t i = 0; i < n; ++i) {
    char path[kaldro::kPathBytes];
    KALDRO_TRY(bundle_path(path, out_dir, labels[i]));
    if (shared) {
      // The labels are distinct, so entry i is the first, and only, one with label i.
      const kaldro_status st = export_from_catalog(root, dir, labels[i], path, rest + reserve_at,
                                                   rest_bytes - reserve_at, i);
      if (st != KALDRO_ERR_CAPACITY) {
        KALDRO_TRY(st);
        continue;
      }
      shared = false;
    }
    KALDRO_TRY(kaldro_genome_export(dir, labels[i], path, the_one, the_one_len, rest, rest_bytes));
  }
  return KALDRO_OK;
}

namespace kaldro::genome {

kaldro_status pack_run(const char *bundle_dir, const char *dir, const uint8_t *the_one,
                       size_t the_one_len, uint8_t *workspace, uint64_t workspace_bytes,
                       bool batched, bool *took_batch) {
  if (took_batch) *took_batch = false;
  if (!bundle_dir || !dir || !workspace) return KALDRO_ERR_NULL;
  if (!the_one_usable(the_one, the_one_len)) return KALDRO_ERR_INVALID;
  uint32_t m = 0;
  KALDRO_TRY(bundle_listing(bundle_dir, nullptr, 0, &m));
  if (m == 0) return KALDRO_ERR_INVALID;

  // Workspace: the name table, the label table, then the file area.
  kaldro::Carver carve(workspace, workspace_bytes);
  char(*names)[kNameBytes] = static_cast<char(*)[kNameBytes]>(carve.take(uint64_t(m) * kNameBytes));
  if (!names || !carve.take(uint64_t(m) * (kLabelMax + 1), 16)) return KALDRO_ERR_CAPACITY;
  uint32_t listed = 0;
  KALDRO_TRY(bundle_listing(bundle_dir, names, m, &listed));
  if (listed == 0) return KALDRO_ERR_INVALID;
  m = listed;
  const uint64_t labels_at = align16(uint64_t(m) * kNameBytes);
  char(*labels)[kLabelMax + 1] = reinterpret_cast<char(*)[kLabelMax + 1]>(workspace + labels_at);
  const uint64_t area_at = labels_at + uint64_t(m) * (kLabelMax + 1);
  uint8_t *area = workspace + area_at;
  const uint64_t area_bytes = workspace_bytes - area_at;

  // Every bundle is read and pre-checked before any is imported.
  char path[kaldro::kPathBytes];
  for (uint32_t i = 0; i < m; ++i) {
    KALDRO_TRY(kaldro::path_join(path, bundle_dir, names[i]));
    KALDRO_TRY(bundle_precheck(path, area, area_bytes, labels[i]));
  }
  sort_by_label(names, labels, m, area, area_bytes);
  // The first bundle is imported as it stands: it may create the genome or join one
  // that was there. The others join the genome it leaves, all with one save where the
  // workspace allows, else one import after another.
  KALDRO_TRY(kaldro::path_join(path, bundle_dir, names[0]));
  KALDRO_TRY(kaldro_genome_import(path, dir, the_one, the_one_len, area, area_bytes));
  if (m == 1) return KALDRO_OK;
  bool plain = true;
  const kaldro_status st =
      batched ? pack_rest_batched(bundle_dir, dir, names, labels, m, area, area_bytes, &plain)
              : KALDRO_OK;
  if (!plain) {
    if (took_batch) *took_batch = true;
    return st;
  }
  for (uint32_t i = 1; i < m; ++i) {
    KALDRO_TRY(kaldro::path_join(path, bundle_dir, names[i]));
    KALDRO_TRY(kaldro_genome_import(path, dir, the_one, the_one_len, area, area_bytes));
  }
  return KALDRO_OK;
}

}  // namespace kaldro::genome

extern "C" KALDRO_API kaldro_status kaldro_genome_pack(const char *bundle_dir, const char *dir,
                                                       const uint8_t *the_one, size_t the_one_len,
                                                       uint8_t *workspace, size_t workspace_bytes) {
  return pack_run(bundle_dir, dir, the_one, the_one_len, workspace, workspace_bytes, true, nullptr);
}
