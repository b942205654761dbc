// NDJSON iteration: the listed cases, line ends at and across the 64 KiB read boundaries
// against a reference split of the same bytes, the exact 1 MiB line limit, the callback's
// stop value, and separate line buffers on separate threads.
#include <gtest/gtest.h>

#include <kaldro.h>

#include "temp_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Line {
  std::string text;
  uint64_t number;
  bool operator==(const Line &o) const { return text == o.text && number == o.number; }
};

struct Recorder {
  std::vector<Line> lines;
  int stop_at = -1;   // index of the call that returns stop_value
  int stop_value = 0;
  static int callback(const char *line, uint64_t len, uint64_t line_no, uint64_t user) {
    Recorder *r = reinterpret_cast<Recorder *>(user);
    r->lines.push_back({std::string(line, len), line_no});
    return int(r->lines.size()) - 1 == r->stop_at ? r->stop_value : 0;
  }
};

// The rule written out on a whole string: split at line feeds, number every line from 1,
// drop one carriage return at the end of a line, skip lines that are then empty.
std::vector<Line> reference(const std::string &bytes) {
  std::vector<Line> out;
  uint64_t number = 1;
  size_t start = 0;
  for (;;) {
    const size_t lf = bytes.find('\n', start);
    std::string line = bytes.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out.push_back({line, number});
    if (lf == std::string::npos) break;
    start = lf + 1;
    ++number;
  }
  return out;
}

int run(const std::string &bytes, Recorder *r) {
  TempFile f(bytes);
  return kaldro_ndjson_iter(f.path(), &Recorder::callback, reinterpret_cast<uint64_t>(r));
}

TEST(Ndjson, ListedCases) {
  Recorder r;
  EXPECT_EQ(run("a\n\nb\n", &r), KALDRO_OK);
  EXPECT_EQ(r.lines, (std::vector<Line>{{"a", 1}, {"b", 3}}));
  r = {};
  EXPECT_EQ(run("{\"x\":1}\r\n\r\n\r\n{}\r\n", &r), KALDRO_OK);
  EXPECT_EQ(r.lines, (std::vector<Line>{{"{\"x\":1}", 1}, {"{}", 4}}));
  r = {};
  EXPECT_EQ(run("one\ntwo", &r), KALDRO_OK);
  EXPECT_EQ(r.lines, (std::vector<Line>{{"one", 1}, {"two", 2}}));
  r = {};
  EXPECT_EQ(run("", &r), KALDRO_OK);
  EXPECT_TRUE(r.lines.empty());
  r = {};
  EXPECT_EQ(run("tail\r", &r), KALDRO_OK);
  EXPECT_EQ(r.lines, (std::vector<Line>{{"tail", 1}}));
  r = {};
  EXPECT_EQ(run("\r", &r), KALDRO_OK);
  EXPECT_TRUE(r.lines.empty());
  // Only one carriage return is dropped, and only at the end.
  r = {};
  EXPECT_EQ(run("a\r\r\nb\rc\n", &r), KALDRO_OK);
  EXPECT_EQ(r.lines, (std::vector<Line>{{"a\r", 1}, {"b\rc", 2}}));
}

TEST(Ndjson, CallbackStopsTheIteration) {
  Recorder r;
  r.stop_at = 1;
  r.stop_value = 7;
  EXPECT_EQ(run("a\nb\nc\n", &r), 7);
  EXPECT_EQ(r.lines, (std::vector<Line>{{"a", 1}, {"b", 2}}));
  // The last line without a line feed: its value becomes the result.
  r = {};
  r.stop_at = 2;
  r.stop_value = -3;
  EXPECT_EQ(run("a\nb\nc", &r), -3);
  EXPECT_EQ(r.lines.size(), 3u);
}

TEST(Ndjson, NullAndMissingFile) {
  Recorder r;
  EXPECT_EQ(kaldro_ndjson_iter(nullptr, &Recorder::callback, 0), KALDRO_ERR_NULL);
  TempFile f("x\n");
  EXPECT_EQ(kaldro_ndjson_iter(f.path(), nullptr, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_ndjson_iter("/nonexistent/kaldro/none.ndjson", &Recorder::callback,
                               reinterpret_cast<uint64_t>(&r)),
            KALDRO_ERR_IO);
  // A directory opens but cannot be read.
  EXPECT_EQ(kaldro_ndjson_iter("/tmp", &Recorder::callback, reinterpret_cast<uint64_t>(&r)),
            KALDRO_ERR_IO);
  EXPECT_TRUE(r.lines.empty());
}

TEST(Ndjson, LineEndsAroundReadBoundaries) {
  const size_t chunk = 65536;
  // Line feeds and CR LF pairs placed on, before and after each boundary.
  for (size_t boundary : {chunk, 2 * chunk}) {
    for (int shift = -2; shift <= 2; ++shift) {
      for (bool crlf : {false, true}) {
        std::string bytes(boundary + size_t(int64_t(shift)), 'x');
        bytes.back() = 'y';
        bytes += crlf ? "\r\n" : "\n";
        bytes += "next\n";
        Recorder r;
        ASSERT_EQ(run(bytes, &r), KALDRO_OK);
        EXPECT_EQ(r.lines, reference(bytes)) << boundary << " " << shift << " " << crlf;
      }
    }
    // Files that end exactly on a boundary, with and without a final line feed.
    std::string exact(boundary, 'z');
    Recorder r;
    ASSERT_EQ(run(exact, &r), KALDRO_OK);
    EXPECT_EQ(r.lines, reference(exact));
    exact.back() = '\n';
    r = {};
    ASSERT_EQ(run(exact, &r), KALDRO_OK);
    EXPECT_EQ(r.lines, reference(exact));
  }
}

TEST(Ndjson, RandomFilesAgreeWithReference) {
  std::mt19937_64 rng(17);
  for (int round = 0; round < 30; ++round) {
    std::string bytes;
    const size_t target = rng() % 400000;
    while (bytes.size() < target) {
      switch (rng() % 6) {
        case 0: bytes += '\n'; break;
        case 1: bytes += "\r\n"; break;
        case 2: bytes += '\r'; break;
        case 3: bytes += std::string(rng() % 100000, char('a' + rng() % 26)); break;
        default: bytes += std::string(rng() % 80, char('0' + rng() % 10)); break;
      }
    }
    Recorder r;
    ASSERT_EQ(run(bytes, &r), KALDRO_OK);
    ASSERT_EQ(r.lines, reference(bytes)) << "round " << round;
  }
}

TEST(Ndjson, LineLengthLimitIsExact) {
  const size_t limit = 1048576;
  Recorder r;
  std::string bytes = "first\n" + std::string(limit, 'q') + "\nlast\n";
  EXPECT_EQ(run(bytes, &r), KALDRO_OK);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[1].text.size(), limit);
  EXPECT_EQ(r.lines[2], (Line{"last", 3}));
  // One more byte before the line feed, or a carriage return, is too long; the lines
  // before it were delivered and none after.
  for (const std::string &extra : {std::string("q"), std::string("\r")}) {
    r = {};
    bytes = "first\n" + std::string(limit, 'q') + extra + "\nlast\n";
    EXPECT_EQ(run(bytes, &r), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(r.lines, (std::vector<Line>{{"first", 1}}));
  }
  // The same for a last line without a line feed.
  r = {};
  EXPECT_EQ(run(std::string(limit, 'w'), &r), KALDRO_OK);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0].text, std::string(limit, 'w'));
  r = {};
  EXPECT_EQ(run(std::string(limit + 1, 'w'), &r), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(r.lines.empty());
}

TEST(Ndjson, ThreadsHaveTheirOwnLineBuffers) {
  // Long lines span many reads, so both threads hold partial lines at once.
  std::string a, b;
  for (int i = 0; i < 12; ++i) a += std::string(150000 + i, char('a' + i)) + "\n";
  for (int i = 0; i < 12; ++i) b += std::string(140000 + 3 * i, char('A' + i)) + "\r\n";
  TempFile fa(a), fb(b);
  Recorder ra, rb;
  int sa = -1, sb = -1;
  std::thread ta([&] { sa = kaldro_ndjson_iter(fa.path(), &Recorder::callback, reinterpret_cast<uint64_t>(&ra)); });
  std::thread tb([&] { sb = kaldro_ndjson_iter(fb.path(), &Recorder::callback, reinterpret_cast<uint64_t>(&rb)); });
  ta.join();
  tb.join();
  EXPECT_EQ(sa, KALDRO_OK);
  EXPECT_EQ(sb, KALDRO_OK);
  EXPECT_EQ(ra.lines, reference(a));
  EXPECT_EQ(rb.lines, reference(b));
}

}  // namespace
