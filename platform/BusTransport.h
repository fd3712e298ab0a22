// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/WinError.h"

namespace tessaro {

// The two device-interface classes of the virtual bus.
enum class InterfaceClass { Trunk, Spur };

// An open interface. Like a kernel handle it is a plain value: copies may outlive the Close,
// and every call on a closed or unknown handle fails with kErrorInvalidHandle.
using BusHandle = std::int64_t;
inline constexpr BusHandle kInvalidBusHandle = -1;

// The bus answers with Windows error codes (bus IPC replies carry them unchanged).
namespace buserr = winerr;

struct IoResult {
  bool ok = false;             // the call returned TRUE
  uint32_t error = 0;          // the error code when !ok
  uint32_t bytesReturned = 0;  // may exceed the output buffer; only what fits was copied
};

// The virtual bus as a program sees it: interface enumeration, open, control requests and the
// event read. Implementations are safe to call from several threads at once; each handle
// serialises its own control requests.
class BusTransport {
 public:
  virtual ~BusTransport() = default;

  // Device paths of a class's interfaces in enumeration order, or nullopt when the class cannot
  // be listed at all.
  virtual std::optional<std::vector<std::string>> ListInterfaces(InterfaceClass cls) = 0;
  virtual BusHandle Open(const std::string& devicePath) = 0;  // kInvalidBusHandle on failure
  virtual void Close(BusHandle handle) = 0;

  // One control request. `input` and `output` may be the same buffer. At most `outputLength`
  // bytes are copied to `output`, and nothing at all when the call fails.
  virtual IoResult Control(BusHandle handle, uint32_t code, const void* input, uint32_t inputLength,
                           void* output, uint32_t outputLength) = 0;

  // One event read: blocks until an event record arrives or the reader is woken (ok with 0 bytes).
  virtual IoResult ReadEvent(BusHandle handle, void* buffer, uint32_t length) = 0;
};

}  // namespace tessaro
