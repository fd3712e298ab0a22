// SPDX-License-Identifier: GPL-2.0-or-later
// The two plug-and-play questions the client asks about a USB device linked to this PC: is its
// device node present, and may it be removed. The bus daemon answers both from the devices
// linked to this PC (control codes 0x222400 and 0x222404 on the Trunk). Like the driver client it
// shows nothing and keeps no state: each call opens the Trunk, asks, and closes it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/DriverClient.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"

namespace tessaro {

class PlugAndPlay {
 public:
  // An instance ID travels NUL-terminated in at most 200 bytes.
  static constexpr size_t kMaxInstanceIdLength = 199;
  // The veto name arrives NUL-terminated in a buffer of this size.
  static constexpr size_t kVetoNameBufferSize = 260;

  PlugAndPlay(BusTransport& bus, Clock& clock) : bus_(bus), driver_(bus, clock) {}

  // True when the device with this instance ID ("USB\Vid_vvvv&Pid_pppp\<instance>") is linked to
  // this PC now. False also when the bus cannot be reached or the ID is longer than
  // kMaxInstanceIdLength (it is not sent then).
  bool LocateDevNode(const std::string& instanceId);

  // Asks the device's server to prepare the device for removal. True when the server answered:
  // `vetoType` is then 0 (no veto) or the veto it gave, `vetoName` its name (cut at its first NUL,
  // at most 259 bytes). False, with both left as they were, when the device is not linked to this
  // PC, the server cannot be reached or refused the request, or the reply is malformed.
  bool RequestDeviceEject(const std::string& instanceId, uint32_t& vetoType, std::string& vetoName);

 private:
  // Sends the instance ID with code `code` on a Trunk opened for the call.
  IoResult Ask(uint32_t code, const std::string& instanceId, uint8_t* output,
               uint32_t outputLength);

  BusTransport& bus_;
  DriverClient driver_;
};

}  // namespace tessaro
