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

// Length of a temporary file's name with its terminator: ".kaldro-tmp-" and 16 hex digits.
inline constexpr size_t kAtomicTempNameBytes = 12 + 16 + 1;

// A file being replaced piece by piece: begin creates a fresh hidden temporary file in
// the target's directory, append writes to it, commit flushes it, renames it over the target and flushes the directory;
// abort removes it and leaves the target as it was. `path` must outlive the record.
struct AtomicFile {
  int dir_fd;
  int fd;
  bool ok;              // false once a write has failed
  uint64_t written;
  const char *base;     // the target's name inside its directory
  char temp[kAtomicTempNameBytes];
};

// KALDRO_ERR_IO when the directory cannot be opened or no temporary file created (the
// record then holds nothing to release).
kaldro_status atomic_file_begin(AtomicFile *f, const char *path);
// False when the write fails (or an earlier one did); the record must still be aborted.
bool atomic_file_append(AtomicFile *f, const void *data, uint64_t len);
// KALDRO_ERR_IO on any failure, the temporary file then removed (unless the failure was
// the directory flush after the rename). Releases the record either way.
kaldro_status atomic_file_commit(AtomicFile *f);
void atomic_file_abort(AtomicFile *f);

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
