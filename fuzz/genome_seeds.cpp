// Writes seed inputs for fuzz_genome: genomes saved by the store itself, in the fuzz
// target's input layout (leaf_dim - 1, manifest length, manifest, body).
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

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  std::string work = std::string(argv[1]) + "/.work";
  mkdir(argv[1], 0755);
  mkdir(work.c_str(), 0755);
  int made = 0;
  for (uint32_t leaf_dim : {4u, 8u, 16u}) {
    for (int chromosomes = 1; chromosomes <= 3; ++chromosomes) {
      std::vector<uint8_t> body;
      for (int c = 0; c < chromosomes; ++c) {
        std::vector<uint8_t> cap(leaf_dim, 0);
        cap[0] = 'C';
        cap[1] = uint8_t('a' + c);
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
      if (kaldro_genome_save(work.c_str(), body.data(), body.size(), leaf_dim, one.data(), one.size(),
                             aligned, ws.size() - 16) != KALDRO_OK)
        return 1;
      std::vector<uint8_t> m = slurp(work + "/manifest.json"), b = slurp(work + "/turns.bin");
      std::vector<uint8_t> seed{uint8_t(leaf_dim - 1), uint8_t(m.size()), uint8_t(m.size() >> 8)};
      seed.insert(seed.end(), m.begin(), m.end());
      seed.insert(seed.end(), b.begin(), b.end());
      std::string name = std::string(argv[1]) + "/saved-" + std::to_string(leaf_dim) + "-" +
                         std::to_string(chromosomes);
      FILE *f = fopen(name.c_str(), "wb");
      if (!f || fwrite(seed.data(), 1, seed.size(), f) != seed.size()) return 1;
      fclose(f);
      ++made;
    }
  }
  unlink((work + "/manifest.json").c_str());
  unlink((work + "/turns.bin").c_str());
  rmdir(work.c_str());
  printf("%d genome seeds\n", made);
  return 0;
}
