// SPDX-License-Identifier: GPL-2.0-or-later
#include "autoconnect/AutoConnectLists.h"

#include "autoconnect/AutoConnectStore.h"
#include "host/WindowsVersion.h"

namespace tessaro {

namespace {

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

void LoadAutoConnectLists(Registry& registry, const std::string& appKey, AutoLinkList& printers,
                          AutoLinkList& faxes) {
  std::vector<std::string> names;
  ListAutoConnectKeys(registry, appKey, names);
  for (std::size_t i = 0; i < names.size(); ++i) {
    AutoConnectInfo info;
    if (!ReadDeviceEntryAt(registry, appKey, i, info)) return;
    const std::string& name = names[i];
    if (Contains(name, "&Vid_&Pid_")) continue;
    if (!Contains(name, "&Vid") || !Contains(name, "&Pid_")) continue;  // a server entry
    if (info.Key().EntryName() != name) continue;
    if (info.PrinterName.empty() && info.FaxPrinterName.empty()) continue;
    if (!info.PrinterName.empty() && info.PrinterEnable) {
      printers.push_back(AutoLinkPrinter::For(info.Key(), info.PrinterName, info.PrinterPort));
    }
    if (!info.FaxPrinterName.empty() && info.FaxEnable) {
      faxes.push_back(AutoLinkPrinter::For(info.Key(), info.FaxPrinterName, info.FaxPrinterPort));
    }
  }
}

bool LoadScannerIdList(Registry& registry, const std::string& appKey,
                       std::vector<std::string>& scannerIds) {
  std::vector<std::string> names;
  const bool opened = ListScannerIds(registry, appKey, names);
  scannerIds.clear();
  for (std::string& name : names) {
    if (Contains(name, "Vid_") && Contains(name, "&Pid_")) scannerIds.push_back(std::move(name));
  }
  return opened;
}

int32_t FindAutoLinkEntry(const AutoLinkList& list, const std::string& serverMac,
                          const std::string& identityText, std::string& printerName) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    const AutoLinkPrinter& entry = *list[i];
    if (entry.ServerMAC == serverMac && entry.Key().IdentityText() == identityText) {
      printerName = entry.PrinterName;
      return static_cast<int32_t>(i);
    }
  }
  printerName.clear();
  return -1;
}

std::string FirstRunGateway(Registry& registry, const std::string& appKey,
                            uint32_t windowsVersionFlags,
                            const std::vector<std::string>& defaultGateways) {
  if ((windowsVersionFlags & kWinNT4) || defaultGateways.empty()) return {};
  std::vector<std::string> stored;
  ListAutoConnectKeys(registry, appKey, stored);
  return stored.empty() ? defaultGateways.front() : std::string();
}

}  // namespace tessaro
