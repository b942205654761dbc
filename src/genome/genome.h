// Internal pieces of the genome store shared by save, catalog, load, the window and edit
// operations, and the bundle operations built on them: the on-disk constants, the
// catalog scan of a body, the manifest tree, and the readers of a parsed manifest.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>

#include "frame/internal.h"
#include "platform/path.h"

namespace kaldro::genome {

// The two files of a genome directory.
inline constexpr char kTurnsName[] = "turns.bin";
inline constexpr char kManifestName[] = "manifest.json";

// Record tags, looked at only at record boundaries.
inline constexpr uint8_t kCapTag = 'C';
inline constexpr uint8_t kNonLeafTag = 'G';
inline constexpr uint32_t kLeafDimMax = 256;
// Longest label: a cap record of 256 bytes minus its tag.
inline constexpr size_t kLabelMax = kLeafDimMax - 1;

// Constant texts of the manifest document.
inline constexpr char kMprVersion[] = "1.0";
inline constexpr char kManifestSchemaId[] = "kaldro://schema/genome_manifest/v1";
inline constexpr char kManifestRule[] = "genome_persistence/v2";
inline constexpr char kParserVersion[] = "kaldro 0.8.2";
inline constexpr char kCollectorPath[] = "kaldro/amsc/genome";
inline constexpr char kLicense[] = "CC0";
inline constexpr char kRetrievedAt[] = "1970-01-01T00:00:00Z";
inline constexpr char kManifestDoi[] = "10.0/kaldro.genome.persistence";
inline constexpr char kManifestUrl[] = "https://kaldro.dev/genome/persistence";
inline constexpr char kManifestCiteAs[] = "kaldro genome persistence (UPSTREAM \xC2\xA7" "41)";
inline constexpr char kManifestReadableName[] = "kaldro genome (on-disk chromosome set)";
inline constexpr char kManifestPurpose[] =
    "A telomere-partitioned genome persisted as a fixed-width body (turns.bin) + an "
    "MPR-attested manifest catalog.";
inline constexpr int64_t kFormatVersion = 2;

// The manifest text is bounded in advance by this much per chromosome plus a fixed part
// (the_one's hex text of up to 512 characters included); labels that need many escapes
// can exceed it, and save then places the text elsewhere in its workspace.
inline constexpr uint64_t kTextPerChromosome = 856;
inline constexpr uint64_t kTextFixed = 4096;

// Every workspace area starts at a 16-byte boundary counted from the workspace's start.
constexpr uint64_t align16(uint64_t x) { return align_up(x, 16); }

// Length of the label a cap record carries in bytes 1 to leaf_dim - 1: up to the first
// zero byte, or all of them.
size_t cap_label_len(const uint8_t *cap, uint32_t leaf_dim);

// What the catalog scan derives from a body: the digests and texts of the manifest and
// five per-chromosome tables carved from a workspace. Table entry i describes the i-th
// cap record in body order.
struct CatalogRecord {
  char body_sha256[65];
  char the_one_sha256[65];
  char the_one_hex[2 * kLeafDimMax + 1];
  char rule_hash[65];
  char descriptor_hash[65];
  char parser_version[sizeof(kParserVersion)];
  char (*cap_sha256)[65];
  uint32_t *byte_offset;
  uint32_t *byte_len;
  char (*label)[kLabelMax + 1];
  uint32_t *leaf_count;
  uint32_t capacity;
  uint32_t count;
};

// Scans a body of whole records into `rec`. The tables are carved from `workspace`
// after its first `in_use` bytes, each at the next 16-byte boundary; *in_use_end
// receives the offset just past the last table.
// KALDRO_ERR_INVALID: a body that is not whole records or does not begin with a cap.
// KALDRO_ERR_CAPACITY: a body of 4 GiB or more (offsets are held in 32 bits), or tables
// that do not fit the workspace.
kaldro_status catalog_scan(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                           const uint8_t *the_one, uint8_t *workspace, uint64_t workspace_bytes,
                           uint64_t in_use, CatalogRecord *rec, uint64_t *in_use_end);

// The scan in two steps. The layout does every check of the scan and carves the tables;
// the fill digests and walks the body into them. With `body_sha256` null the fill
// digests the whole body; otherwise it takes that digest text (64 characters) as the
// body's, the caller having digested the very same bytes.
kaldro_status catalog_layout(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                             uint8_t *workspace, uint64_t workspace_bytes, uint64_t in_use,
                             CatalogRecord *rec, uint64_t *in_use_end);
void catalog_fill(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                  const uint8_t *the_one, const char *body_sha256, CatalogRecord *rec);

// SHA-256 of a body taken in pieces. A copy of the record taken part-way continues over
// other bytes: the digest of a changed body is the digest of the prefix it kept,
// continued over its new bytes.
struct BodyDigest {
  uint32_t state[8];
  uint64_t total;
  uint32_t buffered;
  uint8_t buf[64];
  void (*compress)(uint32_t state[8], const uint8_t *blocks, size_t nblocks);

  void start();
  void update(const uint8_t *data, uint64_t len);
  // The lowercase hex digest of everything given so far, and its terminator.
  void finish_hex(char hex[65]) const;
};

// Save of a body whose digest the caller already holds (`body_sha256`, 64 characters),
// or, with `body_sha256` null, one that save digests itself while writing it. The same
// statuses and files as kaldro_genome_save after its argument checks.
kaldro_status save_genome(const char *dir, const uint8_t *body, uint64_t body_len,
                          uint32_t leaf_dim, const uint8_t *the_one, uint8_t *workspace,
                          uint64_t workspace_bytes, const char *body_sha256);

// The two steps of a save of a body whose digest is known: every check, and the
// manifest file's bytes (text and line feed) made in the workspace; then the two files
// replaced, turns.bin first.
kaldro_status save_prepare(const uint8_t *body, uint64_t body_len, uint32_t leaf_dim,
                           const uint8_t *the_one, const char *body_sha256, uint8_t *workspace,
                           uint64_t workspace_bytes, uint8_t **text, uint64_t *text_bytes);
kaldro_status save_files(const char *turns_path, const char *manifest_path, const uint8_t *body,
                         uint64_t body_len, const uint8_t *text, uint64_t text_bytes);

// The manifest tree of a catalog record, built in `region`: an array of record-count
// chromosome pointers first, then the builder's nodes. String nodes point into the
// record, its tables and constant texts, which must outlive the tree.
// What a genome document (manifest or bundle) carries besides its "data": the schema
// it follows, its attestation and how it reads to a person. Hashes are 64 hex digits;
// response_sha256 is the digest of the bytes the document stands for.
struct DocumentFrame {
  const char *schema_id;
  const char *descriptor_hash;
  const char *rule_hash;
  const char *parser_version;
  const char *response_sha256;
  const char *doi;
  const char *url;
  const char *cite_as;
  const char *readable_name;
  size_t readable_len;
  const char *purpose;
};

// The document's root object over `mpr` ("mpr_version") and `data`, which the caller
// built first: the schema id, attestation and rendering nodes, then the root. Null once
// the builder has failed.
kaldro_json_node *document_build(kaldro_json_builder *b, kaldro_json_node *mpr,
                                 kaldro_json_node *data, const DocumentFrame &frame);

// The hex digest of a NUL-terminated text.
void sha256_text(const char *text, char *hex);

struct ManifestTree {
  const kaldro_json_node *root;
  uint8_t *tail;        // the builder's free tail, the writer's workspace
  uint64_t tail_bytes;
};
kaldro_status manifest_build(const CatalogRecord &rec, uint32_t leaf_dim, uint64_t body_len,
                             uint8_t *region, uint64_t region_bytes, ManifestTree *out);

// The catalog of a genome directory: manifest.json parsed in the workspace, or, when
// there is no readable manifest, the manifest that a save of turns.bin with this the_one
// would write, rebuilt in the workspace (nothing is written). Pointers are not checked.
kaldro_status catalog_get(const char *dir, const uint8_t *the_one, size_t the_one_len,
                          uint8_t *workspace, uint64_t workspace_bytes,
                          const kaldro_json_node **out_root);

// Length of `text` without its trailing CR and LF bytes.
uint64_t strip_line_ends(const uint8_t *text, uint64_t len);

// True when `node` is a string of exactly these bytes.
bool json_string_is(const kaldro_json_node *node, const void *bytes, size_t len);

// "data"."leaf_dim" as an integer: false when missing or of another kind.
bool manifest_leaf_dim(const kaldro_json_node *root, int64_t *leaf_dim);

// "data"."chromosomes" when it is an array, else null.
const kaldro_json_node *manifest_chromosomes(const kaldro_json_node *root);

// A chromosome entry found by label: the first entry of "data"."chromosomes" whose
// "label" is a string equal to the label. It counts as found only with "byte_offset"
// and "byte_len" members; the first matching entry that lacks either ends the search.
struct ChromosomeEntry {
  uint32_t index;
  const kaldro_json_node *byte_offset;
  const kaldro_json_node *byte_len;
  const kaldro_json_node *cap_sha256;  // null when the member is missing
};
bool chromosome_find(const kaldro_json_node *root, const char *label, size_t label_len,
                     ChromosomeEntry *out);

// The region an entry names, refused with KALDRO_ERR_INVALID unless both members are
// non-negative integers, the length is a non-zero multiple of leaf_dim and the offset a
// multiple of it. A manifest edited by hand must never move bytes it does not own.
kaldro_status chromosome_region(const ChromosomeEntry &entry, uint32_t leaf_dim,
                                uint64_t *offset, uint64_t *len);

// Reads turns.bin (path given) into `area` with capacity `cap` and checks its digest
// against "data"."body_sha256" (KALDRO_ERR_INVALID when missing, not a string or
// different). *len receives the bytes read.
// With `prefix` given, it also receives the digest of the first `keep` bytes read (or of
// all of them when fewer were read), to be continued over the bytes of a changed body.
kaldro_status body_read_verify(const char *turns_path, const kaldro_json_node *root,
                               uint8_t *area, uint64_t cap, uint64_t *len,
                               uint64_t keep = 0, BodyDigest *prefix = nullptr);

// The hex digest of a body changed after its first `kept` bytes, continued from the
// digest of those bytes; `body` and `len` are the whole new body.
void body_digest_continue(const BodyDigest &prefix, uint64_t kept, const uint8_t *body,
                          uint64_t len, char hex[65]);

// True when every entry of a chromosome list has a "label" member that is a string.
bool manifest_labels_are_strings(const kaldro_json_node *chromosomes);

// True when an entry of a chromosome list other than the one at `skip` (UINT32_MAX for
// none) has a "label" string of exactly these bytes.
bool manifest_label_taken(const kaldro_json_node *chromosomes, const uint8_t *label,
                          size_t label_len, uint32_t skip);

}  // namespace kaldro::genome
