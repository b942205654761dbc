// TOML: parsing a 20 KiB configuration into the library's arena tree against toml++
// parsing the same text into its own document (both then look up the same keys).
#include <benchmark/benchmark.h>

#include <kaldro.h>

#define TOML_EXCEPTIONS 0
#define TOML_HEADER_ONLY 1
#include <toml++/toml.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ratio.h"

namespace {

// A configuration of the kind services keep: many sections, mostly scalars, some
// arrays, inline tables and arrays of tables, comments and blank lines.
std::string configuration(size_t target) {
  std::string s = "# service configuration\ntitle = \"kaldro service\"\nversion = 3\n\n";
  char buf[512];
  for (int i = 0; s.size() < target; ++i) {
    std::snprintf(buf, sizeof buf,
                  "[section_%d]\n"
                  "enabled = %s\n"
                  "name = \"node-%d\"\n"
                  "max_nodes = %d\n"
                  "ratio = %d.%03d\n"
                  "path = '/var/lib/kaldro/%d'\n"
                  "ports = [%d, %d, %d]\n"
                  "limits = { soft = %d, hard = %d }\n"
                  "# tuning for section %d\n"
                  "timeout_ms = %d_000\n\n",
                  i, i % 2 ? "true" : "false", i, 512 + i, i % 10, (i * 37) % 1000, i,
                  8000 + i, 9000 + i, 10000 + i, i * 3, i * 5, i, 1 + i % 30);
    s += buf;
    if (i % 8 == 7) {
      std::snprintf(buf, sizeof buf, "[[backends]]\nhost = \"10.0.0.%d\"\nweight = %d\n\n", i, i % 5);
      s += buf;
    }
  }
  return s;
}

// Every string reserves room to the end of the text: (strings + 1) x length bounds it.
size_t arena_for(const std::string &text) {
  size_t strings = 0;
  for (char c : text) strings += (c == '"' || c == '\'');
  return (strings + 8) * (text.size() + 16) + 65536;
}

const std::string &text() {
  static const std::string t = configuration(20 * 1024);
  return t;
}

int64_t parse_library(const std::string &t, std::vector<uint64_t> &arena) {
  kaldro_toml_node *root = nullptr;
  if (kaldro_toml_parse(t.data(), t.size(), arena.data(), arena.size() * 8, &root) != KALDRO_OK)
    std::abort();
  const kaldro_toml_node *s = kaldro_toml_table_get(root, "section_40");
  return kaldro_toml_table_get(s, "max_nodes")->as.integer;
}

int64_t parse_peer(const std::string &t) {
  toml::parse_result r = toml::parse(std::string_view(t));
  if (!r) std::abort();
  return r.table()["section_40"]["max_nodes"].value_or<int64_t>(0);
}

void BM_TomlParse(benchmark::State &state) {
  std::vector<uint64_t> arena(arena_for(text()) / 8);
  for (auto _ : state) benchmark::DoNotOptimize(parse_library(text(), arena));
  state.SetBytesProcessed(int64_t(state.iterations() * text().size()));
}
BENCHMARK(BM_TomlParse);

void BM_TomlParsePeer(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(parse_peer(text()));
  state.SetBytesProcessed(int64_t(state.iterations() * text().size()));
}
BENCHMARK(BM_TomlParsePeer);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::vector<uint64_t> arena(arena_for(text()) / 8);
  if (parse_library(text(), arena) != parse_peer(text())) return 1;
  int64_t sink = 0;
  const double lib = bench::seconds_per_call([&] { sink += parse_library(text(), arena); }, 200);
  const double peer = bench::seconds_per_call([&] { sink += parse_peer(text()); }, 200);
  benchmark::DoNotOptimize(sink);
  bench::print_ratio("toml_parse_20k", "tomlplusplus", lib, peer);
  return 0;
}
