// Internal helpers of the platform layer that other subsystems call but that are not
// part of the exported interface.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>

namespace kaldro {

// One piece of a gathered write; `data` may be null when `len` is 0.
struct WritePiece {
  const void *data;
  uint64_t len;
};

// Replaces the file at `path` durably and atomically with the concatenation of the
// pieces: the bytes go to a fresh temporary file in the same directory, which is
// flushed to disk and renamed over the target, and the directory itself is then
// flushed. Readers see either the old file or the complete new one. On any failure the
// temporary file is removed and KALDRO_ERR_IO is returned; the old file, if any, is left
// as it was unless the failure came after the rename (the final directory flush).
kaldro_status file_write_atomic_gather(const char *path, const WritePiece *pieces, size_t count);

// The same for one piece of `len` bytes.
kaldro_status file_write_atomic(const char *path, const void *data, uint64_t len);

// The same for two pieces, e.g. a document text and its trailing line feed.
kaldro_status file_write_atomic(const char *path, const void *first, uint64_t first_len,
                                const void *second, uint64_t second_len);

// True when `path` names an existing directory (symbolic links followed). An atomic
// replacement cannot rename a file over a directory, so callers that replace several
// files in turn test every target first.
bool path_is_directory(const char *path);

}  // namespace kaldro
