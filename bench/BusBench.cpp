// SPDX-License-Identifier: GPL-2.0-or-later
// Bus benchmarks, each against a reference measured in the same run:
//  1. change-to-event latency: a device-list change made at a device server (by another PC
//     linking and unlinking a device) until the kind-1 record is read from this PC's Trunk;
//     reference: one request/answer round trip with the same server (Ping/Pong).
//  2. GetDeviceList round trips through the driver client; reference: GetTrunkVersion, the
//     smallest request on the same path.
// Must run inside its own network namespace (bench/run.sh does that).
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "bench/BenchServers.h"
#include "bench/Stats.h"
#include "driver/DriverClient.h"
#include "driver/EventRecord.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/SystemClock.h"
#include "protocol/HubWire.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;
using Steady = std::chrono::steady_clock;

namespace {

// The demo's first server: 127.0.0.2, a printer as device 1 and a storage device as device 2.

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
  const bench::BenchServers lab;
  const std::string runtime = lab.runtime();

  BusIpcTransport bus(runtime);
  SystemClock clock;
  DriverClient driver(bus, clock);
  const BusHandle trunk = driver.OpenTrunk();
  if (trunk == kInvalidBusHandle) throw std::runtime_error("no Trunk");
  WaitFor(
      [&] {
        std::vector<ServerEntry> servers;
        return driver.GetServerList(trunk, servers) == 1 && servers[0].state == "1";
      },
      "the server never answered");
  driver.AttachServer(trunk, "127.0.0.2");
  BusHandle spur = kInvalidBusHandle;
  WaitFor(
      [&] {
        for (const auto& s : driver.OpenSpurs().value_or(std::vector<SpurInterface>{})) {
          if (s.address == "127.0.0.2" && spur == kInvalidBusHandle)
            spur = s.handle;
          else
            bus.Close(s.handle);
        }
        return spur != kInvalidBusHandle;
      },
      "no Spur");

  EventStamps events(bus, trunk);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // A second PC speaking the wire to the server directly.
  WireClient peer("127.0.0.2", wire::kDefaultTcpPort);
  if (!peer.connected() || !peer.Hello("PC-B"))
    throw std::runtime_error("cannot reach the device server");
  uint32_t lastId = 1;  // Hello's
  // Sends a request and waits for its reply; pushes that come first are skipped.
  const auto call = [&](wire::MsgType type, const std::vector<uint8_t>& payload) {
    const uint32_t id = ++lastId;
    const auto frames = peer.Call(type, id, payload);
    if (frames.empty() || frames.back().id != id)
      throw std::runtime_error("no reply from the device server");
  };

  bench::Samples ping, change;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Steady::now();
    call(wire::MsgType::Ping, {});
    ping.Add(Steady::now() - t0);
  }
  events.Clear();
  for (int i = 0; i < rounds; ++i) {
    const auto type = i % 2 == 0 ? wire::MsgType::Link : wire::MsgType::Unlink;
    const auto t0 = Steady::now();
    call(type, wire::EncodeDeviceCommand(type, {2, 0, 0}));
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
