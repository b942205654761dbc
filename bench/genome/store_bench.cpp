// Genome store: save and load of a 256 MiB body with 10 000 chromosomes against writing
// the same bytes and digesting them once with OpenSSL, and the window read of one
// chromosome in a genome of 100 000, broken down into where its time goes.
// The genomes live in $KALDRO_BENCH_DIR (default /tmp, on disk, where saves pay their
// syncs; /dev/shm shows the work without the disk). KALDRO_BENCH_ROUNDS sets the rounds.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/sha.h>
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

void remove_dir(const std::string &dir) {
  for (const char *f : {"/turns.bin", "/manifest.json", "/baseline.bin"}) unlink((dir + f).c_str());
  rmdir(dir.c_str());
}

// A body of `chromosomes` chromosomes of equal size filling `bytes` (whole records).
std::vector<uint8_t> make_body(size_t bytes, uint32_t leaf_dim, uint32_t chromosomes) {
  std::vector<uint8_t> body(bytes / leaf_dim * leaf_dim);
  uint64_t x = 0x9e3779b97f4a7c15ull;
  for (size_t i = 0; i < body.size(); ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    body[i] = uint8_t(x);
  }
  const size_t records = body.size() / leaf_dim;
  const size_t per = records / chromosomes;
  for (size_t r = 0; r < records; ++r) {
    uint8_t *rec = body.data() + r * leaf_dim;
    if (r % per == 0 && r / per < chromosomes) {
      rec[0] = 'C';
      snprintf(reinterpret_cast<char *>(rec + 1), leaf_dim - 1, "chr%07zu", r / per);
    } else if (rec[0] == 'C') {
      rec[0] = 'x';
    }
  }
  return body;
}


// The baseline: the same bytes written to one file and digested once with OpenSSL. The
// durable form replaces the file as save replaces turns.bin (temporary file, fsync,
// rename, directory fsync), so that both pay the same syncs for the body; the plain form
// neither syncs nor renames and is printed for reference only.
void baseline_write(const std::string &dir, const std::vector<uint8_t> &body, bool durable) {
  write_file(dir + "/baseline.bin", body.data(), body.size(), durable);
  unsigned char d[32];
  SHA256(body.data(), body.size(), d);
  benchmark::DoNotOptimize(d);
}

void baseline_read(const std::string &dir, Buffer &out) {
  FILE *f = fopen((dir + "/baseline.bin").c_str(), "rb");
  const size_t n = fread(out.p, 1, out.n, f);
  fclose(f);
  unsigned char d[32];
  SHA256(out.p, n, d);
  benchmark::DoNotOptimize(d);
}

void save_and_load_256mib() {
  constexpr uint32_t kLeafDim = 64, kChromosomes = 10000;
  const std::vector<uint8_t> body = make_body(size_t(256) << 20, kLeafDim, kChromosomes);
  const std::vector<uint8_t> one(kLeafDim, 0x5a);
  const std::string dir = bench_dir("save");
  Buffer ws(kaldro_genome_arena_bytes(body.size(), kChromosomes, 0));
  Buffer loaded(body.size());
  kaldro_status st = KALDRO_OK;
  const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);

  // Rounds alternate between the library and its baselines, and every step starts on a
  // clean file system (an untimed syncfs first), so that no step pays for the writeback
  // of another's dirty pages. Medians count; the ranges show the spread.
  const int rounds = env_int("KALDRO_BENCH_ROUNDS", 5);
  std::vector<double> save, base_durable, base_plain, load, base_read;
  size_t len = 0;
  auto timed = [&](std::vector<double> &t, auto &&fn) {
    syncfs(dir_fd);
    const double t0 = now();
    fn();
    t.push_back(now() - t0);
  };
  for (int round = 0; round < rounds; ++round) {
    timed(save, [&] {
      st |= kaldro_genome_save(dir.c_str(), body.data(), body.size(), kLeafDim, one.data(), one.size(), ws.p, ws.n);
    });
    timed(base_durable, [&] { baseline_write(dir, body, true); });
    timed(base_plain, [&] { baseline_write(dir, body, false); });
    timed(load, [&] { st |= kaldro_genome_load(dir.c_str(), loaded.p, loaded.n, &len, nullptr, 0, ws.p, ws.n); });
    timed(base_read, [&] { baseline_read(dir, loaded); });
  }
  close(dir_fd);
  if (st != KALDRO_OK || len != body.size()) {
    fprintf(stderr, "save or load failed: %d\n", st);
    abort();
  }
  const char *where = bench_base();
  printf("genome save and load, 256 MiB body, 10000 chromosomes, in %s, %d rounds:\n", where, rounds);
  show("genome_save (body + manifest, synced)", save);
  show("durable write + OpenSSL digest (baseline)", base_durable);
  show("plain write + OpenSSL digest (no sync)", base_plain);
  show("genome_load", load);
  show("read + OpenSSL digest (baseline)", base_read);
  bench::print_ratio("genome_save_256mib", "durable_write+openssl_sha256", median(save), median(base_durable));
  bench::print_ratio("genome_save_256mib", "write+openssl_sha256", median(save), median(base_plain));
  bench::print_ratio("genome_load_256mib", "read+openssl_sha256", median(load), median(base_read));
  remove_dir(dir);
}

// A genome of 100 000 chromosomes of three 32-byte records each.
struct Wide {
  std::string dir;
  std::vector<uint8_t> body;
  uint32_t leaf_dim = 32;
  std::vector<uint8_t> one = std::vector<uint8_t>(32, 0x11);
  Buffer ws{0};
  Wide() : dir(bench_dir("window")), body(make_body(size_t(100000) * 3 * 32, 32, 100000)),
           ws(kaldro_genome_arena_bytes(body.size(), 100000, 0)) {
    Buffer save_ws(ws.n);
    if (kaldro_genome_save(dir.c_str(), body.data(), body.size(), leaf_dim, one.data(), one.size(), save_ws.p,
                           save_ws.n) != KALDRO_OK)
      abort();
  }
  ~Wide() { remove_dir(dir); }
};
Wide *wide = nullptr;

void BM_Window100k(benchmark::State &state) {
  uint8_t out[256];
  size_t len = 0;
  for (auto _ : state) {
    if (kaldro_genome_window(wide->dir.c_str(), "chr0050000", out, sizeof out, &len, nullptr, 0, wide->ws.p,
                             wide->ws.n) != KALDRO_OK)
      abort();
  }
}
BENCHMARK(BM_Window100k)->Unit(benchmark::kMillisecond);

void BM_ManifestParse100k(benchmark::State &state) {
  const std::string path = wide->dir + "/manifest.json";
  uint64_t size = 0;
  kaldro_plat_file_size(path.c_str(), &size);
  Buffer text(size + 1);
  uint64_t got = 0;
  kaldro_plat_file_read(path.c_str(), text.p, text.n, &got);
  for (auto _ : state) {
    kaldro_json_node *root = nullptr;
    if (kaldro_json_parse(text.p, got - 1, wide->ws.p, wide->ws.n, &root) != KALDRO_OK) abort();
    benchmark::DoNotOptimize(root);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * got));
}
BENCHMARK(BM_ManifestParse100k)->Unit(benchmark::kMillisecond);

// Where a window's time goes: reading the manifest, parsing it, looking the label up in
// the tree, and reading and digesting the region, each timed on its own (medians of
// interleaved rounds) beside the whole window.
void window_breakdown() {
  const std::string path = wide->dir + "/manifest.json";
  const std::string turns = wide->dir + "/turns.bin";
  const char *label = "chr0050000";
  uint64_t size = 0;
  kaldro_plat_file_size(path.c_str(), &size);
  Buffer text(size + 1);
  uint64_t got = 0;
  const uint64_t arena_at = (size & ~uint64_t(15)) + 16;
  kaldro_json_node *root = nullptr;
  uint8_t out[256];
  size_t len = 0;
  std::vector<double> read, parse, lookup, region, total;
  for (int r = 0, rounds = env_int("KALDRO_BENCH_ROUNDS", 9); r < rounds; ++r) {
    double t0 = now();
    kaldro_plat_file_size(path.c_str(), &size);
    kaldro_plat_file_read(path.c_str(), text.p, size + 1, &got);
    read.push_back(now() - t0);
    t0 = now();
    if (kaldro_json_parse(text.p, got - 1, wide->ws.p + arena_at, wide->ws.n - arena_at, &root) != KALDRO_OK)
      abort();
    parse.push_back(now() - t0);
    t0 = now();
    const kaldro_json_node *list = kaldro_json_object_get(kaldro_json_object_get(root, "data"), "chromosomes");
    const kaldro_json_node *entry = nullptr;
    for (uint32_t i = 0; i < list->count && !entry; ++i) {
      const kaldro_json_node *l = kaldro_json_object_get(list->items[i], "label");
      if (l && l->len == strlen(label) && memcmp(l->str, label, l->len) == 0) entry = list->items[i];
    }
    lookup.push_back(now() - t0);
    if (!entry) abort();
    t0 = now();
    const int64_t off = kaldro_json_object_get(entry, "byte_offset")->integer;
    const int64_t n = kaldro_json_object_get(entry, "byte_len")->integer;
    kaldro_plat_file_read_region(turns.c_str(), uint64_t(off), out, uint64_t(n));
    char hex[65];
    kaldro_sha256_hex(out, wide->leaf_dim, hex);
    region.push_back(now() - t0);
    t0 = now();
    if (kaldro_genome_window(wide->dir.c_str(), label, out, sizeof out, &len, nullptr, 0, wide->ws.p, wide->ws.n) !=
        KALDRO_OK)
      abort();
    total.push_back(now() - t0);
  }
  printf("window of 1 in 100000 chromosomes (manifest %.1f MiB): median %.2f ms (%.2f to %.2f); parts: manifest "
         "read %.2f ms, parse %.2f ms, label lookup %.2f ms, region read and cap digest %.3f ms\n",
         double(size) / (1 << 20), median(total) * 1e3, *std::min_element(total.begin(), total.end()) * 1e3,
         *std::max_element(total.begin(), total.end()) * 1e3,
         median(read) * 1e3, median(parse) * 1e3, median(lookup) * 1e3, median(region) * 1e3);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  wide = new Wide;
  benchmark::RunSpecifiedBenchmarks();
  window_breakdown();
  delete wide;
  save_and_load_256mib();
  return 0;
}
