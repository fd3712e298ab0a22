// SPDX-License-Identifier: GPL-2.0-or-later
// What every connection of one hubd shares: the server's identity, the device table and the list
// of open sessions that change notices and use requests go to.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hubd/Config.h"
#include "hubd/DeviceNumbers.h"
#include "hubd/DeviceTable.h"
#include "hubd/PinStore.h"
#include "hubd/PrintSink.h"
#include "hubd/UsbSource.h"
#include "platform/Clock.h"
#include "protocol/HubWire.h"
#include "protocol/PcKey.h"

namespace tessaro::hubd {

class Session;

// What keeps a few hostile or stuck peers from shutting every PC out.
struct Limits {
  // A connection that has not completed Hello by then is closed.
  std::chrono::seconds helloTimeout{5};
  // A greeted connection that sends nothing for this long is closed. PCs ping every 3 s.
  std::chrono::seconds idleTimeout{60};
  // A peer whose unmergeable output is over the cap and that reads nothing this long is dropped.
  std::chrono::seconds drainTimeout{30};
  // Open connections from one source address; more are refused at once.
  size_t maxPerAddress = 16;
  // New computer names one source address may pin until the next reload or restart: a flood of
  // made-up names from one machine cannot fill the pins, which outlast restarts.
  size_t newNamesPerAddress = 16;
};

class Hub {
 public:
  // How often a printer that stopped taking data is asked whether it reports a fault.
  static constexpr std::chrono::seconds kPrinterCheckEvery{1};

  using LogFn = std::function<void(const std::string&)>;

  // versionMajor: the major version this hubd speaks (another one only to test refusals).
  Hub(const HubConfig& config, const Clock& clock, uint16_t versionMajor, PinStore& pins,
      LogFn log);

  wire::ServerInfo Info() const;
  // The address (network order) and port PCs connect to: what their proofs name.
  uint32_t address() const { return address_; }
  uint16_t tcpPort() const { return tcpPort_; }
  PinStore& pins() { return pins_; }
  PrintSink& sink() { return sink_; }
  // Counts a new name pinned from `address`; false (nothing counted) when it has used its share.
  bool TakeNewNameFrom(uint32_t address);
  // A fresh challenge nonce; from the system's random source unless a test set another source.
  wire::Nonce NewNonce() const { return nonceSource_ ? nonceSource_() : wire::MakeNonce(); }
  void SetNonceSource(std::function<wire::Nonce()> source) { nonceSource_ = std::move(source); }
  void SetTcpPort(uint16_t port) { tcpPort_ = port; }
  DeviceTable& table() { return table_; }
  const DeviceTable& table() const { return table_; }
  const Clock& clock() const { return clock_; }
  const Limits& limits() const { return limits_; }
  void SetLimits(const Limits& limits) { limits_ = limits; }

  // The PCs attached now: computer name and peer address of each greeted connection.
  std::vector<std::pair<std::string, std::string>> AttachedPcs() const;
  // Whether PC `name` has a greeted connection from `address` (network order).
  bool IsAttachedFrom(const std::string& name, uint32_t address) const;
  const ServerConfig& server() const { return server_; }
  std::chrono::steady_clock::time_point started() const { return started_; }
  void Attach(Session& session);
  void Detach(Session& session);

  // Ends the locks whose time is up, and tells every PC when that changed the list.
  void RunExpiry();
  // The whole list, id 0, to every session that has said Hello.
  void AnnounceChange();
  // A use request to every session of the owner PC.
  void NotifyOwner(const std::string& owner, const wire::UseRequested& request);
  // Takes a re-read config: identity and devices (merged), then one change notice if needed;
  // and reads the pins again.
  void Reload(const HubConfig& config);

  void Log(const std::string& line) const;

  // The machine's USB devices join the list (`[server] usb = yes`); both outlive the hub.
  void SetUsb(UsbSource* source, DeviceNumbers* numbers);
  UsbSource* usb() const { return usb_; }
  // Takes the waiting hot-plug events: one change notice for all of them when the list changed.
  void OnUsbEvents();
  // A printer node with data waiting takes more.
  void OnPrinterWritable(uint8_t number);
  // Asks the printers whose data waits for a fault; due again at NextPrinterCheck.
  void CheckPrinters();
  std::optional<std::chrono::steady_clock::time_point> NextPrinterCheck() const;

 private:
  // The devices PCs see: the described ones, and with USB on the real ones too.
  std::vector<DeviceConfig> Listed();
  // Takes the list anew; true when what PCs see changed. `hotPlug`: only devices came or went,
  // so vetoes set while hubd runs stay.
  bool Relist(bool hotPlug);
  void LogDropped(uint8_t number, uint32_t status);

  ServerConfig server_;
  uint16_t versionMajor_;
  uint32_t address_;
  uint16_t tcpPort_;
  PinStore& pins_;
  const Clock& clock_;
  DeviceTable table_;
  LogFn log_;
  Limits limits_;
  std::vector<Session*> sessions_;
  std::chrono::steady_clock::time_point started_;
  PrintSink sink_;
  std::function<wire::Nonce()> nonceSource_;
  std::map<uint32_t, size_t> newNamesFrom_;  // by source address, since the last reload
  std::vector<DeviceConfig> sections_;        // the config's [device N] sections
  UsbSource* usb_ = nullptr;
  DeviceNumbers* numbers_ = nullptr;
  std::chrono::steady_clock::time_point lastPrinterCheck_{};
};

}  // namespace tessaro::hubd
