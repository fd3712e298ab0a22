// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/Firewall.h"

namespace tessaro {

namespace {

constexpr uint32_t kOutOfMemory = 0x8007000E;  // what an empty name has always reported
constexpr size_t kMaxText = 1023;

std::string Limited(const std::string& text) { return text.substr(0, kMaxText); }

void Trace(std::FILE* out, const char* format, uint32_t code) {
  std::fprintf(out, format, static_cast<unsigned long>(code));
}

// Reaches the active profile; on failure the failing step has printed its line.
bool OpenProfile(Firewall& firewall, std::FILE* out) {
  if (const uint32_t hr = firewall.Connect()) {
    Trace(out, "CoCreateInstance failed: 0x%08lx\n", hr);
    return false;
  }
  if (const uint32_t hr = firewall.OpenProfile()) {
    Trace(out, "get_LocalPolicy failed: 0x%08lx\n", hr);
    return false;
  }
  return true;
}

// 0, or the code of the step that failed (its line printed).
uint32_t AddPort(Firewall& firewall, long port, int protocol, const std::string& name,
                 std::FILE* out) {
  const auto entry = firewall.FindPort(port, protocol);
  if (entry.result != 0) {
    Trace(out, "get_GloballyOpenPorts failed: 0x%08lx\n", entry.result);
    Trace(out, "WindowsFirewallPortIsEnabled failed: 0x%08lx\n", entry.result);
    return entry.result;
  }
  if (entry.found && entry.enabled) {
    std::fprintf(out, "Port %ld is open in the firewall.\n", port);
    return 0;
  }
  std::fprintf(out, "Port %ld is not open in the firewall.\n", port);
  if (name.empty()) {
    Trace(out, "SysAllocString failed: 0x%08lx\n", kOutOfMemory);
    return kOutOfMemory;
  }
  if (const uint32_t hr = firewall.AddPort(port, protocol, name)) {
    Trace(out, "Add failed: 0x%08lx\n", hr);
    return hr;
  }
  std::fprintf(out, "Port %ld is now open in the firewall.\n", port);
  return 0;
}

uint32_t AddApplication(Firewall& firewall, const std::string& path, const std::string& name,
                        std::FILE* out) {
  const auto entry = firewall.FindApplication(path);
  if (entry.result != 0) {
    Trace(out, "get_AuthorizedApplications failed: 0x%08lx\n", entry.result);
    Trace(out, "WindowsFirewallAppIsEnabled failed: 0x%08lx\n", entry.result);
    return entry.result;
  }
  if (entry.found && entry.enabled) {
    std::fprintf(out, "Authorized application %s is enabled in the firewall.\n", path.c_str());
    return 0;
  }
  std::fprintf(out, "Authorized application %s is disabled in the firewall.\n", path.c_str());
  if (path.empty() || name.empty()) {
    Trace(out, "SysAllocString failed: 0x%08lx\n", kOutOfMemory);
    return kOutOfMemory;
  }
  if (const uint32_t hr = firewall.AddApplication(path, name)) {
    Trace(out, "Add failed: 0x%08lx\n", hr);
    return hr;
  }
  std::fprintf(out, "Authorized application %s is now enabled in the firewall.\n", path.c_str());
  return 0;
}

}  // namespace

bool AuthorizeApplication(Firewall& firewall, const std::string& imagePath, const std::string& name,
                          std::FILE* out) {
  if (!OpenProfile(firewall, out)) return false;
  if (const uint32_t hr = AddApplication(firewall, Limited(imagePath), Limited(name), out)) {
    Trace(out, "WindowsFirewallAddApp failed: 0x%08lx\n", hr);
    return false;
  }
  return true;
}

bool OpenFirewallPort(Firewall& firewall, long port, int protocol, const std::string& name,
                      std::FILE* out) {
  if (!OpenProfile(firewall, out)) return false;
  if (const uint32_t hr = AddPort(firewall, port, protocol, Limited(name), out)) {
    Trace(out, "WindowsFirewallPortAdd failed: 0x%08lx\n", hr);
    return false;
  }
  return true;
}

}  // namespace tessaro
