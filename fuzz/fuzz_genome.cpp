// Fuzzes the genome store on a directory whose "manifest.json" and "turns.bin" come
// from the input: catalog, load and window on every label the body names, then one
// edit, export or explode chosen by the input. Every call must answer with a status and
// stay inside its buffers; a refused edit must leave both files as they were; a
// successful edit must leave a genome that loads and verifies; an exported bundle must
// import into an empty directory as a genome whose body is the chromosome's region; and
// no call may leave a temporary file behind.
// Input: leaf_dim - 1 (1 byte), the operation (1 byte), the manifest's length (2 bytes,
// little-endian), the manifest, then the body. The operation byte: bits 0-2 pick the
// call (append, remove, replace, replace by nothing, export, explode, append of a
// region without a cap, reads only), bits 3-4 the label, bits 5-7 the workspace (5, 6
// and 7 give a half, a quarter and a sixteenth of the full size).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaldro.h"
#include "scratch.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;  // longer inputs are cut here

struct Dirs {
  fuzz::ScratchDir root{"genome"};
  std::string genome = root.sub("g"), out = root.sub("o"), empty = root.sub("e");
  std::string manifest = genome + "/manifest.json", turns = genome + "/turns.bin";
  ~Dirs() {
    fuzz::ScratchDir::remove(genome);
    fuzz::ScratchDir::remove(out);
    fuzz::ScratchDir::remove(empty);
  }
};

Dirs &dirs() {
  static Dirs d;
  return d;
}

// Workspace, outputs and read-back scratch, each poisoned past what is handed out.
fuzz::Region<64 << 20> workspace_region;
fuzz::Region<4 * kMaxInput> out_region;
fuzz::Region<8 * kMaxInput> scratch_region;

bool known(kaldro_status st) {
  return st == KALDRO_OK || st == KALDRO_ERR_INVALID || st == KALDRO_ERR_CAPACITY ||
         st == KALDRO_ERR_IO;
}

const char *const kGenomeFiles[] = {"manifest.json", "turns.bin", nullptr};

// The genome directory holds the two files and nothing else (no temporary file left).
void check_no_leftovers() {
  const int n = fuzz::count_entries(dirs().genome, kGenomeFiles);
  if (n < 0) abort();
}

// Both files as the input gave them (no manifest at all when its length is 0).
bool unchanged(const uint8_t *manifest, size_t mlen, const uint8_t *body, size_t body_len) {
  uint8_t *scratch = scratch_region.take(scratch_region.capacity());
  const bool manifest_same =
      mlen == 0 ? fuzz::get_file(dirs().manifest, scratch, 1) == -1
                : fuzz::file_is(dirs().manifest, manifest, mlen, scratch, scratch_region.capacity());
  return manifest_same &&
         fuzz::file_is(dirs().turns, body, body_len, scratch, scratch_region.capacity());
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True when the manifest text carries a the_one that a bundle can be checked against:
// "data"."the_one"."hex" decodes to "data"."leaf_dim" bytes whose digest is its
// "sha256". Bundles copy these strings, so only then can an exported bundle import.
bool manifest_one_consistent(const uint8_t *text, size_t len) {
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
  std::vector<uint64_t> arena(8192 + 64 * len);  // far more than any text needs
  kaldro_json_node *root = nullptr;
  if (kaldro_json_parse(text, len, arena.data(), arena.size() * 8, &root) != KALDRO_OK) return false;
  const kaldro_json_node *data = kaldro_json_object_get(root, "data");
  const kaldro_json_node *ld = kaldro_json_object_get(data, "leaf_dim");
  const kaldro_json_node *one = kaldro_json_object_get(data, "the_one");
  const kaldro_json_node *hex = kaldro_json_object_get(one, "hex");
  const kaldro_json_node *sha = kaldro_json_object_get(one, "sha256");
  if (!ld || ld->kind != KALDRO_JSON_INT || !hex || hex->kind != KALDRO_JSON_STRING || !sha ||
      sha->kind != KALDRO_JSON_STRING || hex->len % 2 != 0 || int64_t(hex->len / 2) != ld->integer)
    return false;
  std::vector<uint8_t> bytes(hex->len / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int hi = hex_digit(hex->str[2 * i]), lo = hex_digit(hex->str[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = uint8_t(hi << 4 | lo);
  }
  char digest[65];
  kaldro_sha256_hex(bytes.data(), bytes.size(), digest);
  return sha->len == 64 && memcmp(sha->str, digest, 64) == 0;
}

// After a successful edit the genome verifies as a whole.
void check_loads(const uint8_t *one, uint32_t leaf_dim, size_t ws_bytes) {
  uint8_t *ws = workspace_region.take(ws_bytes);
  uint8_t *body = scratch_region.take(scratch_region.capacity());
  size_t len = 0;
  const kaldro_status st = kaldro_genome_load(dirs().genome.c_str(), body, scratch_region.capacity(),
                                              &len, one, leaf_dim, ws, ws_bytes);
  if (st != KALDRO_OK && st != KALDRO_ERR_CAPACITY) abort();
}

// An exported bundle imports into an empty directory as a genome whose body is the
// chromosome's region, as window reads it, when the manifest's the_one it copies is
// sound; otherwise import refuses it.
void check_bundle(const std::string &bundle, const char *label, bool one_ok, const uint8_t *one,
                  uint32_t one_len, size_t ws_bytes) {
  fuzz::clear_dir(dirs().empty);
  uint8_t *region = out_region.take(out_region.capacity());
  size_t region_len = 0;
  uint8_t *ws = workspace_region.take(ws_bytes);
  if (kaldro_genome_window(dirs().genome.c_str(), label, region, out_region.capacity(), &region_len,
                           one, one_len, ws, ws_bytes) != KALDRO_OK)
    abort();  // export found and checked this chromosome
  std::vector<uint8_t> want(region, region + region_len);
  const size_t import_ws = 96 * want.size() + (1 << 20);
  ws = workspace_region.take(import_ws);
  const kaldro_status st =
      kaldro_genome_import(bundle.c_str(), dirs().empty.c_str(), nullptr, 0, ws, import_ws);
  if (st != (one_ok ? KALDRO_OK : KALDRO_ERR_INVALID)) abort();
  uint8_t *scratch = scratch_region.take(scratch_region.capacity());
  if (one_ok && !fuzz::file_is(dirs().empty + "/turns.bin", want.data(), want.size(), scratch,
                               scratch_region.capacity()))
    abort();
  fuzz::clear_dir(dirs().empty);
}

// The bundles of a successful explode pack into an empty directory as a genome that
// loads, when the_one they carry is sound.
void check_pack(bool one_ok, size_t body_len) {
  fuzz::clear_dir(dirs().empty);
  const size_t pack_ws = 200 * body_len + (1 << 20);
  uint8_t *ws = workspace_region.take(pack_ws);
  kaldro_status st =
      kaldro_genome_pack(dirs().out.c_str(), dirs().empty.c_str(), nullptr, 0, ws, pack_ws);
  // A genome without chromosomes explodes into nothing, and nothing does not pack.
  if (fuzz::count_entries(dirs().out, nullptr) == 0) {
    if (st != KALDRO_ERR_INVALID) abort();
  } else if (one_ok) {
    if (st != KALDRO_OK) abort();
    uint8_t *body = scratch_region.take(scratch_region.capacity());
    size_t len = 0;
    ws = workspace_region.take(pack_ws);
    if (kaldro_genome_load(dirs().empty.c_str(), body, scratch_region.capacity(), &len, nullptr, 0,
                           ws, pack_ws) != KALDRO_OK || len > body_len)
      abort();
  } else if (st != KALDRO_ERR_INVALID) {
    abort();
  }
  fuzz::clear_dir(dirs().empty);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4 || size > kMaxInput) return 0;
  const uint32_t leaf_dim = uint32_t(data[0]) + 1;
  const unsigned op = data[1] & 7, pick = (data[1] >> 3) & 3, room = data[1] >> 5;
  size_t mlen = data[2] | size_t(data[3]) << 8;
  if (4 + mlen > size) mlen = size - 4;
  const uint8_t *manifest = data + 4, *body = data + 4 + mlen;
  const size_t body_len = size - 4 - mlen;
  const std::vector<uint8_t> one(leaf_dim, 0x5A);
  const Dirs &d = dirs();

  // Labels to ask for: those of the body's cap records, and one that is absent.
  std::vector<std::string> labels{"absent"};
  size_t caps = 0;
  for (size_t off = 0; off + leaf_dim <= body_len; off += leaf_dim) {
    if (body[off] != 'C') continue;
    ++caps;
    if (labels.size() < 4)
      labels.emplace_back(reinterpret_cast<const char *>(body + off + 1),
                          strnlen(reinterpret_cast<const char *>(body + off + 1), leaf_dim - 1));
  }

  // The region the edits add: a cap labelled "fz" and one leaf record (or, for the
  // append without a cap, two leaf records).
  std::vector<uint8_t> region(2 * size_t(leaf_dim), 0);
  region[0] = op == 6 ? 'x' : 'C';
  memcpy(region.data() + 1, "fz", leaf_dim > 2 ? 2 : leaf_dim - 1);
  region[leaf_dim] = 'L';

  size_t ws_bytes = size_t(kaldro_genome_arena_bytes(body_len + region.size(), uint32_t(caps + 2),
                                                      body_len + region.size())) +
                    48 * mlen;
  if (room >= 5) ws_bytes >>= room == 5 ? 1 : room == 6 ? 2 : 4;
  if (ws_bytes > workspace_region.capacity()) return 0;

  // A manifest of length 0 is no manifest: the catalog is then rebuilt from the body.
  if (mlen > 0)
    fuzz::put_file(d.manifest, manifest, mlen);
  else
    unlink(d.manifest.c_str());
  fuzz::put_file(d.turns, body, body_len);

  // Reads.
  uint8_t *ws = workspace_region.take(ws_bytes);
  const kaldro_json_node *root = nullptr;
  if (!known(kaldro_genome_catalog(d.genome.c_str(), one.data(), one.size(), ws, ws_bytes, &root)))
    abort();
  uint8_t *out = out_region.take(body_len + 1);
  size_t len = 0;
  kaldro_status st = kaldro_genome_load(d.genome.c_str(), out, body_len + 1, &len, one.data(),
                                        one.size(), ws, ws_bytes);
  if (!known(st) || (st == KALDRO_OK && len != body_len)) abort();
  for (const std::string &label : labels) {
    len = 0;
    out = out_region.take(body_len);
    st = kaldro_genome_window(d.genome.c_str(), label.c_str(), out, body_len, &len, one.data(),
                              one.size(), ws, ws_bytes);
    if (!known(st) || len > body_len) abort();
    // A verified window is a run of the body's bytes.
    if (st == KALDRO_OK && (len == 0 || memmem(body, body_len, out, len) == nullptr)) abort();
  }
  check_no_leftovers();
  if (op == 7) return 0;

  // One edit, export or explode.
  const std::string &label = labels[pick % labels.size()];
  ws = workspace_region.take(ws_bytes);
  const std::string bundle = d.out + "/one.chr";
  switch (op) {
    case 0:
    case 6:
      st = kaldro_genome_append(d.genome.c_str(), "fz", region.data(), region.size(), leaf_dim,
                                one.data(), one.size(), ws, ws_bytes);
      break;
    case 1:
      st = kaldro_genome_remove(d.genome.c_str(), label.c_str(), one.data(), one.size(), ws,
                                ws_bytes);
      break;
    case 2:
    case 3:
      st = kaldro_genome_replace(d.genome.c_str(), label.c_str(), region.data(),
                                 op == 2 ? region.size() : 0, leaf_dim, one.data(), one.size(), ws,
                                 ws_bytes);
      break;
    case 4:
      st = kaldro_genome_export(d.genome.c_str(), label.c_str(), bundle.c_str(),
                                (pick & 1) ? one.data() : nullptr, one.size(), ws, ws_bytes);
      break;
    default:
      st = kaldro_genome_explode(d.genome.c_str(), d.out.c_str(), (pick & 1) ? one.data() : nullptr,
                                 one.size(), ws, ws_bytes);
      break;
  }
  if (!known(st)) abort();
  check_no_leftovers();
  if (op == 4 || op == 5) {
    // Reads leave the genome alone; an exported bundle imports again.
    if (!unchanged(manifest, mlen, body, body_len)) abort();
    if (st == KALDRO_OK) {
      const bool one_ok = mlen == 0 || manifest_one_consistent(manifest, mlen);
      if (op == 4)
        check_bundle(bundle, label.c_str(), one_ok, one.data(), leaf_dim, ws_bytes);
      else
        check_pack(one_ok, body_len);
    }
    fuzz::clear_dir(d.out);
  } else if (st == KALDRO_OK) {
    check_loads(one.data(), leaf_dim, ws_bytes);
  } else if (st != KALDRO_ERR_IO) {
    // A refused edit leaves both files as they were.
    if (!unchanged(manifest, mlen, body, body_len)) abort();
  }
  return 0;
}
