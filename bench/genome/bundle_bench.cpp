// Chromosome bundles: export and import of one 64 MiB chromosome, each against a
// baseline that writes its output bytes and digests its input once with OpenSSL, and
// explode and pack of genomes of 1 000 and 10 000 small chromosomes. Bundles and
// genomes live in $KALDRO_BENCH_DIR (default /tmp, on disk; /dev/shm leaves the disk
// out). KALDRO_BENCH_ROUNDS sets the rounds (medians are shown), and
// KALDRO_BENCH_PACK_CHROMOSOMES one genome size for explode and pack instead of both.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <kaldro.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "genome_bench.h"
#include "ratio.h"

namespace {

using namespace genome_bench;

// One chromosome of `bytes` bytes of records of `leaf_dim`: a cap, then leaves.
std::vector<uint8_t> make_chromosome(size_t bytes, uint32_t leaf_dim, const char *label) {
  std::vector<uint8_t> r(bytes / leaf_dim * leaf_dim);
  uint64_t x = 0x9e3779b97f4a7c15ull;
  for (size_t i = 0; i < r.size(); ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    r[i] = uint8_t(x);
  }
  for (size_t off = 0; off < r.size(); off += leaf_dim)
    if (r[off] == 'C') r[off] = 'x';
  memset(r.data(), 0, leaf_dim);
  r[0] = 'C';
  memcpy(r.data() + 1, label, strlen(label));
  return r;
}

// Export writes its bundle as a plain file; import saves a genome, durably. Each
// baseline does with the same bytes what the operation must at least do, and syncs
// what the operation syncs: export's reads the region, digests it with OpenSSL and
// writes a file of the bundle's size; import's reads the bundle, digests the region and
// writes it durably (temporary file, fsync, rename, directory fsync).
void export_import_64mib() {
  const uint32_t ld = 64;
  const std::vector<uint8_t> region = make_chromosome(64u << 20, ld, "big");
  const std::vector<uint8_t> one(ld, 7);
  const std::string g = bench_dir("bundle_src"), h = bench_dir("bundle_dst");
  const std::string chr = g + ".chr";
  Buffer ws(kaldro_genome_arena_bytes(region.size(), 1, region.size()));
  if (kaldro_genome_save(g.c_str(), region.data(), region.size(), ld, one.data(), ld, ws.p, ws.n) != KALDRO_OK)
    abort();
  const int dfd = open(h.c_str(), O_RDONLY | O_DIRECTORY);
  std::vector<double> ex, im, base_ex, base_im;
  std::vector<char> hex(2 * region.size());
  for (int r = 0, rounds = env_int("KALDRO_BENCH_ROUNDS", 3); r < rounds; ++r) {
    syncfs(dfd);
    double t = now();
    if (kaldro_genome_export(g.c_str(), "big", chr.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK) abort();
    ex.push_back(now() - t);
    unlink((h + "/turns.bin").c_str());
    unlink((h + "/manifest.json").c_str());
    syncfs(dfd);
    t = now();
    if (kaldro_genome_import(chr.c_str(), h.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK) abort();
    im.push_back(now() - t);
    unsigned char d[32];
    syncfs(dfd);
    t = now();
    {
      FILE *f = fopen((g + "/turns.bin").c_str(), "rb");
      std::vector<uint8_t> in(region.size());
      (void)!fread(in.data(), 1, in.size(), f);
      fclose(f);
      SHA256(in.data(), in.size(), d);
      write_file(g + ".base", hex.data(), hex.size(), false);
    }
    base_ex.push_back(now() - t);
    syncfs(dfd);
    t = now();
    {
      FILE *f = fopen(chr.c_str(), "rb");
      std::vector<uint8_t> in(hex.size() + 4096);
      (void)!fread(in.data(), 1, in.size(), f);
      fclose(f);
      SHA256(region.data(), region.size(), d);
      write_file(h + "/base.bin", region.data(), region.size(), true);
    }
    base_im.push_back(now() - t);
  }
  close(dfd);
  printf("export and import of one 64 MiB chromosome (bundle %.0f MiB):\n", 2.0 * region.size() / (1 << 20));
  show("genome_export", ex);
  show("read + OpenSSL digest + write 128 MiB (baseline)", base_ex);
  show("genome_import into an empty directory", im);
  show("read 128 MiB + OpenSSL digest + durable write (baseline)", base_im);
  bench::print_ratio("genome_export_64MiB", "read_sha256_write", median(ex), median(base_ex));
  bench::print_ratio("genome_import_64MiB", "read_sha256_durable_write", median(im), median(base_im));
  unlink(chr.c_str());
  unlink((g + ".base").c_str());
  remove_tree(g);
  remove_tree(h);
}

// Explode and pack of n chromosomes of four 16-byte records, and, for where pack's time
// goes, one read and parse of every bundle (pack reads and parses each twice: once to
// check it and learn its label, once to import it, and then saves once).
void explode_pack(uint32_t n) {
  const uint32_t ld = 16;
  std::vector<uint8_t> body;
  for (uint32_t i = 0; i < n; ++i) {
    char label[16];
    snprintf(label, sizeof label, "c%07u", (i * 7919u) % n);
    const std::vector<uint8_t> c = make_chromosome(4 * ld, ld, label);
    body.insert(body.end(), c.begin(), c.end());
  }
  const std::vector<uint8_t> one(ld, 3);
  const std::string g = bench_dir("explode_src");
  Buffer ws(kaldro_genome_arena_bytes(body.size(), n, 4 * ld) + uint64_t(n) * 1024);
  if (kaldro_genome_save(g.c_str(), body.data(), body.size(), ld, one.data(), ld, ws.p, ws.n) != KALDRO_OK)
    abort();
  std::vector<double> ex, pk, reparse;
  for (int r = 0, rounds = env_int("KALDRO_BENCH_ROUNDS", 3); r < rounds; ++r) {
    const std::string out = bench_dir(("explode_out" + std::to_string(r)).c_str());
    const std::string h = bench_dir(("pack_dst" + std::to_string(r)).c_str());
    sync();
    double t = now();
    if (kaldro_genome_explode(g.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK) abort();
    ex.push_back(now() - t);
    sync();
    t = now();
    if (kaldro_genome_pack(out.c_str(), h.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK) abort();
    pk.push_back(now() - t);
    // The packed genome holds every chromosome, ordered by label.
    std::vector<uint8_t> back(body.size());
    size_t len = 0;
    if (kaldro_genome_load(h.c_str(), back.data(), back.size(), &len, nullptr, 0, ws.p, ws.n) != KALDRO_OK ||
        len != body.size() || memcmp(back.data(), "Cc0000000", 9) != 0)
      abort();
    t = now();
    for (uint32_t i = 0; i < n; ++i) {
      char name[32];
      snprintf(name, sizeof name, "/c%07u.chr", i);
      const std::string path = out + name;
      uint64_t size = 0, got = 0;
      kaldro_plat_file_size(path.c_str(), &size);
      kaldro_plat_file_read(path.c_str(), ws.p, size + 1, &got);
      kaldro_json_node *root = nullptr;
      const uint64_t at = (size & ~uint64_t(15)) + 16;
      if (kaldro_json_parse(ws.p, got - 1, ws.p + at, ws.n - at, &root) != KALDRO_OK) abort();
    }
    reparse.push_back(now() - t);
    remove_tree(out);
    remove_tree(h);
  }
  const char *where = getenv("KALDRO_BENCH_DIR") ? getenv("KALDRO_BENCH_DIR") : "/tmp";
  printf("explode and pack of %u chromosomes of 64 bytes, in %s:\n", n, where);
  show("genome_explode", ex);
  show("genome_pack into an empty directory", pk);
  show("  of which at least: read + parse every bundle once", reparse);
  printf("  per chromosome: explode %.1f us, pack %.1f us\n", median(ex) / n * 1e6, median(pk) / n * 1e6);
  remove_tree(g);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  const int only = env_int("KALDRO_BENCH_PACK_CHROMOSOMES", 0);
  if (!getenv("KALDRO_BENCH_SKIP_64MIB")) export_import_64mib();
  // Two sizes, to show that both grow in proportion to the genome.
  if (only) {
    explode_pack(uint32_t(only));
  } else {
    explode_pack(1000);
    explode_pack(10000);
  }
  return 0;
}
