// SPDX-License-Identifier: GPL-2.0-or-later
// The output buffers busd answers control requests with, and the event records it delivers to
// event reads. Each builder stays within the buffer size the driver client passes for that call.
#pragma once

#include <cstdint>
#include <vector>

#include "base/WinError.h"
#include "busd/ServerEntry.h"
#include "protocol/BusFrame.h"
#include "protocol/HubWire.h"

namespace tessaro::busd {

inline constexpr size_t kServerListBufferSize = 1024;
inline constexpr size_t kDeviceListBufferSize = 2048;
inline constexpr size_t kMaxBusText = 63;           // the client copies texts into 64-byte buffers
inline constexpr size_t kMaxInstanceIdInput = 200;  // an instance ID with its NUL
inline constexpr size_t kVetoNameBufferSize = 260;  // a veto name with its NUL
inline constexpr uint8_t kVersionMajor = 1;
inline constexpr uint8_t kVersionMinor = 0;
inline constexpr uint8_t kVersionPatch = 0;

// A reply that succeeded, with its output; one that failed carries none.
inline busipc::Reply Success(std::vector<uint8_t> output = {}) {
  return busipc::Reply{winerr::kSuccess, std::move(output)};
}
inline busipc::Reply Failure(uint32_t status) { return busipc::Reply{status, {}}; }

enum class EventKind : uint8_t {
  DeviceListChanged = 1,
  ServerListChanged = 2,
  AddressesChanged = 3,
  UseRequested = 4,
};

// 0x222000: header (byte 0 valid, byte 4 count), then whole server entries up to 1024 bytes.
std::vector<uint8_t> BuildServerList(const std::vector<ServerEntry>& servers);
// 0x222044: header (byte 4 count), then whole device entries up to 2048 bytes.
std::vector<uint8_t> BuildDeviceList(const std::vector<wire::DeviceInfo>& devices);
// 0x222020 / 0x22205C: byte 0 valid, bytes 4..6 the version parts.
std::vector<uint8_t> BuildVersion();
// 0x222040: byte 0 the total length (8), bytes 4..7 the server's IPv4 address.
std::vector<uint8_t> BuildSpurAddress(uint32_t serverIp);

// 0x222404: the veto type, then the veto name NUL-terminated (cut to fit 260 bytes).
std::vector<uint8_t> BuildEjectOutput(const wire::EjectReply& reply);

// Records of kinds 1, 2 and 3: 16 bytes; kind 1 carries the server's address in bytes 9..12.
std::vector<uint8_t> BuildEventRecord(EventKind kind, uint32_t serverIp = 0);
// Kind 4: 15 bytes of header and the requester's name (at most 63 bytes).
std::vector<uint8_t> BuildUseRequestedRecord(uint32_t serverIp, const wire::UseRequested& use);

}  // namespace tessaro::busd
