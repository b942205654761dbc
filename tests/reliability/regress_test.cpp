// Inputs that fuzzing found to misbehave, each kept as a test of the behaviour that is
// right for it. The raw inputs are also kept in fuzz/regressions/ and replayed by the
// fuzz targets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaldro.h"

namespace {

std::string canonical(const std::string &text) {
  std::vector<uint64_t> arena(8192);
  kaldro_json_node *root = nullptr;
  EXPECT_EQ(kaldro_json_parse(text.data(), text.size(), arena.data(), arena.size() * 8, &root),
            KALDRO_OK);
  if (root == nullptr) return "";
  std::vector<uint8_t> ws(kaldro_json_write_arena_bytes(root));
  char out[512];
  uint64_t len = 0;
  EXPECT_EQ(kaldro_json_write_ws(root, out, sizeof out, &len, ws.data(), ws.size()), KALDRO_OK);
  return std::string(out, len);
}

}  // namespace

// An empty key took a shift by the full width of its sort word (undefined behaviour,
// reported by the undefined-behaviour sanitizer); it must sort before every other key.
TEST(RegressJson, EmptyKeySortsFirst) {
  EXPECT_EQ(canonical(R"({"b": 1, "a": 2, "b": 3, "": null, "ab": true, "a\u0000z": false})"),
            R"({"": null, "a": 2, "a": false, "ab": true, "b": 1, "b": 3})");
  EXPECT_EQ(canonical(R"({"x": 1, "": 2})"), R"({"": 2, "x": 1})");
  EXPECT_EQ(canonical(R"({"": 1, "": 2})"), R"({"": 1, "": 2})");
}
