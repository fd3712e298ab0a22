// SPDX-License-Identifier: GPL-2.0-or-later
// hubd's web page: requests per second of /status.json with 50 devices against libmicrohttpd's
// own hello-world handler in this process, and hubd's wire latency (Ping) alone and while the
// page is polled 10 times a second.
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/Stats.h"
#include "tests/TestPaths.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace std::chrono;

namespace {

constexpr int kRequests = 2000;
constexpr int kPings = 2000;

// One HTTP/1.0 GET on a new connection; false when no whole answer came.
bool Get(const char* ip, uint16_t port, const char* path) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, ip, &sa.sin_addr);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return false;
  const std::string request = std::string("GET ") + path + " HTTP/1.0\r\n\r\n";
  if (!WriteAll(fd.get(), request.data(), request.size())) return false;
  char buffer[16384];
  size_t total = 0;
  ssize_t n;
  while ((n = ::recv(fd.get(), buffer, sizeof buffer, 0)) > 0) total += static_cast<size_t>(n);
  return total > 12;
}

double RequestsPerSecond(const char* ip, uint16_t port, const char* path) {
  const auto start = steady_clock::now();
  int ok = 0;
  for (int i = 0; i < kRequests; ++i) ok += Get(ip, port, path) ? 1 : 0;
  const double seconds = duration<double>(steady_clock::now() - start).count();
  if (ok != kRequests) std::printf("  %s:%u%s: %d of %d answered\n", ip, port, path, ok, kRequests);
  return ok / seconds;
}

MHD_Result Hello(void*, MHD_Connection* c, const char*, const char*, const char*, const char*,
                 size_t*, void**) {
  static const char kBody[] = "hello, world";
  MHD_Response* r = MHD_create_response_from_buffer(sizeof kBody - 1, const_cast<char*>(kBody),
                                                    MHD_RESPMEM_PERSISTENT);
  const MHD_Result q = MHD_queue_response(c, 200, r);
  MHD_destroy_response(r);
  return q;
}

bench::Samples Pings(testing::WireClient& pc) {
  bench::Samples s;
  for (uint32_t i = 0; i < kPings; ++i) {
    const auto start = steady_clock::now();
    pc.Call(wire::MsgType::Ping, 100 + i);
    s.Add(steady_clock::now() - start);
  }
  return s;
}

}  // namespace

int main() {
  testing::TempDir dir("/tmp/tessaro-bench.");
  std::string config =
      "[server]\nname = BENCH-HUB\naddress = 127.0.0.2\nhttp-port = 8080\nmac = "
      "02:00:00:00:00:0B\n";
  for (int n = 1; n <= 50; ++n)
    config += "[device " + std::to_string(n) +
              "]\ntype = PRINTER\nvendor-id = 04f9\nproduct-id = 0042\nmanufacturer = Lumen\n"
              "product = Laser 2040\nserial = LW-" +
              std::to_string(n) + "\n";
  testing::WriteTextFile(dir / "hub.ini", config);
  testing::Process hubd(std::string(testing::kBinaryDir) + "/hubd/tessaro-hubd",
                        {"--config", dir / "hub.ini"});
  if (!hubd.Start() || !hubd.WaitForOutput("web page on")) {
    std::fprintf(stderr, "bench_web: hubd did not start: %s\n", hubd.Output().c_str());
    return 1;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(8080);
  inet_pton(AF_INET, "127.0.0.3", &sa.sin_addr);
  MHD_Daemon* hello =
      MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 8080, nullptr, nullptr,
                       &Hello, nullptr, MHD_OPTION_SOCK_ADDR, &sa, MHD_OPTION_END);
  if (!hello) {
    std::fprintf(stderr, "bench_web: the hello-world daemon did not start\n");
    return 1;
  }
  std::printf("bench_web: %d requests each on new connections; hubd with 50 devices\n", kRequests);
  const double reference = RequestsPerSecond("127.0.0.3", 8080, "/");
  const double status = RequestsPerSecond("127.0.0.2", 8080, "/status.json");
  MHD_stop_daemon(hello);
  std::printf("hello-world handler (reference)   %9.0f requests/s\n", reference);
  std::printf("hubd /status.json                 %9.0f requests/s  ratio %.2f\n", status,
              status / reference);

  testing::WireClient pc("127.0.0.2", 2005);
  if (!pc.Hello("BENCH-PC")) return 1;
  const bench::Samples quiet = Pings(pc);
  std::atomic<bool> polling{true};
  std::thread poller([&] {
    while (polling) {
      Get("127.0.0.2", 8080, "/status.json");
      std::this_thread::sleep_for(milliseconds(100));
    }
  });
  const bench::Samples polled = Pings(pc);
  polling = false;
  poller.join();
  quiet.Print("hubd ping, page idle (reference)");
  polled.Print("hubd ping, page polled 10 times a second");
  bench::PrintRatio("hubd ping, polled / idle", polled, quiet);
  return 0;
}
