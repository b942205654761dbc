// The message bus: a server that answers length-prefixed requests through a handler,
// one connection per call, and a client that exchanges one request for one reply at a
// time. The only code in the library that allocates from the heap: the two handles and
// the server's two 1 MiB buffers.
#include "frame/internal.h"
#include "platform/streams.h"

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>

namespace {

static_assert(sizeof(kaldro_bus_server) == 576, "bus server record is 576 bytes");
static_assert(offsetof(kaldro_bus_server, stop) == 528, "stop flag follows the socket");
static_assert(sizeof(kaldro_bus_client) == 16, "bus client record is 16 bytes");

constexpr uint64_t kBufferBytes = 1048576;  // request and reply buffers, 1 MiB each
constexpr uint64_t kMaxFrame = 0xffffffffull;

void put_be32(uint8_t *out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

uint32_t get_be32(const uint8_t *in) {
  return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
}

// The bus serves the processes of one user: a peer of any other user is turned away
// before it can send a byte, and so is one whose credentials cannot be read.
bool peer_is_this_user(int fd) {
  struct ucred cred;
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
  return cred.uid == geteuid();
}

// Answers requests on one connection until a frame, the handler or the stream ends it.
// Each read takes whatever has arrived, so a request that came in one piece costs one
// read; bytes of a following request read along with it are kept for the next round,
// its length word in `header` and the rest at the front of the request buffer.
void serve_connection(kaldro_bus_server *server, int fd) {
  uint8_t *const request = server->request;
  uint8_t header[4];
  uint64_t have = 0;  // bytes of the stream read ahead: header first, then request
  while (server->stop == 0) {
    while (have < sizeof header) {
      const uint64_t n = kaldro::stream_read_some(fd, header + have, sizeof header - have,
                                                  request, kBufferBytes);
      if (n == 0) return;
      have += n;
    }
    const uint32_t len = get_be32(header);
    if (len > kBufferBytes) return;
    uint64_t body = have - sizeof header;  // request bytes already in the buffer
    if (body < len) {
      // The rest of this request, and not a byte beyond it.
      if (kaldro::stream_read(fd, request + body, len - body) != KALDRO_OK) return;
      body = len;
    }
    uint64_t reply_len = server->reply_capacity;
    if (server->handler(request, len, server->reply, &reply_len, server->context) != KALDRO_OK)
      return;
    // A length beyond the reply buffer would send bytes that are not the reply.
    if (reply_len > server->reply_capacity || reply_len > kMaxFrame) return;
    uint8_t reply_header[4];
    put_be32(reply_header, static_cast<uint32_t>(reply_len));
    const kaldro::WritePiece frame[2] = {{reply_header, sizeof reply_header},
                                         {server->reply, reply_len}};
    if (kaldro::stream_write(fd, frame, 2) != KALDRO_OK) return;
    // Move what was read beyond this request to the front.
    const uint64_t ahead = body - len;
    const uint64_t in_header = ahead < sizeof header ? ahead : sizeof header;
    memcpy(header, request + len, in_header);
    if (ahead > in_header) memmove(request, request + len + in_header, ahead - in_header);
    have = ahead;
  }
}

void release(kaldro_bus_server *server) {
  free(server->request);
  free(server->reply);
  free(server);
}

}  // namespace

extern "C" {

KALDRO_API kaldro_status kaldro_bus_serve(const char *name, kaldro_bus_handler handler,
                                          void *context, kaldro_bus_server **server_out) {
  if (!name || !handler || !server_out) return KALDRO_ERR_NULL;
  *server_out = nullptr;
  if (!kaldro_plat_has_streams() || !kaldro::stream_name_is_valid(name))
    return KALDRO_ERR_INVALID;
  kaldro_bus_server *server = static_cast<kaldro_bus_server *>(calloc(1, sizeof(kaldro_bus_server)));
  if (!server) return KALDRO_ERR_RESOURCE;
  server->handler = handler;
  server->context = context;
  server->request = static_cast<uint8_t *>(malloc(kBufferBytes));
  server->reply = static_cast<uint8_t *>(malloc(kBufferBytes));
  server->reply_capacity = kBufferBytes;
  if (!server->request || !server->reply) {
    release(server);
    return KALDRO_ERR_RESOURCE;
  }
  const kaldro_status status = kaldro_plat_stream_listen(name, &server->stream);
  if (status != KALDRO_OK) {
    release(server);
    return status;
  }
  *server_out = server;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_bus_server_accept_one(kaldro_bus_server *server) {
  if (!server) return KALDRO_ERR_NULL;
  kaldro_plat_stream_conn conn;
  KALDRO_TRY(kaldro_plat_stream_accept(&server->stream, &conn));
  if (peer_is_this_user(conn.fd)) serve_connection(server, conn.fd);
  kaldro_plat_stream_conn_close(&conn);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_bus_server_stop(kaldro_bus_server *server) {
  if (!server) return KALDRO_ERR_NULL;
  server->stop = 1;
  kaldro_plat_stream_server_close(&server->stream);
  release(server);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_bus_connect(const char *name, kaldro_bus_client **client_out) {
  if (!name || !client_out) return KALDRO_ERR_NULL;
  *client_out = nullptr;
  if (!kaldro_plat_has_streams() || !kaldro::stream_name_is_valid(name))
    return KALDRO_ERR_INVALID;
  kaldro_bus_client *client = static_cast<kaldro_bus_client *>(calloc(1, sizeof(kaldro_bus_client)));
  if (!client) return KALDRO_ERR_RESOURCE;
  const kaldro_status status = kaldro_plat_stream_connect(name, &client->conn);
  if (status != KALDRO_OK) {
    free(client);
    return status;
  }
  *client_out = client;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_bus_send_recv(kaldro_bus_client *client, const void *request,
                                              uint64_t request_len, void *reply_buf,
                                              uint64_t *reply_len) {
  if (!client || !request || !reply_buf || !reply_len) return KALDRO_ERR_NULL;
  if (request_len > kMaxFrame) return KALDRO_ERR_CAPACITY;
  const int fd = client->conn.fd;
  uint8_t header[4];
  put_be32(header, static_cast<uint32_t>(request_len));
  const kaldro::WritePiece frame[2] = {{header, sizeof header}, {request, request_len}};
  KALDRO_TRY(kaldro::stream_write(fd, frame, 2));
  KALDRO_TRY(kaldro::stream_read(fd, header, sizeof header));
  const uint32_t len = get_be32(header);
  if (len > *reply_len) return KALDRO_ERR_CAPACITY;
  KALDRO_TRY(kaldro::stream_read(fd, reply_buf, len));
  *reply_len = len;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_bus_client_close(kaldro_bus_client *client) {
  if (!client) return KALDRO_ERR_NULL;
  kaldro_plat_stream_conn_close(&client->conn);
  free(client);
  return KALDRO_OK;
}

}  // extern "C"
