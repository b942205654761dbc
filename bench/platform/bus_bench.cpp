// Message bus round trips (a 64-byte and a 64 KiB request echoed back) against a raw
// Unix-socket ping-pong written here with the bus's own framing (a 4-byte big-endian
// length, then the payload; each side reads the length, then the payload, and sends a
// frame with one gathered write; its server copies each request into a reply buffer, as
// the bus handler does), and against ZeroMQ REQ/REP over ipc://. An unframed ping-pong
// of fixed-size messages is timed too, as the floor of what any framing can cost. Each
// server runs on its own thread; HOME points at a scratch directory.
#include <benchmark/benchmark.h>

#include <kaldro.h>
#include <zmq.h>

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
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

constexpr uint32_t kMaxMessage = 1 << 20;

kaldro_status echo(const uint8_t *req, uint64_t len, uint8_t *reply, uint64_t *reply_len, void *) {
  if (len > *reply_len) return KALDRO_ERR_CAPACITY;
  memcpy(reply, req, len);
  *reply_len = len;
  return KALDRO_OK;
}

bool read_full(int fd, void *buf, size_t n) {
  char *p = static_cast<char *>(buf);
  while (n > 0) {
    const ssize_t r = read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool write_full(int fd, const void *buf, size_t n) {
  const char *p = static_cast<const char *>(buf);
  while (n > 0) {
    const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

void put_be32(uint8_t *out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

uint32_t get_be32(const uint8_t *in) {
  return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
}

// One frame with a single gathered write, finishing a short write piece by piece.
bool write_frame(int fd, const void *payload, uint32_t len) {
  uint8_t header[4];
  put_be32(header, len);
  iovec iov[2] = {{header, sizeof header}, {const_cast<void *>(payload), len}};
  const ssize_t w = writev(fd, iov, 2);
  if (w < 0) return false;
  const size_t sent = static_cast<size_t>(w);
  if (sent < sizeof header)
    return write_full(fd, header + sent, sizeof header - sent) && write_full(fd, payload, len);
  return write_full(fd, static_cast<const char *>(payload) + (sent - sizeof header),
                    len - (sent - sizeof header));
}

// One frame: the length, then exactly that many payload bytes; false on the end of the
// stream or a frame larger than `capacity`.
bool read_frame(int fd, void *payload, uint32_t capacity, uint32_t *len) {
  uint8_t header[4];
  if (!read_full(fd, header, sizeof header)) return false;
  *len = get_be32(header);
  return *len <= capacity && read_full(fd, payload, *len);
}

int listen_at(const std::string &path, sockaddr_un *addr) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  memcpy(addr->sun_path, path.c_str(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (bind(fd, reinterpret_cast<sockaddr *>(addr), sizeof *addr) != 0 || listen(fd, 8) != 0)
    abort();
  return fd;
}

int connect_to(const sockaddr_un &addr) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) abort();
  return fd;
}

// The servers and one client of each, alive for the whole program.
struct Peers {
  std::string home;
  kaldro_bus_server *bus = nullptr;
  kaldro_bus_client *client = nullptr;
  std::thread bus_thread;

  // Framed raw ping-pong: every frame is answered with a frame of the same payload.
  sockaddr_un raw_addr;
  int raw_listener = -1;
  int raw_client = -1;
  std::thread raw_thread;

  // Unframed floor: each connection announces its message size once, then every
  // message of that size is echoed back as it stands.
  sockaddr_un bare_addr;
  int bare_listener = -1;
  int bare_client = -1;
  std::thread bare_thread;

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

    raw_listener = listen_at(home + "/raw.sock", &raw_addr);
    raw_thread = std::thread([this] {
      // The same buffers and the same echo as the bus server.
      std::vector<char> in(kMaxMessage), out(kMaxMessage);
      for (;;) {
        const int fd = accept(raw_listener, nullptr, nullptr);
        if (fd < 0) break;
        uint32_t len = 0;
        while (read_frame(fd, in.data(), kMaxMessage, &len)) {
          memcpy(out.data(), in.data(), len);
          if (!write_frame(fd, out.data(), len)) break;
        }
        close(fd);
      }
    });
    raw_client = connect_to(raw_addr);

    bare_listener = listen_at(home + "/bare.sock", &bare_addr);
    bare_thread = std::thread([this] {
      for (;;) {
        const int fd = accept(bare_listener, nullptr, nullptr);
        if (fd < 0) break;
        uint32_t size = 0;
        if (read_full(fd, &size, sizeof size)) {
          std::vector<char> in(size), out(size);
          while (read_full(fd, in.data(), size)) {
            memcpy(out.data(), in.data(), size);
            if (!write_full(fd, out.data(), size)) break;
          }
        }
        close(fd);
      }
    });

    const std::string endpoint = "ipc://" + home + "/zmq.ipc";
    zmq_ctx = zmq_ctx_new();
    zmq_rep = zmq_socket(zmq_ctx, ZMQ_REP);
    if (zmq_bind(zmq_rep, endpoint.c_str()) != 0) abort();
    zmq_thread = std::thread([this] {
      std::vector<char> buf(kMaxMessage);
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
    for (int *fd : {&raw_client, &bare_client})
      if (*fd >= 0) close(*fd);
    shutdown(raw_listener, SHUT_RDWR);
    shutdown(bare_listener, SHUT_RDWR);
    raw_thread.join();
    bare_thread.join();
    close(raw_listener);
    close(bare_listener);
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
  void raw_round_trip(const std::vector<char> &req, std::vector<char> &reply) {
    uint32_t len = 0;
    if (!write_frame(raw_client, req.data(), static_cast<uint32_t>(req.size())) ||
        !read_frame(raw_client, reply.data(), static_cast<uint32_t>(reply.size()), &len) ||
        len != req.size())
      abort();
  }
  // A fresh unframed connection for messages of `size` bytes.
  void bare_reconnect(uint32_t size) {
    if (bare_client >= 0) close(bare_client);
    bare_client = connect_to(bare_addr);
    if (!write_full(bare_client, &size, sizeof size)) abort();
  }
  void bare_round_trip(const std::vector<char> &req, std::vector<char> &reply) {
    if (!write_full(bare_client, req.data(), req.size()) ||
        !read_full(bare_client, reply.data(), req.size()))
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

void BM_RawRoundTrip(benchmark::State &state) {
  std::vector<char> req(static_cast<size_t>(state.range(0)), 'q'), reply(req.size());
  for (auto _ : state) g_peers->raw_round_trip(req, reply);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_RawRoundTrip)->Arg(64)->Arg(65536)->UseRealTime();

void BM_ZmqRoundTrip(benchmark::State &state) {
  std::vector<char> req(static_cast<size_t>(state.range(0)), 'q'), reply(req.size());
  for (auto _ : state) g_peers->zmq_round_trip(req, reply);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_ZmqRoundTrip)->Arg(64)->Arg(65536)->UseRealTime();

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Seconds per round trip of each round, and the per-round ratios peer / bus.
struct Rounds {
  std::vector<double> seconds, ratios;
};

void print_comparison(const char *name, const char *peer, const Rounds &bus, const Rounds &other) {
  // The median of the ratios of rounds run side by side (robust against load that
  // comes and goes on a shared machine), then their spread and the medians' ratio.
  const double bus_median = median(bus.seconds);
  bench::print_ratio(name, peer, bus_median, bus_median * median(other.ratios));
  const auto [lo, hi] = std::minmax_element(other.ratios.begin(), other.ratios.end());
  std::printf("  %s vs %s: round ratios %.3f to %.3f over %zu rounds; ratio of medians %.3f\n",
              name, peer, *lo, *hi, other.ratios.size(), median(other.seconds) / bus_median);
}

}  // namespace

int main(int argc, char **argv) {
  g_peers = new Peers();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();

  for (size_t bytes : {size_t(64), size_t(65536)}) {
    g_peers->bare_reconnect(static_cast<uint32_t>(bytes));
    std::vector<char> req(bytes, 'q'), reply(bytes);
    const int reps = bytes < 1024 ? 1000 : 200;
    // Rounds of the four interleave, so that a burst of load on the machine falls on
    // all of them alike; each round's ratios compare neighbours in time.
    Rounds bus, raw, bare, zmq;
    for (int round = 0; round < 31; ++round) {
      const double b = bench::seconds_per_call([&] { g_peers->bus_round_trip(req, reply); }, reps, 1);
      const double r = bench::seconds_per_call([&] { g_peers->raw_round_trip(req, reply); }, reps, 1);
      const double f = bench::seconds_per_call([&] { g_peers->bare_round_trip(req, reply); }, reps, 1);
      const double z = bench::seconds_per_call([&] { g_peers->zmq_round_trip(req, reply); }, reps / 4, 1);
      bus.seconds.push_back(b);
      raw.seconds.push_back(r);
      raw.ratios.push_back(r / b);
      bare.seconds.push_back(f);
      bare.ratios.push_back(f / b);
      zmq.seconds.push_back(z);
      zmq.ratios.push_back(z / b);
    }
    char name[64];
    std::snprintf(name, sizeof name, "bus_round_trip_%zuB", bytes);
    print_comparison(name, "raw_unix_ping_pong", bus, raw);
    print_comparison(name, "zeromq_req_rep_ipc", bus, zmq);
    print_comparison(name, "raw_unix_unframed_floor", bus, bare);
    std::printf("requests per second %zuB (median round): bus %.0f, raw %.0f, unframed %.0f, "
                "zeromq %.0f\n",
                bytes, 1 / median(bus.seconds), 1 / median(raw.seconds), 1 / median(bare.seconds),
                1 / median(zmq.seconds));
  }
  delete g_peers;
  return 0;
}
