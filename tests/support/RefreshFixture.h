// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh cycle and the event dispatch over a scripted bus: servers and device lists as the
// bus would report them, Spurs that appear when the test says, a user hive and the refresh lock
// in a temporary folder, and a recording main window.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "autoconnect/AutoConnectStore.h"
#include "devices/DeviceListModel.h"
#include "devices/DriverEvents.h"
#include "devices/RefreshCycle.h"
#include "devices/RefreshLock.h"
#include "platform/linux/FileNamedMutex.h"
#include "platform/linux/SqliteRegistry.h"
#include "protocol/BusFrame.h"
#include "records/DeviceKey.h"
#include "tests/devices/RecordingWindow.h"
#include "tests/support/DriverReplies.h"
#include "tests/support/FakeBusTransport.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro::testing {

namespace busop = tessaro::busipc::code;

// A server as the bus lists it.
struct Hub {
  std::string ip;
  std::string name;
  std::string mac = "00:1C:F0:AA:0B:01";
  uint8_t state = 1;
  uint8_t storageMode = 1;
};

// A device as its server lists it.
struct Dev {
  uint8_t number = 1;
  std::string type = "PRINTER";
  std::string manufacturer = "Lumen";
  std::string product = "Laser 2040";
  std::string owner{};
  uint8_t lockKind = 0;
  uint8_t lockCount = 0;
  uint16_t vendorId = 0x04F9;
  uint16_t productId = 0x0042;
  std::string serial = "LW2040-1";
};

template <size_t N>
std::array<uint8_t, N> ParseBytes(const std::string& text, char sep, int base) {
  std::array<uint8_t, N> out{};
  size_t pos = 0;
  for (size_t i = 0; i < N; ++i) {
    const size_t end = text.find(sep, pos);
    out[i] = static_cast<uint8_t>(std::stoul(text.substr(pos, end - pos), nullptr, base));
    pos = end + 1;
  }
  return out;
}

inline ServerFields FieldsOf(const Hub& h) {
  ServerFields f;
  f.ip = ParseBytes<4>(h.ip, '.', 10);
  f.mac = ParseBytes<6>(h.mac, ':', 16);
  f.state = h.state;
  f.storageMode = h.storageMode;
  f.name = h.name;
  return f;
}

inline DeviceFields FieldsOf(const Dev& d) {
  DeviceFields f;
  f.number = d.number;
  f.vendorId = d.vendorId;
  f.productId = d.productId;
  f.lockKind = d.lockKind;
  f.lockCount = d.lockCount;
  f.texts = {d.type, d.owner, d.manufacturer, d.product, d.serial};
  return f;
}

// The identity the refresh gives device `d` of server `h`.
inline DeviceKey KeyOf(const Hub& h, const Dev& d) {
  return {h.ip, h.mac, UsbIdText(d.vendorId), UsbIdText(d.productId), d.serial};
}

inline Bytes ServerList(const std::vector<Hub>& hubs) {
  std::vector<ServerFields> fields;
  for (const auto& h : hubs) fields.push_back(FieldsOf(h));
  return ServerListReply(fields);
}

inline Bytes DeviceList(const std::vector<Dev>& devs) {
  std::vector<DeviceFields> fields;
  for (const auto& d : devs) fields.push_back(FieldsOf(d));
  return DeviceListReply(fields);
}

// A kind-1 record for `ip`, as the bus sends it (16 bytes).
inline Bytes DeviceListEvent(const std::string& ip) {
  Bytes r(16, 0);
  r[0] = 1;
  const auto a = ParseBytes<4>(ip, '.', 10);
  std::copy(a.begin(), a.end(), r.begin() + 9);
  return r;
}

// A kind-4 record: another PC asks for device `number` of the server at `ip`.
inline Bytes RequestToUseEvent(const std::string& ip, int8_t number, uint8_t subCode = 1) {
  Bytes r(15, 0);
  r[0] = 4;
  r[1] = subCode;
  r[2] = static_cast<uint8_t>(number);
  const auto a = ParseBytes<4>(ip, '.', 10);
  std::copy(a.begin(), a.end(), r.begin() + 3);
  const std::string name = "PC-B";
  r[11] = static_cast<uint8_t>(name.size());
  r.insert(r.end(), name.begin(), name.end());
  return r;
}

// Readable case names in test listings.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.what; *p != '\0'; ++p) {
    const char c = *p;
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alnum)
      name += c;
    else if (!name.empty() && name.back() != '_')
      name += '_';
  }
  return name;
}

class RefreshTest : public ::testing::Test {
 protected:
  static constexpr const char* kTrunk = "trunk/0";
  const std::string kAppKey = AppRegistryKey;

  RefreshTest() {
    bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{kTrunk});
    bus.SetInterfaces(InterfaceClass::Spur, std::vector<std::string>{});
    bus.SetReply(kTrunk, busop::kAttachServer, FakeBusTransport::Success({}));
    bus.SetReply(kTrunk, busop::kWakeEventReader, FakeBusTransport::Success({}));
    state.trunk = bus.Open(kTrunk);
    state.computerName = "PC-A";
  }

  void Report(const std::vector<Hub>& hubs) {
    bus.SetReply(kTrunk, busop::kGetServerList, FakeBusTransport::Success(ServerList(hubs)));
  }
  // The Spur of `ip` is listed from now on, reporting `devs`.
  void SpurAppears(const std::string& ip, const std::vector<Dev>& devs) {
    const std::string path = "spur/" + ip;
    if (std::find(spurs_.begin(), spurs_.end(), path) == spurs_.end()) spurs_.push_back(path);
    bus.SetInterfaces(InterfaceClass::Spur, spurs_);
    bus.SetReply(path, busop::kGetSpurAddress,
                 FakeBusTransport::Success(AddressReply(ParseBytes<4>(ip, '.', 10))));
    Devices(ip, devs);
  }
  void Devices(const std::string& ip, const std::vector<Dev>& devs) {
    bus.SetReply("spur/" + ip, busop::kGetDeviceList, FakeBusTransport::Success(DeviceList(devs)));
  }
  void Store(const Hub& h, bool enabled) {
    ServerInfoReg reg;
    reg.ServerName = h.name;
    reg.ServerIP = h.ip;
    reg.ServerMAC = h.mac;
    reg.ServerEnable = enabled ? 1 : 0;
    ASSERT_TRUE(WriteServerEntry(registry, kAppKey, reg));
  }
  std::optional<bool> StoredEnable(const Hub& h) {
    ServerInfoReg reg;
    reg.ServerIP = h.ip;
    reg.ServerMAC = h.mac;
    if (!ReadServerEntry(registry, kAppKey, reg)) return std::nullopt;
    return reg.ServerEnable != 0;
  }
  // An enabled server listed with its Spur and devices, as after a refresh.
  void Listed(const Hub& h, const std::vector<Dev>& devs) {
    Store(h, true);
    SpurAppears(h.ip, devs);
    Report({h});
    ASSERT_TRUE(cycle.RefreshServers());
  }

  // "name ip enabled spur" per listed server, in list order.
  std::vector<std::string> Servers() const {
    std::vector<std::string> out;
    for (const auto& s : model.servers())
      out.push_back(s->name + " " + s->ip + (s->enabled ? " enabled" : " disabled") +
                    (s->handle != kInvalidBusHandle ? " spur" : ""));
    return out;
  }
  // Row captions in list order.
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < model.rowCount(); ++i) out.push_back(model.row(i).displayName);
    return out;
  }
  const DeviceData* Row(const std::string& ip, const std::string& number) const {
    for (size_t i = 0; i < model.rowCount(); ++i)
      if (model.row(i).serverIp == ip && model.row(i).deviceNumber == number) return &model.row(i);
    return nullptr;
  }
  size_t Requests(uint32_t code) const { return bus.requestsFor(code).size(); }

  FakeBusTransport bus;
  FakeClock clock;
  ManualMainThread main;
  TempDir dir;
  SqliteRegistry registry{HivePaths{dir / "user.hive", dir / "machine.hive"}};
  FileNamedMutex refreshLock{kRefreshLockMutexName, dir.path()};
  ClientState state;
  AutoLinkList& printers = state.autoPrinters;
  AutoLinkList& faxes = state.autoFaxes;
  std::vector<std::string>& scannerIds = state.scannerIds;
  RecordingWindow window{clock, &state.flags};
  DeviceListModel model{window};
  RefreshCycle cycle{{bus, clock, main, refreshLock, registry, window}, state, model};

 private:
  std::vector<std::string> spurs_;
};

}  // namespace tessaro::testing
