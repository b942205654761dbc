// The checks behind `kaldro genome verify`: the manifest's form, the body digest, and
// every chromosome entry against the records of the body (offset, length, leaf count,
// label, cap digest), each problem reported on its own.
#include "genome_tool.h"

#include <cinttypes>
#include <cstring>

namespace tool {
namespace {

const char kGenomeSchema[] = "kaldro://schema/genome_manifest/v1";

std::string hex_of(const uint8_t *data, std::size_t len) {
  char hex[65];
  kaldro_sha256_hex(len ? data : nullptr, len, hex);
  return hex;
}

// One chromosome as the body's records give it.
struct Scanned {
  uint64_t offset, length, leaves;
  std::string label;
};

}  // namespace

GenomeReport verify_genome(const std::string &dir, const std::vector<uint8_t> *the_one) {
  GenomeReport r;
  std::vector<std::string> &p = r.problems;
  uint64_t size = 0;
  const bool has_body = file_size(dir + "/turns.bin", size);
  const bool has_manifest = file_size(dir + "/manifest.json", size);
  if (!has_body && !has_manifest) return r;
  r.is_genome = true;
  if (!has_manifest) p.push_back("manifest.json is missing");
  if (!has_body) p.push_back("turns.bin is missing");

  std::vector<uint8_t> body;
  std::string error;
  bool body_read = false;
  if (has_body) {
    body_read = read_file(dir + "/turns.bin", body, error);
    if (!body_read) p.push_back("turns.bin cannot be read: " + error);
  }
  r.body_bytes = body.size();
  if (!has_manifest) return r;

  std::vector<uint8_t> text;
  if (!read_file(dir + "/manifest.json", text, error)) {
    p.push_back("manifest.json cannot be read: " + error);
    return r;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::vector<uint64_t> arena;
  const kaldro_json_node *root = nullptr;
  const kaldro_status st = parse_json(text, arena, &root);
  if (st != KALDRO_OK) {
    p.push_back(std::string("manifest.json is not a JSON document (") + status_name(st) + ")");
    return r;
  }
  const kaldro_json_node *schema = json_get(root, "data_schema_id", KALDRO_JSON_STRING);
  if (schema == nullptr || json_string(schema) != kGenomeSchema)
    p.push_back(std::string("manifest.json does not name the schema ") + kGenomeSchema);
  const kaldro_json_node *data = json_get(root, "data", KALDRO_JSON_OBJECT);
  if (data == nullptr) {
    p.push_back("manifest.json has no \"data\" object");
    return r;
  }
  const kaldro_json_node *ld = json_get(data, "leaf_dim", KALDRO_JSON_INT);
  if (ld == nullptr || ld->integer < 1 || ld->integer > 256) {
    p.push_back("the manifest's leaf_dim is missing or outside 1 to 256");
    return r;
  }
  const uint32_t leaf_dim = uint32_t(ld->integer);

  // The body as a whole.
  const kaldro_json_node *body_digest = json_get(data, "body_sha256", KALDRO_JSON_STRING);
  if (body_digest == nullptr) {
    p.push_back("the manifest has no body digest (body_sha256)");
  } else if (body_read && json_string(body_digest) != hex_of(body.data(), body.size())) {
    p.push_back("the body digest does not match: the manifest lists " +
                printable(body_digest->str, body_digest->len) + ", turns.bin has " +
                hex_of(body.data(), body.size()));
  }
  const kaldro_json_node *attested = json_get(
      json_get(root, "attestation", KALDRO_JSON_OBJECT), "response_sha256", KALDRO_JSON_STRING);
  if (body_digest != nullptr && (attested == nullptr || json_string(attested) != json_string(body_digest)))
    p.push_back("the attestation's response_sha256 differs from the body digest");
  if (body_read && body.size() % leaf_dim != 0)
    p.push_back("turns.bin holds " + std::to_string(body.size()) +
                " bytes, not a whole number of " + std::to_string(leaf_dim) + "-byte records");
  const kaldro_json_node *turns = json_get(data, "n_turns", KALDRO_JSON_INT);
  if (body_read && (turns == nullptr || uint64_t(turns->integer) != body.size() / leaf_dim))
    p.push_back("the manifest's n_turns is not the body's record count " +
                std::to_string(body.size() / leaf_dim));
  if (body_read && !body.empty() && body[0] != 'C')
    p.push_back("the body does not begin with a cap record");

  // the_one.
  const kaldro_json_node *one = json_get(data, "the_one", KALDRO_JSON_OBJECT);
  const kaldro_json_node *one_hex = json_get(one, "hex", KALDRO_JSON_STRING);
  const kaldro_json_node *one_sha = json_get(one, "sha256", KALDRO_JSON_STRING);
  std::vector<uint8_t> one_bytes;
  if (one_hex == nullptr || one_sha == nullptr) {
    p.push_back("the manifest's the_one lacks its hex text or digest");
  } else if (!parse_hex(json_string(one_hex).c_str(), one_bytes) || one_bytes.size() != leaf_dim) {
    p.push_back("the manifest's the_one is not " + std::to_string(leaf_dim) + " bytes of hex text");
  } else {
    if (json_string(one_sha) != hex_of(one_bytes.data(), one_bytes.size()))
      p.push_back("the_one's digest does not match its hex text");
    if (the_one != nullptr && *the_one != one_bytes)
      p.push_back("the genome's the_one is not the one given");
  }

  // Chromosomes: the body's own records against the manifest's entries.
  std::vector<Scanned> scanned;
  if (body_read) {
    for (uint64_t at = 0; at + leaf_dim <= body.size(); at += leaf_dim) {
      const uint8_t tag = body[at];
      if (tag == 'C') {
        scanned.push_back({at, leaf_dim, 0, cap_label(body.data() + at, leaf_dim)});
      } else if (!scanned.empty()) {
        scanned.back().length += leaf_dim;
        scanned.back().leaves += tag != 'G';
      }
    }
  }
  const kaldro_json_node *chroms = json_get(data, "chromosomes", KALDRO_JSON_ARRAY);
  if (chroms == nullptr) {
    p.push_back("the manifest has no chromosome list");
    return r;
  }
  r.chromosomes = chroms->count;
  if (body_read && scanned.size() != chroms->count)
    p.push_back("the body holds " + std::to_string(scanned.size()) +
                " cap records but the manifest lists " + std::to_string(chroms->count) +
                " chromosomes");
  for (uint32_t i = 0; i < chroms->count; ++i) {
    const kaldro_json_node *c = chroms->items[i];
    const kaldro_json_node *label = json_get(c, "label", KALDRO_JSON_STRING);
    const kaldro_json_node *off = json_get(c, "byte_offset", KALDRO_JSON_INT);
    const kaldro_json_node *len = json_get(c, "byte_len", KALDRO_JSON_INT);
    const kaldro_json_node *leaves = json_get(c, "leaf_count", KALDRO_JSON_INT);
    const kaldro_json_node *cap = json_get(c, "cap_sha256", KALDRO_JSON_STRING);
    const std::string name = "chromosome " + std::to_string(i) +
                             (label ? " '" + printable(label->str, label->len) + "'" : "");
    if (label == nullptr || off == nullptr || len == nullptr || leaves == nullptr || cap == nullptr) {
      p.push_back(name + ": entry lacks a label, byte_offset, byte_len, leaf_count or cap_sha256");
      continue;
    }
    for (uint32_t j = 0; j < i; ++j)
      if (json_string(json_get(chroms->items[j], "label", KALDRO_JSON_STRING)) == json_string(label)) {
        p.push_back(name + ": label also used by chromosome " + std::to_string(j));
        break;
      }
    if (!body_read) continue;
    if (off->integer < 0 || len->integer < int64_t(leaf_dim) ||
        uint64_t(off->integer) % leaf_dim != 0 || uint64_t(len->integer) % leaf_dim != 0 ||
        uint64_t(off->integer) > body.size() ||
        uint64_t(len->integer) > body.size() - uint64_t(off->integer)) {
      p.push_back(name + ": region at " + std::to_string(off->integer) + " of " +
                  std::to_string(len->integer) + " bytes is not whole records within the body");
      continue;
    }
    const uint8_t *rec = body.data() + off->integer;
    if (rec[0] != 'C') {
      p.push_back(name + ": no cap record at byte " + std::to_string(off->integer));
      continue;
    }
    if (json_string(cap) != hex_of(rec, leaf_dim))
      p.push_back(name + ": cap digest does not match the cap record at byte " +
                  std::to_string(off->integer));
    if (cap_label(rec, leaf_dim) != json_string(label))
      p.push_back(name + ": the cap record carries the label '" +
                  printable(cap_label(rec, leaf_dim).data(), cap_label(rec, leaf_dim).size()) + "'");
    const Scanned *s = nullptr;
    for (const Scanned &x : scanned)
      if (x.offset == uint64_t(off->integer)) s = &x;
    if (s != nullptr && s->length != uint64_t(len->integer))
      p.push_back(name + ": byte_len " + std::to_string(len->integer) + ", the body's records give " +
                  std::to_string(s->length));
    if (s != nullptr && s->leaves != uint64_t(leaves->integer))
      p.push_back(name + ": leaf_count " + std::to_string(leaves->integer) +
                  ", the body's records give " + std::to_string(s->leaves));
    if (i < scanned.size() && scanned[i].offset != uint64_t(off->integer))
      p.push_back(name + ": listed at byte " + std::to_string(off->integer) +
                  ", but the body's cap number " + std::to_string(i) + " is at byte " +
                  std::to_string(scanned[i].offset));
  }
  return r;
}

}  // namespace tool
