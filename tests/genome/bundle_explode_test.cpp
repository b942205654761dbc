// Explode and pack: file names, the label checks before any file is written, the
// listing and pre-check of pack, the order of imports by label, and round trips.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <random>

#include "bundle_reference.h"
#include "genome/bundle.h"

namespace {

using namespace bundle_ref;

kaldro_status explode(const TempDir &g, const std::string &out, uint64_t ws_bytes = 4 << 20) {
  Workspace ws(ws_bytes);
  return kaldro_genome_explode(g.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n);
}
kaldro_status pack(const std::string &bundles, const TempDir &g, uint64_t ws_bytes = 4 << 20) {
  Workspace ws(ws_bytes);
  return kaldro_genome_pack(bundles.c_str(), g.c_str(), nullptr, 0, ws.p, ws.n);
}

TEST(BundleExplode, WritesOneBundlePerChromosome) {
  TempDir g, out;
  const Bytes one = the_one_of(8);
  const Bytes b = chromosome(8, "b", "xG"), a = chromosome(8, "a", "y", 2);
  ASSERT_EQ(save_body(g, concat({b, a}), 8, one), KALDRO_OK);
  ASSERT_EQ(explode(g, out.path), KALDRO_OK);
  EXPECT_EQ(list_dir(out.path), (std::vector<std::string>{"a.chr", "b.chr"}));
  EXPECT_EQ(read_file(out.file("a.chr")), bundle_file(a, 8, one));
  EXPECT_EQ(read_file(out.file("b.chr")), bundle_file(b, 8, one));
  // A directory that does not exist fails at the first export.
  EXPECT_EQ(explode(g, out.file("missing")), KALDRO_ERR_IO);
  // An empty genome writes nothing.
  TempDir e, out2;
  ASSERT_EQ(save_body(e, {}, 8, one), KALDRO_OK);
  EXPECT_EQ(explode(e, out2.path), KALDRO_OK);
  EXPECT_TRUE(list_dir(out2.path).empty());
  // The label table must fit.
  EXPECT_EQ(explode(g, out2.path, 2 * 256 - 1), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(list_dir(out2.path).empty());
}

TEST(BundleExplode, ChecksEveryLabelBeforeWritingAnyFile) {
  const Bytes one = the_one_of(256);
  std::vector<std::string> bad = {"", ".", "..", "a/b", "a\\b", std::string(252, 'q'),
                                  std::string(255, 'q'), "ok"};
  for (const std::string &label : bad) {
    TempDir g, out;
    // Good chromosomes come first: they would have been written without the check.
    Bytes body = concat({chromosome(256, "first", "x"), chromosome(256, "ok", "x", 2)});
    body = concat({body, chromosome(256, label, "G", 3)});  // "ok" twice names one file twice
    ASSERT_EQ(save_body(g, body, 256, one), KALDRO_OK);
    EXPECT_EQ(explode(g, out.path), KALDRO_ERR_INVALID) << label.size();
    EXPECT_TRUE(list_dir(out.path).empty()) << label.size();
  }
  // 251 bytes make a file name of exactly 255 bytes.
  TempDir g, out;
  const Bytes c = chromosome(256, std::string(251, 'q'), "x");
  ASSERT_EQ(save_body(g, c, 256, one), KALDRO_OK);
  ASSERT_EQ(explode(g, out.path), KALDRO_OK);
  EXPECT_EQ(read_file(out.file(std::string(251, 'q') + ".chr")), bundle_file(c, 256, one));
  // A bundle path longer than the path buffer.
  TempDir g2;
  ASSERT_EQ(save_body(g2, chromosome(8, "a", ""), 8, the_one_of(8)), KALDRO_OK);
  const std::string long_dir = "/" + std::string(4090, 'd');
  EXPECT_EQ(explode(g2, long_dir), KALDRO_ERR_CAPACITY);
}

TEST(BundlePack, ListsAndPrechecksBeforeImporting) {
  const Bytes one = the_one_of(8);
  const Bytes a = chromosome(8, "a", "x"), b = chromosome(8, "b", "GG", 2);
  {
    TempDir g, empty;
    EXPECT_EQ(pack(empty.file("missing"), g), KALDRO_ERR_INVALID);
    ASSERT_TRUE(write_file(empty.file(".chr"), bundle_file(a, 8, one)));
    ASSERT_TRUE(write_file(empty.file("a.CHR"), bundle_file(a, 8, one)));
    ASSERT_TRUE(write_file(empty.file("a.chrx"), bundle_file(a, 8, one)));
    EXPECT_EQ(pack(empty.path, g), KALDRO_ERR_INVALID);
    EXPECT_TRUE(list_dir(g.path).empty());
  }
  {
    // File names do not decide the order: labels do.
    TempDir g, in;
    ASSERT_TRUE(write_file(in.file("z.chr"), bundle_file(a, 8, one)));
    ASSERT_TRUE(write_file(in.file("a.chr"), bundle_file(b, 8, one)));
    ASSERT_EQ(pack(in.path, g), KALDRO_OK);
    EXPECT_EQ(read_file(g.file("turns.bin")), as_string(concat({a, b})));
    EXPECT_EQ(read_file(g.file("manifest.json")), manifest_file(concat({a, b}), 8, one));
  }
  {
    // One bundle with a wrong schema: nothing is imported.
    TempDir g, in;
    ASSERT_TRUE(write_file(in.file("a.chr"), bundle_file(a, 8, one)));
    Json t = bundle_tree(b, 8, one);
    member(t, "data_schema_id") = Json::str("kaldro://schema/genome_manifest/v1");
    ASSERT_TRUE(write_file(in.file("b.chr"), canonical(t) + "\n"));
    EXPECT_EQ(pack(in.path, g), KALDRO_ERR_INVALID);
    EXPECT_TRUE(list_dir(g.path).empty());
    // A bundle too large for the file area: nothing is imported either.
    TempDir in2;
    ASSERT_TRUE(write_file(in2.file("a.chr"), bundle_file(a, 8, one)));
    ASSERT_TRUE(write_file(in2.file("b.chr"), bundle_file(chromosome(8, "b", std::string(500, 'x')), 8, one)));
    EXPECT_EQ(pack(in2.path, g, 2 * 264 + 2 * 256 + 4096), KALDRO_ERR_CAPACITY);
    EXPECT_TRUE(list_dir(g.path).empty());
    EXPECT_EQ(pack(in2.path, g, 1000), KALDRO_ERR_CAPACITY);
  }
  {
    // A failing import stops the pack; the imports before it remain.
    TempDir g, in;
    ASSERT_TRUE(write_file(in.file("1.chr"), bundle_file(a, 8, one)));
    ASSERT_TRUE(write_file(in.file("2.chr"), bundle_file(b, 8, the_one_of(8, 50))));
    EXPECT_EQ(pack(in.path, g), KALDRO_ERR_INVALID);
    EXPECT_EQ(read_file(g.file("turns.bin")), as_string(a));
  }
  {
    // Equal labels keep their listing order: the one listed first is imported, the
    // second is refused as already catalogued.
    TempDir g, in;
    const Bytes a2 = chromosome(8, "a", "yyy", 9);
    ASSERT_TRUE(write_file(in.file("p.chr"), bundle_file(a, 8, one)));
    ASSERT_TRUE(write_file(in.file("q.chr"), bundle_file(a2, 8, one)));
    std::vector<std::string> listed;
    if (DIR *d = opendir(in.c_str())) {
      while (dirent *e = readdir(d)) listed.push_back(e->d_name);
      closedir(d);
    }
    std::string first;
    for (const std::string &n : listed)
      if (n == "p.chr" || n == "q.chr") { first = n; break; }
    EXPECT_EQ(pack(in.path, g), KALDRO_ERR_INVALID);
    EXPECT_EQ(read_file(g.file("turns.bin")), as_string(first == "p.chr" ? a : a2));
  }
}

TEST(BundlePack, ExplodeThenPackKeepsEveryChromosomeOrderedByLabel) {
  std::mt19937 rng(5);
  const uint32_t ld = 12;
  const Bytes one = the_one_of(ld, 77);
  std::vector<std::pair<std::string, Bytes>> chroms;
  Bytes body;
  for (int i = 0; i < 60; ++i) {
    std::string label = "c" + std::to_string(rng() % 100000) + "_" + std::to_string(i);
    if (i % 7 == 0) label = "\xe2\x82\xac" + label.substr(0, 6);  // bytes >= 0x80 sort last
    std::string tags;
    for (uint32_t k = rng() % 6; k > 0; --k) tags.push_back(rng() % 3 ? 'x' : 'G');
    chroms.push_back({label, chromosome(ld, label, tags, uint32_t(i))});
    body = concat({body, chroms.back().second});
  }
  TempDir g, out, packed;
  ASSERT_EQ(save_body(g, body, ld, one), KALDRO_OK);
  ASSERT_EQ(explode(g, out.path), KALDRO_OK);
  EXPECT_EQ(list_dir(out.path).size(), chroms.size());
  ASSERT_EQ(pack(out.path, packed), KALDRO_OK);
  std::stable_sort(chroms.begin(), chroms.end(), [](const auto &x, const auto &y) {
    return strcmp(x.first.c_str(), y.first.c_str()) < 0;
  });
  Bytes sorted;
  for (const auto &c : chroms) sorted = concat({sorted, c.second});
  EXPECT_EQ(read_file(packed.file("turns.bin")), as_string(sorted));
  EXPECT_EQ(read_file(packed.file("manifest.json")), manifest_file(sorted, ld, one));

  // A workspace with no room beside the catalog takes the plain path: the same files.
  TempDir out2;
  uint64_t n = 60 * 256 + 16384;
  while (explode(g, out2.path, n) != KALDRO_OK) n += 1024;
  ASSERT_EQ(list_dir(out2.path), list_dir(out.path));
  for (const std::string &f : list_dir(out.path)) EXPECT_EQ(read_file(out2.file(f)), read_file(out.file(f)));
}

TEST(BundlePack, SortIsStableByUnsignedBytesWithAndWithoutScratch) {
  std::mt19937 rng(9);
  for (uint32_t m : {0u, 1u, 2u, 7u, 300u}) {
    std::vector<std::array<char, 264>> names(m + 1);
    std::vector<std::array<char, 256>> labels(m + 1);
    std::vector<std::pair<std::string, std::string>> model;
    for (uint32_t i = 0; i < m; ++i) {
      std::string l(1 + rng() % 3, 'a');
      for (char &c : l) c = "ab\x80\xff"[rng() % 4];
      const std::string n = "n" + std::to_string(i);
      memcpy(labels[i].data(), l.c_str(), l.size() + 1);
      memcpy(names[i].data(), n.c_str(), n.size() + 1);
      model.push_back({l, n});
    }
    std::stable_sort(model.begin(), model.end(), [](const auto &x, const auto &y) {
      return strcmp(x.first.c_str(), y.first.c_str()) < 0;
    });
    for (int with_scratch = 0; with_scratch < 2; ++with_scratch) {
      auto nm = names;
      auto lb = labels;
      std::vector<uint32_t> scratch(with_scratch ? m + 1 : 0);
      kaldro::genome::sort_by_label(reinterpret_cast<char(*)[264]>(nm.data()),
                                    reinterpret_cast<char(*)[256]>(lb.data()), m,
                                    reinterpret_cast<uint8_t *>(scratch.data()), scratch.size() * 4);
      for (uint32_t i = 0; i < m; ++i) {
        EXPECT_EQ(std::string(lb[i].data()), model[i].first) << m << " " << i;
        EXPECT_EQ(std::string(nm[i].data()), model[i].second) << m << " " << i;
      }
    }
  }
}

}  // namespace
