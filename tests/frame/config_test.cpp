// Runtime configuration: the default limit, loading from text and from files (the
// buffer halves, capacity at both ends, unaligned arenas), and the silent ignore of
// values of the wrong kind or out of range.
#include <gtest/gtest.h>

#include <kaldro.h>

#include "temp_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

class Config : public ::testing::Test {
 protected:
  void TearDown() override { kaldro_config_reset_defaults(); }
  static kaldro_status load(const std::string &text) {
    std::vector<uint64_t> arena(4096);
    return kaldro_config_load_toml(text.data(), text.size(), arena.data(), arena.size() * 8);
  }
};

TEST_F(Config, DefaultAndReset) {
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 2048);
  EXPECT_EQ(load("[hermitian]\nmax_nodes = 512\n"), KALDRO_OK);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 512);
  kaldro_config_reset_defaults();
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 2048);
  EXPECT_EQ(load("hermitian.max_nodes = 4096"), KALDRO_OK);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 4096);
}

TEST_F(Config, WrongKindsAndRangesAreIgnored) {
  EXPECT_EQ(load("[hermitian]\nmax_nodes = 300"), KALDRO_OK);
  const char *ignored[] = {
      "[hermitian]\nmax_nodes = 0",         "[hermitian]\nmax_nodes = -5",
      "[hermitian]\nmax_nodes = 2147483648", "[hermitian]\nmax_nodes = 512.0",
      "[hermitian]\nmax_nodes = \"512\"",    "[hermitian]\nmax_nodes = true",
      "[hermitian]\nmax_nodes = [512]",      "[hermitian]\nmax_nodes = {v = 512}",
      "hermitian = 512",                     "hermitian = [{max_nodes = 512}]",
      "[[hermitian]]\nmax_nodes = 512",      "[hermitian]\nmaxnodes = 512",
      "[Hermitian]\nmax_nodes = 512",        "max_nodes = 512",
      "[other.hermitian]\nmax_nodes = 512",  ""};
  for (const char *text : ignored) {
    EXPECT_EQ(load(text), KALDRO_OK) << text;
    EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 300) << text;
  }
  // An inline table is a table too.
  EXPECT_EQ(load("hermitian = {max_nodes = 7}"), KALDRO_OK);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 7);
  EXPECT_EQ(load("[hermitian]\nmax_nodes = 2147483647"), KALDRO_OK);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 2147483647);
  EXPECT_EQ(load("[hermitian]\nmax_nodes = 1"), KALDRO_OK);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 1);
}

TEST_F(Config, ParserStatusesPassThroughAndLeaveTheLimit) {
  EXPECT_EQ(load("[hermitian]\nmax_nodes = 64"), KALDRO_OK);
  EXPECT_EQ(load("[hermitian]\nmax_nodes = = 512"), KALDRO_ERR_INVALID);
  EXPECT_EQ(load("[hermitian]\nmax_nodes = 512\nbad line"), KALDRO_ERR_INVALID);
  EXPECT_EQ(load("[hermitian]\nmax_nodes = 99999999999999999999"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 64);
  uint64_t arena[64];
  EXPECT_EQ(kaldro_config_load_toml("a = 1", 5, nullptr, 64), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_config_load_toml(nullptr, 3, arena, sizeof arena), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_config_load_toml("", 0, arena, 23), KALDRO_ERR_CAPACITY);
  // 400 bytes is exactly what this document needs.
  const char doc[] = "[hermitian]\nmax_nodes = 5";
  EXPECT_EQ(kaldro_config_load_toml(doc, sizeof doc - 1, arena, 399), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 64);
  EXPECT_EQ(kaldro_config_load_toml(doc, sizeof doc - 1, arena, 400), KALDRO_OK);
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 5);
}

TEST_F(Config, FileBufferHalves) {
  std::vector<uint64_t> words(4096 / 8 + 1);
  void *buffer = words.data();
  // A file of 2048 bytes fits the first half of 4096; the document parses in the rest.
  std::string doc = "[hermitian]\nmax_nodes = 1000\n";
  doc += "# " + std::string(2048 - doc.size() - 3, '.') + "\n";
  ASSERT_EQ(doc.size(), 2048u);
  {
    TempFile f(doc);
    EXPECT_EQ(kaldro_config_load_file(f.path(), buffer, 4096), KALDRO_OK);
    EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 1000);
  }
  kaldro_config_reset_defaults();
  {
    TempFile f(doc + "\n");
    EXPECT_EQ(kaldro_config_load_file(f.path(), buffer, 4096), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 2048);
  }
  // An empty file needs 56 bytes of arena: 100 bytes leave 50, 111 bytes leave 56 (the
  // larger half goes to the arena), 110 leave 55.
  TempFile empty("");
  EXPECT_EQ(kaldro_config_load_file(empty.path(), buffer, 100), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_config_load_file(empty.path(), buffer, 110), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_config_load_file(empty.path(), buffer, 111), KALDRO_OK);
  EXPECT_EQ(kaldro_config_load_file(empty.path(), buffer, 112), KALDRO_OK);
  EXPECT_EQ(kaldro_config_load_file(nullptr, buffer, 4096), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_config_load_file(empty.path(), nullptr, 4096), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_config_load_file("/nonexistent/kaldro.toml", buffer, 4096), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_config_load_file("/tmp", buffer, 4096), KALDRO_ERR_IO);
  {
    TempFile bad("[hermitian\n");
    EXPECT_EQ(kaldro_config_load_file(bad.path(), buffer, 4096), KALDRO_ERR_INVALID);
  }
  EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 2048);
}

// The arena half starts at buffer + size / 2, at any alignment; the boundary between
// enough and too little must sit where an aligned arena of the same size puts it.
TEST_F(Config, UnalignedArenaHalfMatchesAnAlignedArena) {
  std::vector<uint64_t> aligned(2048), words(4096);
  for (int pad = 0; pad < 3; ++pad) {
    const std::string doc =
        "title = 'cfg'\n[hermitian]\nmax_nodes = 777\nnotes = [\"a\", 'b', {c = 1.5}]\n"
        "[[extra]]\nx = 1\n[[extra]]\ny = \"\"\"\nz\"\"\"\n#" + std::string(pad * 9, '.');
    TempFile f(doc);
    // The smallest aligned arena that parses the document.
    uint64_t need = 0;
    for (uint64_t n = 24; n < aligned.size() * 8 && need == 0; ++n)
      if (kaldro_config_load_toml(doc.data(), doc.size(), aligned.data(), n) == KALDRO_OK) need = n;
    ASSERT_GT(need, doc.size());
    kaldro_config_reset_defaults();
    // With 2 need - 1 bytes the file half has need - 1 bytes and the arena need; one byte
    // less leaves the arena one byte short. Shifting the buffer itself puts the arena at
    // every alignment.
    for (int shift = 0; shift < 8; ++shift) {
      uint8_t *buffer = reinterpret_cast<uint8_t *>(words.data()) + shift;
      EXPECT_EQ(kaldro_config_load_file(f.path(), buffer, 2 * need - 2), KALDRO_ERR_CAPACITY);
      EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 2048);
      EXPECT_EQ(kaldro_config_load_file(f.path(), buffer, 2 * need - 1), KALDRO_OK);
      EXPECT_EQ(kaldro_config_hermitian_max_nodes(), 777);
      kaldro_config_reset_defaults();
    }
  }
}

}  // namespace
