// Hostile genome directories and bundle files: manifests and bundles edited by hand in
// every member the store reads (wrong kinds, huge or negative integers, digests of the
// wrong length or case, duplicated labels), truncated and oversized files, directories
// in place of files, paths at and over the length limits, and labels that cannot be
// file names. Every operation must refuse with its status and leave every file as it
// was; workspaces are exact-size so that the address sanitizer sees any stray access.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bundle_reference.h"
#include "store_reference.h"

namespace {

using namespace store_ref;
using bundle_ref::bundle_file;
using bundle_ref::bundle_tree;
using bundle_ref::drop;
using bundle_ref::member;
using bundle_ref::Snapshot;

constexpr uint32_t kLd = 8;

// A value of any JSON kind for a member: written as raw text in place of a marker
// string, since the reference model writes only integers, strings, arrays and objects.
const char kRawMarker[] = "\x01raw\x01";
struct Raw {
  std::map<std::string, std::string> texts;
  int next = 0;
  Json put(const std::string &text) {
    const std::string key = std::string(kRawMarker) + std::to_string(next++);
    texts[key] = text;
    return Json::str(key);
  }
  std::string render(const Json &root) const {
    std::string out = canonical(root);
    for (const auto &[key, text] : texts) {
      std::string quoted;
      write_string(quoted, key);
      const size_t at = out.find(quoted);
      if (at != std::string::npos) out.replace(at, quoted.size(), text);
    }
    return out + "\n";
  }
};

// Values of every kind but the one a member must have, and integers out of every range.
std::vector<std::string> wrong_kinds(const char *right) {
  std::vector<std::string> all = {"null", "true", "1.5", "\"8\"", "[]", "{}", "8"};
  std::vector<std::string> out;
  for (const std::string &v : all) {
    const bool is_int = v == "8", is_string = v[0] == '"', is_object = v == "{}", is_array = v == "[]";
    if ((std::string(right) == "int" && is_int) || (std::string(right) == "string" && is_string) ||
        (std::string(right) == "object" && is_object) || (std::string(right) == "array" && is_array))
      continue;
    out.push_back(v);
  }
  return out;
}
const std::vector<std::string> kBadIntegers = {
    "-1", "-8", "-9223372036854775808", "9223372036854775807", "4294967296", "4294967304",
    "18446744073709551616", "1e300", "8.0", "-0"};

// The genome every case starts from: three chromosomes aa, bb, cc.
Bytes body_abc() {
  return concat({chromosome(kLd, "aa", "xGx", 1), chromosome(kLd, "bb", "xx", 2),
                 chromosome(kLd, "cc", "Gyx", 3)});
}

// The operations on a genome directory that read its manifest, each with a workspace of
// exactly the documented size for this small genome.
struct Ops {
  const TempDir &g;
  const TempDir &out;
  Bytes one = the_one_of(kLd);
  uint64_t ws_bytes = kaldro_genome_arena_bytes(4096, 8, 1024);
  std::string bundle_dd;  // a valid bundle of a chromosome dd with the genome's the_one

  kaldro_status load() const {
    Workspace ws(ws_bytes);
    std::vector<uint8_t> body(4096);
    size_t len = 0;
    return kaldro_genome_load(g.c_str(), body.data(), body.size(), &len, one.data(), kLd, ws.p, ws.n);
  }
  kaldro_status window(const char *label) const {
    Workspace ws(ws_bytes);
    std::vector<uint8_t> buf(4096);
    size_t len = 0;
    return kaldro_genome_window(g.c_str(), label, buf.data(), buf.size(), &len, one.data(), kLd,
                                ws.p, ws.n);
  }
  kaldro_status append() const {
    Workspace ws(ws_bytes);
    const Bytes src = chromosome(kLd, "dd", "x", 9);
    return kaldro_genome_append(g.c_str(), "dd", src.data(), src.size(), kLd, one.data(), kLd,
                                ws.p, ws.n);
  }
  kaldro_status remove() const {
    Workspace ws(ws_bytes);
    return kaldro_genome_remove(g.c_str(), "bb", one.data(), kLd, ws.p, ws.n);
  }
  kaldro_status replace() const {
    Workspace ws(ws_bytes);
    const Bytes src = chromosome(kLd, "bb", "xxxx", 10);
    return kaldro_genome_replace(g.c_str(), "bb", src.data(), src.size(), kLd, one.data(), kLd,
                                 ws.p, ws.n);
  }
  kaldro_status export_bb() const {
    Workspace ws(ws_bytes);
    return kaldro_genome_export(g.c_str(), "bb", out.file("bb.chr").c_str(), one.data(), kLd, ws.p,
                                ws.n);
  }
  kaldro_status explode() const {
    Workspace ws(ws_bytes);
    return kaldro_genome_explode(g.c_str(), out.c_str(), one.data(), kLd, ws.p, ws.n);
  }
  kaldro_status import_dd() const {
    const std::string path = out.file("dd.bundle");
    if (!write_file(path, bundle_dd)) return -1;
    Workspace ws(ws_bytes);
    const kaldro_status st = kaldro_genome_import(path.c_str(), g.c_str(), one.data(), kLd, ws.p, ws.n);
    unlink(path.c_str());
    return st;
  }
};

enum Op { kLoad, kWindow, kAppend, kRemove, kReplace, kExport, kExplode, kImport, kOpCount };
const char *const kOpNames[] = {"load",    "window", "append",  "remove",
                                "replace", "export", "explode", "import"};
using OpSet = std::vector<Op>;
const OpSet kAllOps = {kLoad, kWindow, kAppend, kRemove, kReplace, kExport, kExplode, kImport};

kaldro_status run(const Ops &ops, Op op) {
  switch (op) {
    case kLoad: return ops.load();
    case kWindow: return ops.window("bb");
    case kAppend: return ops.append();
    case kRemove: return ops.remove();
    case kReplace: return ops.replace();
    case kExport: return ops.export_bb();
    case kExplode: return ops.explode();
    case kImport: return ops.import_dd();
    default: return -1;
  }
}

// Runs `ops` on the genome as it stands and expects `want` from each, with the genome's
// files and the output directory unchanged.
// Explode checks every label before it writes a bundle, but meets an entry's other
// members only at its export: with `explode_partial` the bundle of aa, which comes
// before the edited entry bb, may have been written.
void expect_refused(const TempDir &g, const TempDir &out, const Ops &ops, const OpSet &which,
                    kaldro_status want, const std::string &what, bool explode_partial = false) {
  const Snapshot before = bundle_ref::snapshot(g);
  for (Op op : which) {
    EXPECT_EQ(run(ops, op), want) << what << ": " << kOpNames[op];
    EXPECT_TRUE(bundle_ref::snapshot(g) == before) << what << ": " << kOpNames[op] << " wrote";
    std::vector<std::string> written = list_dir(out.path);
    if (op == kExplode && explode_partial && written == std::vector<std::string>{"aa.chr"}) {
      remove_tree(out.file("aa.chr"));
      written.clear();
    }
    EXPECT_TRUE(written.empty()) << what << ": " << kOpNames[op] << " wrote a bundle";
  }
}

struct Genome {
  TempDir g, out, other;
  Ops ops{g, out, the_one_of(kLd), kaldro_genome_arena_bytes(4096, 8, 1024), {}};
  Bytes body = body_abc();
  Genome() {
    Workspace ws(ops.ws_bytes);
    EXPECT_EQ(kaldro_genome_save(g.c_str(), body.data(), body.size(), kLd, ops.one.data(), kLd, ws.p,
                                 ws.n),
              KALDRO_OK);
    ops.bundle_dd = bundle_file(chromosome(kLd, "dd", "x", 9), kLd, ops.one);
  }
  Json tree() const { return manifest_tree(body, kLd, ops.one); }
  // Puts the saved body back, empties the output directory and writes `text` as the
  // manifest, so that each case starts from the same genome.
  void put_manifest(const std::string &text) const {
    ASSERT_TRUE(write_file(g.file("turns.bin"), as_string(body)));
    for (const std::string &name : list_dir(out.path)) remove_tree(out.file(name));
    ASSERT_TRUE(write_file(g.file("manifest.json"), text));
  }
};

Json &data_of(Json &root) { return member(root, "data"); }
Json &entry_bb(Json &root) { return member(data_of(root), "chromosomes").items[1]; }

// One hand edit of the manifest and the operations that read the edited member.
struct ManifestEdit {
  std::string what;
  std::function<void(Json &, Raw &)> edit;
  OpSet refused;
  bool explode_partial = false;
};

std::vector<ManifestEdit> manifest_edits() {
  std::vector<ManifestEdit> edits;
  const OpSet digest_readers = {kLoad, kAppend, kRemove, kReplace, kImport};
  const OpSet leaf_dim_readers = {kWindow, kAppend, kRemove, kReplace, kExport, kExplode, kImport};
  const OpSet list_readers = leaf_dim_readers;
  const OpSet entry_readers = {kWindow, kRemove, kReplace, kExport, kExplode};
  auto kinds = [&](const std::string &name, const char *right, OpSet readers,
                   std::function<Json &(Json &)> at) {
    for (const std::string &v : wrong_kinds(right))
      edits.push_back({name + " = " + v, [at, v](Json &r, Raw &raw) { at(r) = raw.put(v); }, readers});
    edits.push_back({name + " missing", nullptr, readers});
  };
  kinds("data", "object", kAllOps, [](Json &r) -> Json & { return data_of(r); });
  kinds("body_sha256", "string", digest_readers,
        [](Json &r) -> Json & { return member(data_of(r), "body_sha256"); });
  kinds("leaf_dim", "int", leaf_dim_readers, [](Json &r) -> Json & { return member(data_of(r), "leaf_dim"); });
  kinds("chromosomes", "array", list_readers,
        [](Json &r) -> Json & { return member(data_of(r), "chromosomes"); });
  kinds("the_one", "object", {kExport, kExplode, kImport},
        [](Json &r) -> Json & { return member(data_of(r), "the_one"); });
  kinds("the_one.sha256", "string", {kExport, kExplode, kImport},
        [](Json &r) -> Json & { return member(member(data_of(r), "the_one"), "sha256"); });
  kinds("the_one.hex", "string", {kExport, kExplode},
        [](Json &r) -> Json & { return member(member(data_of(r), "the_one"), "hex"); });
  kinds("entry", "object", {kWindow, kRemove, kReplace, kExport, kExplode, kAppend, kImport},
        [](Json &r) -> Json & { return entry_bb(r); });
  kinds("label", "string", {kWindow, kRemove, kReplace, kExport, kExplode, kAppend, kImport},
        [](Json &r) -> Json & { return member(entry_bb(r), "label"); });
  kinds("byte_offset", "int", entry_readers,
        [](Json &r) -> Json & { return member(entry_bb(r), "byte_offset"); });
  kinds("byte_len", "int", entry_readers, [](Json &r) -> Json & { return member(entry_bb(r), "byte_len"); });
  // Remove and replace need only the member's presence; the body digest guards them.
  kinds("cap_sha256", "string", {kWindow, kExport, kExplode},
        [](Json &r) -> Json & { return member(entry_bb(r), "cap_sha256"); });
  kinds("leaf_count", "int", {kExport, kExplode},
        [](Json &r) -> Json & { return member(entry_bb(r), "leaf_count"); });
  // "missing" edits drop the member instead of changing it.
  for (ManifestEdit &e : edits) {
    if (e.edit) continue;
    const std::string name = e.what.substr(0, e.what.size() - 8);
    e.edit = [name](Json &r, Raw &) {
      if (name == "data") drop(r, "data");
      else if (name == "the_one.sha256") drop(member(data_of(r), "the_one"), "sha256");
      else if (name == "the_one.hex") drop(member(data_of(r), "the_one"), "hex");
      else if (name == "entry") {
        Json &list = member(data_of(r), "chromosomes");
        list.items.erase(list.items.begin() + 1);
      } else if (name == "label" || name == "byte_offset" || name == "byte_len" ||
                 name == "cap_sha256" || name == "leaf_count")
        drop(entry_bb(r), name);
      else drop(data_of(r), name);
    };
  }
  // An entry that disappears is "not found" for window, remove, replace and export;
  // append, import and explode work on without it, so they are left out there.
  for (ManifestEdit &e : edits)
    if (e.what == "entry missing") e.refused = {kWindow, kRemove, kReplace, kExport};

  // Integers out of range, for every integer member.
  for (const std::string &v : kBadIntegers) {
    edits.push_back({"leaf_dim = " + v, [v](Json &r, Raw &raw) { member(data_of(r), "leaf_dim") = raw.put(v); },
                     leaf_dim_readers});
    edits.push_back({"byte_offset = " + v,
                     [v](Json &r, Raw &raw) { member(entry_bb(r), "byte_offset") = raw.put(v); },
                     v == "-0" ? OpSet{} : entry_readers});
    edits.push_back({"byte_len = " + v, [v](Json &r, Raw &raw) { member(entry_bb(r), "byte_len") = raw.put(v); },
                     entry_readers});
  }
  // Offsets and lengths that wrap to the true ones in 32 bits.
  edits.push_back({"byte_offset + 2^32", [](Json &r, Raw &) {
                     Json &o = member(entry_bb(r), "byte_offset");
                     o.i += int64_t(1) << 32;
                   }, entry_readers});
  edits.push_back({"byte_len + 2^32", [](Json &r, Raw &) {
                     Json &l = member(entry_bb(r), "byte_len");
                     l.i += int64_t(1) << 32;
                   }, entry_readers});
  edits.push_back({"leaf_dim + 2^32", [](Json &r, Raw &) { member(data_of(r), "leaf_dim").i += int64_t(1) << 32; },
                   leaf_dim_readers});

  // Digests of the wrong length or case.
  auto digest_forms = [&](const std::string &name, OpSet readers, std::function<Json &(Json &)> at) {
    const std::vector<std::pair<std::string, std::function<void(std::string &)>>> forms = {
        {"uppercase", [](std::string &s) { for (char &c : s) c = char(toupper(c)); }},
        {"63 digits", [](std::string &s) { s.pop_back(); }},
        {"65 digits", [](std::string &s) { s.push_back('0'); }},
        {"empty", [](std::string &s) { s.clear(); }},
        {"with a zero byte", [](std::string &s) { s[10] = '\0'; }},
        {"one digit changed", [](std::string &s) { s[0] = s[0] == 'a' ? 'b' : 'a'; }},
    };
    for (const auto &[form, change] : forms)
      edits.push_back({name + " " + form, [at, change](Json &r, Raw &) { change(at(r).s); }, readers});
  };
  digest_forms("body_sha256", digest_readers, [](Json &r) -> Json & { return member(data_of(r), "body_sha256"); });
  digest_forms("cap_sha256", {kWindow, kExport, kExplode},
               [](Json &r) -> Json & { return member(entry_bb(r), "cap_sha256"); });
  digest_forms("the_one.sha256", {kImport}, [](Json &r) -> Json & { return member(member(data_of(r), "the_one"), "sha256"); });

  // Duplicated labels: a second entry "bb" in place of cc must not make explode write one
  // file twice or append add a third.
  edits.push_back({"cc relabelled bb", [](Json &r, Raw &) {
                     member(member(data_of(r), "chromosomes").items[2], "label") = Json::str("bb");
                   }, {kExplode}});
  // A label that holds a zero byte names the same file as the label before it.
  edits.push_back({"cc relabelled bb\\0x", [](Json &r, Raw &) {
                     member(member(data_of(r), "chromosomes").items[2], "label") = Json::str(std::string("bb\0x", 4));
                   }, {kExplode}});
  // Labels that cannot be file names.
  for (const std::string &bad : {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
                                std::string("a\\b"), std::string("/"), std::string(252, 'n'),
                                std::string(256, 'n')})
    edits.push_back({"cc relabelled \"" + bad.substr(0, 8) + "\" (" + std::to_string(bad.size()) + " bytes)",
                     [bad](Json &r, Raw &) { member(member(data_of(r), "chromosomes").items[2], "label") = Json::str(bad); },
                     {kExplode}});
  for (ManifestEdit &e : edits) {
    for (const char *m : {"byte_offset", "byte_len", "cap_sha256", "leaf_count"})
      if (e.what.rfind(m, 0) == 0) e.explode_partial = true;
  }
  return edits;
}

TEST(HostileManifest, EveryMemberTheStoreReads) {
  const std::vector<ManifestEdit> edits = manifest_edits();
  ASSERT_GT(edits.size(), 150u);
  Genome gen;
  for (const ManifestEdit &e : edits) {
    Json root = gen.tree();
    Raw raw;
    e.edit(root, raw);
    gen.put_manifest(raw.render(root));
    expect_refused(gen.g, gen.out, gen.ops, e.refused, KALDRO_ERR_INVALID, e.what, e.explode_partial);
  }
}

TEST(HostileManifest, DocumentsThatAreNoManifest) {
  Genome gen;
  const std::string good = manifest_file(gen.body, kLd, gen.ops.one);
  const std::string body = "\"data\": ";
  const size_t data_at = good.find(body);
  ASSERT_NE(data_at, std::string::npos);
  const std::vector<std::pair<std::string, std::string>> docs = {
      {"an array", "[" + good.substr(0, good.size() - 1) + "]\n"},
      {"a number", "42\n"},
      {"a string", "\"manifest\"\n"},
      {"null", "null\n"},
      {"an empty object", "{}\n"},
      {"empty", ""},
      {"only line ends", "\r\n\r\n\n"},
      {"trailing text", good.substr(0, good.size() - 1) + " {}\n"},
      {"two documents", good + good},
      {"a zero byte", good.substr(0, 20) + std::string(1, '\0') + good.substr(20)},
  };
  for (const auto &[what, text] : docs) {
    gen.put_manifest(text);
    expect_refused(gen.g, gen.out, gen.ops, kAllOps, KALDRO_ERR_INVALID, what);
  }
  // Nesting deeper than the parser follows, and a number token too long to convert.
  gen.put_manifest(std::string(1000, '[') + std::string(1000, ']') + "\n");
  expect_refused(gen.g, gen.out, gen.ops, kAllOps, KALDRO_ERR_CAPACITY, "nested deeply");
  std::string long_number = good;
  const std::string key = "\"byte_offset\": ";
  long_number.insert(long_number.find(key) + key.size(), std::string(70, '0'));
  gen.put_manifest(long_number);
  expect_refused(gen.g, gen.out, gen.ops, kAllOps, KALDRO_ERR_CAPACITY, "70-digit offset");
  // A "data" member given twice: whichever one the reader takes, the operations that
  // check the body refuse a second data section that does not describe it.
  Json forged = gen.tree();
  Json &d = data_of(forged);
  member(d, "body_sha256").s = sha256_hex(std::string("other"));
  const std::string forged_data = canonical(d);
  std::string twice = good;
  twice.insert(data_at, body + forged_data + ", ");
  gen.put_manifest(twice);
  expect_refused(gen.g, gen.out, gen.ops, {kAppend, kRemove, kReplace, kImport}, KALDRO_ERR_INVALID,
                 "data twice");
}

TEST(HostileManifest, TruncatedAndOversized) {
  Genome gen;
  const std::string good = manifest_file(gen.body, kLd, gen.ops.one);
  // Cut at every 7th length and just short of the end: never a whole document.
  for (size_t len = 0; len + 1 < good.size(); len += (len + 16 < good.size() ? 7 : 1)) {
    if (good.compare(0, len, good, 0, good.size() - 1) == 0) continue;
    gen.put_manifest(good.substr(0, len));
    expect_refused(gen.g, gen.out, gen.ops, kAllOps, KALDRO_ERR_INVALID,
                   "manifest cut to " + std::to_string(len));
  }
  // Larger than the workspace: white space inside the document.
  std::string padded = good;
  padded.insert(1, size_t(gen.ops.ws_bytes), ' ');
  gen.put_manifest(padded);
  expect_refused(gen.g, gen.out, gen.ops, kAllOps, KALDRO_ERR_CAPACITY, "manifest larger than the workspace");
  // Any number of CR and LF bytes at the end is allowed.
  gen.put_manifest(good + std::string(5000, '\r'));
  EXPECT_EQ(gen.ops.load(), KALDRO_OK);
}

TEST(HostileBody, TruncatedOversizedAndChanged) {
  Genome gen;
  const std::string turns = *read_file(gen.g.file("turns.bin"));
  const OpSet verifiers = {kLoad, kAppend, kRemove, kReplace, kImport};
  for (size_t len : {size_t(0), size_t(1), size_t(kLd), turns.size() - kLd, turns.size() - 1}) {
    ASSERT_TRUE(write_file(gen.g.file("turns.bin"), turns.substr(0, len)));
    expect_refused(gen.g, gen.out, gen.ops, verifiers, KALDRO_ERR_INVALID, "body cut to " + std::to_string(len));
    // The region of cc now runs past the end of the body.
    const Snapshot before = bundle_ref::snapshot(gen.g);
    EXPECT_NE(gen.ops.window("cc"), KALDRO_OK);
    EXPECT_TRUE(bundle_ref::snapshot(gen.g) == before);
  }
  ASSERT_TRUE(write_file(gen.g.file("turns.bin"), turns + std::string(kLd, 'x')));
  expect_refused(gen.g, gen.out, gen.ops, verifiers, KALDRO_ERR_INVALID, "body grown by a record");
  // Load into a buffer of the saved body's size: the longer file does not fit.
  Workspace ws(gen.ops.ws_bytes);
  std::vector<uint8_t> body(turns.size());
  size_t len = 7;
  EXPECT_EQ(kaldro_genome_load(gen.g.c_str(), body.data(), body.size(), &len, nullptr, 0, ws.p, ws.n),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 7u);
}

// Directories where the store expects files, and files where it expects directories.
TEST(HostileFiles, DirectoriesInPlaceOfFiles) {
  {
    Genome gen;
    ASSERT_EQ(unlink(gen.g.file("turns.bin").c_str()), 0);
    ASSERT_EQ(mkdir(gen.g.file("turns.bin").c_str(), 0700), 0);
    expect_refused(gen.g, gen.out, gen.ops, kAllOps, KALDRO_ERR_IO, "turns.bin a directory");
  }
  {
    // No manifest to read: the catalog is rebuilt from the body, and the edits, which
    // would save a manifest, are refused before anything is written.
    Genome gen;
    ASSERT_EQ(unlink(gen.g.file("manifest.json").c_str()), 0);
    ASSERT_EQ(mkdir(gen.g.file("manifest.json").c_str(), 0700), 0);
    EXPECT_EQ(gen.ops.load(), KALDRO_OK);
    EXPECT_EQ(gen.ops.window("bb"), KALDRO_OK);
    expect_refused(gen.g, gen.out, gen.ops, {kAppend, kRemove, kReplace, kImport}, KALDRO_ERR_IO,
                   "manifest.json a directory");
    Workspace ws(gen.ops.ws_bytes);
    const Snapshot before = bundle_ref::snapshot(gen.g);
    EXPECT_EQ(kaldro_genome_save(gen.g.c_str(), gen.body.data(), gen.body.size(), kLd, gen.ops.one.data(),
                                 kLd, ws.p, ws.n),
              KALDRO_ERR_IO);
    EXPECT_TRUE(bundle_ref::snapshot(gen.g) == before);
  }
  {
    Genome gen;
    Workspace ws(gen.ops.ws_bytes);
    // A bundle path, an export target and a bundle inside a packed directory that are
    // directories.
    ASSERT_EQ(mkdir(gen.out.file("x.chr").c_str(), 0700), 0);
    EXPECT_EQ(kaldro_genome_export(gen.g.c_str(), "bb", gen.out.file("x.chr").c_str(), nullptr, 0, ws.p, ws.n),
              KALDRO_ERR_IO);
    EXPECT_EQ(kaldro_genome_import(gen.out.file("x.chr").c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n),
              KALDRO_ERR_IO);
    ASSERT_TRUE(write_file(gen.out.file("a.chr"), gen.ops.bundle_dd));
    EXPECT_EQ(kaldro_genome_pack(gen.out.c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_IO);
    EXPECT_TRUE(list_dir(gen.other.path).empty());
    // A genome "directory" that is a file, and an output directory that is a file.
    const std::string file = gen.other.file("plain");
    ASSERT_TRUE(write_file(file, "x"));
    const Bytes one = gen.ops.one;
    EXPECT_EQ(kaldro_genome_save(file.c_str(), gen.body.data(), gen.body.size(), kLd, one.data(), kLd, ws.p, ws.n),
              KALDRO_ERR_IO);
    const kaldro_json_node *root = nullptr;
    EXPECT_EQ(kaldro_genome_catalog(file.c_str(), one.data(), kLd, ws.p, ws.n, &root), KALDRO_ERR_IO);
    EXPECT_EQ(kaldro_genome_explode(gen.g.c_str(), file.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_IO);
    EXPECT_EQ(kaldro_genome_pack(file.c_str(), gen.g.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
    EXPECT_EQ(*read_file(file), "x");
    EXPECT_EQ(list_dir(gen.other.path), std::vector<std::string>{"plain"});
  }
}

// A directory path of exactly `len` bytes under `root`, created.
std::string deep_dir(const TempDir &root, size_t len) {
  std::string dir = root.path;
  while (dir.size() < len) {
    const size_t step = std::min<size_t>(200, len - dir.size() - 1);
    dir += "/" + std::string(step, 'p');
    if (mkdir(dir.c_str(), 0700) != 0) return "";
  }
  return dir;
}

TEST(HostilePaths, AtAndOverTheLengthLimits) {
  Genome gen;
  const Bytes one = gen.ops.one;
  Workspace ws(gen.ops.ws_bytes);
  TempDir root;
  // 4081 bytes: both file paths fit, and every operation works.
  const std::string at = deep_dir(root, 4081);
  ASSERT_EQ(at.size(), 4081u);
  ASSERT_EQ(kaldro_genome_save(at.c_str(), gen.body.data(), gen.body.size(), kLd, one.data(), kLd, ws.p, ws.n),
            KALDRO_OK);
  std::vector<uint8_t> buf(4096);
  size_t len = 0;
  EXPECT_EQ(kaldro_genome_window(at.c_str(), "bb", buf.data(), buf.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_OK);
  const Bytes dd = chromosome(kLd, "dd", "x", 9);
  EXPECT_EQ(kaldro_genome_append(at.c_str(), "dd", dd.data(), dd.size(), kLd, one.data(), kLd, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(kaldro_genome_remove(at.c_str(), "dd", one.data(), kLd, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(*read_file(at + "/manifest.json"), manifest_file(gen.body, kLd, one));

  // 4082 to 4085 bytes: turns.bin would fit, manifest.json does not. The directory holds
  // a copy of the genome put there by the tests.
  for (size_t n = 4082; n <= 4085; ++n) {
    TempDir r;
    const std::string over = deep_dir(r, n);
    ASSERT_EQ(over.size(), n);
    ASSERT_TRUE(write_file(over + "/turns.bin", as_string(gen.body)));
    const Snapshot before{read_file(over + "/turns.bin"), read_file(over + "/manifest.json"), list_dir(over)};
    const kaldro_json_node *tree = nullptr;
    EXPECT_EQ(kaldro_genome_catalog(over.c_str(), one.data(), kLd, ws.p, ws.n, &tree), KALDRO_ERR_CAPACITY) << n;
    EXPECT_EQ(kaldro_genome_window(over.c_str(), "bb", buf.data(), buf.size(), &len, one.data(), kLd, ws.p, ws.n),
              KALDRO_ERR_CAPACITY) << n;
    EXPECT_EQ(kaldro_genome_load(over.c_str(), buf.data(), buf.size(), &len, one.data(), kLd, ws.p, ws.n),
              KALDRO_ERR_CAPACITY) << n;
    // The edits take the body's size first (turns.bin fits), then the catalog refuses.
    const kaldro_status edit_status = KALDRO_ERR_CAPACITY;
    EXPECT_EQ(kaldro_genome_append(over.c_str(), "dd", dd.data(), dd.size(), kLd, one.data(), kLd, ws.p, ws.n),
              edit_status) << n;
    EXPECT_EQ(kaldro_genome_remove(over.c_str(), "bb", one.data(), kLd, ws.p, ws.n), edit_status) << n;
    EXPECT_EQ(kaldro_genome_export(over.c_str(), "bb", gen.out.file("bb.chr").c_str(), one.data(), kLd, ws.p, ws.n),
              KALDRO_ERR_CAPACITY) << n;
    EXPECT_EQ(kaldro_genome_explode(over.c_str(), gen.out.c_str(), one.data(), kLd, ws.p, ws.n),
              KALDRO_ERR_CAPACITY) << n;
    // Import counts a directory too long for turns.bin as one without a body; its save
    // then refuses the paths.
    const std::string bundle = gen.other.file("dd.chr");
    ASSERT_TRUE(write_file(bundle, gen.ops.bundle_dd));
    EXPECT_EQ(kaldro_genome_import(bundle.c_str(), over.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_CAPACITY) << n;
    unlink(bundle.c_str());
    const Snapshot after{read_file(over + "/turns.bin"), read_file(over + "/manifest.json"), list_dir(over)};
    EXPECT_TRUE(after == before) << n;
    EXPECT_TRUE(list_dir(gen.out.path).empty()) << n;
  }

  // Explode's bundle paths: out_dir, "/", label, ".chr" must fit 4095 bytes. With the
  // labels aa, bb, cc (6-byte names) an out_dir of 4088 bytes fits and 4089 does not.
  for (size_t n : {size_t(4088), size_t(4089)}) {
    TempDir r;
    const std::string out = deep_dir(r, n);
    ASSERT_EQ(out.size(), n);
    EXPECT_EQ(kaldro_genome_explode(gen.g.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n),
              n == 4088 ? KALDRO_OK : KALDRO_ERR_CAPACITY) << n;
    EXPECT_EQ(list_dir(out).size(), n == 4088 ? 3u : 0u) << n;
    if (n == 4088) {
      // Pack reads them back from there into a fresh genome.
      TempDir fresh;
      EXPECT_EQ(kaldro_genome_pack(out.c_str(), fresh.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_OK);
      EXPECT_EQ(*read_file(fresh.file("turns.bin")), as_string(gen.body));
    }
  }
  // Paths the system itself refuses: a name over 255 bytes, a path over 4095 bytes.
  const std::string long_name = gen.out.file(std::string(300, 'z') + ".chr");
  EXPECT_EQ(kaldro_genome_export(gen.g.c_str(), "bb", long_name.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_genome_import(long_name.c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_IO);
  const std::string long_dir = "/" + std::string(5000, 'q');
  EXPECT_EQ(kaldro_genome_save(long_dir.c_str(), gen.body.data(), gen.body.size(), kLd, one.data(), kLd, ws.p, ws.n),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_genome_pack(long_dir.c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
  EXPECT_TRUE(list_dir(gen.out.path).empty());
  EXPECT_TRUE(list_dir(gen.other.path).empty());
}

// Labels a cap can carry that are no file names, and odd ones that are.
TEST(HostileLabels, ExplodeRefusesBeforeWritingAndOddNamesRoundTrip) {
  const Bytes one = the_one_of(kLd);
  const std::vector<std::string> refused = {"", ".", "..", "a/b", "/", "\\", "x\\y"};
  for (const std::string &bad : refused) {
    for (int last = 0; last < 2; ++last) {
      TempDir g, out;
      const Bytes body = last ? concat({chromosome(kLd, "aa", "x"), chromosome(kLd, bad, "x")})
                              : concat({chromosome(kLd, bad, "x"), chromosome(kLd, "aa", "x")});
      ASSERT_EQ(bundle_ref::save_body(g, body, kLd, one), KALDRO_OK);
      Workspace ws(kaldro_genome_arena_bytes(body.size(), 2, body.size()));
      EXPECT_EQ(kaldro_genome_explode(g.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID)
          << "\"" << bad << "\"";
      EXPECT_TRUE(list_dir(out.path).empty()) << "\"" << bad << "\"";
    }
  }
  // Two caps with one label: the second bundle would overwrite the first.
  {
    TempDir g, out;
    const Bytes body = concat({chromosome(kLd, "aa", "x", 1), chromosome(kLd, "aa", "y", 2)});
    ASSERT_EQ(bundle_ref::save_body(g, body, kLd, one), KALDRO_OK);
    Workspace ws(kaldro_genome_arena_bytes(body.size(), 2, body.size()));
    EXPECT_EQ(kaldro_genome_explode(g.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID);
    EXPECT_TRUE(list_dir(out.path).empty());
  }
  // Control bytes, a line feed, a quote, bytes above 0x7f, a leading dot and a name
  // that is all dots but three: usable file names, and they come back from pack.
  const uint32_t ld = 32;
  const std::vector<std::string> odd = {"\n", "\x01\x7f", "\xff\xfe", "\"q\"", "...", ".hidden", "-", "sp ace",
                                        "ends.chr"};
  Bytes body;
  for (size_t i = 0; i < odd.size(); ++i) {
    const Bytes c = chromosome(ld, odd[i], "xG", uint32_t(i + 1));
    body.insert(body.end(), c.begin(), c.end());
  }
  const Bytes one32 = the_one_of(ld);
  TempDir g, out, fresh;
  ASSERT_EQ(bundle_ref::save_body(g, body, ld, one32), KALDRO_OK);
  Workspace ws(kaldro_genome_arena_bytes(body.size(), uint32_t(odd.size()), body.size()));
  ASSERT_EQ(kaldro_genome_explode(g.c_str(), out.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(list_dir(out.path).size(), odd.size());
  ASSERT_EQ(kaldro_genome_pack(out.c_str(), fresh.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_OK);
  // Packed in label order (unsigned bytes).
  std::vector<size_t> order(odd.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return std::lexicographical_compare(odd[a].begin(), odd[a].end(), odd[b].begin(), odd[b].end(),
                                        [](char x, char y) { return uint8_t(x) < uint8_t(y); });
  });
  Bytes sorted;
  for (size_t i : order) {
    const Bytes c = chromosome(ld, odd[i], "xG", uint32_t(i + 1));
    sorted.insert(sorted.end(), c.begin(), c.end());
  }
  EXPECT_EQ(*read_file(fresh.file("turns.bin")), as_string(sorted));
}

// One hand edit of a bundle and the status import gives for it.
struct BundleEdit {
  std::string what;
  std::function<void(Json &, Raw &)> edit;
  kaldro_status want;
};

std::vector<BundleEdit> bundle_edits() {
  std::vector<BundleEdit> edits;
  auto data = [](Json &t) -> Json & { return member(t, "data"); };
  auto kinds = [&](const std::string &name, const char *right, std::function<Json &(Json &)> at) {
    for (const std::string &v : wrong_kinds(right))
      edits.push_back({name + " = " + v, [at, v](Json &t, Raw &raw) { at(t) = raw.put(v); }, KALDRO_ERR_INVALID});
  };
  kinds("data_schema_id", "string", [](Json &t) -> Json & { return member(t, "data_schema_id"); });
  kinds("data", "object", [](Json &t) -> Json & { return member(t, "data"); });
  kinds("attestation", "object", [](Json &t) -> Json & { return member(t, "attestation"); });
  kinds("leaf_dim", "int", [=](Json &t) -> Json & { return member(data(t), "leaf_dim"); });
  kinds("label", "string", [=](Json &t) -> Json & { return member(data(t), "label"); });
  kinds("region", "object", [=](Json &t) -> Json & { return member(data(t), "region"); });
  kinds("region.hex", "string", [=](Json &t) -> Json & { return member(member(data(t), "region"), "hex"); });
  kinds("region.sha256", "string", [=](Json &t) -> Json & { return member(member(data(t), "region"), "sha256"); });
  kinds("response_sha256", "string",
        [](Json &t) -> Json & { return member(member(t, "attestation"), "response_sha256"); });
  kinds("the_one", "object", [=](Json &t) -> Json & { return member(data(t), "the_one"); });
  kinds("the_one.hex", "string", [=](Json &t) -> Json & { return member(member(data(t), "the_one"), "hex"); });
  kinds("the_one.sha256", "string", [=](Json &t) -> Json & { return member(member(data(t), "the_one"), "sha256"); });
  for (const std::string &v : kBadIntegers)
    edits.push_back({"leaf_dim = " + v, [=](Json &t, Raw &raw) { member(data(t), "leaf_dim") = raw.put(v); },
                     KALDRO_ERR_INVALID});
  edits.push_back({"leaf_dim + 2^32", [=](Json &t, Raw &) { member(data(t), "leaf_dim").i += int64_t(1) << 32; },
                   KALDRO_ERR_INVALID});
  edits.push_back({"schema id with a zero byte", [](Json &t, Raw &) { member(t, "data_schema_id").s[10] = '\0'; },
                   KALDRO_ERR_INVALID});
  edits.push_back({"schema id one byte longer", [](Json &t, Raw &) { member(t, "data_schema_id").s += "x"; },
                   KALDRO_ERR_INVALID});
  auto digest_forms = [&](const std::string &name, std::function<Json &(Json &)> at) {
    edits.push_back({name + " uppercase", [at](Json &t, Raw &) { for (char &c : at(t).s) c = char(toupper(c)); },
                     KALDRO_ERR_INVALID});
    edits.push_back({name + " 63 digits", [at](Json &t, Raw &) { at(t).s.pop_back(); }, KALDRO_ERR_INVALID});
    edits.push_back({name + " 65 digits", [at](Json &t, Raw &) { at(t).s += "0"; }, KALDRO_ERR_INVALID});
    edits.push_back({name + " empty", [at](Json &t, Raw &) { at(t).s.clear(); }, KALDRO_ERR_INVALID});
  };
  digest_forms("region.sha256", [=](Json &t) -> Json & { return member(member(data(t), "region"), "sha256"); });
  digest_forms("response_sha256", [](Json &t) -> Json & { return member(member(t, "attestation"), "response_sha256"); });
  digest_forms("the_one.sha256", [=](Json &t) -> Json & { return member(member(data(t), "the_one"), "sha256"); });
  // Hex texts that are no hex, or hold more than the file could.
  for (const std::string &bad : {std::string("g0"), std::string("0 "), std::string("\xc3\xa9"), std::string("+1"),
                                std::string("0x"), std::string(1, '\0') + "0"})
    edits.push_back({"region.hex with \"" + bad + "\"", [=](Json &t, Raw &) {
                       std::string &h = member(member(data(t), "region"), "hex").s;
                       h.replace(2, bad.size(), bad);
                     }, KALDRO_ERR_INVALID});
  edits.push_back({"the_one.hex of 257 bytes", [=](Json &t, Raw &) {
                     Json &o = member(data(t), "the_one");
                     const Bytes big(257, 0x5a);
                     member(o, "hex") = Json::str(hex_of(big));
                     member(o, "sha256") = Json::str(sha256_hex(big));
                   }, KALDRO_ERR_CAPACITY});
  edits.push_back({"label of 256 bytes", [=](Json &t, Raw &) { member(data(t), "label") = Json::str(std::string(256, 'l')); },
                   KALDRO_ERR_INVALID});
  return edits;
}

TEST(HostileBundle, EveryMemberImportReads) {
  const std::vector<BundleEdit> edits = bundle_edits();
  ASSERT_GT(edits.size(), 100u);
  Genome gen;
  const Bytes dd = chromosome(kLd, "dd", "xG", 9);
  const std::string path = gen.out.file("dd.chr");
  for (const BundleEdit &e : edits) {
    Json t = bundle_tree(dd, kLd, gen.ops.one);
    Raw raw;
    e.edit(t, raw);
    ASSERT_TRUE(write_file(path, raw.render(t)));
    // Into the existing genome and into an empty directory: nothing is written.
    const Snapshot before = bundle_ref::snapshot(gen.g);
    Workspace ws(gen.ops.ws_bytes);
    EXPECT_EQ(kaldro_genome_import(path.c_str(), gen.g.c_str(), nullptr, 0, ws.p, ws.n), e.want) << e.what;
    EXPECT_TRUE(bundle_ref::snapshot(gen.g) == before) << e.what;
    EXPECT_EQ(kaldro_genome_import(path.c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n), e.want) << e.what;
    EXPECT_TRUE(list_dir(gen.other.path).empty()) << e.what;
  }
}

TEST(HostileBundle, TruncatedOversizedAndInPacks) {
  Genome gen;
  const Bytes dd = chromosome(kLd, "dd", "xG", 9);
  const std::string good = bundle_file(dd, kLd, gen.ops.one);
  const std::string path = gen.out.file("dd.chr");
  Workspace ws(gen.ops.ws_bytes);
  for (size_t len = 0; len + 1 < good.size(); len += (len + 16 < good.size() ? 11 : 1)) {
    ASSERT_TRUE(write_file(path, good.substr(0, len)));
    const Snapshot before = bundle_ref::snapshot(gen.g);
    EXPECT_EQ(kaldro_genome_import(path.c_str(), gen.g.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID) << len;
    EXPECT_EQ(kaldro_genome_import(path.c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID) << len;
    EXPECT_TRUE(bundle_ref::snapshot(gen.g) == before) << len;
    EXPECT_TRUE(list_dir(gen.other.path).empty()) << len;
  }
  // A bundle larger than the workspace.
  std::string padded = good;
  padded.insert(1, size_t(gen.ops.ws_bytes), ' ');
  ASSERT_TRUE(write_file(path, padded));
  EXPECT_EQ(kaldro_genome_import(path.c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_genome_pack(gen.out.c_str(), gen.other.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(list_dir(gen.other.path).empty());

  // Pack reads every bundle before it imports one: a truncated bundle or one whose
  // label is no string, sorted last or first, stops the pack with nothing imported.
  const std::string ee = bundle_file(chromosome(kLd, "ee", "x", 4), kLd, gen.ops.one);
  const std::vector<std::pair<std::string, std::string>> spoilers = {
      {"truncated", good.substr(0, good.size() / 2)},
      {"label a number", [&] {
         Json t = bundle_tree(dd, kLd, gen.ops.one);
         member(member(t, "data"), "label") = Json::num(5);
         return canonical(t) + "\n";
       }()},
      {"no data", [&] {
         Json t = bundle_tree(dd, kLd, gen.ops.one);
         drop(t, "data");
         return canonical(t) + "\n";
       }()},
  };
  for (const auto &[what, text] : spoilers) {
    for (const char *name : {"0.chr", "zz.chr"}) {
      TempDir packed, target;
      ASSERT_TRUE(write_file(packed.file("ee.chr"), ee));
      ASSERT_TRUE(write_file(packed.file(name), text));
      EXPECT_EQ(kaldro_genome_pack(packed.c_str(), target.c_str(), nullptr, 0, ws.p, ws.n), KALDRO_ERR_INVALID)
          << what << " " << name;
      EXPECT_TRUE(list_dir(target.path).empty()) << what << " " << name;
    }
  }
}

// A genome edited ten thousand times in a row, checked against a model of its
// chromosomes along the way, still loads and verifies and lists what the model holds.
TEST(HostileLoad, TenThousandEditsInARow) {
  TempDir g;
  const uint32_t ld = 8;
  const Bytes one = the_one_of(ld);
  std::vector<std::pair<std::string, Bytes>> model;
  auto body_of_model = [&] {
    Bytes b;
    for (const auto &c : model) b.insert(b.end(), c.second.begin(), c.second.end());
    return b;
  };
  for (int i = 0; i < 4; ++i) model.push_back({"c" + std::to_string(i), chromosome(ld, "c" + std::to_string(i), "x", i)});
  Workspace ws(kaldro_genome_arena_bytes(4096, 64, 1024));
  Bytes body = body_of_model();
  ASSERT_EQ(kaldro_genome_save(g.c_str(), body.data(), body.size(), ld, one.data(), ld, ws.p, ws.n), KALDRO_OK);
  uint32_t x = 12345, next_label = 4;
  for (int edit = 0; edit < 10000; ++edit) {
    x = x * 1103515245u + 12345u;
    const uint32_t pick = (x >> 8) % uint32_t(model.size());
    const std::string label = model[pick].first;
    std::string tags(1 + (x >> 20) % 3, 'x');
    if ((x >> 4) & 1) tags[0] = 'G';
    kaldro_status st;
    switch ((x >> 16) % 3) {
      case 0: {  // append a new chromosome, up to 24
        if (model.size() >= 24) continue;
        const std::string fresh = "n" + std::to_string(next_label++ % 1000);
        bool taken = false;
        for (const auto &c : model) taken |= c.first == fresh;
        if (taken) continue;
        const Bytes src = chromosome(ld, fresh, tags, uint32_t(edit));
        st = kaldro_genome_append(g.c_str(), fresh.c_str(), src.data(), src.size(), ld, one.data(), ld, ws.p, ws.n);
        model.push_back({fresh, src});
        break;
      }
      case 1: {  // remove one, down to 2
        if (model.size() <= 2) continue;
        st = kaldro_genome_remove(g.c_str(), label.c_str(), one.data(), ld, ws.p, ws.n);
        model.erase(model.begin() + pick);
        break;
      }
      default: {  // replace one with new records
        const Bytes src = chromosome(ld, label, tags, uint32_t(edit));
        st = kaldro_genome_replace(g.c_str(), label.c_str(), src.data(), src.size(), ld, one.data(), ld, ws.p, ws.n);
        model[pick].second = src;
        break;
      }
    }
    ASSERT_EQ(st, KALDRO_OK) << "edit " << edit << " kind " << (x >> 16) % 3 << " label " << label;
    if (edit % 1000 == 999) {
      ASSERT_EQ(*read_file(g.file("turns.bin")), as_string(body_of_model())) << "edit " << edit;
      ASSERT_EQ(*read_file(g.file("manifest.json")), manifest_file(body_of_model(), ld, one)) << "edit " << edit;
    }
  }
  body = body_of_model();
  std::vector<uint8_t> back(body.size() + 1);
  size_t len = 0;
  EXPECT_EQ(kaldro_genome_load(g.c_str(), back.data(), back.size(), &len, nullptr, 0, ws.p, ws.n), KALDRO_OK);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + long(len)), body);
  for (const auto &[label, region] : model) {
    std::vector<uint8_t> w(region.size());
    EXPECT_EQ(kaldro_genome_window(g.c_str(), label.c_str(), w.data(), w.size(), &len, nullptr, 0, ws.p, ws.n),
              KALDRO_OK);
    EXPECT_EQ(Bytes(w.begin(), w.end()), region);
  }
  // Nothing but the genome's two files is left in the directory.
  EXPECT_EQ(list_dir(g.path), (std::vector<std::string>{"manifest.json", "turns.bin"}));
}

}  // namespace
