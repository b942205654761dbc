// What the genome commands share: a probe of a genome directory that sizes workspaces
// (body size, chromosome count, largest region), the the_one options, and the checks of
// `kaldro genome verify`.
#pragma once

#include "tool.h"

#include <string>
#include <vector>

namespace tool {

const kaldro_json_node *json_get(const kaldro_json_node *obj, const char *key, int kind);
std::string json_string(const kaldro_json_node *v);
// The label a cap record carries: bytes 1 to leaf_dim - 1 up to the first zero byte.
std::string cap_label(const uint8_t *record, uint32_t leaf_dim);

// The sizes of a genome directory, read without the library's workspace: they decide
// how large a workspace the genome operations are given.
struct GenomeProbe {
  std::string dir;
  bool has_body = false, has_manifest = false;
  uint64_t body_size = 0, manifest_size = 0, max_region = 0;
  uint32_t leaf_dim = 0, chromosomes = 0;
  std::vector<uint8_t> stored_the_one;  // decoded from the manifest, when it has one
  std::vector<uint64_t> manifest_arena;
  const kaldro_json_node *manifest = nullptr;

  bool load(const std::string &dir, const std::vector<uint8_t> *the_one_given);
  // The workspace for an operation that adds `extra_body` bytes and
  // `extra_chromosomes` chromosomes, carrying regions of up to `region` bytes.
  uint64_t workspace_bytes(uint64_t extra_body, uint32_t extra_chromosomes, uint64_t region) const;
};

// The genome's the_one from --the-one HEX or --the-one-file FILE.
struct TheOne {
  std::vector<uint8_t> bytes;
  bool given = false;
  // kExitOk, or the exit status of a usage or read error already reported.
  int read(const Args &args, const char *cmd);
  const std::vector<uint8_t> *given_bytes() const { return given ? &bytes : nullptr; }
};

bool parse_leaf_dim(const Args &args, uint32_t &leaf_dim, bool &given);

struct GenomeReport {
  bool is_genome = false;
  uint32_t chromosomes = 0;
  uint64_t body_bytes = 0;
  std::vector<std::string> problems;
};

// Checks a genome directory and lists every problem found.
GenomeReport verify_genome(const std::string &dir, const std::vector<uint8_t> *the_one);

}  // namespace tool
