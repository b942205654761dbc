// Internal pieces of the chromosome bundle operations shared by export and import and by
// explode and pack, which are built on them: the bundle's constant texts and the export
// of one chromosome from a catalog that is already in hand.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>

#include "genome/genome.h"

namespace kaldro::genome {

inline constexpr char kBundleSchemaId[] = "kaldro://schema/genome_chromosome/v1";
inline constexpr size_t kBundleSchemaIdLen = sizeof(kBundleSchemaId) - 1;
static_assert(kBundleSchemaIdLen == 36);
inline constexpr char kBundleRule[] = "genome_chromosome/v2";
inline constexpr char kBundleDoi[] = "10.0/kaldro.genome.chromosome";
inline constexpr char kBundleUrl[] = "https://kaldro.dev/genome/chromosome";
inline constexpr char kBundleCiteAs[] = "kaldro genome chromosome bundle (UPSTREAM \xC2\xA7" "43)";
static_assert(sizeof(kBundleCiteAs) - 1 == 47);
inline constexpr char kBundleNamePrefix[] = "kaldro chromosome bundle (";
inline constexpr char kBundlePurpose[] =
    "One self-contained, MPR-attested chromosome: its fixed-width region (CHROM cap + "
    "coupled turns) + the_one, re-importable self-verifying.";

// The builder area an export is sure to manage with when its text fits the text area:
// the bundle's nodes and arrays take under 2 KiB and the writer's stack under 256 bytes.
inline constexpr uint64_t kExportBuilderBytes = 16384;

// Bytes an export of a region of `region_len` bytes lays out before its builder area:
// the region, its hex text and the bundle text, each at a 16-byte boundary.
// UINT64_MAX when that does not fit 64 bits.
uint64_t export_areas_bytes(uint64_t region_len);

// The export of the chromosome labelled `label` from the catalog `root`: every check
// and step that follows the catalog read. The values the bundle needs are copied out of
// the catalog first, so `workspace` may hold the catalog itself (a plain export) or be
// a region of its own (explode keeps one catalog for all its exports). A caller that
// knows that entry `first` is the first with this label, if it carries it at all, says
// so and saves the search (UINT32_MAX: search).
kaldro_status export_from_catalog(const kaldro_json_node *root, const char *dir, const char *label,
                                  const char *out_path, uint8_t *workspace,
                                  uint64_t workspace_bytes, uint32_t first);

// What import takes from a bundle file it has read, parsed and verified: the decoded
// region (in the workspace), the_one, the label and leaf_dim, and where the parser's
// arena began (the workspace from there on is free again).
struct LoadedBundle {
  uint8_t *region;
  uint64_t region_len;
  uint32_t leaf_dim;
  size_t label_len;
  uint8_t label[kLabelMax + 1];
  uint8_t one[kLeafDimMax];
  char one_sha256[65];
  char region_sha256[65];
  uint64_t arena_at;
};

// Import's steps up to the genome: the bundle read into the workspace, parsed, and
// checked with every status of import for a bundle that is refused.
kaldro_status bundle_load(const char *bundle_path, uint8_t *workspace, uint64_t workspace_bytes,
                          LoadedBundle *out);

// Pack holds each bundle's file name, with its terminator, in an entry of this size.
inline constexpr size_t kBundleNameBytes = 264;

// Stable insertion sort of pack's table entries by label (NUL-terminated strings of
// unsigned bytes); each name moves with its label and equal labels keep their order.
// `scratch` (which may be too small, or null with 0 bytes) speeds up large tables.
void sort_by_label(char (*names)[kBundleNameBytes], char (*labels)[kLabelMax + 1], uint32_t m,
                   uint8_t *scratch, uint64_t scratch_bytes);

// Pack; with `batched` false every bundle is imported one by one, each import saving
// the genome, which is what the batched way must match file for file. *took_batch (when
// given) tells whether the bundles after the first were imported with one save.
kaldro_status pack_run(const char *bundle_dir, const char *dir, const uint8_t *the_one,
                       size_t the_one_len, uint8_t *workspace, uint64_t workspace_bytes,
                       bool batched, bool *took_batch);

}  // namespace kaldro::genome
