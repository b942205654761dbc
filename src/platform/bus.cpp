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
void serve_connection(kaldro_bus_server *server, int fd) {
  while (server->stop == 0) {
    uint8_t header[4];
    if (kaldro::stream_read(fd, header, sizeof header) != KALDRO_OK) return;
    const uint32_t len = get_be32(header);
    if (len > kBufferBytes) return;
    if (kaldro::stream_read(fd, server->request, len) != KALDRO_OK) return;
    uint64_t reply_len = server->reply_capacity;
    if (server->handler(server->request, len, server->reply, &reply_len, server->context) != KALDRO_OK)
      return;
    // A length beyond the reply buffer would send bytes that are not the reply.
    if (reply_len > server->reply_capacity || reply_len > kMaxFrame) return;
    put_be32(header, static_cast<uint32_t>(reply_len));
    const kaldro::WritePiece frame[2] = {{header, sizeof header}, {server->reply, reply_len}};
    if (kaldro::stream_write(fd, frame, 2) != KALDRO_OK) return;
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
  if (!kaldro_plat_has_streams()) return KALDRO_ERR_INVALID;
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
  if (!kaldro_plat_has_streams()) return KALDRO_ERR_INVALID;
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
