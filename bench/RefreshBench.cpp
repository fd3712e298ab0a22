// SPDX-License-Identifier: GPL-2.0-or-later
// Refresh benchmarks, each against a reference measured in the same run:
//  1. the device-list merge with 64 servers of 16 devices listed (1024 rows), one device changed,
//     fed straight to the merge; reference: copying the 1024 rows' records once.
//  2. a device change at a device server (another PC linking or unlinking a device) until the
//     changed row is in the client's row model, through busd, the reader thread and the event
//     dispatch; reference: one request/answer round trip with the same server (Ping/Pong).
// Must run inside its own network namespace (bench/run.sh does that).
#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "autoconnect/AutoConnectStore.h"
#include "bench/BenchServers.h"
#include "bench/Stats.h"
#include "devices/DriverEvents.h"
#include "devices/RefreshCycle.h"
#include "devices/RefreshLock.h"
#include "driver/ReadThread.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "protocol/HubWire.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;
using Steady = std::chrono::steady_clock;

namespace {

constexpr size_t kServers = 64;
constexpr size_t kDevicesPerServer = 16;

// The core's outside services, in a temporary folder.
struct Core {
  explicit Core(const std::string& runtimeDir, const TempDir& dir)
      : bus(runtimeDir), registry(HivePaths{dir / "user.hive", dir / "machine.hive"}),
        lock(kRefreshLockMutexName, dir.path()) {}
  BusIpcTransport bus;
  SystemClock clock;
  NoWindow window;
  SqliteRegistry registry;
  FileNamedMutex lock;
  ClientState state;
};

std::vector<DeviceEntry> DeviceListOf(size_t server) {
  static const char* const kTypes[] = {"PRINTER", "MFP", "SCANNER", "MASS STORAGE", "UNKNOWN"};
  std::vector<DeviceEntry> list;
  for (size_t d = 0; d < kDevicesPerServer; ++d) {
    DeviceEntry e;
    e.deviceNumber = static_cast<int>(d + 1);
    e.vendorId = "04F9";
    e.productId = "00" + std::to_string(10 + d);
    e.type = kTypes[d % 5];
    e.manufacturer = "Maker " + std::to_string(d % 7);
    e.product = "Model " + std::to_string(d);
    e.serial = "S" + std::to_string(server) + "-" + std::to_string(d);
    list.push_back(std::move(e));
  }
  return list;
}

void MergeBench(int rounds) {
  TempDir dir("/tmp/tessaro-bench.");
  Core core(dir / "none", dir);
  DeviceListModel model(core.window);
  core.state.notifyDeviceDetect = false;
  core.state.computerName = "PC-A";
  RefreshCycle cycle({core.bus, core.clock, core.window, core.lock, core.registry, core.window},
                     core.state, model);
  std::vector<ServerData> servers;
  std::vector<std::vector<DeviceEntry>> lists;
  for (size_t s = 0; s < kServers; ++s) {
    auto server = std::make_unique<ServerData>();
    server->name = "HUB-" + std::to_string(s);
    server->ip = "10.0." + std::to_string(s / 200) + "." + std::to_string(s % 200 + 1);
    server->displayName = ServerDisplayName(server->name, server->ip);
    server->mac = "00:1C:F0:AA:0B:" + std::to_string(10 + s);
    server->handle = static_cast<BusHandle>(1000 + s);
    server->enabled = 1;
    servers.push_back(*server);
    model.AddServer(std::move(server));
    lists.push_back(DeviceListOf(s));
    cycle.MergeDevices(servers.back(), lists.back());
  }
  if (model.rowCount() != kServers * kDevicesPerServer) throw std::runtime_error("rows missing");

  bench::Samples copy, one, all;
  for (int i = 0; i < rounds; ++i) {
    // The reference: every row's record copied once.
    auto t0 = Steady::now();
    std::vector<DeviceData> rows;
    rows.reserve(model.rowCount());
    for (size_t r = 0; r < model.rowCount(); ++r) rows.push_back(model.row(r));
    copy.Add(Steady::now() - t0);

    // One server's list with one device changed hands.
    const size_t s = static_cast<size_t>(i) % kServers;
    DeviceEntry& changed = lists[s][static_cast<size_t>(i) % kDevicesPerServer];
    changed.owner = changed.owner.empty() ? "PC-B" : "";
    changed.lockCount = changed.owner.empty() ? 0 : 1;
    t0 = Steady::now();
    cycle.MergeDevices(servers[s], lists[s]);
    one.Add(Steady::now() - t0);

    // Every server's list, one of them with the change.
    if (i % 8 == 0) {
      t0 = Steady::now();
      for (size_t k = 0; k < kServers; ++k) cycle.MergeDevices(servers[k], lists[k]);
      all.Add(Steady::now() - t0);
    }
  }
  std::printf("Refresh merge (%zu servers x %zu devices = %zu rows)\n", kServers, kDevicesPerServer,
              model.rowCount());
  copy.Print("reference: copy of every row's record");
  one.Print("merge of one server's list, one change");
  all.Print("merge of all 64 lists, one change");
  bench::PrintRatio("one server's merge vs row copy", one, copy);
  bench::PrintRatio("all 64 merges vs row copy", all, copy);
}

// Stamps the moment device 2's row shows the owner it waits for.
class RowWatch : public DeviceListListener {
 public:
  explicit RowWatch(const DeviceListModel& model) : model_(model) {}
  void Expect(std::string owner) {
    expected_ = std::move(owner);
    stamp_.reset();
  }
  void RowChanged(size_t index) override {
    const DeviceData& d = model_.row(index);
    if (!stamp_ && d.deviceNumber == "2" && d.owner == expected_) stamp_ = Steady::now();
  }
  std::optional<Steady::time_point> stamp() const { return stamp_; }

 private:
  const DeviceListModel& model_;
  std::string expected_;
  std::optional<Steady::time_point> stamp_;
};

// Sends requests to the device server from its own thread, as another PC would.
class Peer {
 public:
  Peer() : client_("127.0.0.2", wire::kDefaultTcpPort) {
    if (!client_.connected() || !client_.Hello("PC-B"))
      throw std::runtime_error("cannot reach the device server");
  }
  void Call(wire::MsgType type, const std::vector<uint8_t>& payload) {
    const uint32_t id = ++lastId_;
    const auto frames = client_.Call(type, id, payload);
    if (frames.empty() || frames.back().id != id)
      throw std::runtime_error("no reply from the device server");
  }

 private:
  WireClient client_;
  uint32_t lastId_ = 1;  // Hello's
};

void LatencyBench(int rounds) {
  const bench::BenchServers lab;
  const std::string runtime = lab.runtime();
  const testing::TempDir& dir = lab.dir();

  Core core(runtime, dir);
  ManualMainThread main;
  DeviceListModel model(core.window);
  core.state.computerName = "PC-A";
  core.state.notifyDeviceDetect = false;
  RefreshCycle cycle({core.bus, core.clock, main, core.lock, core.registry, core.window},
                     core.state, model);
  class NoUi : public UiPort {
    int ShowMessage(const MessageRequest&) override { return answer::kOk; }
    int RunDialog(const DialogRequest&) override { return answer::kCancel; }
  } ui;
  DriverEventDispatcher dispatcher(cycle, model, core.state, core.lock, core.window, ui, core.clock,
                                   [] { return true; });
  core.state.trunk = cycle.driver().OpenTrunk();
  if (core.state.trunk == kInvalidBusHandle) throw std::runtime_error("no Trunk");
  if (!Eventually(
          [&] {
            std::vector<ServerEntry> list;
            return cycle.driver().GetServerList(core.state.trunk, list) == 1 &&
                   list[0].state == "1";
          },
          std::chrono::seconds(15)))
    throw std::runtime_error("the server never answered");
  std::vector<ServerEntry> list;
  cycle.driver().GetServerList(core.state.trunk, list);
  ServerInfoReg stored{list[0].name, list[0].ip, list[0].mac, 1, "", "", ""};
  WriteServerEntry(core.registry, AppRegistryKey, stored);

  TReadThread reader(core.bus, core.state.trunk, main, core.clock,
                     [&](std::span<const uint8_t> r, int64_t n) { dispatcher.Dispatch(r, n); });
  reader.Start();
  cycle.RefreshServers();
  if (model.rowCount() != 2) throw std::runtime_error("the server's rows did not come");
  RowWatch watch(model);
  model.AddListener(&watch);

  Peer peer;
  bench::Samples ping, change;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Steady::now();
    peer.Call(wire::MsgType::Ping, {});
    ping.Add(Steady::now() - t0);
  }
  main.DrainWithin(std::chrono::milliseconds(200));
  for (int i = 0; i < rounds; ++i) {
    const bool link = i % 2 == 0;
    watch.Expect(link ? "PC-B" : "");
    const auto type = link ? wire::MsgType::Link : wire::MsgType::Unlink;
    // The clock starts when the other PC sends its request, not when its thread starts.
    Steady::time_point t0;
    std::thread sender([&] {
      t0 = Steady::now();
      peer.Call(type, wire::EncodeDeviceCommand(type, {2, 0, 0}));
    });
    const auto deadline = Steady::now() + std::chrono::seconds(10);
    while (!watch.stamp() && Steady::now() < deadline)
      main.DrainWithin(std::chrono::milliseconds(5));
    sender.join();
    if (!watch.stamp()) throw std::runtime_error("the row never changed");
    change.Add(*watch.stamp() - t0);
    // Let any further record of this change pass before the next round starts.
    main.DrainWithin(std::chrono::milliseconds(2));
  }
  model.RemoveListener(&watch);
  core.state.flags.Closing = true;
  reader.Stop(cycle.driver(), main);
  cycle.CloseServers();
  core.bus.Close(core.state.trunk);

  std::printf("\nDevice change to row (%d rounds)\n", rounds);
  ping.Print("reference: server round trip (Ping/Pong)");
  change.Print("change at the server -> row in the model");
  bench::PrintRatio("change-to-row vs server round trip", change, ping);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 400;
  try {
    MergeBench(rounds > 0 ? rounds : 400);
    LatencyBench(rounds > 0 ? rounds / 2 : 200);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_refresh: %s\n", e.what());
    return 1;
  }
  return 0;
}
