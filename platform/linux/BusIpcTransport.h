// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual bus reached over Unix sockets in the runtime folder: an interface is a socket
// whose file name is a decimal number, a handle owns the connections opened to it.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/BusTransport.h"

namespace tessaro {

// $TESSARO_RUNTIME_DIR, or busd's default runtime folder.
std::string BusRuntimeDirFromEnvironment();

class BusIpcTransport : public BusTransport {
 public:
  // How long a control request waits for its reply before it fails with 1460 (ERROR_TIMEOUT).
  // busd answers every control request within seconds; event reads wait as long as they must.
  static constexpr std::chrono::milliseconds kControlReplyTimeout{12000};

  explicit BusIpcTransport(std::string runtimeDir,
                           std::chrono::milliseconds controlTimeout = kControlReplyTimeout);
  ~BusIpcTransport() override;

  std::optional<std::vector<std::string>> ListInterfaces(InterfaceClass cls) override;
  BusHandle Open(const std::string& devicePath) override;
  // Shuts the handle's connections down, so a read blocked on them returns at once.
  void Close(BusHandle handle) override;
  IoResult Control(BusHandle handle, uint32_t code, const void* input, uint32_t inputLength,
                   void* output, uint32_t outputLength) override;
  IoResult ReadEvent(BusHandle handle, void* buffer, uint32_t length) override;

 private:
  struct Connection;
  struct Handle;
  std::shared_ptr<Handle> Find(BusHandle handle);
  std::shared_ptr<Connection> EventConnection(Handle& handle);

  std::string runtimeDir_;
  std::chrono::milliseconds controlTimeout_;
  std::mutex tableMutex_;
  std::unordered_map<BusHandle, std::shared_ptr<Handle>> handles_;
  BusHandle nextHandle_ = 1;
};

}  // namespace tessaro
