// The bus server against hostile peers: streams of oversized and malformed frames,
// connections cut inside a length word or a payload (closed, reset or half-closed),
// and peers that leave before their reply. The server must survive every one, leak no
// descriptor, call the handler exactly for the complete frames, and go on serving.
#include "bus_test_util.h"

#include <algorithm>
#include <random>

namespace {

using namespace bus_test;

class BusHostile : public BusTest {};

constexpr uint32_t kMiB = 1048576;

// Echoes the request and counts its calls.
kaldro_status counting_echo(const uint8_t *req, uint64_t len, uint8_t *reply,
                            uint64_t *reply_len, void *ctx) {
  static_cast<std::atomic<uint64_t> *>(ctx)->fetch_add(1);
  if (len > *reply_len) return KALDRO_ERR_CAPACITY;
  if (len) memcpy(reply, req, len);
  *reply_len = len;
  return KALDRO_OK;
}

// The requests that a byte stream, followed by its end, hands to the handler, from the
// framing rules: frames are taken while a whole one is there, and a length above 1 MiB
// ends the stream.
std::vector<std::string> complete_frames(const std::string &wire) {
  std::vector<std::string> frames;
  size_t at = 0;
  while (wire.size() - at >= 4) {
    const uint32_t len = (uint32_t(uint8_t(wire[at])) << 24) |
                         (uint32_t(uint8_t(wire[at + 1])) << 16) |
                         (uint32_t(uint8_t(wire[at + 2])) << 8) | uint8_t(wire[at + 3]);
    if (len > kMiB || wire.size() - at - 4 < len) break;
    frames.push_back(wire.substr(at + 4, len));
    at += 4 + len;
  }
  return frames;
}

std::string random_bytes(std::mt19937_64 &rng, size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i += 8) {
    const uint64_t r = rng();
    memcpy(&s[i], &r, n - i < 8 ? n - i : 8);
  }
  return s;
}

// Closes `fd` once the server's reply has arrived and while it lies unread, so that the
// server's side of the stream is reset rather than ended in order.
void close_with_reply_unread(int fd) {
  pollfd p = {fd, POLLIN, 0};
  poll(&p, 1, 3000);
  close(fd);
}

// A well-behaved client: connects, checks one echoed request, and stays connected. Its
// reply also shows that every earlier connection has been served to its end and
// closed, since the server takes connections one at a time.
kaldro_bus_client *good_client(const std::string &tag) {
  kaldro_bus_client *c = nullptr;
  if (kaldro_bus_connect("hostile", &c) != KALDRO_OK) return nullptr;
  char reply[64];
  uint64_t len = sizeof reply;
  if (kaldro_bus_send_recv(c, tag.data(), tag.size(), reply, &len) != KALDRO_OK ||
      std::string(reply, len) != tag) {
    kaldro_bus_client_close(c);
    return nullptr;
  }
  return c;
}

TEST_F(BusHostile, MalformedFramesAndCutConnections) {
  std::atomic<uint64_t> calls{0};
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("hostile", counting_echo, &calls, &s), KALDRO_OK);
  ServerThread loop(s);
  kaldro_bus_client *c = good_client("first");
  ASSERT_NE(c, nullptr);
  const int baseline = open_descriptors();
  ASSERT_GT(baseline, 0);
  kaldro_bus_client_close(c);

  std::mt19937_64 rng(13);
  uint64_t expected_calls = 1;
  int connections = 1;
  constexpr int kKinds = 9;
  for (int i = 0; i < 270; ++i) {
    const int fd = raw_connect(sock_path("hostile"));
    ASSERT_GE(fd, 0);
    ++connections;
    const int kind = i % kKinds;
    switch (kind) {
      case 0: {  // cut inside the length word
        const size_t have = 1 + rng() % 3;
        ASSERT_TRUE(raw_write(fd, be32(static_cast<uint32_t>(rng() % 100)).substr(0, have)));
        close(fd);
        break;
      }
      case 1: {  // cut inside the payload, now and then a large one
        const uint32_t len = rng() % 4 == 0 ? 200000 + rng() % 800000 : 1 + rng() % 300;
        const size_t sent = rng() % len;
        ASSERT_TRUE(raw_write(fd, be32(len) + random_bytes(rng, sent)));
        close(fd);
        break;
      }
      case 2: {  // oversized: ended at once, without a reply and unread
        const uint32_t len = kMiB + 1 + static_cast<uint32_t>(rng() % (0xffffffffu - kMiB));
        ASSERT_TRUE(raw_write(fd, be32(len) + random_bytes(rng, rng() % 64)));
        bool closed = false;
        EXPECT_EQ(raw_read_to_end(fd, &closed), "") << i;
        EXPECT_TRUE(closed) << i;
        close(fd);
        break;
      }
      case 3: {  // whole frames, then random bytes (whatever frames they make), then
                 // the end of the stream: every whole frame is answered, in order
        std::string wire;
        for (uint64_t n = rng() % 4; n > 0; --n) wire += frame(random_bytes(rng, rng() % 50));
        std::string tail = random_bytes(rng, 1 + rng() % 64);
        if (rng() % 2 && tail.size() >= 4) tail.replace(0, 4, be32(rng() % 80));  // plausible
        wire += tail;
        std::string replies;
        for (const std::string &req : complete_frames(wire)) {
          replies += frame(req);
          ++expected_calls;
        }
        ASSERT_TRUE(raw_write(fd, wire));
        shutdown(fd, SHUT_WR);
        bool closed = false;
        EXPECT_EQ(raw_read_to_end(fd, &closed), replies) << i;
        EXPECT_TRUE(closed) << i;
        close(fd);
        break;
      }
      case 4: {  // a whole frame, then the next cut in its length word or payload
        const std::string req = random_bytes(rng, rng() % 100);
        const std::string next = frame(random_bytes(rng, 1 + rng() % 100));
        ASSERT_TRUE(raw_write(fd, frame(req) + next.substr(0, 1 + rng() % (next.size() - 1))));
        ++expected_calls;
        EXPECT_EQ(raw_read(fd, req.size() + 4), frame(req)) << i;
        close(fd);
        break;
      }
      case 5: {  // a whole frame, then a cut one, then reset with the reply unread
        const uint32_t len = 1 + rng() % 5000;
        ASSERT_TRUE(raw_write(fd, frame(random_bytes(rng, rng() % 100)) + be32(len) +
                                      random_bytes(rng, rng() % len)));
        ++expected_calls;
        close_with_reply_unread(fd);
        break;
      }
      case 6: {  // half-closed in the middle of a frame: the server ends it, no reply
        const uint32_t len = 2 + rng() % 5000;
        ASSERT_TRUE(raw_write(fd, be32(len) + random_bytes(rng, 1 + rng() % (len - 1))));
        shutdown(fd, SHUT_WR);
        bool closed = false;
        EXPECT_EQ(raw_read_to_end(fd, &closed), "") << i;
        EXPECT_TRUE(closed) << i;
        close(fd);
        break;
      }
      case 7: {  // a whole large request, gone in the middle of its reply
        ASSERT_TRUE(raw_write(fd, frame(random_bytes(rng, kMiB - rng() % 1000))));
        ++expected_calls;
        raw_read(fd, rng() % 70000);
        if (rng() % 2) close(fd); else close_with_reply_unread(fd);
        break;
      }
      case 8: {  // a frame of exactly 1 MiB is still taken, and one byte more is not
        const std::string req = random_bytes(rng, kMiB);
        ASSERT_TRUE(raw_write(fd, frame(req)));
        ++expected_calls;
        EXPECT_TRUE(raw_read(fd, kMiB + 4) == frame(req)) << i;
        ASSERT_TRUE(raw_write(fd, be32(kMiB + 1) + req.substr(0, 100)));
        bool closed = false;
        EXPECT_EQ(raw_read_to_end(fd, &closed), "") << i;
        EXPECT_TRUE(closed) << i;
        close(fd);
        break;
      }
    }
    if (i % 30 == 29) {
      // Later clients are served, and the descriptor count is back where it was.
      c = good_client("after " + std::to_string(i));
      ASSERT_NE(c, nullptr) << i;
      ++expected_calls;
      ++connections;
      EXPECT_EQ(open_descriptors(), baseline) << i;
      kaldro_bus_client_close(c);
    }
  }
  c = good_client("last");
  ASSERT_NE(c, nullptr);
  ++expected_calls;
  ++connections;
  EXPECT_EQ(open_descriptors(), baseline);
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(loop.served(), connections);
  EXPECT_EQ(calls.load(), expected_calls);
  kaldro_bus_server_stop(s);
}

// Cut streams served by accept_one on the test's own thread, the peer either still
// there with its writing side shut or gone altogether (so that every reply meets a
// closed stream): each call returns KALDRO_OK, the handler sees the whole frames only,
// and the process holds the same descriptors after as before.
TEST_F(BusHostile, EachCutConnectionEndsItsAcceptOne) {
  const int before = open_descriptors();
  std::atomic<uint64_t> calls{0};
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("hostile", counting_echo, &calls, &s), KALDRO_OK);
  const std::vector<std::string> streams = {
      "",                                         // connected and closed at once
      std::string("\0", 1),                       // one byte of a length
      std::string("\0\0\0", 3),                   // three bytes of a length
      be32(5) + "abc",                            // a payload two bytes short
      be32(kMiB) + std::string(1000, 'x'),        // a large payload cut early
      be32(kMiB + 1),                             // oversized
      be32(0xffffffffu) + "zz",                   // the largest length there is
      frame("ok") + be32(3) + "a",                // a whole frame, then a cut one
      frame("") + frame("") + std::string("\0\0", 2),  // empty frames, then a cut
  };
  uint64_t expected = 0;
  for (size_t i = 0; i < streams.size(); ++i) {
    for (const bool gone : {false, true}) {
      kaldro_plat_stream_conn conn;
      ASSERT_EQ(kaldro_plat_stream_connect("hostile", &conn), KALDRO_OK);
      ASSERT_TRUE(raw_write(conn.fd, streams[i]));
      // The few replies fit the socket's buffer, so the server never waits on a peer
      // that is still there.
      if (gone) kaldro_plat_stream_conn_close(&conn); else shutdown(conn.fd, SHUT_WR);
      EXPECT_EQ(kaldro_bus_server_accept_one(s), KALDRO_OK) << i;
      if (!gone) {
        std::string replies;
        for (const std::string &req : complete_frames(streams[i])) replies += frame(req);
        bool closed = false;
        EXPECT_EQ(raw_read_to_end(conn.fd, &closed), replies) << i;
        EXPECT_TRUE(closed) << i;
        kaldro_plat_stream_conn_close(&conn);
      }
      // A peer that is gone fails the first reply's write, which ends the connection.
      const uint64_t whole = complete_frames(streams[i]).size();
      expected += gone ? std::min<uint64_t>(whole, 1) : whole;
    }
  }
  EXPECT_EQ(calls.load(), expected);
  EXPECT_EQ(expected, 3u + 2u);  // "ok" and the empty frames, but one of them when gone
  kaldro_bus_server_stop(s);
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
