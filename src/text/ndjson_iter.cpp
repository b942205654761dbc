// NDJSON line iteration: the file is read in 64 KiB chunks through a read stream and
// each non-empty line goes to the caller's callback with its physical line number.
// Lines that span chunks are assembled in a 1 MiB buffer private to the thread.
#include "frame/internal.h"

#include <cstring>

namespace kaldro {
namespace {

constexpr uint64_t kChunkBytes = 65536;
constexpr uint64_t kLineBytes = 1048576;

// One per thread, reused by every iteration on it.
thread_local char line_buffer[kLineBytes];

// Delivers one line: a trailing carriage return is dropped, and empty lines are skipped.
inline int deliver(const char *line, uint64_t len, uint64_t line_no,
                   kaldro_ndjson_callback callback, uint64_t user) {
  if (len != 0 && line[len - 1] == '\r') --len;
  if (len == 0) return 0;
  return callback(line, len, line_no, user);
}

int iterate(kaldro_plat_rstream *stream, kaldro_ndjson_callback callback, uint64_t user) {
  char chunk[kChunkBytes];
  char *const line = line_buffer;
  uint64_t line_len = 0;  // bytes of the current line held in the line buffer
  uint64_t line_no = 1;
  for (;;) {
    uint64_t got = 0;
    KALDRO_TRY(kaldro_plat_rstream_read(stream, chunk, kChunkBytes, &got));
    if (got == 0) break;
    const char *p = chunk;
    const char *const end = chunk + got;
    while (p < end) {
      const char *lf = static_cast<const char *>(std::memchr(p, '\n', uint64_t(end - p)));
      const uint64_t piece = uint64_t((lf != nullptr ? lf : end) - p);
      if (piece > kLineBytes - line_len) return KALDRO_ERR_CAPACITY;
      if (lf == nullptr) {
        // The line goes on in the next chunk.
        std::memcpy(line + line_len, p, piece);
        line_len += piece;
        break;
      }
      int rc;
      if (line_len == 0) {
        // The whole line lies in this chunk: hand it over where it is.
        rc = deliver(p, piece, line_no, callback, user);
      } else {
        std::memcpy(line + line_len, p, piece);
        rc = deliver(line, line_len + piece, line_no, callback, user);
        line_len = 0;
      }
      if (rc != 0) return rc;
      ++line_no;
      p = lf + 1;
    }
    if (got < kChunkBytes) break;
  }
  // A last line without a line feed.
  return deliver(line, line_len, line_no, callback, user);
}

}  // namespace
}  // namespace kaldro

extern "C" {

KALDRO_API int kaldro_ndjson_iter(const char *path, kaldro_ndjson_callback callback,
                                  uint64_t user) {
  if (path == nullptr || callback == nullptr) return KALDRO_ERR_NULL;
  kaldro_plat_rstream stream{nullptr};
  KALDRO_TRY(kaldro_plat_rstream_open(path, &stream));
  const int result = kaldro::iterate(&stream, callback, user);
  kaldro_plat_rstream_close(&stream);
  return result;
}

}  // extern "C"
