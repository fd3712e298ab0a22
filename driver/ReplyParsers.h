// SPDX-License-Identifier: GPL-2.0-or-later
// Turns the bus driver's reply buffers into texts and numbers. Every parser reads only inside
// the bytes it is given and treats each count and length in a reply as a claim to check.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessaro {

// Buffer sizes of the driver requests.
inline constexpr uint32_t kServerListBufferSize = 1024;
inline constexpr uint32_t kDeviceListBufferSize = 2048;
inline constexpr uint32_t kQueryBufferSize = 64;
inline constexpr size_t kMaxServerEntries = 64;
inline constexpr size_t kMaxDriverTextLength = 63;  // a text lands in a 64-byte zero-filled buffer

struct ServerEntry {
  std::string ip;
  std::string name;
  std::string state;  // the signed state byte as decimal text
  std::string mac;
  int32_t storageMode = 0;
};

struct DeviceEntry {
  int deviceNumber = 0;  // signed byte
  std::string vendorId;  // four upper-case hex digits
  std::string productId;
  int lockKind = 0;
  int lockCount = 0;
  std::string type;
  std::string owner;
  std::string manufacturer;
  std::string product;
  std::string serial;
};

// Text forms shared by the driver client.
std::string IpText(const uint8_t* networkOrder);  // dotted decimal of four bytes
std::string MacText(const uint8_t* sixBytes);     // "00:1C:F0:AA:0B:3E"
std::string UsbIdText(uint16_t id);               // "04F9"
// Bytes up to the first NUL, at most `maxLength` of them.
std::string TextUntilNul(std::span<const uint8_t> bytes, size_t maxLength);

// nullopt when byte 0 is zero or `returnedSize` exceeds the buffer. Otherwise the entries that
// lie whole inside the returned bytes, at most 64.
std::optional<std::vector<ServerEntry>> ParseServerList(std::span<const uint8_t> buffer,
                                                        uint32_t returnedSize);

// nullopt when `returnedSize` exceeds 2048. Otherwise the entries that lie whole inside the
// (zero-filled) buffer, never looking past its first 2048 bytes; a malformed entry ends the walk.
std::optional<std::vector<DeviceEntry>> ParseDeviceList(std::span<const uint8_t> buffer,
                                                        uint32_t returnedSize);

// "a.b.c" from a version reply; nullopt when byte 0 is zero, the reply is longer than 64 bytes
// or too short to hold the three parts.
std::optional<std::string> ParseVersion(std::span<const uint8_t> buffer, uint32_t returnedSize);

// The dotted address of an address reply; nullopt when byte 0 is zero, the reply is longer
// than 64 bytes, or the reply (by its own length byte or by the bytes received) holds no address.
std::optional<std::string> ParseSpurAddress(std::span<const uint8_t> buffer, uint32_t returnedSize);

}  // namespace tessaro
