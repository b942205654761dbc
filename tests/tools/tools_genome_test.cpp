// `kaldro genome ...` run as a process on real directories: the catalog table against
// digests computed here with OpenSSL, windows and loads against the body's bytes, edits,
// a damaged genome that verify reports and load refuses, files left untouched on failure,
// and bundles where the library has them.
#include "tools/tools_process.h"

#include <openssl/sha.h>

using namespace tooltest;

namespace {

std::string sha256_hex(const std::string &bytes) {
  unsigned char d[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), d);
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : d) {
    s.push_back(digits[c >> 4]);
    s.push_back(digits[c & 15]);
  }
  return s;
}

constexpr std::size_t kDim = 8;

std::string record(char tag, const std::string &content) {
  std::string r(kDim, '\0');
  r[0] = tag;
  r.replace(1, content.size(), content);
  return r;
}

struct Chrom {
  std::string label;
  std::size_t offset, length, leaves;
};

// A body of three chromosomes and what its catalog must say.
struct Sample {
  std::string body;
  std::vector<Chrom> chroms;
  Sample() {
    const std::vector<std::pair<std::string, std::string>> recs = {
        {"C", "alpha"}, {"x", "a1"}, {"x", "a2"}, {"C", "beta"}, {"G", "b"},
        {"x", "b1"},    {"G", ""},   {"C", "gamma"}, {"x", "g1"}};
    for (const auto &r : recs) {
      if (r.first == "C") chroms.push_back({r.second, body.size(), 0, 0});
      chroms.back().length += kDim;
      if (r.first != "C" && r.first != "G") chroms.back().leaves++;
      body += record(r.first[0], r.second);
    }
  }
};

const std::string kTheOne = "0102030405060708";

class GenomeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir((dir / "g").c_str(), 0700);
    spit(dir / "body.bin", sample.body);
    Result r = kaldro({"genome", "save", "g", "body.bin", "--the-one", kTheOne}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out, "saved g: 3 chromosomes, 72 bytes in records of 8 bytes\n");
  }
  Result genome(std::vector<std::string> args) {
    args.insert(args.begin(), "genome");
    return kaldro(args, dir.path());
  }
  TempDir dir;
  Sample sample;
};

TEST_F(GenomeTool, CatalogTableMatchesTheBody) {
  Result r = genome({"catalog", "g"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("genome g: leaf_dim 8, 9 turns, 3 chromosomes\n"), std::string::npos);
  EXPECT_NE(r.out.find("body sha256 " + sha256_hex(sample.body) + "\n"), std::string::npos);
  for (const Chrom &c : sample.chroms) {
    char line[256];
    std::snprintf(line, sizeof line, "%-5s %10zu %10zu %8zu  %s\n", c.label.c_str(), c.offset,
                  c.length, c.leaves, sha256_hex(sample.body.substr(c.offset, kDim)).c_str());
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  }
  Result json = genome({"catalog", "g", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out, slurp(dir / "g/manifest.json"));  // already canonical, one line feed
}

TEST_F(GenomeTool, CatalogWithoutManifestIsRebuiltWithTheOne) {
  const std::string manifest = slurp(dir / "g/manifest.json");
  std::remove((dir / "g/manifest.json").c_str());
  Result without = genome({"catalog", "g"});
  EXPECT_EQ(without.status, 2);
  EXPECT_EQ(without.err,
            "kaldro: genome catalog: no manifest.json; give --the-one to rebuild the catalog "
            "(KALDRO_ERR_INVALID)\n");
  spit(dir / "one.bin", std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  Result rebuilt = genome({"catalog", "g", "--json", "--the-one-file", "one.bin"});
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.err;
  EXPECT_EQ(rebuilt.out, manifest);
  EXPECT_FALSE(exists(dir / "g/manifest.json"));  // a read never writes
  Result verify = genome({"verify", "g"});
  EXPECT_EQ(verify.status, 2);
  EXPECT_NE(verify.out.find("g: manifest.json is missing\n"), std::string::npos);
  EXPECT_EQ(genome({"catalog", "g", "--the-one", "01", "--the-one-file", "one.bin"}).status, 1);
}

TEST_F(GenomeTool, WindowAndLoadGiveTheBodysBytes) {
  Result w = genome({"window", "g", "beta", "-o", "beta.bin"});
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_EQ(slurp(dir / "beta.bin"), sample.body.substr(sample.chroms[1].offset, sample.chroms[1].length));
  Result shown = genome({"window", "g", "gamma", "--records"});
  EXPECT_EQ(shown.out, "chromosome gamma: 16 bytes, 2 records, cap verified\n"
                       "         0  " + std::string("4367616d6d610000") + "\n"
                       "         8  7867310000000000\n");
  Result missing = genome({"window", "g", "delta", "-o", "delta.bin"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "kaldro: genome window: no chromosome 'delta' in 'g' (KALDRO_ERR_INVALID)\n");
  EXPECT_FALSE(exists(dir / "delta.bin"));

  Result l = genome({"load", "g", "-o", "all.bin"});
  ASSERT_EQ(l.status, 0) << l.err;
  EXPECT_EQ(slurp(dir / "all.bin"), sample.body);
  EXPECT_EQ(l.out, "loaded g: 72 bytes, body digest " + sha256_hex(sample.body) + " verified\n");
  EXPECT_EQ(genome({"load", "g", "-o", "-"}).out, sample.body);
}

TEST_F(GenomeTool, EditsKeepTheGenomesTheOne) {
  spit(dir / "delta.bin", record('C', "delta") + record('x', "d1"));
  Result a = genome({"append", "g", "delta.bin"});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(a.out, "appended delta in g: 16 bytes\n");
  EXPECT_EQ(genome({"append", "g", "delta.bin"}).status, 2);  // label already there
  ASSERT_EQ(genome({"remove", "g", "alpha"}).status, 0);
  spit(dir / "gamma.bin", record('C', "gamma") + record('x', "n1") + record('x', "n2"));
  ASSERT_EQ(genome({"replace", "g", "gamma", "gamma.bin"}).status, 0);

  std::string body = sample.body.substr(sample.chroms[1].offset, sample.chroms[1].length) +
                     slurp(dir / "gamma.bin") + slurp(dir / "delta.bin");
  EXPECT_EQ(slurp(dir / "g/turns.bin"), body);
  Result v = genome({"verify", "g"});
  EXPECT_EQ(v.status, 0) << v.out;
  EXPECT_EQ(v.out, "g: genome verified: 3 chromosomes, 72 bytes, body and caps match\n");
  // The manifest still carries the_one given at the save.
  EXPECT_NE(slurp(dir / "g/manifest.json").find("\"hex\": \"" + kTheOne + "\""), std::string::npos);

  Result last = genome({"remove", "g", "nothere"});
  EXPECT_EQ(last.status, 2);
  EXPECT_NE(last.err.find("(KALDRO_ERR_INVALID)"), std::string::npos);
  spit(dir / "short.bin", "Cxyz");  // not a whole record
  const std::string before = slurp(dir / "g/turns.bin");
  EXPECT_EQ(genome({"append", "g", "short.bin", "--label", "xyz"}).status, 2);
  EXPECT_EQ(slurp(dir / "g/turns.bin"), before);
}

TEST_F(GenomeTool, DamagedGenomeIsReportedByVerifyAndRefusedByLoad) {
  std::string body = slurp(dir / "g/turns.bin");
  body[sample.chroms[1].offset + 2] ^= 0x01;  // inside beta's cap record (its label)
  body[sample.chroms[2].offset + 9] ^= 0x01;  // inside a leaf of gamma
  spit(dir / "g/turns.bin", body);
  spit(dir / "out.bin", "previous");

  Result v = genome({"verify", "g"});
  EXPECT_EQ(v.status, 2);
  EXPECT_EQ(v.err, "kaldro: genome verify: 3 problems found (KALDRO_ERR_INVALID)\n");
  EXPECT_NE(v.out.find("g: the body digest does not match: the manifest lists " +
                       sha256_hex(sample.body) + ", turns.bin has " + sha256_hex(body) + "\n"),
            std::string::npos) << v.out;
  EXPECT_NE(v.out.find("g: chromosome 1 'beta': cap digest does not match the cap record at byte 24\n"),
            std::string::npos) << v.out;
  EXPECT_NE(v.out.find("g: chromosome 1 'beta': the cap record carries the label 'bdta'\n"),
            std::string::npos) << v.out;

  Result l = genome({"load", "g", "-o", "out.bin"});
  EXPECT_EQ(l.status, 2);
  EXPECT_EQ(l.err, "kaldro: genome load: the body of 'g' does not match its manifest (KALDRO_ERR_INVALID)\n");
  EXPECT_EQ(slurp(dir / "out.bin"), "previous");
  Result w = genome({"window", "g", "beta", "-o", "out.bin"});
  EXPECT_EQ(w.status, 2);
  EXPECT_EQ(w.err, "kaldro: genome window: the cap record of 'beta' does not match its digest "
                   "(KALDRO_ERR_INVALID)\n");
  EXPECT_EQ(slurp(dir / "out.bin"), "previous");
  // Edits refuse a body that no longer matches its manifest, and leave it as it is.
  EXPECT_EQ(genome({"remove", "g", "alpha"}).status, 2);
  EXPECT_EQ(slurp(dir / "g/turns.bin"), body);
}

TEST_F(GenomeTool, VerifyFindsAHandEditedManifest) {
  std::string m = slurp(dir / "g/manifest.json");
  const std::string from = "\"leaf_count\": 2", to = "\"leaf_count\": 5";
  ASSERT_NE(m.find(from), std::string::npos);
  m.replace(m.find(from), from.size(), to);
  spit(dir / "g/manifest.json", m);
  Result v = genome({"verify", "g"});
  EXPECT_EQ(v.status, 2);
  EXPECT_NE(v.out.find("leaf_count 5, the body's records give 2"), std::string::npos) << v.out;
  spit(dir / "g/manifest.json", "{not json");
  v = genome({"verify", "g"});
  EXPECT_EQ(v.status, 2);
  EXPECT_NE(v.out.find("manifest.json is not a JSON document (KALDRO_ERR_INVALID)"), std::string::npos);
  EXPECT_EQ(genome({"load", "g"}).status, 2);
  Result empty = genome({"verify", "."});
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.err, "kaldro: genome verify: '.' holds no genome (KALDRO_ERR_IO)\n");
}

TEST_F(GenomeTool, RefusedSavesLeaveTheGenomeUntouched) {
  const std::string body = slurp(dir / "g/turns.bin"), manifest = slurp(dir / "g/manifest.json");
  spit(dir / "bad.bin", record('x', "no cap first"));
  Result r = genome({"save", "g", "bad.bin", "--the-one", kTheOne});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("kaldro: genome save: "), std::string::npos);
  EXPECT_NE(r.err.find("(KALDRO_ERR_INVALID)"), std::string::npos);
  spit(dir / "ragged.bin", sample.body + "C");
  EXPECT_EQ(genome({"save", "g", "ragged.bin", "--the-one", kTheOne}).status, 2);
  EXPECT_EQ(genome({"save", "g", "body.bin", "--the-one", "0102", "--leaf-dim", "8"}).status, 2);  // the_one not leaf_dim
  EXPECT_EQ(slurp(dir / "g/turns.bin"), body);
  EXPECT_EQ(slurp(dir / "g/manifest.json"), manifest);

  EXPECT_EQ(genome({"save", "g", "body.bin"}).status, 1);
  EXPECT_EQ(genome({"save", "g", "body.bin", "--the-one", "xyz"}).status, 1);
  EXPECT_EQ(genome({"save", "g", "--the-one", kTheOne}).status, 1);
  Result nodir = genome({"save", "nodir", "body.bin", "--the-one", kTheOne});
  EXPECT_EQ(nodir.status, 2);
  EXPECT_FALSE(exists(dir / "nodir"));
  Result nobody = genome({"save", "g", "nobody.bin", "--the-one", kTheOne});
  EXPECT_EQ(nobody.status, 2);
  EXPECT_EQ(nobody.err, "kaldro: genome save: cannot read 'nobody.bin': No such file or directory\n");
}

#if KALDRO_TOOL_HAS_BUNDLES
TEST_F(GenomeTool, ExplodeAndPackGiveTheSameChromosomesByLabel) {
  ::mkdir((dir / "bundles").c_str(), 0700);
  ::mkdir((dir / "packed").c_str(), 0700);
  Result e = genome({"explode", "g", "bundles"});
  ASSERT_EQ(e.status, 0) << e.err;
  EXPECT_EQ(e.out, "exploded g: 3 bundles in bundles\n");
  EXPECT_TRUE(e.err.empty());  // no progress line when standard error is not a terminal
  for (const char *b : {"alpha.chr", "beta.chr", "gamma.chr"}) EXPECT_TRUE(exists(dir / ("bundles/" + std::string(b)))) << b;
  Result p = genome({"pack", "bundles", "packed"});
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(slurp(dir / "packed/turns.bin"), sample.body);  // already in label order
  EXPECT_EQ(slurp(dir / "packed/manifest.json"), slurp(dir / "g/manifest.json"));
  EXPECT_EQ(genome({"verify", "packed"}).status, 0);

  // A bundle imports into a new genome; into its own genome its label clashes.
  ::mkdir((dir / "one").c_str(), 0700);
  EXPECT_EQ(genome({"import", "bundles/beta.chr", "one"}).status, 0);
  EXPECT_EQ(slurp(dir / "one/turns.bin"), sample.body.substr(sample.chroms[1].offset, sample.chroms[1].length));
  Result clash = genome({"import", "bundles/beta.chr", "g"});
  EXPECT_EQ(clash.status, 2);
  EXPECT_NE(clash.err.find("(KALDRO_ERR_INVALID)"), std::string::npos);
  Result ex = genome({"export", "g", "gamma", "gamma.chr"});
  EXPECT_EQ(ex.status, 0);
  EXPECT_EQ(slurp(dir / "gamma.chr"), slurp(dir / "bundles/gamma.chr"));
  EXPECT_EQ(genome({"export", "g", "nothere", "x.chr"}).status, 2);
  EXPECT_FALSE(exists(dir / "x.chr"));
  Result none = genome({"pack", "one", "packed"});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("holds no .chr bundle"), std::string::npos);
}
#endif

}  // namespace
