// SPDX-License-Identifier: GPL-2.0-or-later
#include "driver/PlugAndPlay.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/ByteOrder.h"
#include "protocol/BusFrame.h"

namespace tessaro {

namespace {
constexpr uint32_t kVetoTypeSize = 4;
}  // namespace

IoResult PlugAndPlay::Ask(uint32_t code, const std::string& instanceId, uint8_t* output,
                          uint32_t outputLength) {
  // The text goes as a C string: up to its first NUL, which is sent with it.
  const size_t length = std::strlen(instanceId.c_str());
  if (length > kMaxInstanceIdLength) return IoResult{false, buserr::kInvalidParameter, 0};
  const BusHandle trunk = driver_.OpenTrunk();
  if (trunk == kInvalidBusHandle) return IoResult{false, buserr::kInvalidHandle, 0};
  const IoResult r = bus_.Control(trunk, code, instanceId.c_str(),
                                  static_cast<uint32_t>(length + 1), output, outputLength);
  bus_.Close(trunk);
  return r;
}

bool PlugAndPlay::LocateDevNode(const std::string& instanceId) {
  return Ask(busipc::code::kDeviceNodePresent, instanceId, nullptr, 0).ok;
}

bool PlugAndPlay::RequestDeviceEject(const std::string& instanceId, uint32_t& vetoType,
                                     std::string& vetoName) {
  std::vector<uint8_t> buffer(kVetoTypeSize + kVetoNameBufferSize, 0);
  const IoResult r = Ask(busipc::code::kRequestEject, instanceId, buffer.data(),
                         static_cast<uint32_t>(buffer.size()));
  if (!r.ok || r.bytesReturned < kVetoTypeSize) return false;
  // Only what was returned and fits the buffer counts; the name ends at its NUL or there.
  const size_t end = std::min<size_t>(r.bytesReturned, buffer.size());
  const auto first = buffer.begin() + kVetoTypeSize;
  const auto last = std::find(first, buffer.begin() + static_cast<std::ptrdiff_t>(end), uint8_t{0});
  vetoType = GetU32(buffer.data());
  vetoName.assign(first, std::min(last, first + kVetoNameBufferSize - 1));
  return true;
}

}  // namespace tessaro
