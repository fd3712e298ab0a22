// SPDX-License-Identifier: GPL-2.0-or-later
// Builders for the driver's reply buffers, so a test states only the fields it is about.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaro::testing {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
inline void AppendText(Bytes& to, const std::string& s) {
  for (char ch : s) to.push_back(static_cast<uint8_t>(ch));
}
// A 32-bit little-endian length field.
inline Bytes Len32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

struct ServerFields {
  std::array<uint8_t, 4> ip{192, 168, 1, 20};
  uint8_t state = 1;
  std::array<uint8_t, 6> mac{0x00, 0x1C, 0xF0, 0xAA, 0x0B, 0x3E};
  uint8_t storageMode = 1;
  std::string name = "Office";
  std::optional<uint32_t> lengthField;  // the name's size when unset
};

inline Bytes ServerEntryBytes(const ServerFields& s) {
  Bytes b(s.ip.begin(), s.ip.end());
  Append(b, Len32(s.state));
  b.insert(b.end(), s.mac.begin(), s.mac.end());
  Append(b, Len32(s.storageMode));
  Append(b, Len32(s.lengthField.value_or(static_cast<uint32_t>(s.name.size()))));
  AppendText(b, s.name);
  return b;
}

// An 8-byte list header (byte 0 and the count in byte 4) followed by the entries.
inline Bytes ListReply(uint8_t byte0, uint8_t count, const std::vector<Bytes>& entries) {
  Bytes b{byte0, 0, 0, 0, count, 0, 0, 0};
  for (const auto& e : entries) Append(b, e);
  return b;
}

inline Bytes ServerListReply(const std::vector<ServerFields>& servers) {
  std::vector<Bytes> entries;
  for (const auto& s : servers) entries.push_back(ServerEntryBytes(s));
  return ListReply(1, static_cast<uint8_t>(servers.size()), entries);
}

struct DeviceFields {
  uint8_t number = 3;
  uint16_t vendorId = 0x04F9;
  uint16_t productId = 0x0042;
  uint8_t lockKind = 0;
  uint8_t lockCount = 0;
  std::array<std::string, 5> texts{"PRINTER", "", "Lumenco", "LZ-2040", "SER1"};
  std::array<std::optional<uint32_t>, 5> lengthFields{};  // the text sizes when unset
  Bytes trailing{0};                                      // the block count and the blocks
};

inline Bytes DeviceEntryBytes(const DeviceFields& d) {
  Bytes b{d.number,
          uint8_t(d.vendorId),
          uint8_t(d.vendorId >> 8),
          uint8_t(d.productId),
          uint8_t(d.productId >> 8),
          d.lockKind,
          d.lockCount};
  for (size_t i = 0; i < 5; ++i) {
    Append(b, Len32(d.lengthFields[i].value_or(static_cast<uint32_t>(d.texts[i].size()))));
  }
  for (const auto& t : d.texts) AppendText(b, t);
  Append(b, d.trailing);
  return b;
}

inline Bytes DeviceListReply(const std::vector<DeviceFields>& devices) {
  std::vector<Bytes> entries;
  for (const auto& d : devices) entries.push_back(DeviceEntryBytes(d));
  return ListReply(1, static_cast<uint8_t>(devices.size()), entries);
}

// The version reply: byte 0 set, parts in bytes 4 to 6.
inline Bytes VersionReply(uint8_t a, uint8_t b, uint8_t c) { return {1, 0, 0, 0, a, b, c, 0}; }
// The address reply: total length 8, the address after the 4-byte header.
inline Bytes AddressReply(std::array<uint8_t, 4> ip) {
  return {8, 0, 0, 0, ip[0], ip[1], ip[2], ip[3]};
}

// A buffer of `size` zero bytes with `data` at its start: what a caller's buffer holds after
// the reply was copied in.
inline Bytes InBuffer(const Bytes& data, size_t size) {
  Bytes b(size, 0);
  for (size_t i = 0; i < data.size() && i < size; ++i) b[i] = data[i];
  return b;
}

}  // namespace tessaro::testing
