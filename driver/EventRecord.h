// SPDX-License-Identifier: GPL-2.0-or-later
// The records the Trunk delivers on its event channel.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tessaro {

inline constexpr uint32_t kEventBufferSize = 2048;

enum EventKind : int {
  kEventUpdateDeviceList = 1,
  kEventUpdateBusList = 2,
  kEventUpdateIp = 3,
  kEventRequestToUse = 4,
  kEventAudioData = 5,
};

// The program's name of a kind; empty for a kind outside 1 to 5.
std::string_view EventKindName(int kind);

struct EventRecord {
  int kind = 0;          // byte 0
  std::string serverIp;  // kinds 1 and 4
  // Kind 4 only.
  int subCode = 0;
  int deviceNumber = 0;  // signed byte
  std::string requesterIp;
  std::string requesterName;

  bool knownKind() const { return !EventKindName(kind).empty(); }
};

// One completed read of `byteCount` bytes. nullopt when nothing was read (a wake, or a
// negative count) or when the record is too short for the fields its kind defines. A kind
// outside 1 to 5 yields a record with just the kind.
std::optional<EventRecord> ParseEventRecord(std::span<const uint8_t> buffer, int64_t byteCount);

}  // namespace tessaro
