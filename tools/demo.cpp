// The tour behind `kaldro demo` (and `make demo`): each family shows a few calls on
// generated data in a temporary directory, printing one readable line per step; the
// directory is removed at the end, whatever happened.
#include "genome_tool.h"

#include <cinttypes>
#include <cstring>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

const char kCmd[] = "demo";

int demo_frame(const std::string &) {
  std::printf("library   libkaldro %s, ABI %d\n", kaldro_version(), kaldro_abi_version());
  std::printf("processor sse2=%d avx=%d avx2=%d sha-ni=%d\n", kaldro_simd_has_sse2(),
              kaldro_simd_has_avx(), kaldro_simd_has_avx2(), kaldro_simd_has_shani());
  return kExitOk;
}

int demo_integers(const std::string &) {
  uint64_t g = 0, l = 0, p = 0, inv = 0, period = 0;
  kaldro_status st = kaldro_gcd(462, 1071, &g);
  if (st == KALDRO_OK) st = kaldro_lcm(4, 6, &l);
  if (st == KALDRO_OK) st = kaldro_mod_pow(2, 10, 1000, &p);
  if (st == KALDRO_OK) st = kaldro_mod_inv(3, 7, &inv);
  if (st == KALDRO_OK) st = kaldro_cyclic_period(2, 7, 10, &period);
  if (st != KALDRO_OK) return fail(kCmd, "integer arithmetic", st);
  std::printf("integers  gcd(462, 1071) = %" PRIu64 ", lcm(4, 6) = %" PRIu64
              ", 2^10 mod 1000 = %" PRIu64 ", 3^-1 mod 7 = %" PRIu64
              ", order of 2 mod 7 = %" PRIu64 "\n",
              g, l, p, inv, period);
  uint64_t primes[16];
  uint8_t exponents[16];
  uint32_t count = 0;
  const uint64_t n = 600851475143ull;
  st = kaldro_factor(n, primes, exponents, 16, &count);
  if (st != KALDRO_OK) return fail(kCmd, "factorisation", st);
  std::printf("integers  %" PRIu64 " =", n);
  for (uint32_t i = 0; i < count; ++i)
    std::printf("%s %" PRIu64 "^%u", i ? " *" : "", primes[i], unsigned(exponents[i]));
  std::printf("\n");
  return kExitOk;
}

int demo_text(const std::string &tmp) {
  char hex[65];
  kaldro_status st = kaldro_sha256_hex("abc", 3, hex);
  if (st != KALDRO_OK) return fail(kCmd, "digest", st);
  std::printf("sha256    \"abc\" -> %s\n", hex);

  const char doc[] = "{ \"name\": \"kaldro\", \"tags\": [\"store\", \"json\"], \"b\": 2.5, \"a\": 1 }";
  const std::vector<uint8_t> text(doc, doc + sizeof doc - 1);
  std::vector<uint64_t> arena;
  const kaldro_json_node *root = nullptr;
  st = parse_json(text, arena, &root);
  std::string canon;
  if (st == KALDRO_OK) st = write_json(root, canon);
  if (st != KALDRO_OK) return fail(kCmd, "JSON round trip", st);
  std::printf("json      %s\n       -> %s\n", doc, canon.c_str());

  const char toml[] = "[hermitian]\nmax_nodes = 4096\n";
  std::vector<uint8_t> toml_arena(4096);
  kaldro_toml_node *troot = nullptr;
  st = kaldro_toml_parse(toml, sizeof toml - 1, toml_arena.data(), toml_arena.size(), &troot);
  const kaldro_toml_node *v = kaldro_toml_table_get(kaldro_toml_table_get(troot, "hermitian"), "max_nodes");
  if (st != KALDRO_OK || v == nullptr || v->kind != KALDRO_TOML_INT)
    return fail(kCmd, "TOML lookup", st ? st : KALDRO_ERR_INVALID);
  std::printf("toml      hermitian.max_nodes = %" PRId64 " (from [hermitian] max_nodes = 4096)\n",
              v->as.integer);
  (void)tmp;
  return kExitOk;
}

constexpr uint32_t kLeafDim = 8;

void add_record(std::vector<uint8_t> &body, char tag, const char *content) {
  uint8_t rec[kLeafDim] = {};
  rec[0] = uint8_t(tag);
  std::memcpy(rec + 1, content, std::min<std::size_t>(std::strlen(content), kLeafDim - 1));
  body.insert(body.end(), rec, rec + kLeafDim);
}

std::string labels_of(const std::string &dir) {
  GenomeProbe probe;
  probe.load(dir, nullptr);
  std::string s;
  const kaldro_json_node *chroms =
      json_get(json_get(probe.manifest, "data", KALDRO_JSON_OBJECT), "chromosomes", KALDRO_JSON_ARRAY);
  for (uint32_t i = 0; chroms && i < chroms->count; ++i) {
    const kaldro_json_node *c = chroms->items[i];
    s += (i ? ", " : "") + json_string(json_get(c, "label", KALDRO_JSON_STRING)) + "@" +
         std::to_string(json_get(c, "byte_offset", KALDRO_JSON_INT)
                            ? json_get(c, "byte_offset", KALDRO_JSON_INT)->integer
                            : -1);
  }
  return s;
}

int demo_genome(const std::string &tmp) {
  const std::string dir = tmp + "/genome";
  ::mkdir(dir.c_str(), 0700);
  std::vector<uint8_t> body;
  add_record(body, 'C', "alpha");
  add_record(body, 'x', "a1");
  add_record(body, 'x', "a2");
  add_record(body, 'C', "beta");
  add_record(body, 'G', "b");
  add_record(body, 'x', "b1");
  add_record(body, 'C', "gamma");
  add_record(body, 'x', "g1");
  const uint8_t the_one[kLeafDim] = {'k', 'a', 'l', 'd', 'r', 'o', '!', 1};

  Block ws(kaldro_genome_arena_bytes(4 * body.size(), 8, 8 * kLeafDim) + 65536);
  if (!ws.ok()) return fail(kCmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  kaldro_status st = kaldro_genome_save(dir.c_str(), body.data(), body.size(), kLeafDim, the_one,
                                        kLeafDim, ws.data(), ws.size());
  if (st != KALDRO_OK) return fail(kCmd, "genome save", st);
  std::printf("genome    saved 3 chromosomes, %zu records of %u bytes, in %s\n",
              body.size() / kLeafDim, kLeafDim, dir.c_str());
  std::printf("genome    catalog: %s\n", labels_of(dir).c_str());

  std::vector<uint8_t> region(body.size());
  std::size_t len = 0;
  st = kaldro_genome_window(dir.c_str(), "beta", region.data(), region.size(), &len, nullptr, 0,
                            ws.data(), ws.size());
  if (st != KALDRO_OK) return fail(kCmd, "genome window", st);
  std::printf("genome    window beta: %zu bytes (%zu records), cap digest verified\n", len,
              len / kLeafDim);

  std::vector<uint8_t> delta, gamma2;
  add_record(delta, 'C', "delta");
  add_record(delta, 'x', "d1");
  add_record(gamma2, 'C', "gamma");
  add_record(gamma2, 'x', "g1'");
  add_record(gamma2, 'x', "g2'");
  st = kaldro_genome_append(dir.c_str(), "delta", delta.data(), delta.size(), kLeafDim, the_one,
                            kLeafDim, ws.data(), ws.size());
  if (st == KALDRO_OK)
    st = kaldro_genome_remove(dir.c_str(), "alpha", the_one, kLeafDim, ws.data(), ws.size());
  if (st == KALDRO_OK)
    st = kaldro_genome_replace(dir.c_str(), "gamma", gamma2.data(), gamma2.size(), kLeafDim,
                               the_one, kLeafDim, ws.data(), ws.size());
  if (st != KALDRO_OK) return fail(kCmd, "genome edits", st);
  std::printf("genome    appended delta, removed alpha, replaced gamma: %s\n", labels_of(dir).c_str());

#if KALDRO_TOOL_HAS_BUNDLES
  const std::string bundles = tmp + "/bundles", packed = tmp + "/packed";
  ::mkdir(bundles.c_str(), 0700);
  ::mkdir(packed.c_str(), 0700);
  st = kaldro_genome_explode(dir.c_str(), bundles.c_str(), nullptr, 0, ws.data(), ws.size());
  if (st != KALDRO_OK) return fail(kCmd, "genome explode", st);
  std::printf("bundles   exploded into %s: beta.chr, delta.chr, gamma.chr\n", bundles.c_str());
  st = kaldro_genome_pack(bundles.c_str(), packed.c_str(), nullptr, 0, ws.data(), ws.size());
  if (st != KALDRO_OK) return fail(kCmd, "genome pack", st);
  std::printf("bundles   packed back into %s, ordered by label: %s\n", packed.c_str(),
              labels_of(packed).c_str());
  const GenomeReport packed_report = verify_genome(packed, nullptr);
  if (!packed_report.problems.empty())
    return fail(kCmd, "the packed genome: " + packed_report.problems[0], KALDRO_ERR_INVALID);
  std::printf("bundles   the packed genome verifies: body digest and %u cap digests match\n",
              packed_report.chromosomes);
#endif

  std::vector<uint8_t> loaded(body.size() * 2);
  st = kaldro_genome_load(dir.c_str(), loaded.data(), loaded.size(), &len, nullptr, 0, ws.data(),
                          ws.size());
  if (st != KALDRO_OK) return fail(kCmd, "genome load", st);
  const GenomeReport report = verify_genome(dir, nullptr);
  if (!report.problems.empty())
    return fail(kCmd, "the edited genome: " + report.problems[0], KALDRO_ERR_INVALID);
  std::printf("genome    loaded %zu bytes, body digest verified; verify finds no problem\n", len);

  // Damage one record behind the manifest's back: load refuses, verify says where.
  loaded[len - 1] ^= 0x20;
  std::string error;
  if (!write_file(dir + "/turns.bin", loaded.data(), len, error)) return fail_plain(kCmd, error);
  st = kaldro_genome_load(dir.c_str(), region.data(), region.size(), &len, nullptr, 0, ws.data(),
                          ws.size());
  const GenomeReport damaged = verify_genome(dir, nullptr);
  std::printf("genome    one byte changed: load refuses it (%s), verify reports %zu problem%s\n",
              status_name(st), damaged.problems.size(), damaged.problems.size() == 1 ? "" : "s");
  if (st != KALDRO_ERR_INVALID || damaged.problems.empty())
    return fail(kCmd, "a damaged body went unnoticed", KALDRO_ERR_INVALID);
  return kExitOk;
}

#if KALDRO_TOOL_HAS_FIEDLER
int demo_fiedler(const std::string &tmp) {
  // Two squares with their diagonals, joined by one bridge edge 3-4.
  const uint32_t pairs[][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 2}, {1, 3}, {4, 5},
                               {5, 6}, {6, 7}, {7, 4}, {4, 6}, {5, 7}, {3, 4}};
  std::vector<uint8_t> file;
  for (const auto &p : pairs) {
    uint8_t rec[16];
    const double w = 1.0;
    std::memcpy(rec, &p[0], 4);
    std::memcpy(rec + 4, &p[1], 4);
    std::memcpy(rec + 8, &w, 8);
    file.insert(file.end(), rec, rec + 16);
  }
  const std::string path = tmp + "/graph.edges";
  std::string error;
  if (!write_file(path, file.data(), file.size(), error)) return fail_plain(kCmd, error);
  const uint32_t n = 8;
  std::vector<double> out(n), ws(8 * n);
  const kaldro_status st =
      kaldro_laplacian_fiedler_sparse_file(n, path.c_str(), 1000, out.data(), ws.data(), ws.size());
  if (st != KALDRO_OK) return fail(kCmd, "Fiedler vector", st);
  std::string plus, minus;
  for (uint32_t i = 0; i < n; ++i) (out[i] >= 0 ? plus : minus) += std::to_string(i) + " ";
  std::printf("fiedler   two 4-cliques joined by edge 3-4 split into { %s} and { %s}\n",
              plus.c_str(), minus.c_str());
  return kExitOk;
}
#endif

#if KALDRO_TOOL_HAS_KURAMOTO
int demo_kuramoto(const std::string &) {
  const std::size_t n = 32;
  std::vector<double> theta(n), omega(n), next(n);
  for (std::size_t i = 0; i < n; ++i) {
    double f = double(i) * 0.6180339887498949;
    f -= double(uint64_t(f));
    theta[i] = 6.283185307179586 * f;
    omega[i] = 0.3 * (2.0 * double(i) / double(n - 1) - 1.0);
  }
  const double r0 = phase_coherence(theta.data(), n);
  for (int step = 0; step < 300; ++step) {
    const kaldro_status st =
        kaldro_cascade_kuramoto_step_f64(theta.data(), omega.data(), n, next.data(), 2.0, 0.05);
    if (st != KALDRO_OK) return fail(kCmd, "Kuramoto step", st);
    theta.swap(next);
  }
  std::printf("kuramoto  %zu oscillators, K = 2: coherence %.3f at t = 0, %.3f at t = 15\n", n, r0,
              phase_coherence(theta.data(), n));
  return kExitOk;
}
#endif

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return ::remove(path);
}

}  // namespace

int run_demo(int argc, char **) {
  if (argc > 1) return usage_error(kCmd, "takes no arguments");
  const char *base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/kaldro-demo-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr)
    return fail_plain(kCmd, "cannot create a temporary directory: " + std::string(std::strerror(errno)));
  const std::string tmp = name.data();
  std::printf("kaldro demo: a tour of libkaldro in %s\n", tmp.c_str());
  int (*const steps[])(const std::string &) = {
      demo_frame, demo_integers, demo_text, demo_genome,
#if KALDRO_TOOL_HAS_FIEDLER
      demo_fiedler,
#endif
#if KALDRO_TOOL_HAS_KURAMOTO
      demo_kuramoto,
#endif
  };
  int rc = kExitOk;
  for (auto step : steps) {
    rc = step(tmp);
    if (rc != kExitOk) break;
  }
  ::nftw(tmp.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  if (rc == kExitOk) std::printf("demo finished; %s removed\n", tmp.c_str());
  return rc;
}

const Command kDemoCommand = {
    "demo", "a short tour of the library on generated data",
    "usage: kaldro demo\n"
    "\n"
    "Runs a tour of the library's families on generated data in a temporary directory\n"
    "(under TMPDIR, or /tmp): a digest, a canonical JSON document, a TOML lookup, a genome\n"
    "saved, catalogued, windowed, edited, exploded into bundles, packed back, verified\n"
    "and damaged, a Fiedler bisection and a Kuramoto run, printing what it does. The\n"
    "directory is removed at the end.\n",
    run_demo, nullptr, 0};

}  // namespace tool
