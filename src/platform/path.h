// Joining a directory and a file name into a fixed 4096-byte path buffer, the one rule
// every operation that names a file inside a directory follows. Internal, not exported.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>

namespace kaldro {

// Size of every joined-path buffer: the path and its terminator.
constexpr size_t kPathBytes = 4096;
// The directory's length plus the name's length may be at most this: with the "/" and
// the terminator the path then fills the buffer exactly.
constexpr size_t kPathJoinMax = kPathBytes - 2;

// Writes `dir`, "/", `name` and a terminator into out[kPathBytes]. Both inputs are
// NUL-terminated. KALDRO_ERR_CAPACITY (out untouched) when the two lengths together
// exceed kPathJoinMax.
kaldro_status path_join(char *out, const char *dir, const char *name);

// The same with a name given by pointer and length (it need not be terminated).
kaldro_status path_join(char *out, const char *dir, const char *name, size_t name_len);

}  // namespace kaldro
