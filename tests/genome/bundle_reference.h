// An independent model of chromosome bundles for the bundle tests: the bundle document
// of a region built with the tests' own canonical writer and OpenSSL's SHA-256, and a
// small genome fixture on a real directory.
#pragma once

#include <kaldro.h>

#include "store_reference.h"

namespace bundle_ref {

using namespace store_ref;
using P = std::pair<std::string, Json>;

// The bundle document of a region (one chromosome) of a genome with this the_one.
inline Json bundle_tree(const Bytes &region, uint32_t leaf_dim, const Bytes &the_one) {
  const std::vector<Entry> e = scan(region, leaf_dim);
  const std::string region_sha = sha256_hex(region);
  Json data = Json::obj({
      P("cap_sha256", Json::str(e.at(0).cap_sha256)),
      P("format_version", Json::num(2)),
      P("label", Json::str(e.at(0).label)),
      P("leaf_count", Json::num(int64_t(e.at(0).leaf_count))),
      P("leaf_dim", Json::num(leaf_dim)),
      P("region", Json::obj({P("hex", Json::str(hex_of(region))), P("sha256", Json::str(region_sha))})),
      P("the_one", Json::obj({P("hex", Json::str(hex_of(the_one))),
                              P("sha256", Json::str(sha256_hex(the_one)))})),
  });
  Json attestation = Json::obj({
      P("collector_descriptor_hash",
        Json::str(sha256_hex(std::string("kaldro://schema/genome_chromosome/v1")))),
      P("collector_descriptor_path", Json::str("kaldro/amsc/genome")),
      P("license", Json::str("CC0")),
      P("parser_rule_hash", Json::str(sha256_hex(std::string("genome_chromosome/v2")))),
      P("parser_version", Json::str("kaldro 0.8.2")),
      P("response_sha256", Json::str(region_sha)),
      P("retrieved_at", Json::str("1970-01-01T00:00:00Z")),
      P("source_doi", Json::str("10.0/kaldro.genome.chromosome")),
      P("source_url", Json::str("https://kaldro.dev/genome/chromosome")),
  });
  Json rendering = Json::obj({
      P("cite_as", Json::str("kaldro genome chromosome bundle (UPSTREAM \xC2\xA7" "43)")),
      P("human_readable_name", Json::str("kaldro chromosome bundle (" + e.at(0).label + ")")),
      P("purpose", Json::str("One self-contained, MPR-attested chromosome: its fixed-width region "
                             "(CHROM cap + coupled turns) + the_one, re-importable self-verifying.")),
  });
  return Json::obj({P("attestation", attestation), P("data", data),
                    P("data_schema_id", Json::str("kaldro://schema/genome_chromosome/v1")),
                    P("mpr_version", Json::str("1.0")), P("rendering", rendering)});
}

inline std::string bundle_file(const Bytes &region, uint32_t leaf_dim, const Bytes &the_one) {
  return canonical(bundle_tree(region, leaf_dim, the_one)) + "\n";
}

// The member `key` of an object (which must have it).
inline Json &member(Json &obj, const std::string &key) {
  for (auto &m : obj.members)
    if (m.first == key) return m.second;
  obj.members.push_back(P(key, Json::str("")));
  return obj.members.back().second;
}
inline void drop(Json &obj, const std::string &key) {
  for (size_t i = 0; i < obj.members.size(); ++i)
    if (obj.members[i].first == key) obj.members.erase(obj.members.begin() + long(i));
}

// The two files of a genome and every other name in its directory.
struct Snapshot {
  std::optional<std::string> turns, manifest;
  std::vector<std::string> names;
  bool operator==(const Snapshot &) const = default;
};
inline Snapshot snapshot(const TempDir &d) {
  return {read_file(d.file("turns.bin")), read_file(d.file("manifest.json")), list_dir(d.path)};
}

inline uint64_t ws_bytes_for(uint64_t body, uint32_t chromosomes, uint64_t region) {
  return kaldro_genome_arena_bytes(body, chromosomes, region);
}

inline kaldro_status save_body(const TempDir &d, const Bytes &body, uint32_t ld, const Bytes &one) {
  Workspace ws(ws_bytes_for(body.size(), uint32_t(body.size() / ld + 1), 0));
  return kaldro_genome_save(d.c_str(), body.empty() ? nullptr : body.data(), body.size(), ld,
                            one.data(), one.size(), ws.p, ws.n);
}

}  // namespace bundle_ref
