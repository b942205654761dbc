// Exact reads and gathered writes on a connected stream socket, shared by the stream
// layer and the message bus. Internal: not exported.
#pragma once

#include "platform/platform.h"

namespace kaldro {

// Whether `name` can stand in a socket path as one file name: a name holding '/' would
// place the socket outside the socket directory (or create and remove files elsewhere).
bool stream_name_is_valid(const char *name);

// Reads exactly `len` bytes from descriptor `fd`, resuming interrupted reads.
// KALDRO_ERR_IO on the end of the stream or any other read error.
kaldro_status stream_read(int fd, void *buf, uint64_t len);

// One read of whatever has arrived, at least one byte, into `first` and then `second`
// (a gathered read), resuming after interruptions. Returns the count, or 0 on the end
// of the stream or a read error.
uint64_t stream_read_some(int fd, void *first, uint64_t first_len, void *second,
                          uint64_t second_len);

// Writes the pieces in order as one byte stream, with as few system calls as the socket
// allows, resuming interrupted and short writes. Never raises SIGPIPE: a peer that has
// gone away gives KALDRO_ERR_IO like any other write error.
kaldro_status stream_write(int fd, const WritePiece *pieces, size_t count);

}  // namespace kaldro
