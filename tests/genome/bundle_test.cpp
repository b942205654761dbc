// Chromosome bundles: export bytes against the tests' own construction, the status
// order, hand-edited manifests, the text that outgrows its area, and import's checks
// in order, each refusal leaving the target genome exactly as it was.
#include <gtest/gtest.h>

#include <kaldro.h>

#include "bundle_reference.h"

namespace {

using namespace bundle_ref;

kaldro_status do_export(const TempDir &g, const std::string &label, const std::string &out,
                        uint64_t ws_bytes = 1 << 20) {
  Workspace ws(ws_bytes);
  return kaldro_genome_export(g.c_str(), label.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n);
}
kaldro_status do_import(const std::string &bundle, const TempDir &g, uint64_t ws_bytes = 1 << 20,
                        const Bytes *one = nullptr) {
  Workspace ws(ws_bytes);
  return kaldro_genome_import(bundle.c_str(), g.c_str(), one ? one->data() : nullptr,
                              one ? one->size() : 0, ws.p, ws.n);
}

struct Genome {
  uint32_t ld;
  std::vector<Bytes> chroms;
  Bytes one;
  Bytes body() const {
    Bytes b;
    for (const Bytes &c : chroms) b.insert(b.end(), c.begin(), c.end());
    return b;
  }
};

std::vector<Genome> genomes() {
  std::vector<Genome> out;
  out.push_back({1, {Bytes{'C', 'x', 'G'}, Bytes{'C'}, Bytes{'C', 'a', 'b'}}, the_one_of(1)});
  std::string full;
  for (int c = 1; c <= 255; ++c) full.push_back(char(c == 'C' ? 'D' : c));
  out.push_back({256, {chromosome(256, full, "xGy", 3), chromosome(256, "second", "", 4, 0x80)},
                 the_one_of(256)});
  out.push_back({16, {chromosome(16, "q\"b\\s\x01\x1f\x7f", "aGb", 5), chromosome(16, "\xc3\xa9\xff", "GGG", 6, 0x43),
                      chromosome(16, "tab\there", "", 8)}, the_one_of(16, 9)});
  return out;
}

TEST(BundleExport, BytesMatchAnIndependentConstruction) {
  for (const Genome &gm : genomes()) {
    TempDir g, out;
    ASSERT_EQ(save_body(g, gm.body(), gm.ld, gm.one), KALDRO_OK);
    for (const Bytes &c : gm.chroms) {
      const std::string label = scan(c, gm.ld).at(0).label;
      if (label.empty() && gm.ld > 1) continue;
      const std::string path = out.file("x.chr");
      ASSERT_EQ(do_export(g, label, path), KALDRO_OK) << gm.ld << " " << label;
      const auto first = read_file(path);
      ASSERT_TRUE(first);
      EXPECT_EQ(*first, bundle_file(c, gm.ld, gm.one)) << gm.ld << " " << label;
      // Exporting again gives the same bytes.
      ASSERT_EQ(do_export(g, label, path), KALDRO_OK);
      EXPECT_EQ(read_file(path), first);
      if (gm.ld == 1) break;  // every cap of leaf_dim 1 has the empty label
    }
  }
}

TEST(BundleExport, StatusOrderAndNothingWritten) {
  TempDir g, out;
  const Bytes one = the_one_of(8);
  ASSERT_EQ(save_body(g, concat({chromosome(8, "a", "xx"), chromosome(8, "b", "G")}), 8, one), KALDRO_OK);
  Workspace ws(1 << 20);
  const std::string path = out.file("a.chr");
  EXPECT_EQ(kaldro_genome_export(nullptr, "a", path.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_export(g.c_str(), nullptr, path.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "a", nullptr, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "a", path.c_str(), one.data(), 8, nullptr, 0), KALDRO_ERR_NULL);
  // A null workspace wins over a bad the_one length; a bad length wins over the catalog.
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "a", path.c_str(), one.data(), 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "a", path.c_str(), one.data(), 257, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "zz", path.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_export(out.file("none").c_str(), "a", path.c_str(), one.data(), 8, ws.p, ws.n),
            KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "a", path.c_str(), nullptr, 0, ws.p, 64), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(list_dir(out.path).empty());
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "b", out.file("no/dir.chr").c_str(), nullptr, 0, ws.p, ws.n),
            KALDRO_ERR_IO);
  // A changed cap record in the body is caught before anything is written.
  std::string t = *read_file(g.file("turns.bin"));
  t[3] ^= 1;
  ASSERT_TRUE(write_file(g.file("turns.bin"), t));
  EXPECT_EQ(kaldro_genome_export(g.c_str(), "a", path.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_TRUE(list_dir(out.path).empty());
}

// Edits one member of the first chromosome entry (or of "data") in manifest.json.
void edit_manifest(const TempDir &g, const Bytes &body, uint32_t ld, const Bytes &one,
                   const std::function<void(Json &data, Json &entry)> &fn) {
  Json m = manifest_tree(body, ld, one);
  Json &data = member(m, "data");
  fn(data, member(data, "chromosomes").items.at(0));
  ASSERT_TRUE(write_file(g.file("manifest.json"), canonical(m) + "\n"));
}

TEST(BundleExport, RefusesHandEditedEntries) {
  const Bytes one = the_one_of(8);
  const Bytes a = chromosome(8, "a", "xx"), b = chromosome(8, "b", "Gy");
  const Bytes body = concat({a, b});
  std::vector<std::function<void(Json &, Json &)>> edits = {
      [](Json &, Json &e) { member(e, "byte_offset") = Json::str("0"); },
      [](Json &, Json &e) { member(e, "byte_offset") = Json::num(-8); },
      [](Json &, Json &e) { member(e, "byte_len") = Json::num(4); },
      [](Json &, Json &e) { member(e, "byte_len") = Json::num(12); },
      [](Json &, Json &e) { member(e, "byte_len") = Json::num(8 * 100); },          // past the end
      [](Json &, Json &e) { member(e, "byte_offset") = Json::num(8 * 100); },
      [](Json &, Json &e) { member(e, "byte_len") = Json::num(8 * 6); },            // reaches b's cap
      [](Json &, Json &e) { member(e, "cap_sha256") = Json::str("00"); },
      [](Json &, Json &e) { drop(e, "leaf_count"); },
      [](Json &d, Json &) { member(d, "leaf_dim") = Json::num(0); },
      [](Json &d, Json &) { member(d, "leaf_dim") = Json::num(257); },
      [](Json &d, Json &) { member(member(d, "the_one"), "hex") = Json::str(std::string(514, 'a')); },
      [](Json &d, Json &) { member(member(d, "the_one"), "sha256") = Json::num(1); },
      [](Json &d, Json &) { member(d, "chromosomes") = Json::num(1); },
  };
  for (size_t k = 0; k < edits.size(); ++k) {
    TempDir g, out;
    ASSERT_EQ(save_body(g, body, 8, one), KALDRO_OK);
    edit_manifest(g, body, 8, one, edits[k]);
    EXPECT_EQ(do_export(g, "a", out.file("a.chr")), KALDRO_ERR_INVALID) << "edit " << k;
    EXPECT_TRUE(list_dir(out.path).empty()) << "edit " << k;
  }
  // An entry whose label is not a string is passed over.
  TempDir g, out;
  ASSERT_EQ(save_body(g, concat({a, a, b}), 8, one), KALDRO_OK);
  edit_manifest(g, concat({a, a, b}), 8, one, [](Json &, Json &e) { member(e, "label") = Json::num(3); });
  ASSERT_EQ(do_export(g, "a", out.file("a.chr")), KALDRO_OK);
  Json expect = bundle_tree(a, 8, one);
  EXPECT_EQ(read_file(out.file("a.chr")), bundle_file(a, 8, one));
}

TEST(BundleExport, WorkspaceAreasAndTheTextThatOutgrowsItsArea) {
  // A large region makes the export's areas the largest need.
  const uint32_t ld = 32;
  const Bytes one = the_one_of(ld);
  const Bytes c = chromosome(ld, "big", std::string(2047, 'x'), 11);
  const uint64_t r = c.size();
  TempDir g, out;
  ASSERT_EQ(save_body(g, c, ld, one), KALDRO_OK);
  const uint64_t text_at = up16(up16(r) + 2 * r + 1);
  const uint64_t builder_at = up16(text_at + 2 * r + 4096);
  EXPECT_EQ(do_export(g, "big", out.file("b.chr"), text_at + 2 * r + 4095), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(do_export(g, "big", out.file("b.chr"), builder_at + 64), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(list_dir(out.path).empty());
  ASSERT_EQ(do_export(g, "big", out.file("b.chr"), builder_at + 4096), KALDRO_OK);
  EXPECT_EQ(read_file(out.file("b.chr")), bundle_file(c, ld, one));

  // 255 label bytes that each need a six-byte escape, written twice, with the longest
  // the_one: the text outgrows 2R + 4096 and goes behind the builder.
  const Bytes one256 = the_one_of(256);
  const Bytes esc = chromosome(256, std::string(255, '\x01'), "x", 2);
  TempDir g2;
  ASSERT_EQ(save_body(g2, esc, 256, one256), KALDRO_OK);
  const std::string text = bundle_file(esc, 256, one256);
  ASSERT_GT(text.size(), 2 * esc.size() + 4096);
  ASSERT_EQ(do_export(g2, std::string(255, '\x01'), out.file("e.chr")), KALDRO_OK);
  EXPECT_EQ(read_file(out.file("e.chr")), text);
  const uint64_t r2 = esc.size();
  const uint64_t builder2 = up16(up16(up16(r2) + 2 * r2 + 1) + 2 * r2 + 4096);
  EXPECT_EQ(do_export(g2, std::string(255, '\x01'), out.file("f.chr"), builder2 + 4096), KALDRO_ERR_CAPACITY);
  EXPECT_FALSE(read_file(out.file("f.chr")));
}

struct Bundle {
  uint32_t ld;
  Bytes region, one;
  Json tree() const { return bundle_tree(region, ld, one); }
};

void write_bundle(const std::string &path, const Json &tree) {
  ASSERT_TRUE(write_file(path, canonical(tree) + "\n"));
}

TEST(BundleImport, RoundTripsIntoAnEmptyDirectoryAndMerges) {
  for (const Genome &gm : genomes()) {
    TempDir g, out, fresh;
    ASSERT_EQ(save_body(g, gm.body(), gm.ld, gm.one), KALDRO_OK);
    // Every cap of leaf_dim 1 carries the empty label: the first one is exported.
    const Bytes &c = gm.ld == 1 ? gm.chroms.front() : gm.chroms.back();
    const std::string label = scan(c, gm.ld).at(0).label;
    ASSERT_EQ(do_export(g, label, out.file("c.chr")), KALDRO_OK);
    // Into an empty directory: a new genome made of the region and the bundle's the_one.
    ASSERT_EQ(do_import(out.file("c.chr"), fresh), KALDRO_OK);
    EXPECT_EQ(read_file(fresh.file("turns.bin")), as_string(c));
    EXPECT_EQ(read_file(fresh.file("manifest.json")), manifest_file(c, gm.ld, gm.one));
    // Back into its own genome: the label is catalogued, nothing changes.
    const Snapshot before = snapshot(g);
    EXPECT_EQ(do_import(out.file("c.chr"), g), KALDRO_ERR_INVALID);
    EXPECT_EQ(snapshot(g), before);
  }
  // A merge appends the region and saves the genome anew.
  TempDir g, out;
  const Bytes one = the_one_of(8);
  const Bytes a = chromosome(8, "a", "xx"), b = chromosome(8, "b", "GyG", 3);
  ASSERT_EQ(save_body(g, a, 8, one), KALDRO_OK);
  write_bundle(out.file("b.chr"), Bundle{8, b, one}.tree());
  ASSERT_EQ(do_import(out.file("b.chr"), g), KALDRO_OK);
  EXPECT_EQ(read_file(g.file("turns.bin")), as_string(concat({a, b})));
  EXPECT_EQ(read_file(g.file("manifest.json")), manifest_file(concat({a, b}), 8, one));
  // Uppercase hex digits import when the digests match the decoded bytes.
  TempDir up;
  Json t = Bundle{8, b, one}.tree();
  std::string &hex = member(member(member(t, "data"), "region"), "hex").s;
  for (char &ch : hex) ch = char(toupper(ch));
  write_bundle(out.file("up.chr"), t);
  ASSERT_EQ(do_import(out.file("up.chr"), up), KALDRO_OK);
  EXPECT_EQ(read_file(up.file("turns.bin")), as_string(b));
}

TEST(BundleImport, CorruptedBundlesAreRefusedAndNothingIsWritten) {
  const Bytes one = the_one_of(8);
  const Bytes a = chromosome(8, "a", "xx"), b = chromosome(8, "b", "Gy", 5);
  using Edit = std::function<void(Json &)>;
  auto data = [](Json &t) -> Json & { return member(t, "data"); };
  auto rehash = [](Json &obj, const Bytes &bytes) {
    member(obj, "hex") = Json::str(hex_of(bytes));
    member(obj, "sha256") = Json::str(sha256_hex(bytes));
  };
  auto region_to = [&](const Bytes &bytes) {
    return [&, bytes](Json &t) {
      rehash(member(data(t), "region"), bytes);
      member(member(t, "attestation"), "response_sha256") = Json::str(sha256_hex(bytes));
    };
  };
  std::vector<std::pair<std::string, Edit>> cases = {
      {"changed hex digit", [&](Json &t) { std::string &h = member(member(data(t), "region"), "hex").s;
                                            h[20] = h[20] == '0' ? '1' : '0'; }},
      {"odd-length hex", [&](Json &t) { member(member(data(t), "region"), "hex").s.pop_back(); }},
      {"not hex", [&](Json &t) { member(member(data(t), "region"), "hex").s[4] = 'g'; }},
      {"response differs", [&](Json &t) { member(member(t, "attestation"), "response_sha256") = Json::str(sha256_hex(a)); }},
      {"uppercase digest", [&](Json &t) { std::string &s = member(member(data(t), "region"), "sha256").s;
                                           for (char &ch : s) ch = char(toupper(ch)); }},
      {"wrong schema", [&](Json &t) { member(t, "data_schema_id") = Json::str("kaldro://schema/genome_chromosome/v2"); }},
      {"no region", [&](Json &t) { drop(data(t), "region"); }},
      {"no attestation", [&](Json &t) { drop(t, "attestation"); }},
      {"leaf_dim 0", [&](Json &t) { member(data(t), "leaf_dim") = Json::num(0); }},
      {"long label", [&](Json &t) { member(data(t), "label") = Json::str(std::string(256, 'b')); }},
      {"changed the_one", [&](Json &t) { member(member(data(t), "the_one"), "hex").s[0] ^= 1; }},
      {"short the_one", [&](Json &t) { rehash(member(data(t), "the_one"), Bytes(7, 1)); }},
      {"region without cap", region_to(concat({Bytes(8, 'x'), Bytes(8, 'y')}))},
      {"second cap", region_to(concat({b, chromosome(8, "c", "")}))},
      {"cap of another label", region_to(chromosome(8, "z", "x"))},
      {"not whole records", region_to(concat({b, Bytes(3, 'x')}))},
      {"empty region", region_to(Bytes{})},
  };
  for (const auto &[name, edit] : cases) {
    TempDir g, fresh, out;
    ASSERT_EQ(save_body(g, a, 8, one), KALDRO_OK);
    Json t = Bundle{8, b, one}.tree();
    edit(t);
    write_bundle(out.file("b.chr"), t);
    const Snapshot before = snapshot(g);
    EXPECT_EQ(do_import(out.file("b.chr"), g), KALDRO_ERR_INVALID) << name;
    EXPECT_EQ(snapshot(g), before) << name;
    EXPECT_EQ(do_import(out.file("b.chr"), fresh), KALDRO_ERR_INVALID) << name;
    EXPECT_TRUE(list_dir(fresh.path).empty()) << name;
  }
  // A the_one over 256 bytes does not fit its buffer.
  TempDir fresh, out;
  Json t = Bundle{8, b, one}.tree();
  rehash(member(data(t), "the_one"), Bytes(257, 1));
  write_bundle(out.file("b.chr"), t);
  EXPECT_EQ(do_import(out.file("b.chr"), fresh), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(list_dir(fresh.path).empty());
}

TEST(BundleImport, TheTargetMustMatch) {
  const Bytes one = the_one_of(8);
  const Bytes b = chromosome(8, "b", "Gy", 5);
  TempDir out;
  write_bundle(out.file("b.chr"), Bundle{8, b, one}.tree());
  struct Target { uint32_t ld; Bytes body, one; };
  std::vector<Target> targets = {{8, chromosome(8, "a", "x"), the_one_of(8, 99)},
                                 {4, chromosome(4, "a", "x"), the_one_of(4)},
                                 {8, chromosome(8, "b", "xx", 9), one}};
  for (const Target &tg : targets) {
    TempDir g;
    ASSERT_EQ(save_body(g, tg.body, tg.ld, tg.one), KALDRO_OK);
    const Snapshot before = snapshot(g);
    EXPECT_EQ(do_import(out.file("b.chr"), g), KALDRO_ERR_INVALID);
    EXPECT_EQ(snapshot(g), before);
  }
  // A body changed behind its manifest's back is refused.
  TempDir g;
  ASSERT_EQ(save_body(g, chromosome(8, "a", "x"), 8, one), KALDRO_OK);
  std::string body = *read_file(g.file("turns.bin"));
  body[9] ^= 1;
  ASSERT_TRUE(write_file(g.file("turns.bin"), body));
  const Snapshot before = snapshot(g);
  EXPECT_EQ(do_import(out.file("b.chr"), g), KALDRO_ERR_INVALID);
  EXPECT_EQ(snapshot(g), before);
  // A body without manifest is rebuilt with the caller's the_one, or the bundle's.
  TempDir bare, bare2;
  const Bytes a = chromosome(8, "a", "x");
  ASSERT_TRUE(write_file(bare.file("turns.bin"), as_string(a)));
  ASSERT_TRUE(write_file(bare2.file("turns.bin"), as_string(a)));
  const Bytes other = the_one_of(8, 42);
  EXPECT_EQ(do_import(out.file("b.chr"), bare, 1 << 20, &other), KALDRO_ERR_INVALID);
  EXPECT_FALSE(read_file(bare.file("manifest.json")));
  ASSERT_EQ(do_import(out.file("b.chr"), bare2), KALDRO_OK);
  EXPECT_EQ(read_file(bare2.file("manifest.json")), manifest_file(concat({a, b}), 8, one));
}

TEST(BundleImport, StatusOrderAndEveryWorkspaceSize) {
  const Bytes one = the_one_of(8);
  const Bytes a = chromosome(8, "a", "xx"), b = chromosome(8, "b", "Gy", 5);
  TempDir out;
  write_bundle(out.file("b.chr"), Bundle{8, b, one}.tree());
  const std::string path = out.file("b.chr");
  Workspace ws(1 << 16);
  TempDir g;
  EXPECT_EQ(kaldro_genome_import(nullptr, g.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_import(path.c_str(), nullptr, nullptr, 0, ws.p, ws.n), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_import(path.c_str(), g.c_str(), nullptr, 0, nullptr, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_genome_import(path.c_str(), g.c_str(), one.data(), 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_genome_import(out.file("none.chr").c_str(), g.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_IO);
  const uint64_t size = read_file(path)->size();
  const uint64_t need = (size & ~uint64_t(15)) + 16 + size + 1;
  EXPECT_EQ(kaldro_genome_import(path.c_str(), g.c_str(), nullptr, 0, ws.p, need - 1), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(list_dir(g.path).empty());
  // Every workspace size either imports exactly or fails leaving the genome as it was.
  ASSERT_EQ(save_body(g, a, 8, one), KALDRO_OK);
  const Snapshot before = snapshot(g);
  bool imported = false;
  for (uint64_t n = need - 1; n < 24000 && !imported; n += 8) {
    const kaldro_status st = do_import(path, g, n);
    if (st == KALDRO_OK) {
      imported = true;
      EXPECT_EQ(read_file(g.file("turns.bin")), as_string(concat({a, b})));
      EXPECT_EQ(read_file(g.file("manifest.json")), manifest_file(concat({a, b}), 8, one));
    } else {
      // Too small for an area (capacity) or for the writer's traversal (invalid).
      EXPECT_TRUE(st == KALDRO_ERR_CAPACITY || st == KALDRO_ERR_INVALID) << n << " " << st;
      ASSERT_EQ(snapshot(g), before) << n;
    }
  }
  EXPECT_TRUE(imported);
}

}  // namespace
