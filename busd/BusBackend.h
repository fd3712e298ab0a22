// SPDX-License-Identifier: GPL-2.0-or-later
// What the request dispatch needs from the rest of busd: the server list, attaching, each
// server's cached devices, forwarding device commands and ejects. The daemon's server registry
// implements it; tests and the fuzz target use small fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/WinError.h"
#include "busd/ServerEntry.h"
#include "protocol/HubWire.h"

namespace tessaro::busd {

// busd answers with Windows error codes.
namespace status = winerr;

// A device of an answering server that is linked to this PC.
struct LinkedDevice {
  uint32_t serverIp = 0;
  wire::DeviceInfo device;
};

class BusBackend {
 public:
  virtual ~BusBackend() = default;
  virtual std::vector<ServerEntry> ServerList() const = 0;
  // False for a server not in the list.
  virtual bool AttachServer(uint32_t ip) = 0;
  // The device list of a Spur's server; empty while that server does not answer.
  virtual std::vector<wire::DeviceInfo> Devices(uint32_t ip) const = 0;
  // Sends a command; `done` gets the server's Result later (31 if the connection is lost first).
  // False, without calling `done`, when the server cannot be reached now.
  virtual bool Forward(uint32_t ip, wire::MsgType type, const wire::DeviceCommand& command,
                       std::function<void(uint32_t result)> done) = 0;
  // Sends a piece of a job, its end or its abort (wire::MsgType::WriteData, EndData, AbortData)
  // for device `number`; `done` as for Forward.
  virtual bool SendData(uint32_t ip, wire::MsgType type, uint8_t number,
                        std::span<const uint8_t> data,
                        std::function<void(uint32_t result)> done) = 0;
  // True when the server refuses the rest of a job it dropped (wire 2.2 on), so a job's pieces
  // may go ahead of their Results.
  virtual bool TakesPiecesAhead(uint32_t ip) const = 0;
  // Every device linked to this PC, from the cached lists of the servers that answer now.
  virtual std::vector<LinkedDevice> LinkedDevices() const = 0;
  // Asks the server to prepare a device for removal; `done` gets status 0 and the server's
  // veto, or the error status. False, without calling `done`, when it cannot be reached now.
  virtual bool Eject(uint32_t ip, uint8_t number,
                     std::function<void(uint32_t status, const wire::EjectReply& reply)> done) = 0;
};

}  // namespace tessaro::busd
