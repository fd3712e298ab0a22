// SPDX-License-Identifier: GPL-2.0-or-later
// demo_enable_servers NAME=IP=MAC...: stores an enabled server entry for each server in the user
// hive, as if the user had enabled them from the tray menu.
#include <cstdio>
#include <string>

#include "app/Settings.h"
#include "autoconnect/AutoConnectStore.h"
#include "platform/linux/SqliteRegistry.h"

int main(int argc, char** argv) {
  tessaro::SqliteRegistry registry;
  for (int i = 1; i < argc; ++i) {
    const std::string spec = argv[i];
    const auto first = spec.find('=');
    const auto second = spec.find('=', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
      std::fprintf(stderr, "usage: demo_enable_servers NAME=IP=MAC...\n");
      return 2;
    }
    tessaro::ServerInfoReg entry;
    entry.ServerName = spec.substr(0, first);
    entry.ServerIP = spec.substr(first + 1, second - first - 1);
    entry.ServerMAC = spec.substr(second + 1);
    entry.ServerEnable = 1;
    if (!tessaro::WriteServerEntry(registry, tessaro::AppRegistryKey, entry)) {
      std::fprintf(stderr, "demo_enable_servers: could not store %s\n", argv[i]);
      return 1;
    }
  }
  return 0;
}
