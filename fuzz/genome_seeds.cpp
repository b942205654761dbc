// Writes seed inputs for fuzz_genome and fuzz_bundle from genomes saved by the store and
// bundles exported by it: DIR/fuzz_genome/ in that target's layout (leaf_dim - 1, the
// operation, manifest length, manifest, body), DIR/fuzz_bundle/ as a selector byte and
// one bundle, or two bundles apart by a zero byte for pack.
// Usage: genome_seeds DIR
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaldro.h"

namespace {

std::vector<uint8_t> slurp(const std::string &path) {
  std::vector<uint8_t> v;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return v;
  int c;
  while ((c = fgetc(f)) != EOF) v.push_back(uint8_t(c));
  fclose(f);
  return v;
}

bool spill(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const std::string root = argv[1], work = root + "/.work-" + std::to_string(getpid());
  const std::string genome_dir = root + "/fuzz_genome", bundle_dir = root + "/fuzz_bundle";
  mkdir(root.c_str(), 0755);
  mkdir(genome_dir.c_str(), 0755);
  mkdir(bundle_dir.c_str(), 0755);
  mkdir(work.c_str(), 0755);
  int genomes = 0, bundles = 0;
  // Genomes of one to three chromosomes labelled a, b, c for a few record widths, and
  // some with the widths and labels at the edges: one-byte records (empty labels),
  // 256-byte records with a 255-byte label, labels the manifest must escape.
  struct Shape {
    uint32_t leaf_dim;
    std::vector<std::string> labels;
  };
  std::vector<Shape> shapes;
  const std::vector<std::string> abc{"a", "b", "c"};
  for (uint32_t leaf_dim : {4u, 8u, 16u})
    for (int chromosomes = 1; chromosomes <= 3; ++chromosomes)
      shapes.push_back({leaf_dim, std::vector<std::string>(abc.begin(), abc.begin() + chromosomes)});
  shapes.push_back({1, {"", ""}});
  shapes.push_back({2, {"x", "y"}});
  shapes.push_back({256, {std::string(255, 'L'), "z"}});
  shapes.push_back({12, {"q\"\\", std::string("\n\x01\x7f", 3), "\xc3\xa9\xff"}});
  for (const Shape &shape : shapes) {
    const uint32_t leaf_dim = shape.leaf_dim;
    const int chromosomes = int(shape.labels.size());
    {
      std::vector<uint8_t> body;
      for (int c = 0; c < chromosomes; ++c) {
        std::vector<uint8_t> cap(leaf_dim, 0);
        cap[0] = 'C';
        memcpy(cap.data() + 1, shape.labels[c].data(), shape.labels[c].size());
        body.insert(body.end(), cap.begin(), cap.end());
        for (int r = 0; r < 2 + c; ++r) {
          std::vector<uint8_t> rec(leaf_dim, uint8_t(r + 1));
          rec[0] = (r == 1) ? 'G' : 'L';
          body.insert(body.end(), rec.begin(), rec.end());
        }
      }
      std::vector<uint8_t> one(leaf_dim, 0x5A);
      std::vector<uint8_t> ws(size_t(kaldro_genome_arena_bytes(body.size(), 8, body.size())) + 16);
      uint8_t *aligned = reinterpret_cast<uint8_t *>((uintptr_t(ws.data()) + 15) & ~uintptr_t(15));
      const size_t ws_bytes = ws.size() - 16;
      if (kaldro_genome_save(work.c_str(), body.data(), body.size(), leaf_dim, one.data(), one.size(),
                             aligned, ws_bytes) != KALDRO_OK)
        return 1;
      const std::vector<uint8_t> m = slurp(work + "/manifest.json"), b = slurp(work + "/turns.bin");
      const std::string tag = std::to_string(leaf_dim) + "-" + std::to_string(chromosomes) +
                              (shape.labels[0] == "a" ? "" : "-edge");
      // Every operation on the saved genome, each on another label; and the body alone.
      for (int op = 0; op < 8; ++op) {
        const uint8_t sel = uint8_t(op | ((op % 4) << 3));
        std::vector<uint8_t> seed{uint8_t(leaf_dim - 1), sel, uint8_t(m.size()), uint8_t(m.size() >> 8)};
        seed.insert(seed.end(), m.begin(), m.end());
        seed.insert(seed.end(), b.begin(), b.end());
        if (!spill(genome_dir + "/saved-" + tag + "-op" + std::to_string(op), seed)) return 1;
        ++genomes;
      }
      std::vector<uint8_t> bare{uint8_t(leaf_dim - 1), 4 | 8, 0, 0};
      bare.insert(bare.end(), b.begin(), b.end());
      if (!spill(genome_dir + "/bare-" + tag, bare)) return 1;
      ++genomes;

      // The bundles of its chromosomes, for import into an empty directory or into the
      // fuzz target's genome of the same leaf_dim, and two at a time for pack.
      const uint8_t target = leaf_dim == 4 ? 0 : leaf_dim == 8 ? 1 : 2;
      std::vector<std::vector<uint8_t>> texts;
      for (int c = 0; c < chromosomes; ++c) {
        const std::string &label = shape.labels[c];
        const std::string path = work + "/" + std::to_string(c) + ".chr";
        const kaldro_status st =
            kaldro_genome_export(work.c_str(), label.c_str(), path.c_str(), nullptr, 0, aligned, ws_bytes);
        if (st == KALDRO_ERR_INVALID && label.empty()) continue;  // two chromosomes share it
        if (st != KALDRO_OK) return 1;
        texts.push_back(slurp(path));
        unlink(path.c_str());
      }
      for (size_t c = 0; c < texts.size(); ++c) {
        for (uint8_t mode = 0; mode < 2; ++mode) {
          std::vector<uint8_t> seed{uint8_t(mode | target << 2 | (c % 2) << 4)};
          seed.insert(seed.end(), texts[c].begin(), texts[c].end());
          if (!spill(bundle_dir + "/import-" + tag + "-" + char('a' + c) + "-" + char('0' + mode), seed))
            return 1;
          ++bundles;
        }
      }
      for (uint8_t mode = 2; mode < 4 && !texts.empty(); ++mode) {
        std::vector<uint8_t> seed{uint8_t(mode | target << 2)};
        seed.insert(seed.end(), texts.back().begin(), texts.back().end());
        seed.push_back(0);
        seed.insert(seed.end(), texts.front().begin(), texts.front().end());
        if (!spill(bundle_dir + "/pack-" + tag + "-" + char('0' + mode), seed)) return 1;
        ++bundles;
      }
    }
  }
  unlink((work + "/manifest.json").c_str());
  unlink((work + "/turns.bin").c_str());
  rmdir(work.c_str());
  printf("%d genome seeds, %d bundle seeds\n", genomes, bundles);
  return 0;
}
