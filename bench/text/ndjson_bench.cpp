// NDJSON: iterating a 256 MiB file of JSON lines against a getline loop that counts the
// same non-empty lines (line feed and a final carriage return removed).
#include <benchmark/benchmark.h>

#include <kaldro.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include "ratio.h"

namespace {

// Lines of 40 to 400 bytes, a few blank and a few ending in CR LF.
std::string make_file(size_t bytes) {
  char name[] = "/tmp/kaldro_bench_ndjson_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  FILE *f = fdopen(fd, "wb");
  std::mt19937_64 rng(1);
  std::string line;
  size_t written = 0;
  while (written < bytes) {
    line = "{\"id\":" + std::to_string(rng() % 1000000) + ",\"payload\":\"";
    line.append(20 + rng() % 360, char('a' + rng() % 26));
    line += "\"}";
    const unsigned kind = unsigned(rng() % 50);
    line += kind == 0 ? "\n\n" : kind == 1 ? "\r\n" : "\n";
    fwrite(line.data(), 1, line.size(), f);
    written += line.size();
  }
  fclose(f);
  return name;
}

int count_line(const char *, uint64_t, uint64_t, uint64_t user) {
  ++*reinterpret_cast<uint64_t *>(user);
  return 0;
}

uint64_t count_library(const std::string &path) {
  uint64_t n = 0;
  if (kaldro_ndjson_iter(path.c_str(), &count_line, reinterpret_cast<uint64_t>(&n)) != KALDRO_OK)
    std::abort();
  return n;
}

uint64_t count_getline(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  char *buf = nullptr;
  size_t cap = 0;
  ssize_t len;
  uint64_t n = 0;
  while ((len = getline(&buf, &cap, f)) >= 0) {
    if (len > 0 && buf[len - 1] == '\n') --len;
    if (len > 0 && buf[len - 1] == '\r') --len;
    if (len > 0) ++n;
  }
  free(buf);
  fclose(f);
  return n;
}

const std::string &file() {
  static const std::string path = make_file(size_t(256) << 20);
  return path;
}

void BM_NdjsonIter(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(count_library(file()));
  state.SetBytesProcessed(int64_t(state.iterations()) * (int64_t(256) << 20));
}
BENCHMARK(BM_NdjsonIter)->Unit(benchmark::kMillisecond);

void BM_NdjsonGetline(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(count_getline(file()));
  state.SetBytesProcessed(int64_t(state.iterations()) * (int64_t(256) << 20));
}
BENCHMARK(BM_NdjsonGetline)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  file();  // written (and left in the page cache) before anything is timed
  benchmark::RunSpecifiedBenchmarks();
  int status = 0;
  if (count_library(file()) != count_getline(file())) status = 1;
  uint64_t sink = 0;
  const double lib = bench::seconds_per_call([&] { sink += count_library(file()); }, 1, 3);
  const double peer = bench::seconds_per_call([&] { sink += count_getline(file()); }, 1, 3);
  benchmark::DoNotOptimize(sink);
  bench::print_ratio("ndjson_iter_256m", "getline", lib, peer);
  unlink(file().c_str());
  return status;
}
