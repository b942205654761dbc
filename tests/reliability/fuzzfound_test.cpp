// Behaviour that the fuzz targets' findings concern, each kept as a test: the inputs
// are also kept in fuzz/regressions/<target>/ and replayed by the targets.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kaldro.h"

namespace {

std::string frame(const std::string &payload) {
  const uint32_t n = uint32_t(payload.size());
  std::string out{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
  return out + payload;
}

kaldro_status reverse(const uint8_t *req, uint64_t len, uint8_t *reply, uint64_t *reply_len,
                      void *) {
  for (uint64_t i = 0; i < len; ++i) reply[i] = req[len - 1 - i];
  *reply_len = len;
  return KALDRO_OK;
}

class FuzzFoundBus : public ::testing::Test {
 protected:
  void SetUp() override {
    alarm(20);  // a server that stops answering ends the test instead of hanging it
    char tmpl[] = "/tmp/kaldro-fuzzfound-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    setenv("HOME", home_.c_str(), 1);
    ASSERT_EQ(kaldro_bus_serve("ff", reverse, nullptr, &server_), KALDRO_OK);
  }
  void TearDown() override {
    if (server_) kaldro_bus_server_stop(server_);
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    alarm(0);
  }
  std::string home_;
  kaldro_bus_server *server_ = nullptr;
};

}  // namespace

// A peer that sends many small requests back to back, empty ones among them, before it
// reads anything gets every reply, in order, one frame per request. (The fuzz target
// once waited for such replies only after the server was done, and the server, which
// writes each reply before it reads on, stalled on a full socket.)
TEST_F(FuzzFoundBus, BackToBackRequestsAreAnsweredInOrder) {
  std::string sent, want;
  for (int i = 0; i < 400; ++i) {
    const std::string payload(size_t(i % 3 == 0 ? 0 : i % 7 + 1), char('a' + i % 26));
    std::string reversed(payload.rbegin(), payload.rend());
    sent += frame(payload);
    want += frame(reversed);
  }
  kaldro_plat_stream_conn conn;
  ASSERT_EQ(kaldro_plat_stream_connect("ff", &conn), KALDRO_OK);
  std::string got;
  std::thread peer([&] {
    ASSERT_EQ(kaldro_plat_stream_write_all(&conn, sent.data(), sent.size()), KALDRO_OK);
    shutdown(conn.fd, SHUT_WR);
    char buf[4096];
    for (;;) {
      const ssize_t n = read(conn.fd, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, size_t(n));
    }
  });
  EXPECT_EQ(kaldro_bus_server_accept_one(server_), KALDRO_OK);
  peer.join();
  kaldro_plat_stream_conn_close(&conn);
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
}
