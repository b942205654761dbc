// Genome windows and edits: lookups by label, the cap digest check, hand-edited
// manifests that must never move bytes the body does not hold, label uniqueness, and a
// differential run of random edits against a model of the genome.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <random>

#include "store_reference.h"

namespace {

using namespace store_ref;

constexpr uint32_t kLd = 8;

struct Chrom {
  std::string label;
  Bytes region;
};

Bytes body_of(const std::vector<Chrom> &cs) {
  Bytes b;
  for (const Chrom &c : cs) b.insert(b.end(), c.region.begin(), c.region.end());
  return b;
}

// A genome on disk next to its model, with generously sized workspaces.
struct Genome {
  TempDir dir;
  uint32_t ld;
  Bytes one;
  std::vector<Chrom> model;

  explicit Genome(uint32_t leaf_dim = kLd) : ld(leaf_dim), one(the_one_of(leaf_dim, 3)) {}

  uint64_t ws_for(uint64_t extra) const {
    const Bytes b = body_of(model);
    return kaldro_genome_arena_bytes(b.size() + extra, uint32_t(b.size() + extra) / ld + 2, 0);
  }
  kaldro_status save_model() {
    const Bytes b = body_of(model);
    Workspace ws(ws_for(0));
    return kaldro_genome_save(dir.c_str(), b.data(), b.size(), ld, one.data(), one.size(), ws.p, ws.n);
  }
  void add(const std::string &label, const std::string &tags, uint32_t seed = 1) {
    model.push_back({label, chromosome(ld, label, tags, seed)});
  }
  kaldro_status window(const std::string &label, Bytes *out, size_t cap = 1 << 16) {
    Workspace ws(ws_for(0));
    out->assign(cap, 0xEE);
    size_t len = 0;
    const kaldro_status st = kaldro_genome_window(dir.c_str(), label.c_str(), out->data(), cap, &len,
                                                  one.data(), one.size(), ws.p, ws.n);
    if (st == KALDRO_OK) out->resize(len);
    return st;
  }
  kaldro_status append(const std::string &label, const Bytes &src, uint64_t ws_bytes = 0) {
    Workspace ws(ws_bytes ? ws_bytes : ws_for(src.size()));
    return kaldro_genome_append(dir.c_str(), label.c_str(), src.empty() ? nullptr : src.data(),
                                src.size(), ld, one.data(), one.size(), ws.p, ws.n);
  }
  kaldro_status remove(const std::string &label) {
    Workspace ws(ws_for(0));
    return kaldro_genome_remove(dir.c_str(), label.c_str(), one.data(), one.size(), ws.p, ws.n);
  }
  kaldro_status replace(const std::string &label, const Bytes &src) {
    Workspace ws(ws_for(src.size()));
    return kaldro_genome_replace(dir.c_str(), label.c_str(), src.empty() ? nullptr : src.data(),
                                 src.size(), ld, one.data(), one.size(), ws.p, ws.n);
  }
  // The directory holds exactly the model's genome.
  void expect_model() const {
    const Bytes b = body_of(model);
    EXPECT_EQ(*read_file(dir.file("turns.bin")), as_string(b));
    EXPECT_EQ(*read_file(dir.file("manifest.json")), manifest_file(b, ld, one));
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"manifest.json", "turns.bin"}));
  }
  std::string files() const {
    return *read_file(dir.file("turns.bin")) + "|" + *read_file(dir.file("manifest.json")) + "|" +
           std::to_string(list_dir(dir.path).size());
  }
};

Genome three() {
  Genome g;
  g.add("a", "xGy", 1);
  g.add("bb", "G", 2);
  g.add("c", "xxxx", 3);
  EXPECT_EQ(g.save_model(), KALDRO_OK);
  return g;
}

TEST(StoreWindow, ReadsTheFirstEntryWithTheLabel) {
  Genome g;
  g.add("a", "xy", 1);
  g.add("b", "G", 2);
  g.model.push_back({"a", chromosome(kLd, "a", "zzz", 9)});  // a second "a"
  ASSERT_EQ(g.save_model(), KALDRO_OK);
  Bytes out;
  ASSERT_EQ(g.window("a", &out), KALDRO_OK);
  EXPECT_EQ(out, g.model[0].region);
  ASSERT_EQ(g.window("b", &out), KALDRO_OK);
  EXPECT_EQ(out, g.model[1].region);
  EXPECT_EQ(g.window("c", &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.window("", &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.window("a\x01", &out), KALDRO_ERR_INVALID);
}

TEST(StoreWindow, StatusOrderAndCapacity) {
  Genome g = three();
  const Bytes &b = g.model[1].region;
  Workspace ws(g.ws_for(0));
  Bytes out(b.size(), 0xEE);
  size_t len = 999;
  const char *dir = g.dir.c_str();
  EXPECT_EQ(kaldro_genome_window(nullptr, "bb", out.data(), out.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_window(dir, nullptr, out.data(), out.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_window(dir, "bb", nullptr, out.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_window(dir, "bb", out.data(), out.size(), nullptr, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_window(dir, "bb", out.data(), out.size(), &len, nullptr, 0, nullptr, ws.n), KALDRO_ERR_NULL);
  // The exact size fits; one byte less is refused with out_len untouched.
  EXPECT_EQ(kaldro_genome_window(dir, "bb", out.data(), out.size() - 1, &len, nullptr, 0, ws.p, ws.n), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 999u);
  EXPECT_EQ(out, Bytes(b.size(), 0xEE));
  ASSERT_EQ(kaldro_genome_window(dir, "bb", out.data(), out.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(len, b.size());
  EXPECT_EQ(out, b);
  // Label lookup fails before the capacity is looked at.
  EXPECT_EQ(kaldro_genome_window(dir, "zz", out.data(), 0, &len, nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  // Too small a workspace for the manifest.
  EXPECT_EQ(kaldro_genome_window(dir, "bb", out.data(), out.size(), &len, nullptr, 0, ws.p, 100), KALDRO_ERR_CAPACITY);
}

TEST(StoreWindow, ChecksTheCapRecordOnly) {
  Genome g = three();
  const std::string turns = g.dir.file("turns.bin");
  std::string body = *read_file(turns);
  const size_t c_at = g.model[0].region.size() + g.model[1].region.size();
  // A leaf byte of "c" changes: the window cannot see it.
  body[c_at + kLd + 3] ^= 1;
  ASSERT_TRUE(write_file(turns, body));
  Bytes out;
  ASSERT_EQ(g.window("c", &out), KALDRO_OK);
  EXPECT_EQ(as_string(out), body.substr(c_at, g.model[2].region.size()));
  // The free content of the cap changes: the region is still copied and its length set.
  body[c_at + kLd - 1] ^= 1;
  ASSERT_TRUE(write_file(turns, body));
  Workspace ws(g.ws_for(0));
  out.assign(100, 0);
  size_t len = 0;
  EXPECT_EQ(kaldro_genome_window(g.dir.c_str(), "c", out.data(), out.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(len, g.model[2].region.size());
  EXPECT_EQ(as_string(Bytes(out.begin(), out.begin() + len)), body.substr(c_at, len));
}

TEST(StoreWindow, RebuildsAMissingManifest) {
  Genome g = three();
  ASSERT_EQ(unlink(g.dir.file("manifest.json").c_str()), 0);
  Bytes out;
  ASSERT_EQ(g.window("bb", &out), KALDRO_OK);
  EXPECT_EQ(out, g.model[1].region);
  Workspace ws(g.ws_for(0));
  size_t len = 0;
  EXPECT_EQ(kaldro_genome_window(g.dir.c_str(), "bb", out.data(), out.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(list_dir(g.dir.path), std::vector<std::string>{"turns.bin"});
}

// Manifests edited by hand: the entry of "bb" (or the genome's leaf_dim) is changed while
// the body digest stays right.
struct Tamper {
  const char *what;
  const char *member;  // chromosome member, or "leaf_dim" of data
  Json value;
};
std::vector<Tamper> tamperings(uint64_t body_len) {
  return {
      {"offset string", "byte_offset", Json::str("8")},
      {"offset negative", "byte_offset", Json::num(-8)},
      {"offset past end", "byte_offset", Json::num(int64_t(body_len))},
      {"offset far past end", "byte_offset", Json::num(INT64_MAX - 7)},
      {"offset not a record boundary", "byte_offset", Json::num(33)},
      {"len string", "byte_len", Json::str("16")},
      {"len zero", "byte_len", Json::num(0)},
      {"len below leaf_dim", "byte_len", Json::num(kLd - 1)},
      {"len not whole records", "byte_len", Json::num(2 * kLd + 1)},
      {"len negative", "byte_len", Json::num(-16)},
      {"len past end", "byte_len", Json::num(int64_t(body_len))},
      {"len huge", "byte_len", Json::num(INT64_MAX & ~int64_t(7))},
      {"leaf_dim zero", "leaf_dim", Json::num(0)},
      {"leaf_dim too large", "leaf_dim", Json::num(257)},
      {"leaf_dim string", "leaf_dim", Json::str("8")},
  };
}

std::string tampered_manifest(const Genome &g, const Tamper &t) {
  Json root = manifest_tree(body_of(g.model), kLd, g.one);
  for (auto &m : root.members) {
    if (m.first != "data") continue;
    for (auto &dm : m.second.members) {
      if (std::string(t.member) == "leaf_dim" && dm.first == "leaf_dim") dm.second = t.value;
      if (dm.first != "chromosomes") continue;
      for (auto &cm : dm.second.items[1].members)
        if (cm.first == t.member) cm.second = t.value;
    }
  }
  // Doubles are not produced by the reference writer: a float offset is spliced in.
  return canonical(root) + "\n";
}

TEST(StoreEdit, HandEditedEntriesNeverMoveForeignBytes) {
  Genome g = three();
  const uint64_t body_len = body_of(g.model).size();
  std::vector<Tamper> all = tamperings(body_len);
  for (const Tamper &t : all) {
    SCOPED_TRACE(t.what);
    ASSERT_EQ(g.save_model(), KALDRO_OK);
    ASSERT_TRUE(write_file(g.dir.file("manifest.json"), tampered_manifest(g, t)));
    const std::string before = g.files();
    Bytes out;
    EXPECT_EQ(g.window("bb", &out), KALDRO_ERR_INVALID);
    EXPECT_EQ(g.remove("bb"), KALDRO_ERR_INVALID);
    EXPECT_EQ(g.replace("bb", chromosome(kLd, "bb", "x")), KALDRO_ERR_INVALID);
    EXPECT_EQ(g.replace("bb", {}), KALDRO_ERR_INVALID);
    EXPECT_EQ(g.files(), before);
  }
  // A fractional offset.
  ASSERT_EQ(g.save_model(), KALDRO_OK);
  std::string text = *read_file(g.dir.file("manifest.json"));
  const std::string key = "\"byte_offset\": " + std::to_string(g.model[0].region.size());
  const size_t at = text.find(key);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, key.size(), key + ".0");
  ASSERT_TRUE(write_file(g.dir.file("manifest.json"), text));
  Bytes out;
  EXPECT_EQ(g.window("bb", &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.remove("bb"), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.replace("bb", {}), KALDRO_ERR_INVALID);
}

TEST(StoreAppend, AddsAChromosomeAtTheEnd) {
  Genome g = three();
  const Bytes src = chromosome(kLd, "d", "xGx", 4);
  ASSERT_EQ(g.append("d", src), KALDRO_OK);
  g.model.push_back({"d", src});
  g.expect_model();
  Bytes out;
  ASSERT_EQ(g.window("d", &out), KALDRO_OK);
  EXPECT_EQ(out, src);
  // Two new chromosomes at once, the first carrying the label.
  const Bytes two = concat({chromosome(kLd, "e", "x", 5), chromosome(kLd, "f", "", 6)});
  ASSERT_EQ(g.append("e", two), KALDRO_OK);
  g.model.push_back({"e", chromosome(kLd, "e", "x", 5)});
  g.model.push_back({"f", chromosome(kLd, "f", "", 6)});
  g.expect_model();
}

TEST(StoreAppend, RefusesWithoutWriting) {
  Genome g = three();
  const std::string before = g.files();
  const Bytes d = chromosome(kLd, "d", "x");
  EXPECT_EQ(g.append("a", chromosome(kLd, "a", "x")), KALDRO_ERR_INVALID);   // catalogued
  EXPECT_EQ(g.append("d", chromosome(kLd, "e", "x")), KALDRO_ERR_INVALID);   // cap carries another label
  EXPECT_EQ(g.append("d", chromosome(kLd, "dd", "x")), KALDRO_ERR_INVALID);
  Bytes leaf_first = d;
  leaf_first[0] = 'x';
  EXPECT_EQ(g.append("d", leaf_first), KALDRO_ERR_INVALID);                 // no cap first
  EXPECT_EQ(g.append("d", concat({d, chromosome(kLd, "bb", "")})), KALDRO_ERR_INVALID);  // later cap taken
  EXPECT_EQ(g.append("d", concat({d, chromosome(kLd, "d", "")})), KALDRO_ERR_INVALID);   // repeated
  EXPECT_EQ(g.append("d", Bytes(d.begin(), d.end() - 1)), KALDRO_ERR_INVALID);          // not whole records
  EXPECT_EQ(g.append("d", {}), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.append("d", d, d.size() + body_of(g.model).size() - 1), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(g.append("d", d, d.size() + body_of(g.model).size() + 64), KALDRO_ERR_CAPACITY);  // no room for the catalog
  EXPECT_EQ(g.files(), before);

  Workspace ws(g.ws_for(d.size()));
  const char *dir = g.dir.c_str();
  const Bytes one9 = the_one_of(9);
  EXPECT_EQ(kaldro_genome_append(nullptr, "d", d.data(), d.size(), kLd, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_append(dir, nullptr, d.data(), d.size(), kLd, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_append(dir, "d", nullptr, d.size(), kLd, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_append(dir, "d", d.data(), d.size(), kLd, nullptr, kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_append(dir, "d", d.data(), d.size(), kLd, g.one.data(), kLd, nullptr, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_append(dir, "d", d.data(), d.size(), 0, g.one.data(), 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_append(dir, "d", d.data(), d.size(), kLd, one9.data(), 9, ws.p, ws.n), KALDRO_ERR_INVALID);
  // Another leaf_dim than the genome's: the region is whole records of 4 bytes too.
  const Bytes one4 = the_one_of(4);
  const Bytes d4 = chromosome(4, "d", "x");
  EXPECT_EQ(kaldro_genome_append(dir, "d", d4.data(), d4.size(), 4, one4.data(), 4, ws.p, ws.n), KALDRO_ERR_INVALID);
  const std::string long_dir(4090, 'd');
  EXPECT_EQ(kaldro_genome_append(long_dir.c_str(), "d", d.data(), d.size(), kLd, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(g.files(), before);

  // The body changed behind the manifest's back.
  std::string body = *read_file(g.dir.file("turns.bin"));
  body[3] ^= 1;
  ASSERT_TRUE(write_file(g.dir.file("turns.bin"), body));
  const std::string changed = g.files();
  EXPECT_EQ(g.append("d", d), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.files(), changed);
  // No body at all.
  TempDir empty;
  EXPECT_EQ(kaldro_genome_append(empty.c_str(), "d", d.data(), d.size(), kLd, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_IO);
  EXPECT_TRUE(list_dir(empty.path).empty());
}

TEST(StoreAppend, MalformedChromosomeListIsRefused) {
  Genome g = three();
  Json root = manifest_tree(body_of(g.model), kLd, g.one);
  for (auto &m : root.members)
    if (m.first == "data")
      for (auto &dm : m.second.members)
        if (dm.first == "chromosomes")
          for (auto &cm : dm.second.items[2].members)
            if (cm.first == "label") cm.second = Json::num(5);
  ASSERT_TRUE(write_file(g.dir.file("manifest.json"), canonical(root) + "\n"));
  const std::string before = g.files();
  EXPECT_EQ(g.append("d", chromosome(kLd, "d", "x")), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.files(), before);
}

TEST(StoreAppend, EmptyGenome) {
  Genome g;
  ASSERT_EQ(g.save_model(), KALDRO_OK);
  const std::string before = g.files();
  Bytes leaves = chromosome(kLd, "", "xx");
  leaves.erase(leaves.begin(), leaves.begin() + kLd);  // records without a cap
  EXPECT_EQ(g.append("", leaves), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.files(), before);
  const Bytes first = chromosome(kLd, "first", "xG");
  ASSERT_EQ(g.append("first", first), KALDRO_OK);
  g.model.push_back({"first", first});
  g.expect_model();
}

TEST(StoreRemove, CutsTheRegionOut) {
  Genome g = three();
  const Bytes old_body = body_of(g.model);
  const std::vector<Entry> before = scan(old_body, kLd);
  ASSERT_EQ(g.remove("a"), KALDRO_OK);
  g.model.erase(g.model.begin());
  g.expect_model();
  const std::vector<Entry> after = scan(body_of(g.model), kLd);
  ASSERT_EQ(after.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(after[i].offset, before[i + 1].offset - before[0].len);
    EXPECT_EQ(after[i].cap_sha256, before[i + 1].cap_sha256);
  }
  ASSERT_EQ(g.remove("c"), KALDRO_OK);
  g.model.pop_back();
  g.expect_model();
  // The last chromosome stays.
  const std::string last = g.files();
  EXPECT_EQ(g.remove("bb"), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.files(), last);
}

TEST(StoreRemove, RefusesWithoutWriting) {
  Genome g = three();
  const std::string before = g.files();
  EXPECT_EQ(g.remove("zz"), KALDRO_ERR_INVALID);
  Workspace ws(g.ws_for(0));
  const char *dir = g.dir.c_str();
  const Bytes one4 = the_one_of(4);
  EXPECT_EQ(kaldro_genome_remove(nullptr, "a", g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_remove(dir, nullptr, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_remove(dir, "a", nullptr, kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_remove(dir, "a", g.one.data(), kLd, nullptr, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_remove(dir, "a", g.one.data(), 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_remove(dir, "a", g.one.data(), 257, ws.p, ws.n), KALDRO_ERR_INVALID);
  // the_one_len is the genome's leaf_dim: another one is refused.
  EXPECT_EQ(kaldro_genome_remove(dir, "a", one4.data(), 4, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_remove(dir, "a", g.one.data(), kLd, ws.p, body_of(g.model).size() - 1), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(g.files(), before);
  std::string body = *read_file(g.dir.file("turns.bin"));
  body.back() ^= 1;
  ASSERT_TRUE(write_file(g.dir.file("turns.bin"), body));
  const std::string changed = g.files();
  EXPECT_EQ(g.remove("a"), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.files(), changed);
}

TEST(StoreReplace, PutsNewBytesInPlace) {
  Genome g = three();
  const Bytes longer = chromosome(kLd, "bb", "xxGxx", 7);
  ASSERT_EQ(g.replace("bb", longer), KALDRO_OK);
  g.model[1].region = longer;
  g.expect_model();
  // Renaming keeps the position.
  const Bytes renamed = chromosome(kLd, "zz", "", 8);
  ASSERT_EQ(g.replace("bb", renamed), KALDRO_OK);
  g.model[1] = {"zz", renamed};
  g.expect_model();
  // Two caps in place of one, neither label taken elsewhere.
  const Bytes pair = concat({chromosome(kLd, "p", "x", 9), chromosome(kLd, "a2", "G", 10)});
  ASSERT_EQ(g.replace("a", pair), KALDRO_OK);
  g.model.erase(g.model.begin());
  g.model.insert(g.model.begin(), {{"p", chromosome(kLd, "p", "x", 9)}, {"a2", chromosome(kLd, "a2", "G", 10)}});
  g.expect_model();
  // An empty region removes the chromosome.
  ASSERT_EQ(g.replace("zz", {}), KALDRO_OK);
  g.model.erase(g.model.begin() + 2);
  g.expect_model();
}

TEST(StoreReplace, OnlyChromosomeWithEmptyRegionLeavesAnEmptyGenome) {
  Genome g;
  g.add("solo", "xx");
  ASSERT_EQ(g.save_model(), KALDRO_OK);
  ASSERT_EQ(g.replace("solo", {}), KALDRO_OK);
  g.model.clear();
  g.expect_model();
  const std::string m = *read_file(g.dir.file("manifest.json"));
  EXPECT_NE(m.find("\"n_turns\": 0"), std::string::npos);
  EXPECT_NE(m.find("\"chromosomes\": []"), std::string::npos);
}

TEST(StoreReplace, RefusesWithoutWriting) {
  Genome g = three();
  const std::string before = g.files();
  EXPECT_EQ(g.replace("bb", chromosome(kLd, "a", "x")), KALDRO_ERR_INVALID);  // "a" is taken
  EXPECT_EQ(g.replace("bb", concat({chromosome(kLd, "bb", "x"), chromosome(kLd, "c", "")})), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.replace("bb", concat({chromosome(kLd, "n", "x"), chromosome(kLd, "n", "")})), KALDRO_ERR_INVALID);
  Bytes leaf_first = chromosome(kLd, "bb", "x");
  leaf_first[0] = 'G';
  EXPECT_EQ(g.replace("bb", leaf_first), KALDRO_ERR_INVALID);
  EXPECT_EQ(g.replace("nope", chromosome(kLd, "nope", "x")), KALDRO_ERR_INVALID);
  const Bytes r = chromosome(kLd, "bb", "x");
  EXPECT_EQ(g.replace("bb", Bytes(r.begin(), r.end() - 3)), KALDRO_ERR_INVALID);
  Workspace ws(g.ws_for(r.size()));
  const char *dir = g.dir.c_str();
  const Bytes one4 = the_one_of(4), r4 = chromosome(4, "bb", "x");
  EXPECT_EQ(kaldro_genome_replace(nullptr, "bb", r.data(), r.size(), kLd, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_replace(dir, "bb", nullptr, r.size(), kLd, g.one.data(), kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_replace(dir, "bb", r.data(), r.size(), kLd, nullptr, kLd, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_replace(dir, "bb", r.data(), r.size(), kLd, g.one.data(), kLd, nullptr, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_replace(dir, "bb", r.data(), r.size(), 0, g.one.data(), 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_replace(dir, "bb", r4.data(), r4.size(), 4, one4.data(), 4, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_replace(dir, "bb", r.data(), r.size(), kLd, g.one.data(), kLd, ws.p, 10), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(g.files(), before);
  // The label a replaced chromosome already carries may stay, and a duplicate label
  // elsewhere blocks the replacement from keeping it.
  ASSERT_EQ(g.replace("bb", r), KALDRO_OK);
  g.model[1].region = r;
  g.expect_model();
}

TEST(StoreEdit, DifferentialAgainstAModel) {
  std::mt19937 rng(20261208);
  for (uint32_t ld : {1u, 2u, 8u, 33u}) {
    SCOPED_TRACE(ld);
    Genome g(ld);
    int next = 0;
    // Labels fit the cap: one byte from a small alphabet when leaf_dim is 2, so that
    // clashes happen; none at all when it is 1, where every label is empty.
    auto label = [&](int k) {
      if (ld == 1) return std::string();
      if (ld == 2) return std::string(1, char('a' + k % 20));
      return std::string(1, char('a' + k % 26)) + std::to_string(k / 26);
    };
    auto tags = [&]() {
      std::string t;
      for (int k = rng() % 5; k > 0; --k) t.push_back("xGyG\x80"[rng() % 5]);
      return t;
    };
    auto carried_by_other = [&](const std::string &l, size_t skip) {
      for (size_t j = 0; j < g.model.size(); ++j)
        if (j != skip && g.model[j].label == l) return true;
      return false;
    };
    ASSERT_EQ(g.save_model(), KALDRO_OK);
    for (int step = 0; step < 60; ++step) {
      const int op = int(rng() % 4);
      const std::string before = g.files();
      if (op <= 1 || g.model.empty()) {
        const std::string l = label(next++);
        const Bytes src = chromosome(ld, l, tags(), rng());
        const kaldro_status st = g.append(l, src);
        if (carried_by_other(l, SIZE_MAX)) {
          EXPECT_EQ(st, KALDRO_ERR_INVALID);
          EXPECT_EQ(g.files(), before);
          continue;
        }
        ASSERT_EQ(st, KALDRO_OK);
        g.model.push_back({l, src});
      } else if (op == 2) {
        const size_t i = rng() % g.model.size();
        const kaldro_status st = g.remove(g.model[i].label);
        if (g.model.size() < 2) {
          EXPECT_EQ(st, KALDRO_ERR_INVALID);
          EXPECT_EQ(g.files(), before);
          continue;
        }
        ASSERT_EQ(st, KALDRO_OK);
        g.model.erase(g.model.begin() + long(i));
      } else {
        const size_t i = rng() % g.model.size();
        const bool rename = rng() % 2 && ld > 1;
        const std::string l = rename ? label(next++) : g.model[i].label;
        const Bytes src = rng() % 5 == 0 ? Bytes() : chromosome(ld, l, tags(), rng());
        const kaldro_status st = g.replace(g.model[i].label, src);
        if (!src.empty() && carried_by_other(l, i)) {
          EXPECT_EQ(st, KALDRO_ERR_INVALID);
          EXPECT_EQ(g.files(), before);
          continue;
        }
        ASSERT_EQ(st, KALDRO_OK);
        if (src.empty())
          g.model.erase(g.model.begin() + long(i));
        else
          g.model[i] = {l, src};
      }
      g.expect_model();
      if (!g.model.empty()) {
        const Chrom &c = g.model[rng() % g.model.size()];
        Bytes out;
        ASSERT_EQ(g.window(c.label, &out), KALDRO_OK);
        EXPECT_EQ(out, c.region);
      }
    }
  }
}

}  // namespace
