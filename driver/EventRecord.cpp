// SPDX-License-Identifier: GPL-2.0-or-later
#include "driver/EventRecord.h"

#include <algorithm>

#include "driver/ReplyParsers.h"

namespace tessaro {

namespace {

constexpr size_t kDeviceListEventEnd = 13;  // server address in bytes 9 to 12
constexpr size_t kRequestNameOffset = 15;

bool ParseRequestToUse(std::span<const uint8_t> r, EventRecord& e) {
  if (r.size() < kRequestNameOffset) return false;
  e.subCode = r[1];
  e.deviceNumber = static_cast<int8_t>(r[2]);
  e.serverIp = IpText(&r[3]);
  e.requesterIp = IpText(&r[7]);
  // The name's length byte is a claim: only the bytes actually received are taken.
  e.requesterName = TextUntilNul(r.subspan(kRequestNameOffset), r[11]);
  return true;
}

}  // namespace

std::string_view EventKindName(int kind) {
  static constexpr std::string_view kNames[] = {"UPDATE_DEVICE_LIST", "UPDATE_BUS_LIST",
                                                "UPDATE_IP", "OP_UBUS_REQUEST_TO_USE_DEVICE",
                                                "OP_UBUS_AUDIO_DATA"};
  if (kind < 1 || kind > 5) return {};
  return kNames[kind - 1];
}

std::optional<EventRecord> ParseEventRecord(std::span<const uint8_t> buffer, int64_t byteCount) {
  if (byteCount <= 0 || buffer.empty()) return std::nullopt;
  const auto r = buffer.first(std::min<size_t>(buffer.size(), static_cast<uint64_t>(byteCount)));
  EventRecord e;
  e.kind = r[0];
  if (e.kind == kEventUpdateDeviceList) {
    if (r.size() < kDeviceListEventEnd) return std::nullopt;
    e.serverIp = IpText(&r[9]);
  } else if (e.kind == kEventRequestToUse) {
    if (!ParseRequestToUse(r, e)) return std::nullopt;
  }
  return e;
}

}  // namespace tessaro
