// SPDX-License-Identifier: GPL-2.0-or-later
// The one place that wires a client's services for a test: each test names the parts it holds
// (real or fake) and gets the platform a ClientRuntime runs on, as the program builds it.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/ClientRuntime.h"
#include "platform/linux/FileNamedMutex.h"

namespace tessaro::testing {

struct ClientParts {
  Registry& registry;
  BusTransport& bus;
  Clock& clock;
  Firewall& firewall;
  HostNetwork& network;
  UiPort& ui;
  EventPump* pump;
  MainThread& mainThread;
  Spooler& spooler;
  Shell& shell;
  // The named mutexes that serialise refreshes: this machine's own unless the test counts them.
  std::function<std::unique_ptr<NamedMutex>(const std::string& name)> makeNamedMutex =
      [](const std::string& name) -> std::unique_ptr<NamedMutex> {
    return std::make_unique<FileNamedMutex>(name);
  };
  std::FILE* trace = stdout;
};

inline ClientPlatform TestClientPlatform(const ClientParts& p) {
  return ClientPlatform{MainFormServices{p.registry, p.bus, p.clock, p.firewall, p.network, p.ui,
                                         p.pump, p.makeNamedMutex, p.trace},
                        p.mainThread, p.spooler, p.shell};
}

}  // namespace tessaro::testing
