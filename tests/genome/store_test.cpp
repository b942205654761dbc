// Genome store: save, catalog and load. Manifest bytes are checked against the tests'
// own canonical writer and OpenSSL's SHA-256; status order, workspace boundaries, path
// limits and what a failed save leaves behind are checked on real directories.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <kaldro.h>

#include "genome/genome.h"
#include "platform/path.h"
#include "store_reference.h"

namespace {

using namespace store_ref;

uint64_t generous(const Bytes &body, uint32_t chromosomes = 0) {
  return kaldro_genome_arena_bytes(body.size(), chromosomes ? chromosomes : uint32_t(body.size() + 1), 0);
}

kaldro_status save(const TempDir &d, const Bytes &body, uint32_t leaf_dim, const Bytes &one,
                   uint64_t ws_bytes = 0) {
  Workspace ws(ws_bytes ? ws_bytes : generous(body));
  return kaldro_genome_save(d.c_str(), body.empty() ? nullptr : body.data(), body.size(), leaf_dim,
                            one.data(), one.size(), ws.p, ws.n);
}

// The two files of a genome and every other name in its directory.
struct Snapshot {
  std::optional<std::string> turns, manifest;
  std::vector<std::string> names;
  bool operator==(const Snapshot &) const = default;
};
Snapshot snapshot(const TempDir &d) {
  return {read_file(d.file("turns.bin")), read_file(d.file("manifest.json")), list_dir(d.path)};
}

std::string write_tree(const kaldro_json_node *root) {
  std::vector<uint8_t> ws(kaldro_json_write_arena_bytes(root));
  uint64_t len = 0;
  EXPECT_EQ(kaldro_json_write_ws(root, nullptr, 0, &len, ws.data(), ws.size()), KALDRO_OK);
  std::string out(len, '\0');
  EXPECT_EQ(kaldro_json_write_ws(root, out.data(), len, &len, ws.data(), ws.size()), KALDRO_OK);
  return out;
}

// Bodies that exercise the record rules: every tag kind, labels that need escaping,
// bytes from 0x80 up, full-width labels and free content after a label's terminator.
struct Case {
  const char *name;
  uint32_t leaf_dim;
  Bytes body;
};
std::vector<Case> cases() {
  std::vector<Case> out;
  out.push_back({"empty", 4, {}});
  {
    const std::string s = "CxGCyyCGCC";  // leaf_dim 1: every byte is a record
    out.push_back({"leaf_dim_1", 1, Bytes(s.begin(), s.end())});
  }
  {
    std::string label;
    for (int c = 1; c <= 255; ++c) label.push_back(char(c));  // no zero byte: 255 bytes
    out.push_back({"leaf_dim_256_full_label", 256,
                   concat({chromosome(256, label, "xGy", 3), chromosome(256, "second", "", 4, 0x80)})});
  }
  out.push_back({"cap_G_x_G", 8, chromosome(8, "abc", "GxG")});
  out.push_back({"escapes_and_high_bytes", 16,
                 concat({chromosome(16, "q\"b\\s\x01\x1f\x7f", "aGb", 5),
                         chromosome(16, "\xc3\xa9\xff\x80", "GGG", 6, 0x43),
                         chromosome(16, "", "z", 7), chromosome(16, "tab\there", "", 8)})});
  out.push_back({"duplicate_labels", 3,
                 concat({chromosome(3, "aa", "xy"), chromosome(3, "aa", "G"), chromosome(3, "b", "")})});
  {
    Bytes body;
    for (uint32_t i = 0; i < 40; ++i)
      body = concat({body, chromosome(5, "c" + std::to_string(i), std::string(i % 7, i % 2 ? 'G' : 'k'), i)});
    out.push_back({"forty", 5, body});
  }
  return out;
}

TEST(StoreArena, Formula) {
  EXPECT_EQ(kaldro_genome_arena_bytes(0, 0, 0), 77824u);
  EXPECT_EQ(kaldro_genome_arena_bytes(10, 3, 5), 20u + 3u * 2033u + 30u + 77824u);
  EXPECT_EQ(kaldro_genome_arena_bytes(UINT64_MAX, 0, 0), 77822u);  // wraps
  EXPECT_EQ(kaldro_genome_arena_bytes(0, UINT32_MAX, 0), uint64_t(UINT32_MAX) * 2033u + 77824u);
}

TEST(StorePath, JoinLimits) {
  char out[kaldro::kPathBytes];
  for (size_t name_len : {1, 9, 13, 200}) {
    const std::string name(name_len, 'n');
    const std::string fits(4094 - name_len, 'd'), too_long(4095 - name_len, 'd');
    ASSERT_EQ(kaldro::path_join(out, fits.c_str(), name.c_str()), KALDRO_OK);
    EXPECT_EQ(std::string(out), fits + "/" + name);
    EXPECT_EQ(strlen(out), 4095u);
    memset(out, 'z', sizeof out);
    EXPECT_EQ(kaldro::path_join(out, too_long.c_str(), name.c_str()), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(out[0], 'z');  // untouched
  }
  const std::string huge(10000, 'd');
  EXPECT_EQ(kaldro::path_join(out, huge.c_str(), "x"), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(kaldro::path_join(out, "", "turns.bin"), KALDRO_OK);
  EXPECT_STREQ(out, "/turns.bin");
}

TEST(StoreSave, NullPointersAreCheckedFirst) {
  TempDir d;
  const Bytes one = the_one_of(4), body = chromosome(4, "a", "x");
  Workspace ws(generous(body));
  // Every null check wins over an invalid leaf_dim and a bad body.
  EXPECT_EQ(kaldro_genome_save(nullptr, body.data(), body.size(), 0, one.data(), 3, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_save(d.c_str(), body.data(), body.size(), 0, nullptr, 3, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_save(d.c_str(), body.data(), body.size(), 0, one.data(), 3, nullptr, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_save(d.c_str(), nullptr, 4, 0, one.data(), 3, ws.p, ws.n), KALDRO_ERR_NULL);
  // A null body with length 0 is the empty genome.
  EXPECT_EQ(kaldro_genome_save(d.c_str(), nullptr, 0, 4, one.data(), 4, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(*read_file(d.file("turns.bin")), "");
}

TEST(StoreSave, InvalidArgumentsAndBodies) {
  TempDir d;
  const Bytes one4 = the_one_of(4), one5 = the_one_of(5);
  const Bytes body = chromosome(4, "a", "x");
  Workspace ws(generous(body) + 100000);
  const std::string long_dir(5000, 'd');
  // Values are checked before the paths are built.
  EXPECT_EQ(kaldro_genome_save(long_dir.c_str(), body.data(), body.size(), 0, one4.data(), 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_save(d.c_str(), body.data(), body.size(), 257, one4.data(), 257, ws.p, ws.n), KALDRO_ERR_INVALID);
  // the_one_len differs from leaf_dim although both lie in 1..256.
  EXPECT_EQ(kaldro_genome_save(d.c_str(), body.data(), body.size(), 4, one5.data(), 5, ws.p, ws.n), KALDRO_ERR_INVALID);
  // Not whole records; not beginning with a cap.
  EXPECT_EQ(kaldro_genome_save(d.c_str(), body.data(), body.size() - 1, 4, one4.data(), 4, ws.p, ws.n), KALDRO_ERR_INVALID);
  Bytes no_cap = body;
  no_cap[0] = 'x';
  EXPECT_EQ(kaldro_genome_save(d.c_str(), no_cap.data(), no_cap.size(), 4, one4.data(), 4, ws.p, ws.n), KALDRO_ERR_INVALID);
  const Bytes leading_leaf = concat({Bytes{'x', 0, 0, 0}, body});
  EXPECT_EQ(kaldro_genome_save(d.c_str(), leading_leaf.data(), leading_leaf.size(), 4, one4.data(), 4, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_TRUE(list_dir(d.path).empty());  // nothing was written by any of them
}

TEST(StoreSave, DirectoryLengthLimits) {
  const Bytes one = the_one_of(2), body = chromosome(2, "a", "x");
  Workspace ws(generous(body));
  // turns.bin alone would fit a directory of up to 4085 bytes; manifest.json does not.
  for (size_t len = 4082; len <= 4090; ++len) {
    const std::string dir = "/tmp/" + std::string(len - 5, 'd');
    EXPECT_EQ(kaldro_genome_save(dir.c_str(), body.data(), body.size(), 2, one.data(), 2, ws.p, ws.n), KALDRO_ERR_CAPACITY) << len;
    // The paths are built before the body is looked at.
    EXPECT_EQ(kaldro_genome_save(dir.c_str(), body.data(), body.size() - 1, 2, one.data(), 2, ws.p, ws.n), KALDRO_ERR_CAPACITY) << len;
  }
  // A real directory of exactly 4081 bytes takes both files.
  TempDir root;
  std::string dir = root.path;
  while (dir.size() < 4081) {
    const size_t step = std::min<size_t>(200, 4081 - dir.size() - 1);
    dir += "/" + std::string(step, 'p');
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0) << dir.size();
  }
  ASSERT_EQ(dir.size(), 4081u);
  EXPECT_EQ(kaldro_genome_save(dir.c_str(), body.data(), body.size(), 2, one.data(), 2, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(*read_file(dir + "/turns.bin"), as_string(body));
  EXPECT_EQ(*read_file(dir + "/manifest.json"), manifest_file(body, 2, one));
}

TEST(StoreSave, ManifestBytesMatchIndependentWriter) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    TempDir d;
    const Bytes one = the_one_of(c.leaf_dim, uint8_t(c.leaf_dim));
    ASSERT_EQ(save(d, c.body, c.leaf_dim, one), KALDRO_OK);
    EXPECT_EQ(*read_file(d.file("turns.bin")), as_string(c.body));
    EXPECT_EQ(*read_file(d.file("manifest.json")), manifest_file(c.body, c.leaf_dim, one));
    EXPECT_EQ(list_dir(d.path), (std::vector<std::string>{"manifest.json", "turns.bin"}));
  }
}

TEST(StoreSave, RecordRulesOnListedBodies) {
  // The reference scan and the library must also agree with these facts stated outright.
  const std::vector<Entry> g = scan(chromosome(8, "abc", "GxG"), 8);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0].len, 32u);
  EXPECT_EQ(g[0].leaf_count, 1u);
  const std::string ones = "CxGCyyCGCC";
  const std::vector<Entry> e = scan(Bytes(ones.begin(), ones.end()), 1);
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[1].leaf_count, 2u);
  EXPECT_EQ(e[2].leaf_count, 0u);
  EXPECT_EQ(e[0].label, "");

  TempDir d;
  std::string label;
  for (int c = 1; c <= 255; ++c) label.push_back(char(c));
  const Bytes body = chromosome(256, label, "");
  const Bytes one = the_one_of(256);
  ASSERT_EQ(save(d, body, 256, one), KALDRO_OK);
  Workspace ws(generous(body));
  const kaldro_json_node *root = nullptr;
  ASSERT_EQ(kaldro_genome_catalog(d.c_str(), nullptr, 0, ws.p, ws.n, &root), KALDRO_OK);
  const kaldro_json_node *data = kaldro_json_object_get(root, "data");
  const kaldro_json_node *list = kaldro_json_object_get(data, "chromosomes");
  ASSERT_TRUE(list && list->kind == KALDRO_JSON_ARRAY && list->count == 1);
  const kaldro_json_node *l = kaldro_json_object_get(list->items[0], "label");
  ASSERT_TRUE(l && l->kind == KALDRO_JSON_STRING);
  EXPECT_EQ(std::string(l->str, l->len), label);
}

TEST(StoreSave, EmptyBody) {
  TempDir d;
  const Bytes one = the_one_of(4);
  ASSERT_EQ(save(d, {}, 4, one), KALDRO_OK);
  EXPECT_EQ(*read_file(d.file("turns.bin")), "");
  const std::string m = *read_file(d.file("manifest.json"));
  EXPECT_NE(m.find("\"n_turns\": 0"), std::string::npos);
  EXPECT_NE(m.find("\"chromosomes\": []"), std::string::npos);
  EXPECT_NE(m.find("\"body_sha256\": \"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\""),
            std::string::npos);
}

TEST(StoreSave, SameInputsGiveIdenticalFiles) {
  TempDir a, b;
  const Case c = cases()[4];
  const Bytes one = the_one_of(c.leaf_dim);
  ASSERT_EQ(save(a, c.body, c.leaf_dim, one), KALDRO_OK);
  const std::string first = *read_file(a.file("manifest.json"));
  ASSERT_EQ(save(a, c.body, c.leaf_dim, one), KALDRO_OK);
  ASSERT_EQ(save(b, c.body, c.leaf_dim, one, generous(c.body) + 12345), KALDRO_OK);
  EXPECT_EQ(*read_file(a.file("manifest.json")), first);
  EXPECT_EQ(*read_file(b.file("manifest.json")), first);
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(first.back(), '\n');
  EXPECT_NE(first[first.size() - 2], '\n');
  EXPECT_EQ(first.find('\n'), first.size() - 1);
}

TEST(StoreSave, WorkspaceBoundaries) {
  for (uint32_t n : {0u, 1u, 3u, 17u}) {
    SCOPED_TRACE(n);
    Bytes body;
    for (uint32_t i = 0; i < n; ++i) body = concat({body, chromosome(6, "L" + std::to_string(i), "xG", i)});
    const Bytes one = the_one_of(6);
    const SaveSizes s = save_sizes(n);
    TempDir d;
    ASSERT_EQ(save(d, body, 6, one, s.total()), KALDRO_OK);
    EXPECT_EQ(*read_file(d.file("manifest.json")), manifest_file(body, 6, one));
    const Snapshot saved = snapshot(d);
    // A different body: any write would show.
    const Bytes other = concat({body, chromosome(6, "zz", "q")});
    const SaveSizes so = save_sizes(n + 1);
    ASSERT_EQ(save(d, other, 6, one, so.total()), KALDRO_OK);
    ASSERT_EQ(save(d, body, 6, one, s.total()), KALDRO_OK);
    // The writer's stack is too small: its own status comes back.
    EXPECT_EQ(save(d, other, 6, one, so.total() - 1), KALDRO_ERR_INVALID);
    EXPECT_EQ(save(d, other, 6, one, so.total() - so.writer), KALDRO_ERR_INVALID);
    // One byte short of the builder's nodes, of the text area, of the tables.
    EXPECT_EQ(save(d, other, 6, one, so.total() - so.writer - 1), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(save(d, other, 6, one, so.tree_at + so.pointers - 1), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(save(d, other, 6, one, so.text_at + so.text_bytes - 1), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(save(d, other, 6, one, so.tables_end - 1), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(save(d, other, 6, one, 1), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(snapshot(d), saved);
  }
}

TEST(StoreSave, FailedSaveLeavesTheGenomeUntouched) {
  TempDir d;
  const Bytes one = the_one_of(4);
  const Bytes body = concat({chromosome(4, "a", "xy"), chromosome(4, "b", "G")});
  ASSERT_EQ(save(d, body, 4, one), KALDRO_OK);
  const Snapshot saved = snapshot(d);
  const Bytes longer = concat({body, chromosome(4, "c", "xxx")});
  Bytes no_cap = longer;
  no_cap[0] = 'G';
  EXPECT_EQ(save(d, Bytes(longer.begin(), longer.end() - 2), 4, one), KALDRO_ERR_INVALID);
  EXPECT_EQ(save(d, no_cap, 4, one), KALDRO_ERR_INVALID);
  EXPECT_EQ(save(d, longer, 4, one, 200), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(save(d, longer, 4, one, save_sizes(3).text_at + 100), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(save(d, longer, 4, one, save_sizes(3).total() - 300), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(snapshot(d), saved);
}

TEST(StoreSave, FailedWriteLeavesNoTemporaryFile) {
  TempDir d;
  const Bytes one = the_one_of(4), body = chromosome(4, "a", "x");
  // A directory in turns.bin's place makes the body's write fail: no manifest follows.
  ASSERT_EQ(mkdir(d.file("turns.bin").c_str(), 0700), 0);
  EXPECT_EQ(save(d, body, 4, one), KALDRO_ERR_IO);
  EXPECT_EQ(list_dir(d.path), std::vector<std::string>{"turns.bin"});
  EXPECT_TRUE(list_dir(d.file("turns.bin")).empty());
  // A directory that does not exist.
  const std::string missing = d.file("missing");
  Workspace ws(generous(body));
  EXPECT_EQ(kaldro_genome_save(missing.c_str(), body.data(), body.size(), 4, one.data(), 4, ws.p, ws.n), KALDRO_ERR_IO);
}

TEST(StoreSave, EscapedLabelsBeyondTheTextBound) {
  // Labels made of control bytes take six bytes each in the text, more than the text
  // area's bound allows for: the text must still be written, from the free tail.
  const uint32_t ld = 256;
  Bytes body;
  std::string control;
  for (int k = 0; k < 255; ++k) control.push_back(char(1 + k % 7));  // \u0001 .. \u0007
  for (uint32_t i = 0; i < 8; ++i) {
    std::string label = control;
    label[0] = char('a' + i);
    body = concat({body, chromosome(ld, label, "x", i)});
  }
  const Bytes one = the_one_of(ld);
  const std::string expected = manifest_file(body, ld, one);
  const SaveSizes s = save_sizes(8);
  ASSERT_GT(expected.size(), s.text_bytes);
  // The layout as laid out for texts that fit holds nothing more; the text goes behind the
  // writer's stack in the free tail.
  const uint64_t tail = s.total() - s.writer;
  const uint64_t text_at = up16(up16(tail) + 16 + 4 * (24 + 36));
  const uint64_t needed = text_at + expected.size();  // the text and its line feed

  TempDir d;
  ASSERT_EQ(save(d, chromosome(ld, "seed", ""), ld, one), KALDRO_OK);
  const Snapshot saved = snapshot(d);
  EXPECT_EQ(save(d, body, ld, one, s.total()), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(save(d, body, ld, one, needed - 1), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(snapshot(d), saved);
  ASSERT_EQ(save(d, body, ld, one, needed), KALDRO_OK);
  EXPECT_EQ(*read_file(d.file("manifest.json")), expected);
  ASSERT_EQ(save(d, body, ld, one, kaldro_genome_arena_bytes(body.size(), 8, 0)), KALDRO_OK);
  EXPECT_EQ(*read_file(d.file("manifest.json")), expected);
}

TEST(StoreSave, BodiesOf4GiBAreRefusedBeforeWriting) {
  const uint64_t len = (uint64_t(1) << 32) + 4;
  void *big = mmap(nullptr, len, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(big, MAP_FAILED);
  TempDir d;
  const Bytes one = the_one_of(4);
  ASSERT_EQ(save(d, chromosome(4, "a", ""), 4, one), KALDRO_OK);
  const Snapshot saved = snapshot(d);
  Workspace ws(1 << 20);
  EXPECT_EQ(kaldro_genome_save(d.c_str(), static_cast<const uint8_t *>(big), len, 4, one.data(), 4, ws.p, ws.n),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_genome_save(d.c_str(), static_cast<const uint8_t *>(big), uint64_t(1) << 32, 4, one.data(), 4, ws.p, ws.n),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(snapshot(d), saved);
  munmap(big, len);
}

TEST(StoreCatalog, ReadsTheSavedManifest) {
  TempDir d;
  const Case c = cases()[4];
  const Bytes one = the_one_of(c.leaf_dim);
  ASSERT_EQ(save(d, c.body, c.leaf_dim, one), KALDRO_OK);
  Workspace ws(generous(c.body));
  const kaldro_json_node *root = nullptr;
  ASSERT_EQ(kaldro_genome_catalog(d.c_str(), nullptr, 0, ws.p, ws.n, &root), KALDRO_OK);
  EXPECT_EQ(write_tree(root) + "\n", manifest_file(c.body, c.leaf_dim, one));
}

TEST(StoreCatalog, RebuildEqualsSaveAndWritesNothing) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    TempDir d;
    const Bytes one = the_one_of(c.leaf_dim, 99);
    ASSERT_EQ(save(d, c.body, c.leaf_dim, one), KALDRO_OK);
    ASSERT_EQ(unlink(d.file("manifest.json").c_str()), 0);
    Workspace ws(generous(c.body));
    const kaldro_json_node *root = nullptr;
    ASSERT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), one.size(), ws.p, ws.n, &root), KALDRO_OK);
    // Use the tree after other stack frames have come and gone: it lives in the workspace.
    const std::string expected = manifest_file(c.body, c.leaf_dim, one);
    EXPECT_EQ(write_tree(root) + "\n", expected);
    EXPECT_EQ(list_dir(d.path), std::vector<std::string>{"turns.bin"});
    // A load through the rebuilt catalog verifies.
    std::vector<uint8_t> out(c.body.size() + 1);
    size_t got = 0;
    EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, one.data(), one.size(), ws.p, ws.n), KALDRO_OK);
    EXPECT_EQ(got, c.body.size());
  }
}

TEST(StoreCatalog, StatusOrder) {
  TempDir d;
  const Bytes one = the_one_of(4);
  Workspace ws(100000);
  const kaldro_json_node *root = nullptr;
  EXPECT_EQ(kaldro_genome_catalog(nullptr, one.data(), 4, ws.p, ws.n, &root), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 4, nullptr, ws.n, &root), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 4, ws.p, ws.n, nullptr), KALDRO_ERR_NULL);
  // Neither file: invalid rebuild input first, then the missing body.
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), nullptr, 4, ws.p, ws.n, &root), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 0, ws.p, ws.n, &root), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 257, ws.p, ws.n, &root), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 4, ws.p, ws.n, &root), KALDRO_ERR_IO);
  const std::string long_dir(4082, 'd');
  EXPECT_EQ(kaldro_genome_catalog(long_dir.c_str(), one.data(), 4, ws.p, ws.n, &root), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(root, nullptr);

  // A body that does not scan, or that the workspace cannot hold.
  ASSERT_TRUE(write_file(d.file("turns.bin"), "xaaa"));
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 4, ws.p, ws.n, &root), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 3, ws.p, ws.n, &root), KALDRO_ERR_INVALID);
  ASSERT_TRUE(write_file(d.file("turns.bin"), "Caaa"));
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 4, ws.p, 3, &root), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 4, ws.p, 2000, &root), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), one.data(), 4, ws.p, ws.n, &root), KALDRO_OK);

  // A manifest is taken as it stands, whatever JSON it holds; the workspace must hold it
  // and one byte more.
  ASSERT_TRUE(write_file(d.file("manifest.json"), "[1, 2]\r\n"));
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), nullptr, 0, ws.p, 8, &root), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(kaldro_genome_catalog(d.c_str(), nullptr, 0, ws.p, ws.n, &root), KALDRO_OK);
  EXPECT_EQ(root->kind, KALDRO_JSON_ARRAY);
  ASSERT_TRUE(write_file(d.file("manifest.json"), "{\"a\": "));
  EXPECT_EQ(kaldro_genome_catalog(d.c_str(), nullptr, 0, ws.p, ws.n, &root), KALDRO_ERR_INVALID);
}

TEST(StoreLoad, VerifiesTheBody) {
  TempDir d;
  const Case c = cases()[4];
  const Bytes one = the_one_of(c.leaf_dim);
  ASSERT_EQ(save(d, c.body, c.leaf_dim, one), KALDRO_OK);
  Workspace ws(generous(c.body));
  std::vector<uint8_t> out(c.body.size());
  size_t got = 12345;
  EXPECT_EQ(kaldro_genome_load(nullptr, out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_load(d.c_str(), nullptr, out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), nullptr, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, nullptr, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(got, 12345u);

  ASSERT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(got, c.body.size());
  EXPECT_EQ(out, c.body);
  got = 777;
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size() - 1, &got, nullptr, 0, ws.p, ws.n), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(got, 777u);

  // Extra line ends after the text are accepted.
  const std::string manifest = *read_file(d.file("manifest.json"));
  ASSERT_TRUE(write_file(d.file("manifest.json"), manifest + "\r\n\r\n"));
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_OK);

  // One body byte changed after the save: the bytes and length are still delivered.
  Bytes changed = c.body;
  changed[changed.size() / 2] ^= 0x20;
  ASSERT_TRUE(write_file(d.file("turns.bin"), as_string(changed)));
  std::fill(out.begin(), out.end(), 0);
  got = 0;
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(got, changed.size());
  EXPECT_EQ(out, changed);

  // A digest stored in uppercase never matches; a manifest without it is refused.
  ASSERT_TRUE(write_file(d.file("turns.bin"), as_string(c.body)));
  std::string upper = manifest;
  const std::string digest = sha256_hex(c.body);
  std::string up = digest;
  for (char &ch : up) ch = char(toupper(ch));
  for (size_t at; (at = upper.find(digest)) != std::string::npos;) upper.replace(at, digest.size(), up);
  ASSERT_TRUE(write_file(d.file("manifest.json"), upper));
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  ASSERT_TRUE(write_file(d.file("manifest.json"), "{\"data\": {\"body_sha256\": 5}}"));
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  ASSERT_TRUE(write_file(d.file("manifest.json"), "{\"data\": {\"body_sha256\": \"" + digest + "\"}}"));
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_OK);
  // No body at all.
  ASSERT_EQ(unlink(d.file("turns.bin").c_str()), 0);
  EXPECT_EQ(kaldro_genome_load(d.c_str(), out.data(), out.size(), &got, nullptr, 0, ws.p, ws.n), KALDRO_ERR_IO);
}

}  // namespace
