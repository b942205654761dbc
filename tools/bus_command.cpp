// `kaldro bus serve NAME` (an echo server on the local message bus, printing every
// request) and `kaldro bus send NAME [MESSAGE...]` (one request, its reply printed).
#include "tool.h"

#if KALDRO_TOOL_HAS_BUS

#include <csignal>
#include <cstring>
#include <string>

namespace tool {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void on_signal(int) { g_interrupted = 1; }

kaldro_status echo_handler(const uint8_t *request, uint64_t request_len, uint8_t *reply,
                           uint64_t *reply_len, void *) {
  if (request_len > *reply_len) return KALDRO_ERR_CAPACITY;
  std::fwrite(request, 1, std::size_t(request_len), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (request_len) std::memcpy(reply, request, std::size_t(request_len));
  *reply_len = request_len;
  return KALDRO_OK;
}

int run_serve(int argc, char **argv) {
  const char *cmd = "bus serve";
  Args args(argc, argv, {}, {"--connections"});
  if (!args.ok()) return usage_error(cmd, args.error());
  if (args.positional().size() != 1) return usage_error(cmd, "needs NAME");
  uint64_t limit = 0;
  if (args.value("--connections") && (!parse_u64(args.value("--connections"), limit) || limit == 0))
    return usage_error(cmd, "--connections needs a positive number");
  const std::string name = args.positional()[0];

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;  // no SA_RESTART: a signal ends the wait for a connection
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  kaldro_bus_server *server = nullptr;
  kaldro_status st = kaldro_bus_serve(name.c_str(), echo_handler, nullptr, &server);
  if (st != KALDRO_OK)
    return fail(cmd, "cannot serve the bus '" + name + "' (is HOME set, and no other server on it?)", st);
  std::fprintf(stderr, "kaldro: bus serve: serving '%s' at %s\n", name.c_str(), server->stream.path);
  uint64_t served = 0;
  int rc = kExitOk;
  while (!g_interrupted && (limit == 0 || served < limit)) {
    st = kaldro_bus_server_accept_one(server);
    if (st != KALDRO_OK) {
      if (!g_interrupted) rc = fail(cmd, "cannot accept a connection", st);
      break;
    }
    ++served;
  }
  kaldro_bus_server_stop(server);
  return rc;
}

int run_send(int argc, char **argv) {
  const char *cmd = "bus send";
  Args args(argc, argv, {}, {});
  if (!args.ok()) return usage_error(cmd, args.error());
  if (args.positional().empty()) return usage_error(cmd, "needs NAME");
  const std::string name = args.positional()[0];
  std::vector<uint8_t> request;
  if (args.positional().size() > 1) {
    for (std::size_t i = 1; i < args.positional().size(); ++i) {
      if (i > 1) request.push_back(' ');
      const std::string &w = args.positional()[i];
      request.insert(request.end(), w.begin(), w.end());
    }
  } else {
    std::string error;
    if (!read_file("-", request, error)) return fail_plain(cmd, "cannot read standard input: " + error);
  }
  kaldro_bus_client *client = nullptr;
  kaldro_status st = kaldro_bus_connect(name.c_str(), &client);
  if (st != KALDRO_OK) return fail(cmd, "no server answers on the bus '" + name + "'", st);
  std::vector<uint8_t> reply(1 << 20);
  uint64_t reply_len = reply.size();
  st = kaldro_bus_send_recv(client, request.data(), request.size(), reply.data(), &reply_len);
  kaldro_bus_client_close(client);
  if (st != KALDRO_OK) return fail(cmd, "the request got no reply", st);
  std::fwrite(reply.data(), 1, std::size_t(reply_len), stdout);
  if (reply_len > 0 && reply[reply_len - 1] != '\n') std::fputc('\n', stdout);
  return kExitOk;
}

const Command kBusSubs[] = {
    {"serve", "answer requests on a bus, echoing each",
     "usage: kaldro bus serve NAME [--connections K]\n"
     "\n"
     "Listens on the local bus NAME (the socket ~/.kaldro/bus-NAME.sock), prints every\n"
     "request on its own line and sends it back as the reply. Runs until interrupted, or\n"
     "until K connections have been served.\n"
     "\n"
     "  --connections K      stop after serving K connections\n",
     run_serve, nullptr, 0},
    {"send", "send one request on a bus and print the reply",
     "usage: kaldro bus send NAME [MESSAGE...]\n"
     "\n"
     "Connects to the bus NAME, sends the MESSAGE words joined by spaces (standard input\n"
     "when none are given) as one request and prints the reply.\n",
     run_send, nullptr, 0},
};

}  // namespace

const Command kBusCommand = {"bus", "the local message bus: serve and send",
                             "usage: kaldro bus <subcommand> [arguments]\n", nullptr, kBusSubs,
                             sizeof kBusSubs / sizeof kBusSubs[0]};

}  // namespace tool

#endif
