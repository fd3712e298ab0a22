// SPDX-License-Identifier: GPL-2.0-or-later
// busd itself: the runtime folder, the bus interfaces, the server registry, discovery and the
// address watch, driven by one poll loop until SIGTERM or SIGINT.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "busd/BusServer.h"
#include "busd/DeviceArrival.h"
#include "busd/DeviceWriter.h"
#include "busd/Discovery.h"
#include "busd/Options.h"
#include "busd/RuntimeFolder.h"
#include "busd/ServerRegistry.h"
#include "platform/Registry.h"

namespace tessaro::busd {

class Daemon : public RegistryEvents {
 public:
  static constexpr auto kAddressPollInterval = std::chrono::seconds(2);
  // How long a link's answer waits for its device's record; far below the hubs' ping times.
  static constexpr auto kRecordWait = std::chrono::milliseconds(500);

  // `log` must outlive the daemon; its parts log from their own threads too.
  Daemon(Options options, const Logger& log);
  ~Daemon() override;
  // Returns the process exit code.
  int Run();

  void PublishEvent(const std::vector<uint8_t>& record) override;
  void SpurReady(uint32_t ip) override;
  void DevicesReported(uint32_t ip, const std::vector<wire::DeviceInfo>& devices) override;
  void LinkRequested(uint32_t ip, uint8_t number) override;
  void LinkAnswered(uint32_t ip, uint8_t number, bool succeeded) override;

 private:
  bool Start();
  void Turn(int signalFd);
  void WatchAddresses(Clock::time_point now);
  // Queues the device database entry of a device just linked to this PC.
  void RecordDevice(uint32_t ip, const wire::DeviceInfo& device);

  Options options_;
  const Logger& log_;
  std::unique_ptr<RuntimeFolder> folder_;
  std::unique_ptr<BusServer> bus_;
  std::optional<wire::PcKey> key_;  // proves this PC's name to every server
  std::unique_ptr<ServerRegistry> registry_;
  std::unique_ptr<Discovery> discovery_;
  std::unique_ptr<Registry> machineHive_;
  std::unique_ptr<DeviceWriter> writer_;  // writes into machineHive_
  std::unique_ptr<DeviceArrival> arrival_;
  std::vector<Ipv4Interface> interfaces_;
  std::vector<uint32_t> addresses_;
  Clock::time_point lastAddressPoll_{};
  bool stop_ = false;
};

}  // namespace tessaro::busd
