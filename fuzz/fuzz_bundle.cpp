// Fuzzes bundle import and pack on bundle files that come from the input, into an empty
// directory or into an existing genome. Every call must answer with a status and stay
// inside its workspace; an import that succeeds must leave a genome that loads and whose
// body is the old body followed by the bundle's region; one that fails must leave the
// directory as it was; a pack, failed or not, must leave either no genome or one that
// loads; and no call may leave a temporary file behind.
// Input: a selector byte, then the bundle text; for pack the text is cut at zero bytes
// into up to four bundle files. The selector: bits 0-1 pick import or pack into an
// empty directory or an existing genome, bits 2-3 the existing genome (leaf_dim 4, 8
// or 16, or 8 without a manifest), bit 4 whether the_one is passed, bits 5-7 the
// workspace (5, 6 and 7 give a half, a quarter and a sixteenth of the full size).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaldro.h"
#include "scratch.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;  // longer inputs are cut here
constexpr int kMaxPieces = 4;

// A genome to import into: its two files as a save writes them.
struct Target {
  std::vector<uint8_t> manifest, body;
  uint32_t leaf_dim;
  bool has_manifest;
};

struct State {
  fuzz::ScratchDir root{"bundle"};
  std::string genome = root.sub("g"), bundles = root.sub("b"), saved = root.sub("s");
  std::string manifest = genome + "/manifest.json", turns = genome + "/turns.bin";
  Target targets[4];
  State() {
    // Chromosomes "m" and "n" of a few records each; the_one is 0x5A repeated, as in
    // the genomes the seed bundles come from.
    const uint32_t dims[4] = {4, 8, 16, 8};
    for (int t = 0; t < 4; ++t) {
      const uint32_t ld = dims[t];
      std::vector<uint8_t> body;
      for (int c = 0; c < 2; ++c) {
        std::vector<uint8_t> cap(ld, 0);
        cap[0] = 'C';
        cap[1] = uint8_t('m' + c);
        body.insert(body.end(), cap.begin(), cap.end());
        for (int r = 0; r < 2; ++r) body.insert(body.end(), ld, uint8_t(r == 0 ? 'L' : 'G'));
      }
      const std::vector<uint8_t> one(ld, 0x5A);
      std::vector<uint8_t> ws(size_t(kaldro_genome_arena_bytes(body.size(), 2, body.size())));
      if (kaldro_genome_save(saved.c_str(), body.data(), body.size(), ld, one.data(), ld, ws.data(),
                             ws.size()) != KALDRO_OK)
        abort();
      Target &tg = targets[t];
      tg.leaf_dim = ld;
      tg.body = body;
      tg.has_manifest = t != 3;
      std::vector<uint8_t> buf(1 << 16);
      const long n = fuzz::get_file(saved + "/manifest.json", buf.data(), buf.size());
      if (n < 0) abort();
      tg.manifest.assign(buf.begin(), buf.begin() + n);
    }
    fuzz::clear_dir(saved);
    // Names that are no bundle and that pack must pass over.
    fuzz::put_file(bundles + "/.chr", "x", 1);
    fuzz::put_file(bundles + "/skip.CHR", "x", 1);
  }
  ~State() {
    fuzz::ScratchDir::remove(genome);
    fuzz::ScratchDir::remove(bundles);
    fuzz::ScratchDir::remove(saved);
  }
};

State &state() {
  static State s;
  return s;
}

fuzz::Region<64 << 20> workspace_region;
fuzz::Region<8 * kMaxInput> scratch_region;

bool known(kaldro_status st) {
  return st == KALDRO_OK || st == KALDRO_ERR_INVALID || st == KALDRO_ERR_CAPACITY ||
         st == KALDRO_ERR_IO;
}

const char *const kGenomeFiles[] = {"manifest.json", "turns.bin", nullptr};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The region a bundle text carries in "data"."region"."hex", decoded; false when the
// text does not parse or the member is not an even run of hex digits.
bool bundle_region(const uint8_t *text, size_t len, std::vector<uint8_t> *region) {
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
  std::vector<uint64_t> arena(8192 + 64 * len);  // far more than any text needs
  kaldro_json_node *root = nullptr;
  if (kaldro_json_parse(text, len, arena.data(), arena.size() * 8, &root) != KALDRO_OK) return false;
  const kaldro_json_node *hex = kaldro_json_object_get(
      kaldro_json_object_get(kaldro_json_object_get(root, "data"), "region"), "hex");
  if (!hex || hex->kind != KALDRO_JSON_STRING || hex->len % 2 != 0) return false;
  region->resize(hex->len / 2);
  for (size_t i = 0; i < region->size(); ++i) {
    const int hi = hex_digit(hex->str[2 * i]), lo = hex_digit(hex->str[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    (*region)[i] = uint8_t(hi << 4 | lo);
  }
  return true;
}

// True when the genome directory holds no genome file, or a genome that loads.
bool empty_or_loads(const std::string &dir, const std::vector<uint8_t> &one, size_t ws_bytes) {
  uint8_t *scratch = scratch_region.take(scratch_region.capacity());
  const bool has_turns = fuzz::get_file(dir + "/turns.bin", scratch, 0) >= 0;
  const bool has_manifest = fuzz::get_file(dir + "/manifest.json", scratch, 0) >= 0;
  if (!has_turns) return !has_manifest;
  size_t len = 0;
  uint8_t *ws = workspace_region.take(ws_bytes);
  const kaldro_status st = kaldro_genome_load(dir.c_str(), scratch, scratch_region.capacity(), &len,
                                              one.data(), one.size(), ws, ws_bytes);
  return st == KALDRO_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  State &s = state();
  const unsigned mode = data[0] & 3, which = (data[0] >> 2) & 3, room = data[0] >> 5;
  const bool pass_one = (data[0] & 16) != 0;
  const bool pack = mode >= 2, existing = (mode & 1) != 0;
  const uint8_t *text = data + 1;
  const size_t text_len = size - 1;
  const Target &target = s.targets[which];
  const std::vector<uint8_t> one(target.leaf_dim, 0x5A);

  if (existing) {
    if (target.has_manifest) fuzz::put_file(s.manifest, target.manifest.data(), target.manifest.size());
    fuzz::put_file(s.turns, target.body.data(), target.body.size());
  }
  size_t ws_bytes = 64 * text_len +
                    size_t(kaldro_genome_arena_bytes(target.body.size() + text_len, 8, text_len)) +
                    16384;
  const size_t full_ws = ws_bytes;
  if (room >= 5) ws_bytes >>= room == 5 ? 1 : room == 6 ? 2 : 4;
  uint8_t *ws = workspace_region.take(ws_bytes);
  kaldro_status st;
  const uint8_t *one_arg = pass_one ? one.data() : nullptr;

  if (!pack) {
    const std::string path = s.bundles + "/in.chr";
    fuzz::put_file(path, text, text_len);
    st = kaldro_genome_import(path.c_str(), s.genome.c_str(), one_arg, one.size(), ws, ws_bytes);
    unlink(path.c_str());
    if (!known(st)) abort();
    uint8_t *scratch = scratch_region.take(scratch_region.capacity());
    if (st == KALDRO_OK) {
      // The new body is the old one followed by the region.
      std::vector<uint8_t> want = existing ? target.body : std::vector<uint8_t>();
      std::vector<uint8_t> region;
      if (!bundle_region(text, text_len, &region)) abort();
      want.insert(want.end(), region.begin(), region.end());
      if (!fuzz::file_is(s.turns, want.data(), want.size(), scratch, scratch_region.capacity()))
        abort();
      if (!empty_or_loads(s.genome, one, full_ws)) abort();
    } else if (existing) {
      // A refused import leaves the genome as it was.
      if (!fuzz::file_is(s.turns, target.body.data(), target.body.size(), scratch,
                         scratch_region.capacity()))
        abort();
      if (target.has_manifest
              ? !fuzz::file_is(s.manifest, target.manifest.data(), target.manifest.size(), scratch,
                               scratch_region.capacity())
              : fuzz::get_file(s.manifest, scratch, 0) >= 0)
        abort();
    } else if (fuzz::count_entries(s.genome, nullptr) != 0) {
      abort();  // nothing written
    }
  } else {
    // The pieces between zero bytes, each a bundle file of its own.
    std::vector<std::string> written;
    size_t start = 0;
    for (int piece = 0; piece < kMaxPieces && start <= text_len; ++piece) {
      const uint8_t *zero = static_cast<const uint8_t *>(memchr(text + start, 0, text_len - start));
      const size_t end = zero ? size_t(zero - text) : text_len;
      const size_t stop = piece == kMaxPieces - 1 ? text_len : end;
      written.push_back(s.bundles + "/p" + std::to_string(piece) + ".chr");
      fuzz::put_file(written.back(), text + start, stop - start);
      if (!zero) break;
      start = end + 1;
    }
    st = kaldro_genome_pack(s.bundles.c_str(), s.genome.c_str(), one_arg, one.size(), ws, ws_bytes);
    if (!known(st)) abort();
    for (const std::string &w : written) unlink(w.c_str());
    // Pack stops at the first failing import; those before it stay.
    if (!empty_or_loads(s.genome, one, full_ws)) abort();
    if (fuzz::count_entries(s.bundles, nullptr) != 2) abort();
  }
  if (fuzz::count_entries(s.genome, kGenomeFiles) < 0) abort();  // a temporary file left
  unlink(s.manifest.c_str());
  unlink(s.turns.c_str());
  return 0;
}
