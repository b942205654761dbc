// The message bus: statuses in check order, the exact bytes on the wire in both
// directions (against raw socket peers), the limits and handler outcomes that end a
// connection, many requests on one connection, connections in turn, clients of another
// user, and the life of the socket file.
#include "bus_test_util.h"

#include <grp.h>
#include <sys/wait.h>

#include <chrono>
#include <random>

namespace {

using namespace bus_test;
using namespace std::chrono_literals;

class Bus : public BusTest {};

constexpr uint64_t kMiB = 1048576;

struct Calls {
  std::atomic<int> count{0};
  kaldro_bus_server *server = nullptr;  // for handlers that set the stop flag
};

kaldro_status echo(const uint8_t *req, uint64_t len, uint8_t *reply, uint64_t *reply_len,
                   void *ctx) {
  if (ctx) static_cast<Calls *>(ctx)->count.fetch_add(1);
  if (len > *reply_len) return KALDRO_ERR_CAPACITY;
  if (len) memcpy(reply, req, len);
  *reply_len = len;
  return KALDRO_OK;
}

// Declines "no", over-reports its reply for "over" (one byte past the capacity) and
// "huge" (2^32 bytes), answers exactly the capacity for "full", and echoes the rest.
kaldro_status picky(const uint8_t *req, uint64_t len, uint8_t *reply, uint64_t *reply_len,
                    void *ctx) {
  static_cast<Calls *>(ctx)->count.fetch_add(1);
  const std::string r(reinterpret_cast<const char *>(req), len);
  if (r == "no") return KALDRO_ERR_INVALID;
  if (r == "over" || r == "huge" || r == "full") {
    memset(reply, 'R', *reply_len);
    *reply_len = r == "over" ? *reply_len + 1 : r == "huge" ? uint64_t(1) << 32 : *reply_len;
    return KALDRO_OK;
  }
  return echo(req, len, reply, reply_len, nullptr);
}

// The reply is the request reversed, then the handler's call number (big-endian, 8
// bytes); a request "stop" sets the server's stop flag.
kaldro_status reverse_and_count(const uint8_t *req, uint64_t len, uint8_t *reply,
                                uint64_t *reply_len, void *ctx) {
  Calls *calls = static_cast<Calls *>(ctx);
  const uint64_t n = static_cast<uint64_t>(calls->count.fetch_add(1));
  if (len + 8 > *reply_len) return KALDRO_ERR_CAPACITY;
  for (uint64_t i = 0; i < len; ++i) reply[i] = req[len - 1 - i];
  for (int i = 0; i < 8; ++i) reply[len + i] = static_cast<uint8_t>(n >> (56 - 8 * i));
  *reply_len = len + 8;
  if (len == 4 && memcmp(req, "stop", 4) == 0) calls->server->stop = 1;
  return KALDRO_OK;
}

std::string expected_reverse(const std::string &req, uint64_t n) {
  std::string r(req.rbegin(), req.rend());
  for (int i = 0; i < 8; ++i) r.push_back(static_cast<char>(n >> (56 - 8 * i)));
  return r;
}

// One request through the client; the reply, or the status when it is not KALDRO_OK.
kaldro_status exchange(kaldro_bus_client *c, const std::string &req, std::string *reply,
                       uint64_t capacity = 1 << 20) {
  std::string buf(capacity + 1, '\0');
  uint64_t len = capacity;
  const kaldro_status st = kaldro_bus_send_recv(c, req.data(), req.size(), buf.data(), &len);
  if (st == KALDRO_OK) reply->assign(buf.data(), len);
  return st;
}

TEST_F(Bus, ServeChecksInOrder) {
  kaldro_bus_server *const sentinel = reinterpret_cast<kaldro_bus_server *>(uintptr_t(0x10));
  kaldro_bus_server *out = sentinel;
  EXPECT_EQ(kaldro_bus_serve(nullptr, echo, nullptr, &out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_bus_serve("a", nullptr, nullptr, &out), KALDRO_ERR_NULL);
  EXPECT_EQ(out, sentinel);  // a null argument writes nothing
  EXPECT_EQ(kaldro_bus_serve("a", echo, nullptr, nullptr), KALDRO_ERR_NULL);

  EXPECT_EQ(kaldro_bus_serve(name_for_path_length(104).c_str(), echo, nullptr, &out),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(out, nullptr);
  out = sentinel;
  EXPECT_EQ(kaldro_bus_serve(name_for_path_length(600).c_str(), echo, nullptr, &out),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(out, nullptr);
  {
    NoFreeDescriptors none;
    out = sentinel;
    EXPECT_EQ(kaldro_bus_serve("a", echo, nullptr, &out), KALDRO_ERR_IO);
    EXPECT_EQ(out, nullptr);
  }
  unsetenv("HOME");
  out = sentinel;
  EXPECT_EQ(kaldro_bus_serve("a", echo, nullptr, &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, nullptr);
  setenv("HOME", "", 1);
  EXPECT_EQ(kaldro_bus_serve("a", echo, nullptr, &out), KALDRO_ERR_INVALID);

  // A name holding '/' is refused as a value, after the nulls and before anything else.
  const std::string fresh = home_ + "/fresh";
  ASSERT_EQ(mkdir(fresh.c_str(), 0700), 0);
  setenv("HOME", fresh.c_str(), 1);
  EXPECT_EQ(kaldro_bus_serve("../a", nullptr, nullptr, &out), KALDRO_ERR_NULL);
  out = sentinel;
  EXPECT_EQ(kaldro_bus_serve("../a", echo, nullptr, &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(exists(fresh + "/.kaldro"));
  EXPECT_FALSE(exists(fresh + "/a.sock"));
}

TEST_F(Bus, ConnectChecksInOrder) {
  kaldro_bus_client *const sentinel = reinterpret_cast<kaldro_bus_client *>(uintptr_t(0x10));
  kaldro_bus_client *out = sentinel;
  EXPECT_EQ(kaldro_bus_connect(nullptr, &out), KALDRO_ERR_NULL);
  EXPECT_EQ(out, sentinel);
  EXPECT_EQ(kaldro_bus_connect("a", nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_bus_connect("a", &out), KALDRO_ERR_IO);  // nobody serves it
  EXPECT_EQ(out, nullptr);
  out = sentinel;
  EXPECT_EQ(kaldro_bus_connect(name_for_path_length(104).c_str(), &out), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(out, nullptr);
  unsetenv("HOME");
  out = sentinel;
  EXPECT_EQ(kaldro_bus_connect("a", &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, nullptr);
  out = sentinel;
  EXPECT_EQ(kaldro_bus_connect("a/b", &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, nullptr);

  // A name holding '/' is refused even where a socket listens at the path it leads to.
  setenv("HOME", home_.c_str(), 1);
  const int outside = raw_bind(home_ + "/outside.sock", true);
  ASSERT_GE(outside, 0);
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  ASSERT_EQ(mkdir((sock_dir() + "/bus-x").c_str(), 0700), 0);
  out = sentinel;
  EXPECT_EQ(kaldro_bus_connect("x/../../outside", &out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, nullptr);
  close(outside);

  EXPECT_EQ(kaldro_bus_server_accept_one(nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_bus_server_stop(nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_bus_client_close(nullptr), KALDRO_ERR_NULL);
}

TEST_F(Bus, ServerRecordAsListed) {
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("rec", echo, &calls, &s), KALDRO_OK);
  EXPECT_EQ(std::string(s->stream.path), sock_path("rec"));
  EXPECT_GE(s->stream.fd, 0);
  EXPECT_EQ(s->stop, 0u);
  EXPECT_EQ(s->handler, &echo);
  EXPECT_EQ(s->context, &calls);
  EXPECT_NE(s->request, nullptr);
  EXPECT_NE(s->reply, nullptr);
  EXPECT_EQ(s->reply_capacity, kMiB);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, ClientWireBytesAgainstRawServer) {
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  const int listener = raw_bind(sock_path("wire"), true);
  ASSERT_GE(listener, 0);
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("wire", &c), KALDRO_OK);
  const int peer = accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);

  std::string reply;
  kaldro_status st = -1;
  std::thread client([&] { st = exchange(c, "abcd", &reply); });
  EXPECT_EQ(raw_read(peer, 8), std::string("\0\0\0\4abcd", 8));
  ASSERT_TRUE(raw_write(peer, std::string("\0\0\0\3", 4)));
  std::this_thread::sleep_for(10ms);  // the reply arrives in two pieces
  ASSERT_TRUE(raw_write(peer, "xyz"));
  client.join();
  EXPECT_EQ(st, KALDRO_OK);
  EXPECT_EQ(reply, "xyz");

  // An empty request is a bare zero length; so is an empty reply.
  client = std::thread([&] { st = exchange(c, "", &reply); });
  EXPECT_EQ(raw_read(peer, 4), std::string("\0\0\0\0", 4));
  ASSERT_TRUE(raw_write(peer, std::string("\0\0\0\0", 4)));
  client.join();
  EXPECT_EQ(st, KALDRO_OK);
  EXPECT_EQ(reply, "");

  // A length above 2^32 - 1 is refused before anything is sent, and nulls before that.
  char buf[8];
  uint64_t len = sizeof buf;
  EXPECT_EQ(kaldro_bus_send_recv(c, buf, uint64_t(1) << 32, buf, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_bus_send_recv(nullptr, buf, 1, buf, &len), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_bus_send_recv(c, nullptr, uint64_t(1) << 32, buf, &len), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_bus_send_recv(c, buf, 1, nullptr, &len), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_bus_send_recv(c, buf, 1, buf, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(len, sizeof buf);

  // A reply longer than the capacity gives 4, leaves the length and the buffer alone,
  // and stays unread in the stream.
  memset(buf, '.', sizeof buf);
  ASSERT_TRUE(raw_write(peer, frame("0123456789")));
  EXPECT_EQ(kaldro_bus_send_recv(c, "q", 1, buf, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, sizeof buf);
  EXPECT_EQ(std::string(buf, sizeof buf), "........");
  EXPECT_EQ(raw_read(peer, 5), frame("q"));  // the request went out before the reply came
  char rest[10];
  EXPECT_EQ(kaldro_plat_stream_read_exact(&c->conn, rest, 10), KALDRO_OK);
  EXPECT_EQ(std::string(rest, 10), "0123456789");

  // When the server goes away mid-reply the client sees 3.
  ASSERT_TRUE(raw_write(peer, std::string("\0\0\0\5ab", 6)));
  close(peer);
  len = sizeof buf;
  EXPECT_EQ(kaldro_bus_send_recv(c, "z", 1, buf, &len), KALDRO_ERR_IO);
  EXPECT_EQ(len, sizeof buf);
  EXPECT_EQ(kaldro_bus_client_close(c), KALDRO_OK);
  close(listener);
}

TEST_F(Bus, ServerWireBytesAgainstRawClient) {
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("raw", echo, &calls, &s), KALDRO_OK);
  ServerThread loop(s);
  const int fd = raw_connect(sock_path("raw"));
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(raw_write(fd, std::string("\0\0\0\4abcd", 8)));
  EXPECT_EQ(raw_read(fd, 8), std::string("\0\0\0\4abcd", 8));
  ASSERT_TRUE(raw_write(fd, std::string("\0\0\0\0", 4)));
  EXPECT_EQ(raw_read(fd, 4), std::string("\0\0\0\0", 4));
  // A frame that arrives a byte at a time is assembled before the handler sees it.
  const std::string f = frame("split");
  for (char ch : f) {
    ASSERT_TRUE(raw_write(fd, std::string(1, ch)));
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(raw_read(fd, f.size()), f);
  // Two frames sent at once are answered in order.
  ASSERT_TRUE(raw_write(fd, frame("one") + frame("two")));
  EXPECT_EQ(raw_read(fd, 14), frame("one") + frame("two"));
  close(fd);
  loop.finish();
  EXPECT_EQ(loop.served(), 1);
  EXPECT_EQ(calls.count.load(), 5);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, RequestsSentAheadAreAnsweredInOrder) {
  // A raw client that does not wait for replies: bursts of frames in one write, cut at
  // every kind of place (inside a length word, inside a payload), must be answered
  // exactly as if they had come one at a time.
  Calls calls;
  calls.count = 0;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("ahead", reverse_and_count, &calls, &s), KALDRO_OK);
  calls.server = s;
  ServerThread loop(s);
  const int fd = raw_connect(sock_path("ahead"));
  ASSERT_GE(fd, 0);
  std::mt19937_64 rng(5);
  uint64_t n = 0;
  for (int burst = 0; burst < 40; ++burst) {
    std::string wire, expected;
    const int frames = 1 + static_cast<int>(rng() % 6);
    for (int f = 0; f < frames; ++f) {
      size_t len = rng() % 40;
      if (rng() % 8 == 0) len = 70000 + rng() % 100000;
      std::string req(len, '\0');
      for (auto &ch : req) ch = static_cast<char>(rng());
      wire += frame(req);
      expected += frame(expected_reverse(req, n++));
    }
    // Written in pieces of random size, so that reads end anywhere in a frame.
    std::thread writer([&] {
      size_t at = 0;
      while (at < wire.size()) {
        const size_t piece = std::min<size_t>(wire.size() - at, 1 + rng() % 9000);
        if (!raw_write(fd, wire.substr(at, piece))) break;
        at += piece;
      }
    });
    const std::string got = raw_read(fd, expected.size());
    writer.join();
    ASSERT_TRUE(got == expected) << "burst " << burst;
  }
  // A burst whose second frame is oversize: the first is answered, then the end.
  ASSERT_TRUE(raw_write(fd, frame("last") + be32(uint32_t(kMiB + 1)) + "xyz"));
  bool closed = false;
  EXPECT_EQ(raw_read_to_end(fd, &closed), frame(expected_reverse("last", n)));
  EXPECT_TRUE(closed);
  close(fd);
  loop.finish();
  EXPECT_EQ(loop.served(), 1);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, EchoThroughClient) {
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("echo", echo, nullptr, &s), KALDRO_OK);
  ServerThread loop(s);
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("echo", &c), KALDRO_OK);
  uint8_t reply[16];
  memset(reply, 0, sizeof reply);
  uint64_t len = sizeof reply;
  EXPECT_EQ(kaldro_bus_send_recv(c, "\x01\x02\x03\x04", 4, reply, &len), KALDRO_OK);
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(memcmp(reply, "\x01\x02\x03\x04", 4), 0);
  EXPECT_EQ(reply[4], 0);

  // The reply is longer than the capacity: 4, and the connection is then closed.
  len = 3;
  EXPECT_EQ(kaldro_bus_send_recv(c, "abcd", 4, reply, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 3u);
  kaldro_bus_client_close(c);

  // The largest request the server takes, 1 MiB, comes back whole.
  ASSERT_EQ(kaldro_bus_connect("echo", &c), KALDRO_OK);
  std::string big(kMiB, '\0');
  std::mt19937 rng(3);
  for (auto &ch : big) ch = static_cast<char>(rng());
  std::string got;
  EXPECT_EQ(exchange(c, big, &got, kMiB), KALDRO_OK);
  EXPECT_TRUE(got == big);
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(loop.served(), 2);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, OversizeRequestFrameEndsConnection) {
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("big", picky, &calls, &s), KALDRO_OK);
  ServerThread loop(s);
  for (uint32_t announced : {uint32_t(kMiB + 1), uint32_t(0xffffffffu)}) {
    const int fd = raw_connect(sock_path("big"));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(raw_write(fd, be32(announced) + "abc"));
    bool closed = false;
    EXPECT_EQ(raw_read_to_end(fd, &closed), "");
    EXPECT_TRUE(closed);
    close(fd);
  }
  // The server goes on with the next connection.
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("big", &c), KALDRO_OK);
  std::string reply;
  EXPECT_EQ(exchange(c, "fine", &reply), KALDRO_OK);
  EXPECT_EQ(reply, "fine");
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(loop.served(), 3);
  EXPECT_EQ(calls.count.load(), 1);  // the oversize frames never reached the handler
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, DecliningHandlerEndsConnection) {
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("decline", picky, &calls, &s), KALDRO_OK);
  ServerThread loop(s);
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("decline", &c), KALDRO_OK);
  std::string reply;
  EXPECT_EQ(exchange(c, "yes", &reply), KALDRO_OK);
  EXPECT_EQ(exchange(c, "no", &reply), KALDRO_ERR_IO);
  EXPECT_EQ(exchange(c, "yes", &reply), KALDRO_ERR_IO);  // the connection is gone
  kaldro_bus_client_close(c);
  ASSERT_EQ(kaldro_bus_connect("decline", &c), KALDRO_OK);
  EXPECT_EQ(exchange(c, "again", &reply), KALDRO_OK);
  EXPECT_EQ(reply, "again");
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(loop.served(), 2);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, OverReportedReplyIsNeverSent) {
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("over", picky, &calls, &s), KALDRO_OK);
  ServerThread loop(s);
  for (const char *req : {"over", "huge"}) {
    const int fd = raw_connect(sock_path("over"));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(raw_write(fd, frame(req)));
    bool closed = false;
    EXPECT_EQ(raw_read_to_end(fd, &closed).size(), 0u) << req;  // no header, no bytes
    EXPECT_TRUE(closed);
    close(fd);
  }
  // A reply of exactly the capacity is sent in full, and serving goes on.
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("over", &c), KALDRO_OK);
  std::string reply;
  EXPECT_EQ(exchange(c, "full", &reply, kMiB), KALDRO_OK);
  EXPECT_EQ(reply.size(), kMiB);
  EXPECT_EQ(reply.find_first_not_of('R'), std::string::npos);
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(loop.served(), 3);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, ManyRequestsOnOneConnection) {
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("many", reverse_and_count, &calls, &s), KALDRO_OK);
  calls.server = s;
  ServerThread loop(s);
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("many", &c), KALDRO_OK);
  std::mt19937_64 rng(11);
  std::string buf(kMiB, '\0');
  for (uint64_t i = 0; i < 2000; ++i) {
    size_t n = rng() % 300;
    if (i % 250 == 7) n = 200000 + rng() % 300000;  // now and then a large one
    std::string req(n, '\0');
    for (auto &ch : req) ch = static_cast<char>(rng());
    uint64_t len = buf.size();
    ASSERT_EQ(kaldro_bus_send_recv(c, req.data(), req.size(), buf.data(), &len), KALDRO_OK);
    ASSERT_TRUE(std::string(buf.data(), len) == expected_reverse(req, i)) << i;
  }
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(loop.served(), 1);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, SeveralConnectionsInTurnAndStopFlag) {
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("turns", reverse_and_count, &calls, &s), KALDRO_OK);
  calls.server = s;
  std::thread server([&] {
    for (int i = 0; i < 6; ++i) EXPECT_EQ(kaldro_bus_server_accept_one(s), KALDRO_OK);
  });
  uint64_t n = 0;
  for (int conn = 0; conn < 5; ++conn) {
    kaldro_bus_client *c = nullptr;
    ASSERT_EQ(kaldro_bus_connect("turns", &c), KALDRO_OK);
    for (int r = 0; r < 10; ++r) {
      const std::string req = "c" + std::to_string(conn) + "r" + std::to_string(r);
      std::string reply;
      ASSERT_EQ(exchange(c, req, &reply), KALDRO_OK);
      EXPECT_EQ(reply, expected_reverse(req, n++));
    }
    kaldro_bus_client_close(c);
  }
  // A handler that sets the stop flag ends the connection after its reply.
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("turns", &c), KALDRO_OK);
  std::string reply;
  EXPECT_EQ(exchange(c, "stop", &reply), KALDRO_OK);
  EXPECT_EQ(reply, expected_reverse("stop", n++));
  EXPECT_EQ(exchange(c, "more", &reply), KALDRO_ERR_IO);
  kaldro_bus_client_close(c);
  server.join();
  EXPECT_EQ(calls.count.load(), 51);
  kaldro_bus_server_stop(s);
}

// Runs `body` as the unprivileged user in a child and returns its exit code.
template <typename Body>
pid_t start_as_nobody(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    signal(SIGPIPE, SIG_DFL);
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(100);
    _exit(body());
  }
  return pid;
}

int wait_child(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST_F(Bus, ClientOfAnotherUserRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(chmod(home_.c_str(), 0711), 0);  // the other user may pass through HOME
  Calls calls;
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("private", echo, &calls, &s), KALDRO_OK);

  // As listen leaves it, the directory keeps the other user from the socket at all.
  pid_t pid = start_as_nobody([] {
    kaldro_bus_client *c = nullptr;
    return static_cast<int>(kaldro_bus_connect("private", &c));
  });
  EXPECT_EQ(wait_child(pid), KALDRO_ERR_IO);

  // Opened up by hand, the socket can be reached, but the server ends the connection
  // before reading a byte and goes on serving.
  ASSERT_EQ(chmod(sock_dir().c_str(), 0711), 0);
  ASSERT_EQ(chmod(sock_path("private").c_str(), 0666), 0);
  pid = start_as_nobody([] {
    kaldro_bus_client *c = nullptr;
    if (kaldro_bus_connect("private", &c) != KALDRO_OK) return 101;
    char buf[16];
    uint64_t len = sizeof buf;
    const kaldro_status st = kaldro_bus_send_recv(c, "hello", 5, buf, &len);
    kaldro_bus_client_close(c);
    return static_cast<int>(st);
  });
  EXPECT_EQ(kaldro_bus_server_accept_one(s), KALDRO_OK);
  EXPECT_EQ(wait_child(pid), KALDRO_ERR_IO);
  EXPECT_EQ(calls.count.load(), 0);

  // The owner's own client is still answered.
  ServerThread loop(s);
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("private", &c), KALDRO_OK);
  std::string reply;
  EXPECT_EQ(exchange(c, "mine", &reply), KALDRO_OK);
  EXPECT_EQ(reply, "mine");
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(calls.count.load(), 1);
  kaldro_bus_server_stop(s);
}

TEST_F(Bus, SocketFileLifecycle) {
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("life", echo, nullptr, &s), KALDRO_OK);
  EXPECT_TRUE(exists(sock_path("life")));

  // A second serve of a live name is refused and leaves the first one working.
  kaldro_bus_server *second = reinterpret_cast<kaldro_bus_server *>(uintptr_t(0x10));
  EXPECT_EQ(kaldro_bus_serve("life", echo, nullptr, &second), KALDRO_ERR_IO);
  EXPECT_EQ(second, nullptr);
  ASSERT_TRUE(exists(sock_path("life")));
  {
    ServerThread loop(s);
    kaldro_bus_client *c = nullptr;
    ASSERT_EQ(kaldro_bus_connect("life", &c), KALDRO_OK);
    std::string reply;
    EXPECT_EQ(exchange(c, "still here", &reply), KALDRO_OK);
    EXPECT_EQ(reply, "still here");
    kaldro_bus_client_close(c);
  }
  EXPECT_EQ(kaldro_bus_server_stop(s), KALDRO_OK);
  EXPECT_FALSE(exists(sock_path("life")));
  kaldro_bus_client *c = nullptr;
  EXPECT_EQ(kaldro_bus_connect("life", &c), KALDRO_ERR_IO);

  // A crashed server's socket file is replaced by the next serve.
  const int stale = raw_bind(sock_path("life"), true);
  ASSERT_GE(stale, 0);
  close(stale);
  ASSERT_TRUE(exists(sock_path("life")));
  ASSERT_EQ(kaldro_bus_serve("life", echo, nullptr, &s), KALDRO_OK);
  {
    ServerThread loop(s);
    ASSERT_EQ(kaldro_bus_connect("life", &c), KALDRO_OK);
    std::string reply;
    EXPECT_EQ(exchange(c, "new", &reply), KALDRO_OK);
    EXPECT_EQ(reply, "new");
    kaldro_bus_client_close(c);
  }
  kaldro_bus_server_stop(s);
  EXPECT_FALSE(exists(sock_path("life")));
}

TEST_F(Bus, StoppedServerGivesIoWithoutSigpipe) {
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("gone", echo, nullptr, &s), KALDRO_OK);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    signal(SIGPIPE, SIG_DFL);
    kaldro_bus_client *c = nullptr;
    if (kaldro_bus_connect("gone", &c) != KALDRO_OK) _exit(100);
    char b;
    // Wait until the server has dropped the connection, then send into it.
    if (kaldro_plat_stream_read_exact(&c->conn, &b, 1) != KALDRO_ERR_IO) _exit(101);
    const std::string big(1 << 20, 'p');
    std::string reply;
    const kaldro_status st = exchange(c, big, &reply);
    kaldro_bus_client_close(c);
    _exit(st);
  }
  kaldro_plat_stream_conn conn;
  ASSERT_EQ(kaldro_plat_stream_accept(&s->stream, &conn), KALDRO_OK);
  kaldro_plat_stream_conn_close(&conn);
  kaldro_bus_server_stop(s);
  EXPECT_EQ(wait_child(pid), KALDRO_ERR_IO);
}

}  // namespace
