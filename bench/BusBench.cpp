// SPDX-License-Identifier: GPL-2.0-or-later
// Bus benchmarks, each against a reference measured in the same run:
//  1. change-to-event latency: a device-list change made at a device server (by another PC
//     linking and unlinking a device) until the kind-1 record is read from this PC's Trunk;
//     reference: one request/answer round trip with the same server (Ping/Pong).
//  2. GetDeviceList round trips through the driver client; reference: GetTrunkVersion, the
//     smallest request on the same path.
// Must run inside its own network namespace (bench/run.sh does that).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "bench/Stats.h"
#include "driver/DriverClient.h"
#include "driver/EventRecord.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/SystemClock.h"
#include "protocol/Fd.h"
#include "protocol/HubWire.h"
#include "tests/support/Process.h"

using namespace tessaro;
using namespace tessaro::testing;
using Steady = std::chrono::steady_clock;

namespace {

const char* kHubConfig = R"([server]
name = BENCH-HUB
address = 127.0.0.2
mac = 00:1C:F0:AA:0B:01

[device 1]
type = PRINTER
vendor-id = 04F9
product-id = 0042
manufacturer = Lumen
product = Laser 2040
serial = LW2040-00731

[device 2]
type = MASS STORAGE
vendor-id = 2E10
product-id = 5567
manufacturer = Keystone
product = Pocket Drive 32
serial = 4C5300012312
)";

std::string Binary(const char* relative) { return std::string(TESSARO_BINARY_DIR) + "/" + relative; }

// A second PC speaking the wire to the server directly.
class WirePeer {
 public:
  WirePeer(const char* ip, uint16_t port, const std::string& name) {
    fd_.Reset(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("cannot reach the device server");
    int one = 1;
    setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Call(wire::MsgType::Hello, wire::EncodeHello({wire::kVersionMajor, wire::kVersionMinor, name}));
  }

  // Sends a request and returns its reply, skipping unsolicited frames.
  wire::Frame Call(wire::MsgType type, std::vector<uint8_t> payload) {
    const uint32_t id = ++lastId_;
    const auto bytes = wire::EncodeFrame({type, 0, id, std::move(payload)});
    if (!WriteAll(fd_.get(), bytes.data(), bytes.size())) throw std::runtime_error("send failed");
    for (;;) {
      if (auto f = decoder_.Next()) {
        if (f->id == id) return *f;
        continue;
      }
      uint8_t buf[65536];
      const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
      if (n <= 0) throw std::runtime_error("server closed the connection");
      decoder_.Feed({buf, static_cast<size_t>(n)});
    }
  }

 private:
  UniqueFd fd_;
  wire::FrameDecoder decoder_;
  uint32_t lastId_ = 0;
};

// Reads the Trunk's event channel and stamps each kind-1 record as it is read.
class EventStamps {
 public:
  EventStamps(BusTransport& bus, BusHandle trunk) : bus_(bus), trunk_(trunk) {
    thread_ = std::thread([this] { Run(); });
  }
  ~EventStamps() {
    stop_ = true;
    DriverClient(bus_, clock_).WakeEventReader(trunk_);
    thread_.join();
  }
  void Clear() {
    std::lock_guard l(m_);
    stamps_.clear();
  }
  Steady::time_point Next() {
    std::unique_lock l(m_);
    if (!cv_.wait_for(l, std::chrono::seconds(10), [&] { return !stamps_.empty(); }))
      throw std::runtime_error("no kind-1 record within 10 s");
    const auto t = stamps_.front();
    stamps_.pop_front();
    return t;
  }

 private:
  void Run() {
    std::vector<uint8_t> buf(2048);
    while (!stop_) {
      std::fill(buf.begin(), buf.end(), 0);
      const IoResult r = bus_.ReadEvent(trunk_, buf.data(), 2048);
      const auto now = Steady::now();
      if (!r.ok || r.bytesReturned == 0 || buf[0] != 1) continue;
      std::lock_guard l(m_);
      stamps_.push_back(now);
      cv_.notify_all();
    }
  }
  BusTransport& bus_;
  BusHandle trunk_;
  SystemClock clock_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Steady::time_point> stamps_;
  std::thread thread_;
};

template <typename F>
void WaitFor(F condition, const char* what) {
  if (!Eventually(condition, std::chrono::seconds(15))) throw std::runtime_error(what);
}

void Run(int rounds) {
  TempDir dir("/tmp/tessaro-bench.");
  WriteTextFile(dir / "hub.conf", kHubConfig);
  Process hub(Binary("hubd/tessaro-hubd"), {"--config", dir / "hub.conf"});
  if (!hub.Start() || !hub.WaitForOutput("hubd: ready")) throw std::runtime_error(hub.Output());
  const std::string runtime = dir / "run";
  Process busd(Binary("busd/tessaro-busd"), {"--runtime-dir", runtime, "--computer-name", "PC-A",
                                             "--group", "root", "--no-discovery", "--server",
                                             "127.0.0.2"});
  if (!busd.Start() || !busd.WaitForOutput("busd: ready")) throw std::runtime_error(busd.Output());

  BusIpcTransport bus(runtime);
  SystemClock clock;
  DriverClient driver(bus, clock);
  const BusHandle trunk = driver.OpenTrunk();
  if (trunk == kInvalidBusHandle) throw std::runtime_error("no Trunk");
  WaitFor([&] {
    std::vector<ServerEntry> servers;
    return driver.GetServerList(trunk, servers) == 1 && servers[0].state == "1";
  }, "the server never answered");
  driver.AttachServer(trunk, "127.0.0.2");
  BusHandle spur = kInvalidBusHandle;
  WaitFor([&] {
    for (const auto& s : driver.OpenSpurs().value_or(std::vector<SpurInterface>{})) {
      if (s.address == "127.0.0.2" && spur == kInvalidBusHandle) spur = s.handle;
      else bus.Close(s.handle);
    }
    return spur != kInvalidBusHandle;
  }, "no Spur");

  EventStamps events(bus, trunk);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  WirePeer peer("127.0.0.2", wire::kDefaultTcpPort, "PC-B");

  bench::Samples ping, change;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Steady::now();
    peer.Call(wire::MsgType::Ping, {});
    ping.Add(Steady::now() - t0);
  }
  events.Clear();
  for (int i = 0; i < rounds; ++i) {
    const auto type = i % 2 == 0 ? wire::MsgType::Link : wire::MsgType::Unlink;
    const auto t0 = Steady::now();
    peer.Call(type, wire::EncodeDeviceCommand(type, {2, 0, 0}));
    change.Add(events.Next() - t0);
  }

  bench::Samples list, version;
  std::string v;
  for (int i = 0; i < rounds * 4; ++i) {
    auto t0 = Steady::now();
    driver.GetTrunkVersion(trunk, v);
    version.Add(Steady::now() - t0);
    t0 = Steady::now();
    if (!driver.GetDeviceList(spur)) throw std::runtime_error("device list failed");
    list.Add(Steady::now() - t0);
  }

  std::printf("Bus benchmarks (%d rounds; times per operation)\n", rounds);
  ping.Print("reference: server round trip (Ping/Pong)");
  change.Print("device-list change -> kind-1 record read");
  bench::PrintRatio("change-to-event vs server round trip", change, ping);
  version.Print("reference: GetTrunkVersion round trip");
  list.Print("GetDeviceList round trip (2 devices)");
  bench::PrintRatio("GetDeviceList vs GetTrunkVersion", list, version);
  bus.Close(spur);
  bus.Close(trunk);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 500;
  try {
    Run(rounds > 0 ? rounds : 500);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_bus: %s\n", e.what());
    return 1;
  }
  return 0;
}
