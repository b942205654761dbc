// The kaldro tool run as a process: its conventions (help, version, exit statuses and
// messages), sha256 against the system's sha256sum (digests and -c), json canon against
// Python's json module, toml get, the spectral, Kuramoto and bus commands where the
// library has them, the demo and the manual page.
#include "tools/tools_process.h"

#include <random>

using namespace tooltest;

namespace {

const std::vector<std::string> kTopCommands = {"genome", "sha256", "json", "toml", "demo", "version"};

std::vector<std::string> listed_subcommands(const std::string &help) {
  std::vector<std::string> subs;
  const std::size_t at = help.find("subcommands (");
  if (at == std::string::npos) return subs;
  std::istringstream lines(help.substr(help.find('\n', at) + 1));
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("  ", 0) == 0) subs.push_back(line.substr(2, line.find(' ', 2) - 2));
  return subs;
}

}  // namespace

TEST(ToolConventions, VersionHelpAndUsageErrors) {
  Result v = kaldro({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "kaldro 0.8.2 (ABI 3)\n");
  EXPECT_EQ(kaldro({"version"}).out, v.out);

  Result none = kaldro({});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("usage: kaldro <command>"), std::string::npos);
  EXPECT_TRUE(none.out.empty());

  Result unknown = kaldro({"frobnicate"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("kaldro: unknown command 'frobnicate'"), std::string::npos);

  Result bad_opt = kaldro({"sha256", "--frob"});
  EXPECT_EQ(bad_opt.status, 1);
  EXPECT_EQ(bad_opt.err, "kaldro: sha256: unknown option '--frob'\nTry 'kaldro sha256 --help'.\n");

  Result no_sub = kaldro({"genome"});
  EXPECT_EQ(no_sub.status, 1);
  Result bad_sub = kaldro({"genome", "frob"});
  EXPECT_EQ(bad_sub.status, 1);
  EXPECT_NE(bad_sub.err.find("kaldro: genome: unknown subcommand 'frob'"), std::string::npos);
}

TEST(ToolConventions, EveryCommandAndSubcommandHasHelp) {
  Result top = kaldro({"--help"});
  ASSERT_EQ(top.status, 0);
  for (const std::string &c : kTopCommands) EXPECT_NE(top.out.find("  " + c + " "), std::string::npos) << c;
  std::istringstream lines(top.out.substr(top.out.find("commands:")));
  std::string line;
  std::getline(lines, line);
  int checked = 0;
  while (std::getline(lines, line) && line.rfind("  ", 0) == 0) {
    const std::string name = line.substr(2, line.find(' ', 2) - 2);
    Result h = kaldro({name, "--help"});
    EXPECT_EQ(h.status, 0) << name;
    EXPECT_EQ(h.out.rfind("usage: kaldro " + name, 0), 0u) << name;
    ++checked;
    for (const std::string &sub : listed_subcommands(h.out)) {
      Result sh_ = kaldro({name, sub, "--help"});
      EXPECT_EQ(sh_.status, 0) << name << " " << sub;
      EXPECT_EQ(sh_.out.rfind("usage: kaldro " + name + " " + sub, 0), 0u) << name << " " << sub;
      EXPECT_TRUE(sh_.err.empty());
      ++checked;
    }
  }
  EXPECT_GE(checked, 14);
}

TEST(ToolManual, RenderedFromTheHelpTexts) {
  const std::string man = slurp(KALDRO_MANUAL_PATH);
  ASSERT_FALSE(man.empty());
  EXPECT_EQ(man.rfind(".TH KALDRO 1", 0), 0u);
  EXPECT_EQ(man, kaldro({"--manual"}).out);
  for (const char *c : {"genome save", "genome verify", "sha256", "json canon", "toml get", "demo"})
    EXPECT_NE(man.find(".SS \"kaldro " + std::string(c) + "\""), std::string::npos) << c;
  // An option line of a help text becomes a tagged paragraph, with its dashes escaped.
  EXPECT_NE(man.find(".TP\n.B \\-\\-json\nprint the manifest in canonical form instead"), std::string::npos);
  if (exists("/usr/bin/groff")) {
    Result g = sh("groff -man -Tutf8 -ww -z " + q(KALDRO_MANUAL_PATH));
    EXPECT_EQ(g.status, 0);
    EXPECT_TRUE(g.err.empty()) << g.err;
  }
}

// ---- sha256 ----------------------------------------------------------------------------

class Sha256Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(7);
    for (std::size_t len : {0, 1, 55, 56, 63, 64, 65, 1000, 100000}) {
      std::string data(len, '\0');
      for (char &c : data) c = char(rng());
      const std::string name = "f" + std::to_string(len);
      spit(dir / name, data);
      names.push_back(name);
    }
    spit(dir / "back\\slash", "x");
    spit(dir / "new\nline", "y");
    names.push_back("back\\slash");
    names.push_back("new\nline");
  }
  Result both_ways(const std::vector<std::string> &args, Result &reference, const std::string &input = "") {
    std::string line = "sha256sum";
    for (const std::string &a : args) line += " " + q(a);
    reference = sh(line, dir.path(), input);
    return kaldro([&] {
      std::vector<std::string> a{"sha256"};
      a.insert(a.end(), args.begin(), args.end());
      return a;
    }(), dir.path(), input);
  }
  TempDir dir;
  std::vector<std::string> names;
};

TEST_F(Sha256Tool, DigestLinesMatchSha256sum) {
  Result ref;
  Result mine = both_ways(names, ref);
  EXPECT_EQ(ref.status, 0);
  EXPECT_EQ(mine.status, 0);
  EXPECT_EQ(mine.out, ref.out);
  EXPECT_NE(mine.out.find("\\"), std::string::npos);  // the escaped names are there

  std::vector<std::string> tagged = names;
  tagged.insert(tagged.begin(), "--tag");
  mine = both_ways(tagged, ref);
  EXPECT_EQ(mine.out, ref.out);

  mine = both_ways({}, ref, "standard input text");
  EXPECT_EQ(mine.out, ref.out);
  mine = both_ways({"-", "f1"}, ref, "abc");
  EXPECT_EQ(mine.out, ref.out);
}

TEST_F(Sha256Tool, UnreadableFilesAreReportedAndTheRestDigested) {
  Result ref;
  Result mine = both_ways({"f1", "missing", "f0"}, ref);
  EXPECT_NE(ref.status, 0);
  EXPECT_EQ(mine.status, 2);
  EXPECT_EQ(mine.out, ref.out);
  EXPECT_NE(mine.err.find("kaldro: sha256: missing: No such file or directory"), std::string::npos);
  ::mkdir((dir / "sub").c_str(), 0700);
  mine = both_ways({"sub"}, ref);
  EXPECT_EQ(mine.status, 2);
  EXPECT_TRUE(mine.out.empty());
}

TEST_F(Sha256Tool, CheckAcceptsWhatSha256sumWrites) {
  std::string list = sh("sha256sum " + [&] {
    std::string a;
    for (const std::string &n : names) a += " " + q(n);
    return a;
  }(), dir.path()).out;
  spit(dir / "list", list);
  spit(dir / "tagged", sh("sha256sum --tag f0 f64", dir.path()).out);
  Result ref;
  Result mine = both_ways({"-c", "list", "tagged"}, ref);
  EXPECT_EQ(ref.status, 0);
  EXPECT_EQ(mine.status, 0);
  EXPECT_EQ(mine.out, ref.out);
  EXPECT_TRUE(mine.err.empty()) << mine.err;

  mine = both_ways({"--check", "--quiet", "list"}, ref);
  EXPECT_EQ(mine.status, 0);
  EXPECT_EQ(mine.out, "");
  EXPECT_EQ(mine.out, ref.out);
  mine = both_ways({"-c"}, ref, list);  // the list on standard input
  EXPECT_EQ(mine.status, 0);
  EXPECT_EQ(mine.out, ref.out);
}

TEST_F(Sha256Tool, CheckReportsMismatchesMissingFilesAndMalformedLines) {
  std::string list = sh("sha256sum f0 f1 f55 f64", dir.path()).out;
  spit(dir / "f1", "changed");
  std::string upper = sh("sha256sum f56", dir.path()).out;
  for (std::size_t i = 0; i < 64; ++i) upper[i] = char(std::toupper(upper[i]));
  list += upper;
  list += "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  gone\n";
  list += "not a digest line\n";
  list += "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 *f0\r\n";
  spit(dir / "list", list);
  Result ref;
  Result mine = both_ways({"-c", "list"}, ref);
  EXPECT_NE(ref.status, 0);
  EXPECT_EQ(mine.status, 2);
  EXPECT_EQ(mine.out, ref.out);
  EXPECT_NE(mine.out.find("f1: FAILED\n"), std::string::npos);
  EXPECT_NE(mine.out.find("gone: FAILED open or read\n"), std::string::npos);
  EXPECT_NE(mine.err.find("WARNING: 1 line is improperly formatted"), std::string::npos);
  EXPECT_NE(mine.err.find("WARNING: 1 listed file could not be read"), std::string::npos);
  EXPECT_NE(mine.err.find("WARNING: 1 computed checksum did NOT match"), std::string::npos);

  mine = both_ways({"-c", "--status", "list"}, ref);
  EXPECT_EQ(mine.status, 2);
  EXPECT_EQ(mine.out, ref.out);
  EXPECT_TRUE(mine.err.empty());
  mine = both_ways({"-c", "--quiet", "list"}, ref);
  EXPECT_EQ(mine.out, ref.out);

  // A list with malformed lines only, or lines that fail only under --strict.
  spit(dir / "junk", "junk\n");
  mine = both_ways({"-c", "junk"}, ref);
  EXPECT_NE(ref.status, 0);
  EXPECT_EQ(mine.status, 2);
  EXPECT_NE(mine.err.find("no properly formatted checksum lines found"), std::string::npos);
  spit(dir / "mixed", sh("sha256sum f0", dir.path()).out + "junk\n");
  mine = both_ways({"-c", "mixed"}, ref);
  EXPECT_EQ(ref.status, 0);
  EXPECT_EQ(mine.status, 0);
  EXPECT_EQ(mine.out, ref.out);
  mine = both_ways({"-c", "--strict", "mixed"}, ref);
  EXPECT_NE(ref.status, 0);
  EXPECT_EQ(mine.status, 2);
  mine = both_ways({"--quiet", "f0"}, ref);
  EXPECT_EQ(mine.status, 1);
}

// ---- json canon and toml get ----------------------------------------------------------

namespace {

// A random document of the kinds whose text Python writes the same way: integers,
// strings (with escapes and UTF-8), booleans, null, arrays and objects.
std::string random_value(std::mt19937 &rng, int depth) {
  const int kind = int(rng() % (depth > 3 ? 4 : 6));
  switch (kind) {
    case 0: return std::to_string(int64_t(rng()) * (rng() % 2 ? 1 : -1) * int64_t(rng() % 100000));
    case 1: {
      static const char *const pieces[] = {"a", "Z", "\\n", "\\t", "\\\"", "\\\\", "\\u0001",
                                           "\\u00e9", "\xc3\xa9", " ", "/", "\\ud83d\\ude00", "k"};
      std::string s = "\"";
      for (unsigned n = rng() % 6; n > 0; --n) s += pieces[rng() % 13];
      return s + "\"";
    }
    case 2: return rng() % 2 ? "true" : "false";
    case 3: return "null";
    case 4: {
      std::string s = "[ ";
      for (unsigned n = rng() % 5, i = 0; i < n; ++i) s += (i ? " , " : "") + random_value(rng, depth + 1);
      return s + "]";
    }
    default: {
      std::string s = "{\n";
      for (unsigned n = rng() % 6, i = 0; i < n; ++i)
        s += std::string(i ? ",\n" : "") + "\"k" + std::to_string(rng() % 50) + (rng() % 2 ? "\xc3\xa9" : "") +
             std::string(i, 'x') + "\" :\t" + random_value(rng, depth + 1);
      return s + "}";
    }
  }
}

}  // namespace

TEST(JsonCanonTool, MatchesPythonsSortedDump) {
  if (!exists("/usr/bin/python3") && sh("command -v python3").status != 0) GTEST_SKIP() << "no python3";
  TempDir dir;
  std::mt19937 rng(11);
  const int rounds = 40;
  std::vector<std::string> docs, mine;
  for (int round = 0; round < rounds; ++round) {
    std::string doc;
    do doc = random_value(rng, 0); while (doc.size() < 20);
    spit(dir / ("doc" + std::to_string(round) + ".json"), doc);
    Result r = kaldro({"json", "canon", "doc" + std::to_string(round) + ".json"}, dir.path());
    ASSERT_EQ(r.status, 0) << doc << r.err;
    docs.push_back(doc);
    mine.push_back(r.out);
  }
  // Keys within one object are unique (each carries its position), so Python's
  // dictionary keeps every member; one interpreter writes all the references.
  Result ref = sh("python3 -c 'import json,sys\nfor i in range(" + std::to_string(rounds) +
                  "):\n d=json.load(open(\"doc%d.json\" % i, encoding=\"utf-8\"))\n "
                  "sys.stdout.write(json.dumps(d, sort_keys=True, separators=(\", \", \": \"), "
                  "ensure_ascii=False)+\"\\n\")'",
                  dir.path());
  ASSERT_EQ(ref.status, 0) << ref.err;
  std::istringstream lines(ref.out);
  for (int round = 0; round < rounds; ++round) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(mine[round], line + "\n") << docs[round];
  }
  // Doubles come out with 17 significant digits.
  EXPECT_EQ(kaldro({"json", "canon"}, "/tmp", "{\"x\": 0.1, \"a\": [1.0, 1e20, -0]}").out,
            "{\"a\": [1.0, 1e+20, 0], \"x\": 0.10000000000000001}\n");
}

TEST(JsonCanonTool, RefusesBadDocumentsAndLeavesTheOutputUntouched) {
  TempDir dir;
  spit(dir / "out.json", "previous\n");
  for (const char *bad : {"{\"a\": 1,}", "", "[1] x", "\"unterminated"}) {
    Result r = kaldro({"json", "canon", "-o", "out.json"}, dir.path(), bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.err, "kaldro: json canon: standard input is not a JSON document (KALDRO_ERR_INVALID)\n");
    EXPECT_EQ(slurp(dir / "out.json"), "previous\n");
  }
  Result deep = kaldro({"json", "canon"}, "/tmp", std::string(65, '[') + std::string(65, ']'));
  EXPECT_EQ(deep.status, 2);
  EXPECT_NE(deep.err.find("(KALDRO_ERR_CAPACITY)"), std::string::npos);
  // A number beyond the double range has no JSON form: refused rather than written as inf.
  Result inf = kaldro({"json", "canon", "-o", "out.json"}, dir.path(), "[1e999]");
  EXPECT_EQ(inf.status, 2);
  EXPECT_NE(inf.err.find("outside the range of a double"), std::string::npos);
  EXPECT_EQ(slurp(dir / "out.json"), "previous\n");

  Result ok = kaldro({"json", "canon", "-o", "out.json"}, dir.path(), "{\"b\":1,\"a\":2}");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(slurp(dir / "out.json"), "{\"a\": 2, \"b\": 1}\n");
  Result missing = kaldro({"json", "canon", "nothere.json"}, dir.path());
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "kaldro: json canon: cannot read 'nothere.json': No such file or directory\n");
}

TEST(TomlGetTool, PrintsValuesByPath) {
  TempDir dir;
  spit(dir / "c.toml",
       "# settings\n[hermitian]\nmax_nodes = 4096\n[server]\nname = \"alpha \\\"one\\\"\"\n"
       "ratio = 0.5\nflags = [1, 2, \"x\"]\non = true\n[[peer]]\nhost = \"a\"\n[[peer]]\nhost = \"b\"\n");
  auto get = [&](const std::string &key) { return kaldro({"toml", "get", "c.toml", key}, dir.path()); };
  EXPECT_EQ(get("hermitian.max_nodes").out, "4096\n");
  EXPECT_EQ(get("server.name").out, "alpha \"one\"\n");
  EXPECT_EQ(get("server.ratio").out, "0.5\n");
  EXPECT_EQ(get("server.flags").out, "[1, 2, \"x\"]\n");
  EXPECT_EQ(get("server.on").out, "true\n");
  EXPECT_EQ(get("peer.1.host").out, "b\n");
  EXPECT_EQ(get("hermitian").out, "{ max_nodes = 4096 }\n");

  Result missing = get("server.port");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "kaldro: toml get: 'c.toml' has no value at 'server.port'\n");
  EXPECT_EQ(get("peer.2.host").status, 2);
  spit(dir / "bad.toml", "a = 1\na = 2\n");
  Result bad = kaldro({"toml", "get", "bad.toml", "a"}, dir.path());
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("(KALDRO_ERR_INVALID)"), std::string::npos);
  EXPECT_EQ(kaldro({"toml", "get", "c.toml"}, dir.path()).status, 1);
  EXPECT_EQ(get("server..name").status, 1);
}

// ---- demo ------------------------------------------------------------------------------

TEST(DemoTool, RunsTheTourAndRemovesItsDirectory) {
  TempDir dir;
  Result r = sh("TMPDIR=" + q(dir.path()) + " " + tool_command() + " demo");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  for (const char *line : {"sha256    \"abc\" -> ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                           "genome    window beta: 24 bytes", "load refuses it (KALDRO_ERR_INVALID)",
                           "demo finished"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
#if KALDRO_TOOL_HAS_BUNDLES
  EXPECT_NE(r.out.find("ordered by label: beta@0, delta@"), std::string::npos) << r.out;
#endif
#if KALDRO_TOOL_HAS_FIEDLER
  // Which side comes first is the sign the iteration settles on.
  EXPECT_TRUE(r.out.find("split into { 0 1 2 3 } and { 4 5 6 7 }") != std::string::npos ||
              r.out.find("split into { 4 5 6 7 } and { 0 1 2 3 }") != std::string::npos) << r.out;
#endif
  EXPECT_EQ(sh("ls -A " + q(dir.path())).out, "");  // nothing left behind
}

// ---- families that land later ----------------------------------------------------------

#if KALDRO_TOOL_HAS_FIEDLER
namespace {
std::string edge_file(const std::vector<std::array<double, 3>> &edges) {
  std::string bytes;
  for (const auto &e : edges) {
    const uint32_t s = uint32_t(e[0]), d = uint32_t(e[1]);
    bytes.append(reinterpret_cast<const char *>(&s), 4);
    bytes.append(reinterpret_cast<const char *>(&d), 4);
    bytes.append(reinterpret_cast<const char *>(&e[2]), 8);
  }
  return bytes;
}
}  // namespace

TEST(FiedlerTool, BisectsAPathAndDrawsIt) {
  TempDir dir;
  spit(dir / "path.edges", edge_file({{0, 1, 1.0}, {1, 2, 1.0}, {2, 3, 1.0}}));
  Result r = kaldro({"fiedler", "path.edges", "4", "--svg", "g.svg"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // The path 0-1-2-3 splits between 1 and 2: about (1, 0.707, -0.707, -1), the last
  // entry exactly -1.
  std::vector<double> v;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  for (unsigned i = 0; i < 4 && std::getline(lines, line); ++i) {
    unsigned vertex;
    double value;
    char side;
    ASSERT_EQ(std::sscanf(line.c_str(), "%u %lf %c", &vertex, &value, &side), 3) << line;
    EXPECT_EQ(vertex, i);
    EXPECT_EQ(side, value >= 0 ? '+' : '-');
    v.push_back(value);
  }
  ASSERT_EQ(v.size(), 4u);
  EXPECT_NEAR(v[0], 1.0, 1e-9);
  EXPECT_NEAR(v[1], 0.7071067811865476, 1e-9);
  EXPECT_NEAR(v[2], -0.7071067811865476, 1e-9);
  EXPECT_EQ(v[3], -1.0);
  EXPECT_NE(r.out.find("bisection: 2 vertices on the + side, 2 on the - side, 1 of 3 edges cut"),
            std::string::npos) << r.out;
  const std::string svg = slurp(dir / "g.svg");
  EXPECT_EQ(svg.rfind("<svg ", 0), 0u);
  std::size_t circles = 0;
  for (std::size_t at = svg.find("<circle"); at != std::string::npos; at = svg.find("<circle", at + 1)) ++circles;
  EXPECT_EQ(circles, 4u);
  EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);  // the cut edge
  if (sh("command -v python3").status == 0) {
    EXPECT_EQ(sh("python3 -c 'import xml.dom.minidom as m; m.parse(\"g.svg\")'", dir.path()).status, 0);
  }
}

TEST(FiedlerTool, RefusesBadEdgeFilesWithoutWritingTheDrawing) {
  TempDir dir;
  spit(dir / "odd.edges", std::string(17, '\0'));
  spit(dir / "far.edges", edge_file({{0, 4, 1.0}}));
  for (const char *f : {"odd.edges", "far.edges"}) {
    Result r = kaldro({"fiedler", f, "4", "--svg", "g.svg"}, dir.path());
    EXPECT_EQ(r.status, 2) << f;
    EXPECT_NE(r.err.find("(KALDRO_ERR_INVALID)"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir / "g.svg"));
  }
  Result missing = kaldro({"fiedler", "none.edges", "4"}, dir.path());
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("(KALDRO_ERR_IO)"), std::string::npos);
  EXPECT_EQ(kaldro({"fiedler", "odd.edges", "four"}, dir.path()).status, 1);
}
#endif

#if KALDRO_TOOL_HAS_KURAMOTO
TEST(KuramotoTool, CoherenceGrowsUnderStrongCoupling) {
  TempDir dir;
  Result r = kaldro({"kuramoto", "-n", "24", "--steps", "300", "--coupling", "3", "--every", "100",
                  "--svg", "r.svg"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<double> rs;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    double step, t, c;
    if (std::sscanf(line.c_str(), "%lf %lf %lf", &step, &t, &c) == 3) rs.push_back(c);
  }
  ASSERT_EQ(rs.size(), 4u) << r.out;  // steps 0, 100, 200, 300
  for (double c : rs) {
    EXPECT_GE(c, 0.0);
    EXPECT_LE(c, 1.0 + 1e-12);
  }
  EXPECT_LT(rs.front(), 0.2);  // golden-ratio phases start nearly incoherent
  EXPECT_GT(rs.back(), 0.9);
  EXPECT_EQ(slurp(dir / "r.svg").rfind("<svg ", 0), 0u);

  // Without coupling nothing pulls the phases together.
  Result free = kaldro({"kuramoto", "-n", "24", "--steps", "300", "--coupling", "0", "--every", "300"});
  ASSERT_EQ(free.status, 0);
  EXPECT_EQ(kaldro({"kuramoto", "-n", "0"}).status, 1);
  EXPECT_EQ(kaldro({"kuramoto", "--dt", "-1"}).status, 1);
}
#endif

#if KALDRO_TOOL_HAS_BUS
TEST(BusTool, SendGetsTheEchoOfItsRequest) {
  TempDir home;
  const std::string env = "HOME=" + q(home.path()) + " ";
  const std::string tool = tool_command();
  Result r = sh(env + tool + " bus serve tooltest --connections 2 > served.txt 2>serve.err & "
                 "for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do "
                 "[ -S .kaldro/bus-tooltest.sock ] && break; sleep 0.1; done; " +
                 env + tool + " bus send tooltest hello bus; " +
                 env + tool + " bus send tooltest; wait",
             home.path(), "from stdin");
  EXPECT_EQ(r.status, 0) << r.err << slurp(home / "serve.err");
  EXPECT_EQ(r.out, "hello bus\nfrom stdin\n");
  EXPECT_EQ(slurp(home / "served.txt"), "hello bus\nfrom stdin\n");
  EXPECT_FALSE(exists(home / ".kaldro/bus-tooltest.sock"));  // stopped cleanly

  Result nobody = sh(env + tool + " bus send tooltest hi", home.path());
  EXPECT_EQ(nobody.status, 2);
  EXPECT_NE(nobody.err.find("(KALDRO_ERR_IO)"), std::string::npos);
}
#endif
