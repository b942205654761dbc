// Pack with one save against pack importing bundle after bundle: for every workspace
// size, target genome and set of bundles (some refused part-way), both leave the same
// status and the same files. Also the streamed body digest against OpenSSL.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <functional>
#include <random>

#include "bundle_reference.h"
#include "genome/bundle.h"
#include "genome/genome.h"

namespace {

using namespace bundle_ref;

struct Outcome {
  kaldro_status status;
  bool batch = false;  // not compared: how, not what
  std::optional<std::string> turns, manifest;
  std::vector<std::string> files;
  bool operator==(const Outcome &o) const {
    return status == o.status && turns == o.turns && manifest == o.manifest && files == o.files;
  }
};

// Packs `bundles` into a copy of the target genome `start` (body and the_one; no
// genome when `start_body` is null) the batched or the plain way.
Outcome pack_into(const std::string &bundles, const Bytes *start_body, uint32_t ld, const Bytes &one,
                  uint64_t ws_bytes, bool batched) {
  TempDir g;
  if (start_body) {
    EXPECT_EQ(save_body(g, *start_body, ld, one), KALDRO_OK);
  }
  Workspace ws(ws_bytes);
  Outcome o;
  o.status = kaldro::genome::pack_run(bundles.c_str(), g.c_str(), nullptr, 0, ws.p, ws.n, batched,
                                      &o.batch);
  EXPECT_TRUE(batched || !o.batch);
  o.turns = read_file(g.file("turns.bin"));
  o.manifest = read_file(g.file("manifest.json"));
  o.files = list_dir(g.path);
  return o;
}

void write_bundle(const TempDir &d, const std::string &name, const Bytes &region, uint32_t ld,
                  const Bytes &one) {
  ASSERT_TRUE(write_file(d.file(name), bundle_file(region, ld, one)));
}

// Both ways over a sweep of workspace sizes from too small for the listing to ample.
void expect_same_everywhere(const std::string &bundles, const Bytes *start_body, uint32_t ld,
                            const Bytes &one, uint64_t ample, kaldro_status expected,
                            bool stops_part_way = false) {
  const Outcome big = pack_into(bundles, start_body, ld, one, ample, true);
  EXPECT_EQ(big.status, expected);
  EXPECT_TRUE(big.batch);
  EXPECT_EQ(big, pack_into(bundles, start_body, ld, one, ample, false));
  int batched = 0, plain_short = 0;
  for (uint64_t n = 2048; n < ample; n += n / 9 + 97) {
    const Outcome b = pack_into(bundles, start_body, ld, one, n, true);
    const Outcome p = pack_into(bundles, start_body, ld, one, n, false);
    EXPECT_EQ(b, p) << "workspace " << n << ": " << b.status << " vs " << p.status;
    batched += b.batch;
    plain_short += p.status == KALDRO_ERR_CAPACITY && p.turns.has_value() && !start_body;
  }
  // The sweep reaches sizes where the plain way stops part-way for room as well as
  // sizes where the batched way is taken.
  EXPECT_GT(batched, 0);
  if (stops_part_way) {
    EXPECT_GT(plain_short, 0);
  }
}

TEST(BundlePackBatched, SameFilesAsImportingOneByOne) {
  std::mt19937 rng(11);
  const uint32_t ld = 12;
  const Bytes one = the_one_of(ld, 41);
  TempDir bundles;
  Bytes sorted_body;
  std::vector<std::pair<std::string, Bytes>> chroms;
  for (int i = 0; i < 12; ++i) {
    std::string label = "k" + std::to_string(rng() % 1000) + "_" + std::to_string(i);
    if (i % 5 == 0) label = "\xc3\xa9" + label;
    std::string tags;
    for (uint32_t k = rng() % 20; k > 0; --k) tags.push_back(rng() % 4 ? 'x' : 'G');
    chroms.push_back({label, chromosome(ld, label, tags, uint32_t(i + 3))});
    // File names do not follow the labels' order.
    write_bundle(bundles, "f" + std::to_string(rng() % 100000) + ".chr", chroms.back().second, ld, one);
  }
  std::stable_sort(chroms.begin(), chroms.end(),
                   [](const auto &x, const auto &y) { return strcmp(x.first.c_str(), y.first.c_str()) < 0; });
  for (const auto &c : chroms) sorted_body = concat({sorted_body, c.second});

  // Into an empty directory: the genome of the sorted chromosomes.
  const Outcome fresh = pack_into(bundles.path, nullptr, ld, one, 1 << 20, true);
  ASSERT_EQ(fresh.status, KALDRO_OK);
  EXPECT_EQ(fresh.turns, as_string(sorted_body));
  EXPECT_EQ(fresh.manifest, manifest_file(sorted_body, ld, one));
  EXPECT_EQ(fresh.files, (std::vector<std::string>{"manifest.json", "turns.bin"}));
  expect_same_everywhere(bundles.path, nullptr, ld, one, 1 << 20, KALDRO_OK, true);
  // The least workspace the plain way succeeds with is too small for the batched way,
  // which then imports one by one: the same files.
  uint64_t lo = 2048, hi = 1 << 20;
  while (lo + 1 < hi) {
    const uint64_t mid = (lo + hi) / 2;
    (pack_into(bundles.path, nullptr, ld, one, mid, false).status == KALDRO_OK ? hi : lo) = mid;
  }
  const Outcome least = pack_into(bundles.path, nullptr, ld, one, hi, true);
  EXPECT_EQ(least.status, KALDRO_OK);
  EXPECT_FALSE(least.batch);
  EXPECT_EQ(least, fresh);

  // Into a genome that holds chromosomes already: they stay first.
  const Bytes start = concat({chromosome(ld, "zz", "xx", 90), chromosome(ld, "aa", "G", 91)});
  const Outcome joined = pack_into(bundles.path, &start, ld, one, 1 << 20, true);
  ASSERT_EQ(joined.status, KALDRO_OK);
  EXPECT_EQ(joined.manifest, manifest_file(concat({start, sorted_body}), ld, one));
  expect_same_everywhere(bundles.path, &start, ld, one, 1 << 20, KALDRO_OK);
}

TEST(BundlePackBatched, ARefusedBundleLeavesTheImportsBeforeIt) {
  const uint32_t ld = 10;
  const Bytes one = the_one_of(ld, 5), other = the_one_of(ld, 6);
  const Bytes a = chromosome(ld, "a", "xxG", 1), b = chromosome(ld, "b", "x", 2),
              c = chromosome(ld, "c", "xy", 3), d = chromosome(ld, "d", "", 4);
  struct Case {
    const char *what;
    std::function<void(const TempDir &)> write_c;  // the bundle labelled c
    const Bytes *start;
  };
  const Bytes start_with_c = concat({chromosome(ld, "q", "x", 9), chromosome(ld, "c", "G", 8)});
  const Bytes start_plain = chromosome(ld, "q", "x", 9);
  std::vector<Case> cases = {
      {"another the_one", [&](const TempDir &t) { write_bundle(t, "c.chr", c, ld, other); }, nullptr},
      {"a label the genome has", [&](const TempDir &t) { write_bundle(t, "c.chr", c, ld, one); }, &start_with_c},
      {"a label an earlier bundle has",
       [&](const TempDir &t) {
         write_bundle(t, "c.chr", c, ld, one);
         write_bundle(t, "c2.chr", chromosome(ld, "c", "xxxx", 12), ld, one);
       },
       &start_plain},
      {"a changed region digit",
       [&](const TempDir &t) {
         std::string text = bundle_file(c, ld, one);
         const size_t at = text.find("\"hex\": \"") + 30;
         ASSERT_LT(at, text.size());
         text[at] = text[at] == '0' ? '1' : '0';
         ASSERT_TRUE(write_file(t.file("c.chr"), text));
       },
       nullptr},
      {"another leaf_dim",
       [&](const TempDir &t) {
         write_bundle(t, "c.chr", chromosome(ld + 2, "c", "x", 3), ld + 2, the_one_of(ld + 2, 5));
       },
       nullptr},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    TempDir t;
    write_bundle(t, "1.chr", b, ld, one);
    write_bundle(t, "2.chr", a, ld, one);
    write_bundle(t, "3.chr", d, ld, one);
    k.write_c(t);
    const Outcome o = pack_into(t.path, k.start, ld, one, 1 << 20, true);
    EXPECT_EQ(o.status, KALDRO_ERR_INVALID);
    // a and b were imported, c refused, d never reached. Of two bundles labelled c the
    // one listed first is imported and the other refused.
    Bytes kept = concat({k.start ? *k.start : Bytes{}, a, b});
    if (o.turns && o.turns->size() > kept.size() && k.start == &start_plain)
      kept = concat({kept, Bytes(o.turns->begin() + long(kept.size()), o.turns->end())});
    EXPECT_EQ(o.turns, as_string(kept));
    EXPECT_EQ(o.manifest, manifest_file(kept, ld, one));
    expect_same_everywhere(t.path, k.start, ld, one, 1 << 20, KALDRO_ERR_INVALID);
  }
}

TEST(BundlePackBatched, StreamedDigestMatchesOpenSSL) {
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    Bytes data(rng() % 700);
    for (auto &x : data) x = uint8_t(rng());
    kaldro::genome::BodyDigest d;
    d.start();
    size_t at = 0;
    size_t keep = data.empty() ? 0 : rng() % (data.size() + 1);
    kaldro::genome::BodyDigest prefix;
    bool taken = false;
    while (at < data.size()) {
      size_t piece = std::min<size_t>(rng() % 130, data.size() - at);
      if (!taken && at + piece >= keep) {
        piece = keep - at;
        d.update(data.data() + at, piece);
        prefix = d;
        taken = true;
      } else {
        d.update(data.data() + at, piece);
      }
      at += piece;
    }
    char hex[65];
    d.finish_hex(hex);
    EXPECT_EQ(std::string(hex), sha256_hex(data));
    // The prefix continued over other bytes is the digest of the changed message.
    if (taken) {
      Bytes changed(data.begin(), data.begin() + long(keep));
      for (int k = int(rng() % 90); k > 0; --k) changed.push_back(uint8_t(rng()));
      kaldro::genome::body_digest_continue(prefix, keep, changed.data(), changed.size(), hex);
      EXPECT_EQ(std::string(hex), sha256_hex(changed));
    }
  }
}

}  // namespace
