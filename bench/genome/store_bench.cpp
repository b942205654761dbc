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

#include "ratio.h"

namespace {

struct Buffer {
  uint8_t *p = nullptr;
  size_t n = 0;
  explicit Buffer(size_t bytes) : n(bytes) {
    p = static_cast<uint8_t *>(::operator new(bytes ? bytes : 1, std::align_val_t(64)));
  }
  ~Buffer() { ::operator delete(p, std::align_val_t(64)); }
};

std::string bench_dir(const char *name) {
  const char *base = getenv("KALDRO_BENCH_DIR");
  std::string dir = std::string(base ? base : "/tmp") + "/kaldro_bench_" + name + "_" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  return dir;
}
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

double seconds(const std::chrono::steady_clock::time_point &t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The baseline: the same bytes written to one file and digested once with OpenSSL. The
// durable form replaces the file as save replaces turns.bin (temporary file, fsync,
// rename, directory fsync), so that both pay the same syncs for the body; the plain form
// neither syncs nor renames and is printed for reference only.
void baseline_write(const std::string &dir, const std::vector<uint8_t> &body, bool durable) {
  const std::string tmp = dir + "/baseline.tmp", path = dir + "/baseline.bin";
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  size_t at = 0;
  while (at < body.size()) {
    const ssize_t n = write(fd, body.data() + at, body.size() - at);
    if (n <= 0) abort();
    at += size_t(n);
  }
  if (durable) fsync(fd);
  close(fd);
  rename(tmp.c_str(), path.c_str());
  if (durable) {
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    fsync(dfd);
    close(dfd);
  }
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

template <typename Fn>
double best_of(int rounds, Fn &&fn) {
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    best = std::min(best, seconds(t0));
  }
  return best;
}

// Times of one step over the rounds: median, lowest and highest.
struct Times {
  std::vector<double> s;
  double median() const {
    std::vector<double> v = s;
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
  }
  double low() const { return *std::min_element(s.begin(), s.end()); }
  double high() const { return *std::max_element(s.begin(), s.end()); }
};

int env_int(const char *name, int fallback) {
  const char *v = getenv(name);
  return v && atoi(v) > 0 ? atoi(v) : fallback;
}

void save_and_load_256mib() {
  constexpr uint32_t kLeafDim = 64, kChromosomes = 10000;
  const std::vector<uint8_t> body = make_body(size_t(256) << 20, kLeafDim, kChromosomes);
  const std::vector<uint8_t> one(kLeafDim, 0x5a);
  const std::string dir = bench_dir("save");
  Buffer ws(kaldro_genome_arena_bytes(body.size(), kChromosomes, 0));
  memset(ws.p, 0, ws.n);
  Buffer loaded(body.size());
  memset(loaded.p, 0, loaded.n);
  kaldro_status st = KALDRO_OK;
  const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);

  // Rounds alternate between the library and its baselines, and every step starts on a
  // clean file system (an untimed syncfs first), so that no step pays for the writeback
  // of another's dirty pages. Medians count; the ranges show the spread.
  const int rounds = env_int("KALDRO_BENCH_ROUNDS", 5);
  Times save, base_durable, base_plain, load, base_read;
  size_t len = 0;
  auto timed = [&](Times &t, auto &&fn) {
    syncfs(dir_fd);
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    t.s.push_back(seconds(t0));
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
  const char *where = getenv("KALDRO_BENCH_DIR") ? getenv("KALDRO_BENCH_DIR") : "/tmp";
  auto show = [](const char *what, const Times &t) {
    printf("  %-44s median %7.1f ms  (%.1f to %.1f)\n", what, t.median() * 1e3, t.low() * 1e3, t.high() * 1e3);
  };
  printf("genome save and load, 256 MiB body, 10000 chromosomes, in %s, %d rounds:\n", where, rounds);
  show("genome_save (body + manifest, synced)", save);
  show("durable write + OpenSSL digest (baseline)", base_durable);
  show("plain write + OpenSSL digest (no sync)", base_plain);
  show("genome_load", load);
  show("read + OpenSSL digest (baseline)", base_read);
  bench::print_ratio("genome_save_256mib", "durable_write+openssl_sha256", save.median(), base_durable.median());
  bench::print_ratio("genome_save_256mib", "write+openssl_sha256", save.median(), base_plain.median());
  bench::print_ratio("genome_load_256mib", "read+openssl_sha256", load.median(), base_read.median());
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
  Times read, parse, lookup, region, total;
  for (int r = 0, rounds = env_int("KALDRO_BENCH_ROUNDS", 9); r < rounds; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    kaldro_plat_file_size(path.c_str(), &size);
    kaldro_plat_file_read(path.c_str(), text.p, size + 1, &got);
    read.s.push_back(seconds(t0));
    t0 = std::chrono::steady_clock::now();
    if (kaldro_json_parse(text.p, got - 1, wide->ws.p + arena_at, wide->ws.n - arena_at, &root) != KALDRO_OK)
      abort();
    parse.s.push_back(seconds(t0));
    t0 = std::chrono::steady_clock::now();
    const kaldro_json_node *list = kaldro_json_object_get(kaldro_json_object_get(root, "data"), "chromosomes");
    const kaldro_json_node *entry = nullptr;
    for (uint32_t i = 0; i < list->count && !entry; ++i) {
      const kaldro_json_node *l = kaldro_json_object_get(list->items[i], "label");
      if (l && l->len == strlen(label) && memcmp(l->str, label, l->len) == 0) entry = list->items[i];
    }
    lookup.s.push_back(seconds(t0));
    if (!entry) abort();
    t0 = std::chrono::steady_clock::now();
    const int64_t off = kaldro_json_object_get(entry, "byte_offset")->integer;
    const int64_t n = kaldro_json_object_get(entry, "byte_len")->integer;
    kaldro_plat_file_read_region(turns.c_str(), uint64_t(off), out, uint64_t(n));
    char hex[65];
    kaldro_sha256_hex(out, wide->leaf_dim, hex);
    region.s.push_back(seconds(t0));
    t0 = std::chrono::steady_clock::now();
    if (kaldro_genome_window(wide->dir.c_str(), label, out, sizeof out, &len, nullptr, 0, wide->ws.p, wide->ws.n) !=
        KALDRO_OK)
      abort();
    total.s.push_back(seconds(t0));
  }
  printf("window of 1 in 100000 chromosomes (manifest %.1f MiB): median %.2f ms (%.2f to %.2f); parts: manifest "
         "read %.2f ms, parse %.2f ms, label lookup %.2f ms, region read and cap digest %.3f ms\n",
         double(size) / (1 << 20), total.median() * 1e3, total.low() * 1e3, total.high() * 1e3,
         read.median() * 1e3, parse.median() * 1e3, lookup.median() * 1e3, region.median() * 1e3);
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
