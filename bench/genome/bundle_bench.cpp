// Chromosome bundles: export and import of one 64 MiB chromosome, each against a
// baseline that writes its output bytes and digests its input once with OpenSSL, and
// explode and pack of a genome of 10 000 small chromosomes. Bundles and genomes live in
// $KALDRO_BENCH_DIR (default /tmp). KALDRO_BENCH_PACK_CHROMOSOMES overrides the 10 000
// of the explode and pack runs (each import saves the whole genome anew).
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <kaldro.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ratio.h"

namespace {

struct Buffer {
  uint8_t *p = nullptr;
  size_t n = 0;
  explicit Buffer(size_t bytes) : n(bytes) {
    p = static_cast<uint8_t *>(::operator new(bytes ? bytes : 1, std::align_val_t(64)));
    memset(p, 0, n);
  }
  ~Buffer() { ::operator delete(p, std::align_val_t(64)); }
};

std::string bench_dir(const char *name) {
  const char *base = getenv("KALDRO_BENCH_DIR");
  std::string dir = std::string(base ? base : "/tmp") + "/kaldro_bench_" + name + "_" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  return dir;
}
void remove_tree(const std::string &dir) { std::string c = "rm -rf '" + dir + "'"; (void)!system(c.c_str()); }

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

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

void write_bytes(const std::string &path, const void *p, size_t n) {
  FILE *f = fopen(path.c_str(), "wb");
  fwrite(p, 1, n, f);
  fclose(f);
}

void BM_ExportImport64MiB(benchmark::State &state) {
  const uint32_t ld = 64;
  const std::vector<uint8_t> region = make_chromosome(64u << 20, ld, "big");
  const std::vector<uint8_t> one(ld, 7);
  const std::string g = bench_dir("bundle_src"), h = bench_dir("bundle_dst");
  const std::string chr = g + ".chr";
  Buffer ws(kaldro_genome_arena_bytes(region.size(), 1, region.size()));
  if (kaldro_genome_save(g.c_str(), region.data(), region.size(), ld, one.data(), ld, ws.p, ws.n) != KALDRO_OK) {
    state.SkipWithError("save failed");
    return;
  }
  double ex = 0, im = 0, base_ex = 0, base_im = 0;
  std::vector<char> hex(2 * region.size());
  for (auto _ : state) {
    double t = now();
    if (kaldro_genome_export(g.c_str(), "big", chr.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK)
      state.SkipWithError("export failed");
    ex = now() - t;
    unlink((h + "/turns.bin").c_str());
    unlink((h + "/manifest.json").c_str());
    t = now();
    if (kaldro_genome_import(chr.c_str(), h.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK)
      state.SkipWithError("import failed");
    im = now() - t;
    // Baselines: what each must at least do with the same bytes, OpenSSL digesting.
    unsigned char d[32];
    t = now();
    {
      FILE *f = fopen((g + "/turns.bin").c_str(), "rb");
      std::vector<uint8_t> in(region.size());
      (void)!fread(in.data(), 1, in.size(), f);
      fclose(f);
      SHA256(in.data(), in.size(), d);
      write_bytes(g + ".base", hex.data(), hex.size());
    }
    base_ex = now() - t;
    t = now();
    {
      FILE *f = fopen(chr.c_str(), "rb");
      std::vector<uint8_t> in(hex.size() + 4096);
      (void)!fread(in.data(), 1, in.size(), f);
      fclose(f);
      SHA256(region.data(), region.size(), d);
      write_bytes(h + "/base.bin", region.data(), region.size());
    }
    base_im = now() - t;
  }
  state.counters["export_ms"] = ex * 1e3;
  state.counters["import_ms"] = im * 1e3;
  bench::print_ratio("genome_export_64MiB", "read_sha256_write", ex, base_ex);
  bench::print_ratio("genome_import_64MiB", "read_sha256_write", im, base_im);
  unlink(chr.c_str());
  unlink((g + ".base").c_str());
  remove_tree(g);
  remove_tree(h);
}
BENCHMARK(BM_ExportImport64MiB)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ExplodePack(benchmark::State &state) {
  const char *env = getenv("KALDRO_BENCH_PACK_CHROMOSOMES");
  const uint32_t n = env ? uint32_t(atoi(env)) : 10000;
  const uint32_t ld = 16;
  std::vector<uint8_t> body;
  for (uint32_t i = 0; i < n; ++i) {
    char label[16];
    snprintf(label, sizeof label, "c%07u", (i * 7919u) % n);
    const std::vector<uint8_t> c = make_chromosome(4 * ld, ld, label);
    body.insert(body.end(), c.begin(), c.end());
  }
  const std::vector<uint8_t> one(ld, 3);
  const std::string g = bench_dir("explode_src"), out = bench_dir("explode_out"), h = bench_dir("pack_dst");
  Buffer ws(kaldro_genome_arena_bytes(body.size(), n, 4 * ld) + uint64_t(n) * 1024);
  if (kaldro_genome_save(g.c_str(), body.data(), body.size(), ld, one.data(), ld, ws.p, ws.n) != KALDRO_OK) {
    state.SkipWithError("save failed");
    return;
  }
  double ex = 0, pk = 0;
  for (auto _ : state) {
    double t = now();
    if (kaldro_genome_explode(g.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK)
      state.SkipWithError("explode failed");
    ex = now() - t;
    t = now();
    if (kaldro_genome_pack(out.c_str(), h.c_str(), nullptr, 0, ws.p, ws.n) != KALDRO_OK)
      state.SkipWithError("pack failed");
    pk = now() - t;
  }
  state.counters["chromosomes"] = n;
  state.counters["explode_ms"] = ex * 1e3;
  state.counters["pack_ms"] = pk * 1e3;
  // Where pack's time goes: every import reads, parses and saves the whole genome.
  const std::vector<uint8_t> one_more;
  double t = now();
  const kaldro_json_node *root = nullptr;
  (void)kaldro_genome_catalog(h.c_str(), nullptr, 0, ws.p, ws.n, &root);
  const double catalog = now() - t;
  t = now();
  (void)kaldro_genome_save(h.c_str(), body.data(), body.size(), ld, one.data(), ld, ws.p, ws.n);
  const double save = now() - t;
  state.counters["full_catalog_ms"] = catalog * 1e3;
  state.counters["full_save_ms"] = save * 1e3;
  remove_tree(g);
  remove_tree(out);
  remove_tree(h);
}
BENCHMARK(BM_ExplodePack)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
