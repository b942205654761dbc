// Forward byte search against glibc memmem on a 16 MiB text-like haystack whose only
// occurrence of the needle is at the end, so both scan the whole haystack.
#include <benchmark/benchmark.h>

#include <kaldro.h>

#include <cstring>
#include <random>
#include <string>

#include "cpu_timing.h"
#include "ratio.h"

namespace {

constexpr size_t kHay = size_t(16) << 20;

// Lowercase letters and spaces, with the needle planted once at the end.
std::string haystack(const std::string &needle) {
  std::mt19937 rng(5);
  std::string s(kHay, ' ');
  for (auto &c : s) {
    const uint32_t x = rng() % 32;
    c = x < 26 ? char('a' + x) : ' ';
  }
  s.replace(kHay - needle.size(), needle.size(), needle);
  return s;
}

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

void BM_Search(benchmark::State &state, const char *needle_text) {
  const std::string needle(needle_text), hay = haystack(needle);
  for (auto _ : state) {
    int32_t idx;
    kaldro_byte_search(u8(hay), uint32_t(hay.size()), u8(needle), uint32_t(needle.size()), &idx);
    benchmark::DoNotOptimize(idx);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kHay));
}
BENCHMARK_CAPTURE(BM_Search, needle16, "the quick fox jx");

void BM_SearchBackward(benchmark::State &state) {
  const std::string needle("the quick fox jx");
  std::string hay = haystack(needle);
  std::memcpy(hay.data(), needle.data(), needle.size());  // at the start, found last
  hay.replace(kHay - needle.size(), needle.size(), std::string(needle.size(), ' '));
  for (auto _ : state) {
    int32_t idx;
    kaldro_byte_search_backward(u8(hay), uint32_t(hay.size()), u8(needle),
                                uint32_t(needle.size()), &idx);
    benchmark::DoNotOptimize(idx);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kHay));
}
BENCHMARK(BM_SearchBackward);

void compare(const char *name, const std::string &needle) {
  const std::string hay = haystack(needle);
  int32_t idx = 0;
  const void *hit = nullptr;
  double lib = 0, peer = 0;
  bench::alternate_best(
      [&] {
        kaldro_byte_search(u8(hay), uint32_t(hay.size()), u8(needle), uint32_t(needle.size()), &idx);
        benchmark::DoNotOptimize(idx);
      },
      [&] {
        hit = memmem(hay.data(), hay.size(), needle.data(), needle.size());
        benchmark::DoNotOptimize(hit);
      },
      5, 7, lib, peer);
  if (static_cast<const char *>(hit) - hay.data() != idx) std::printf("mismatch %s\n", name);
  bench::print_ratio(name, "glibc_memmem", lib, peer);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  compare("byte_search_16mib_needle16", "the quick fox jx");
  compare("byte_search_16mib_needle4", "q zx");
  compare("byte_search_16mib_needle64",
          "lorem ipsum dolor sit amet consectetur adipiscing elit sed do ex");
  return 0;
}
