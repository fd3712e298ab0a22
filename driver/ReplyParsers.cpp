// SPDX-License-Identifier: GPL-2.0-or-later
#include "driver/ReplyParsers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/ByteOrder.h"
#include "base/Ipv4Text.h"

namespace tessaro {

namespace {

constexpr size_t kListHeaderSize = 8;
constexpr size_t kServerEntryFixedSize = 22;

// The driver's 32-bit lengths and counts are read by their first byte only, as a signed value.
int SignedFirstByte(uint32_t littleEndianField) {
  return static_cast<int8_t>(static_cast<uint8_t>(littleEndianField & 0xFF));
}
int SignedByte(uint8_t b) { return static_cast<int8_t>(b); }

ServerEntry ParseServerEntry(std::span<const uint8_t> e, size_t nameLength) {
  ServerEntry s;
  s.ip = IpText(&e[0]);
  s.state = std::to_string(SignedByte(e[4]));
  s.mac = MacText(&e[8]);
  s.storageMode = SignedByte(e[14]);
  s.name = TextUntilNul(e.subspan(kServerEntryFixedSize, nameLength), nameLength);
  return s;
}

// A driver text: `length` bytes of the record, kept up to 63 bytes and its first NUL.
std::string ReadDriverText(ByteReader& r, int length) {
  if (length < 0) {
    r.Bytes(SIZE_MAX);  // a negative length marks the record as malformed
    return {};
  }
  return TextUntilNul(r.Bytes(static_cast<size_t>(length)), kMaxDriverTextLength);
}

// The blocks after the texts carry nothing the client uses; they are only skipped.
void SkipTrailingBlocks(ByteReader& r) {
  const int count = SignedByte(r.U8());
  for (int i = 0; i < count && r.ok(); ++i) {
    const int a = SignedFirstByte(r.U32());
    const int b = SignedFirstByte(r.U32());
    if (a < 0 || b < 0) {
      r.Bytes(SIZE_MAX);
      return;
    }
    r.Bytes(static_cast<size_t>(a));
    r.Bytes(static_cast<size_t>(b));
  }
}

// One device record from the reader; nullopt when it does not lie whole inside the buffer.
std::optional<DeviceEntry> ReadDeviceEntry(ByteReader& r) {
  DeviceEntry d;
  d.deviceNumber = SignedByte(r.U8());
  d.vendorId = UsbIdText(r.U16());
  d.productId = UsbIdText(r.U16());
  d.lockKind = SignedByte(r.U8());
  d.lockCount = SignedByte(r.U8());
  int lengths[5];
  for (int& l : lengths) l = SignedFirstByte(r.U32());
  std::string* texts[5] = {&d.type, &d.owner, &d.manufacturer, &d.product, &d.serial};
  for (int i = 0; i < 5; ++i) *texts[i] = ReadDriverText(r, lengths[i]);
  SkipTrailingBlocks(r);
  if (!r.ok()) return std::nullopt;
  return d;
}

}  // namespace

std::string IpText(const uint8_t* p) {
  uint32_t networkOrder = 0;
  std::memcpy(&networkOrder, p, 4);
  return FormatIpv4(networkOrder);
}

std::string MacText(const uint8_t* p) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", p[0], p[1], p[2], p[3], p[4],
                p[5]);
  return text;
}

std::string UsbIdText(uint16_t id) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id));
  return text;
}

std::string TextUntilNul(std::span<const uint8_t> bytes, size_t maxLength) {
  const auto limited = bytes.first(std::min(bytes.size(), maxLength));
  const auto nul = std::find(limited.begin(), limited.end(), uint8_t{0});
  return std::string(limited.begin(), nul);
}

std::optional<std::vector<ServerEntry>> ParseServerList(std::span<const uint8_t> buffer,
                                                        uint32_t returnedSize) {
  if (returnedSize > buffer.size()) return std::nullopt;
  const auto received = buffer.first(returnedSize);
  if (received.empty() || received[0] == 0) return std::nullopt;
  std::vector<ServerEntry> entries;
  const int count = received.size() > 4 ? SignedByte(received[4]) : 0;
  size_t offset = kListHeaderSize;
  for (int i = 0; i < count && entries.size() < kMaxServerEntries; ++i) {
    if (offset + kServerEntryFixedSize > received.size()) break;
    const int nameLength = SignedFirstByte(GetU32(&received[offset + 18]));
    if (nameLength < 0) break;
    const size_t entrySize = kServerEntryFixedSize + static_cast<size_t>(nameLength);
    if (offset + entrySize > received.size()) break;
    entries.push_back(
        ParseServerEntry(received.subspan(offset, entrySize), static_cast<size_t>(nameLength)));
    offset += entrySize;
  }
  return entries;
}

std::optional<std::vector<DeviceEntry>> ParseDeviceList(std::span<const uint8_t> buffer,
                                                        uint32_t returnedSize) {
  if (returnedSize > kDeviceListBufferSize) return std::nullopt;
  const auto listed = buffer.first(std::min<size_t>(buffer.size(), kDeviceListBufferSize));
  std::vector<DeviceEntry> entries;
  const int count = listed.size() > 4 ? SignedByte(listed[4]) : 0;
  if (count <= 0 || listed.size() < kListHeaderSize) return entries;
  ByteReader reader(listed.subspan(kListHeaderSize));
  for (int i = 0; i < count; ++i) {
    auto entry = ReadDeviceEntry(reader);
    if (!entry) break;
    entries.push_back(std::move(*entry));
  }
  return entries;
}

std::optional<std::string> ParseVersion(std::span<const uint8_t> buffer, uint32_t returnedSize) {
  constexpr size_t kVersionEnd = 7;  // parts in bytes 4, 5 and 6
  if (returnedSize > kQueryBufferSize || returnedSize < kVersionEnd) return std::nullopt;
  if (buffer.size() < kVersionEnd || buffer[0] == 0) return std::nullopt;
  return std::to_string(SignedByte(buffer[4])) + "." + std::to_string(SignedByte(buffer[5])) + "." +
         std::to_string(SignedByte(buffer[6]));
}

std::optional<std::string> ParseSpurAddress(std::span<const uint8_t> buffer,
                                            uint32_t returnedSize) {
  constexpr size_t kAddressEnd = 8;  // header of 4 bytes, then the address
  if (returnedSize > kQueryBufferSize || returnedSize < kAddressEnd) return std::nullopt;
  if (buffer.size() < kAddressEnd || buffer[0] == 0) return std::nullopt;
  const int declaredLength = SignedByte(buffer[0]);
  if (declaredLength < static_cast<int>(kAddressEnd)) return std::nullopt;
  return IpText(&buffer[4]);
}

}  // namespace tessaro
