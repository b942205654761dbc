// Fuzzes NDJSON line iteration: the fuzzed bytes are written to a file, iterated, and
// the lines delivered are compared with a plain splitting of the same bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaldro.h"

namespace {

// Scratch files go to memory when the system offers it (syncs cost nothing there).
std::string scratch_root() {
  struct stat st;
  return stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
             ? "/dev/shm"
             : "/tmp";
}

struct Line {
  std::string text;
  uint64_t number;
};

struct Seen {
  std::vector<Line> lines;
  uint64_t stop_at;  // stop after this many lines (0: never)
};

int collect(const char *line, uint64_t len, uint64_t line_no, uint64_t user) {
  Seen *seen = reinterpret_cast<Seen *>(user);
  seen->lines.push_back({std::string(line, len), line_no});
  return seen->lines.size() == seen->stop_at ? 7 : 0;
}

std::string path() {
  static std::string p = scratch_root() + "/kaldro-fuzz-ndjson-" + std::to_string(getpid()) + ".ndjson";
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *f = fopen(path().c_str(), "wb");
  if (f == nullptr) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);

  // The expected lines: split at every line feed, drop one carriage return at the end of
  // each line, skip lines that are then empty.
  std::vector<Line> expected;
  uint64_t number = 1;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      size_t end = i;
      if (end > start && data[end - 1] == '\r') --end;
      if (end > start)
        expected.push_back({std::string(reinterpret_cast<const char *>(data) + start,
                                        end - start), number});
      ++number;
      start = i + 1;
    }
  }

  Seen seen{{}, 0};
  int st = kaldro_ndjson_iter(path().c_str(), collect, reinterpret_cast<uint64_t>(&seen));
  if (st != KALDRO_OK || seen.lines.size() != expected.size()) abort();
  for (size_t i = 0; i < expected.size(); ++i)
    if (seen.lines[i].text != expected[i].text || seen.lines[i].number != expected[i].number)
      abort();

  // A callback's non-zero answer stops the iteration and comes back as the result.
  if (!expected.empty()) {
    Seen stopped{{}, (expected.size() + 1) / 2};
    st = kaldro_ndjson_iter(path().c_str(), collect, reinterpret_cast<uint64_t>(&stopped));
    if (st != 7 || stopped.lines.size() != stopped.stop_at) abort();
  }
  return 0;
}
