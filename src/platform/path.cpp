// Directory-and-name path joining in a 4096-byte buffer: a directory of d bytes and a
// name of n bytes fit when d + n <= 4094, leaving room for the "/" and the terminator.
#include "platform/path.h"

#include <cstring>

namespace kaldro {

kaldro_status path_join(char *out, const char *dir, const char *name, size_t name_len) {
  // Never measure further than the limit: a longer directory is refused either way.
  const size_t dir_len = strnlen(dir, kPathJoinMax + 1);
  if (dir_len > kPathJoinMax || name_len > kPathJoinMax - dir_len) return KALDRO_ERR_CAPACITY;
  memcpy(out, dir, dir_len);
  out[dir_len] = '/';
  memcpy(out + dir_len + 1, name, name_len);
  out[dir_len + 1 + name_len] = '\0';
  return KALDRO_OK;
}

kaldro_status path_join(char *out, const char *dir, const char *name) {
  return path_join(out, dir, name, strnlen(name, kPathJoinMax + 1));
}

}  // namespace kaldro
