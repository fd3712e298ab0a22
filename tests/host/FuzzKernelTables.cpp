// SPDX-License-Identifier: GPL-2.0-or-later
// Any text as a kernel table: the readers must neither crash nor read past it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/Adapters.h"
#include "host/KernelTables.h"
#include "host/WindowsVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto routes = tessaro::ParseRouteTable(text);
  if (!routes.empty()) (void)tessaro::FirstGatewayOf(routes, routes.front().iface);
  (void)tessaro::ParseUdpLocalPorts(text);
  (void)tessaro::AdapterFrom({"x", text, text, text});
  (void)tessaro::ParseWindowsVersion(text);
  return 0;
}
