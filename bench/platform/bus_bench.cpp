// Message bus round trips (a 64-byte and a 64 KiB request echoed back) against a raw
// Unix-socket ping-pong of fixed-size, unframed messages written here (its server copies
// each request into a reply buffer, as the bus handler does), and against ZeroMQ
// REQ/REP over ipc://. Each server runs on its own thread; HOME points at a scratch
// directory.
#include <benchmark/benchmark.h>

#include <kaldro.h>
#include <zmq.h>

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ratio.h"

namespace {

kaldro_status echo(const uint8_t *req, uint64_t len, uint8_t *reply, uint64_t *reply_len, void *) {
  if (len > *reply_len) return KALDRO_ERR_CAPACITY;
  memcpy(reply, req, len);
  *reply_len = len;
  return KALDRO_OK;
}

bool read_full(int fd, char *p, size_t n) {
  while (n > 0) {
    const ssize_t r = read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool write_full(int fd, const char *p, size_t n) {
  while (n > 0) {
    const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// The three servers and one client of each, alive for the whole program.
struct Peers {
  std::string home;
  kaldro_bus_server *bus = nullptr;
  kaldro_bus_client *client = nullptr;
  std::thread bus_thread;

  // Raw ping-pong: each connection announces its message size once, then every message
  // of that size is echoed back as it stands.
  sockaddr_un raw_addr;
  int raw_listener = -1;
  int raw_client = -1;
  std::thread raw_thread;

  void *zmq_ctx = nullptr;
  void *zmq_rep = nullptr;
  void *zmq_req = nullptr;
  std::thread zmq_thread;

  Peers() {
    char tmpl[] = "/tmp/kaldro-bus-bench-XXXXXX";
    home = mkdtemp(tmpl);
    setenv("HOME", home.c_str(), 1);
    if (kaldro_bus_serve("bench", echo, nullptr, &bus) != KALDRO_OK) abort();
    bus_thread = std::thread([this] {
      while (kaldro_bus_server_accept_one(bus) == KALDRO_OK) {
      }
    });
    if (kaldro_bus_connect("bench", &client) != KALDRO_OK) abort();

    const std::string raw_path = home + "/raw.sock";
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, raw_path.c_str(), raw_path.size());
    raw_listener = socket(AF_UNIX, SOCK_STREAM, 0);
    if (bind(raw_listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(raw_listener, 8) != 0)
      abort();
    raw_thread = std::thread([this] {
      for (;;) {
        const int fd = accept(raw_listener, nullptr, nullptr);
        if (fd < 0) break;
        uint32_t size = 0;
        if (read_full(fd, reinterpret_cast<char *>(&size), sizeof size)) {
          // The same echo as the bus handler: the request is copied into a reply buffer.
          std::vector<char> in(size), out(size);
          while (read_full(fd, in.data(), size)) {
            memcpy(out.data(), in.data(), size);
            if (!write_full(fd, out.data(), size)) break;
          }
        }
        close(fd);
      }
    });
    raw_addr = addr;

    const std::string endpoint = "ipc://" + home + "/zmq.ipc";
    zmq_ctx = zmq_ctx_new();
    zmq_rep = zmq_socket(zmq_ctx, ZMQ_REP);
    if (zmq_bind(zmq_rep, endpoint.c_str()) != 0) abort();
    zmq_thread = std::thread([this] {
      std::vector<char> buf(1 << 20);
      for (;;) {
        const int n = zmq_recv(zmq_rep, buf.data(), buf.size(), 0);
        if (n < 0) break;
        if (zmq_send(zmq_rep, buf.data(), static_cast<size_t>(n), 0) < 0) break;
      }
    });
    zmq_req = zmq_socket(zmq_ctx, ZMQ_REQ);
    if (zmq_connect(zmq_req, endpoint.c_str()) != 0) abort();
  }

  ~Peers() {
    kaldro_bus_client_close(client);
    shutdown(bus->stream.fd, SHUT_RDWR);
    bus_thread.join();
    kaldro_bus_server_stop(bus);
    close(raw_client);
    shutdown(raw_listener, SHUT_RDWR);
    raw_thread.join();
    close(raw_listener);
    zmq_close(zmq_req);
    zmq_ctx_shutdown(zmq_ctx);  // ends the REP thread's receive
    zmq_thread.join();
    zmq_close(zmq_rep);
    zmq_ctx_term(zmq_ctx);
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }

  void bus_round_trip(const std::vector<char> &req, std::vector<char> &reply) {
    uint64_t len = reply.size();
    if (kaldro_bus_send_recv(client, req.data(), req.size(), reply.data(), &len) != KALDRO_OK ||
        len != req.size())
      abort();
  }
  // A fresh raw connection for messages of `size` bytes.
  void raw_reconnect(uint32_t size) {
    if (raw_client >= 0) close(raw_client);
    raw_client = socket(AF_UNIX, SOCK_STREAM, 0);
    if (connect(raw_client, reinterpret_cast<sockaddr *>(&raw_addr), sizeof raw_addr) != 0 ||
        !write_full(raw_client, reinterpret_cast<const char *>(&size), sizeof size))
      abort();
  }
  void raw_round_trip(const std::vector<char> &req, std::vector<char> &reply) {
    if (!write_full(raw_client, req.data(), req.size()) ||
        !read_full(raw_client, reply.data(), req.size()))
      abort();
  }
  void zmq_round_trip(const std::vector<char> &req, std::vector<char> &reply) {
    if (zmq_send(zmq_req, req.data(), req.size(), 0) < 0 ||
        zmq_recv(zmq_req, reply.data(), reply.size(), 0) != static_cast<int>(req.size()))
      abort();
  }
};

Peers *g_peers = nullptr;

void BM_BusRoundTrip(benchmark::State &state) {
  std::vector<char> req(static_cast<size_t>(state.range(0)), 'q'), reply(req.size());
  for (auto _ : state) g_peers->bus_round_trip(req, reply);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_BusRoundTrip)->Arg(64)->Arg(65536)->UseRealTime();

void BM_ZmqRoundTrip(benchmark::State &state) {
  std::vector<char> req(static_cast<size_t>(state.range(0)), 'q'), reply(req.size());
  for (auto _ : state) g_peers->zmq_round_trip(req, reply);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_ZmqRoundTrip)->Arg(64)->Arg(65536)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  g_peers = new Peers();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();

  for (size_t bytes : {size_t(64), size_t(65536)}) {
    g_peers->raw_reconnect(static_cast<uint32_t>(bytes));
    std::vector<char> req(bytes, 'q'), reply(bytes);
    const int reps = bytes < 1024 ? 1000 : 200;
    // Rounds of the three interleave, so that a burst of load on the machine does not
    // fall on one of them alone; each keeps its best round.
    double bus = 1e300, raw = 1e300, zmq = 1e300;
    for (int round = 0; round < 30; ++round) {
      bus = std::min(bus, bench::seconds_per_call([&] { g_peers->bus_round_trip(req, reply); }, reps, 1));
      raw = std::min(raw, bench::seconds_per_call([&] { g_peers->raw_round_trip(req, reply); }, reps, 1));
      zmq = std::min(zmq, bench::seconds_per_call([&] { g_peers->zmq_round_trip(req, reply); }, reps / 4, 1));
    }
    char name[64];
    std::snprintf(name, sizeof name, "bus_round_trip_%zuB", bytes);
    bench::print_ratio(name, "raw_unix_ping_pong", bus, raw);
    bench::print_ratio(name, "zeromq_req_rep_ipc", bus, zmq);
    std::printf("requests per second %zuB: bus %.0f, raw %.0f, zeromq %.0f\n", bytes, 1 / bus,
                1 / raw, 1 / zmq);
  }
  delete g_peers;
  return 0;
}
