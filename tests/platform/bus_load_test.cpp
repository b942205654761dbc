// The bus under sustained use: 100 000 requests in sequence on one connection and
// 10 000 connections in sequence, every reply checked, with the process's descriptor
// count the same throughout.
#include "bus_test_util.h"

namespace {

using namespace bus_test;

// The watchdog allows for slow runs; it is there to end a hang, not to time the bus.
class BusLoad : public BusTest {
 protected:
  void SetUp() override {
    BusTest::SetUp();
    alarm(120);
  }
};

// Under valgrind every wake-up of the other side costs milliseconds, so the counts
// there are cut to what checks memory use without running for many minutes.
bool under_valgrind() {
  const char *preload = getenv("LD_PRELOAD");
  return preload != nullptr && strstr(preload, "vgpreload") != nullptr;
}

// The reply is the 8-byte request as a big-endian number plus one, then the handler's
// call number (big-endian, 8 bytes), so that a reply can only be the answer to its own
// request.
kaldro_status increment(const uint8_t *req, uint64_t len, uint8_t *reply, uint64_t *reply_len,
                        void *ctx) {
  if (len != 8 || *reply_len < 16) return KALDRO_ERR_INVALID;
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | req[i];
  const uint64_t call = static_cast<std::atomic<uint64_t> *>(ctx)->fetch_add(1);
  for (int i = 0; i < 8; ++i) {
    reply[i] = static_cast<uint8_t>((v + 1) >> (56 - 8 * i));
    reply[8 + i] = static_cast<uint8_t>(call >> (56 - 8 * i));
  }
  *reply_len = 16;
  return KALDRO_OK;
}

uint64_t get_be64(const uint8_t *p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}

// One request `value` through `c`; true when the reply is value + 1 from call `call`.
bool round_trip(kaldro_bus_client *c, uint64_t value, uint64_t call) {
  uint8_t req[8], reply[32];
  for (int i = 0; i < 8; ++i) req[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
  uint64_t len = sizeof reply;
  return kaldro_bus_send_recv(c, req, sizeof req, reply, &len) == KALDRO_OK && len == 16 &&
         get_be64(reply) == value + 1 && get_be64(reply + 8) == call;
}

TEST_F(BusLoad, HundredThousandRequestsOnOneConnection) {
  std::atomic<uint64_t> calls{0};
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("load", increment, &calls, &s), KALDRO_OK);
  ServerThread loop(s);
  kaldro_bus_client *c = nullptr;
  ASSERT_EQ(kaldro_bus_connect("load", &c), KALDRO_OK);
  ASSERT_TRUE(round_trip(c, 0, 0));
  const int baseline = open_descriptors();
  ASSERT_GT(baseline, 0);
  const uint64_t requests = under_valgrind() ? 2000 : 100000;
  uint64_t value = 0x0123456789abcdefull;
  for (uint64_t i = 1; i < requests; ++i) {
    value = value * 6364136223846793005ull + 1442695040888963407ull;
    ASSERT_TRUE(round_trip(c, value, i)) << i;
    if (i % 10000 == 0) {
      ASSERT_EQ(open_descriptors(), baseline) << i;
    }
  }
  EXPECT_EQ(open_descriptors(), baseline);
  kaldro_bus_client_close(c);
  loop.finish();
  EXPECT_EQ(calls.load(), requests);
  EXPECT_EQ(loop.served(), 1);
  kaldro_bus_server_stop(s);
}

TEST_F(BusLoad, TenThousandConnectionsInSequence) {
  const int before = open_descriptors();
  std::atomic<uint64_t> calls{0};
  kaldro_bus_server *s = nullptr;
  ASSERT_EQ(kaldro_bus_serve("load", increment, &calls, &s), KALDRO_OK);
  ServerThread loop(s);
  const int connections = under_valgrind() ? 300 : 10000;
  int baseline = -1;
  for (int i = 0; i < connections; ++i) {
    kaldro_bus_client *c = nullptr;
    ASSERT_EQ(kaldro_bus_connect("load", &c), KALDRO_OK) << i;
    // The reply shows that the server has closed every earlier connection, since it
    // serves them one at a time.
    ASSERT_TRUE(round_trip(c, static_cast<uint64_t>(i), static_cast<uint64_t>(i))) << i;
    if (i == 0) baseline = open_descriptors();
    if (i % 500 == 0) {
      ASSERT_EQ(open_descriptors(), baseline) << i;
    }
    kaldro_bus_client_close(c);
  }
  loop.finish();
  EXPECT_EQ(loop.served(), connections);
  EXPECT_EQ(calls.load(), static_cast<uint64_t>(connections));
  kaldro_bus_server_stop(s);
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
