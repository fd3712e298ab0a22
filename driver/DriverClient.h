// SPDX-License-Identifier: GPL-2.0-or-later
// The only code that sends control requests to the virtual bus. It keeps no state: handles
// belong to the callers. No operation shows anything; each returns a flag, a count or leaves
// its output unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "driver/LockKind.h"
#include "driver/ReplyParsers.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"

namespace tessaro {

// One opened Spur interface: the caller owns the handle.
struct SpurInterface {
  BusHandle handle = kInvalidBusHandle;
  std::string address;  // empty when the Spur did not tell its address
  std::string path;
};

class DriverClient {
 public:
  DriverClient(BusTransport& bus, Clock& clock) : bus_(bus), clock_(clock) {}

  BusHandle OpenTrunk();
  // Every Spur interface that opens, with its address; nullopt when the class cannot be listed.
  std::optional<std::vector<SpurInterface>> OpenSpurs();

  // Number of servers (their entries replace `servers`), or -1 with `servers` unchanged.
  int GetServerList(BusHandle trunk, std::vector<ServerEntry>& servers);
  bool AttachServer(BusHandle trunk, const std::string& ip);
  void WakeEventReader(BusHandle trunk);
  // The queries leave `text` unchanged and answer false when they fail.
  bool GetTrunkVersion(BusHandle trunk, std::string& version);
  bool GetSpurAddress(BusHandle spur, std::string& address);
  bool GetSpurVersion(BusHandle spur, std::string& version);
  // nullopt when the reply was longer than its buffer; a failed request reads as no devices.
  std::optional<std::vector<DeviceEntry>> GetDeviceList(BusHandle spur);

  // Device numbers are decimal text; the low byte of their value is sent.
  bool LinkDevice(BusHandle spur, const std::string& deviceNumber);
  bool UnlinkDevice(BusHandle spur, const std::string& deviceNumber);
  bool LockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind, uint32_t seconds);
  bool UnlockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                    uint32_t seconds);
  // An empty `ip` sends the address 0.
  bool RequestToUseDevice(BusHandle spur, const std::string& deviceNumber, uint8_t kind,
                          const std::string& ip);

  // A piece of a job for a device linked to this PC (at most kMaxDataPiece bytes), and its end.
  // The status tells a device not linked here (21) from one busy with another job (170) and
  // from a job that failed.
  static constexpr size_t kMaxDataPiece = 65535;
  IoResult WriteDeviceData(BusHandle spur, uint8_t deviceNumber, std::span<const uint8_t> data);
  IoResult EndDeviceData(BusHandle spur, uint8_t deviceNumber);

 private:
  // Sends `input` (zero-padded to the buffer size) and reads the reply into the same buffer.
  IoResult Send(BusHandle handle, uint32_t code, std::vector<uint8_t>& buffer,
                uint32_t inputLength);
  bool Query(BusHandle handle, uint32_t code, std::vector<uint8_t>& buffer, uint32_t& returned);
  bool SendLock(BusHandle spur, uint32_t code, const std::string& deviceNumber, uint8_t kind,
                uint32_t seconds);

  BusTransport& bus_;
  Clock& clock_;
};

// atol of the text, reduced to its low byte.
uint8_t DeviceNumberByte(const std::string& deviceNumber);
// inet_addr of the text: four bytes in network order (255.255.255.255 for a text it rejects).
void PutIpv4(uint8_t* out, const std::string& ip);

}  // namespace tessaro
