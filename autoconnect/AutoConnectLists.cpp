// SPDX-License-Identifier: GPL-2.0-or-later
#include "autoconnect/AutoConnectLists.h"

#include "autoconnect/AutoConnectStore.h"
#include "host/WindowsVersion.h"
#include "records/Records.h"

namespace tessaro {

namespace {

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

std::unique_ptr<AutoLinkPrinter> MakeEntry(const AutoConnectInfo& info, const std::string& name,
                                           const std::string& port) {
  auto entry = std::make_unique<AutoLinkPrinter>();
  entry->ServerIP = info.ServerIP;
  entry->ServerMAC = info.ServerMAC;
  entry->DeviceVid = info.DeviceVid;
  entry->DevicePid = info.DevicePid;
  entry->DeviceSNo = info.DeviceSNo;
  entry->PrinterName = name;
  entry->PrinterPort = port;
  return entry;
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
    if (DeviceEntryName(info) != name) continue;
    if (info.PrinterName.empty() && info.FaxPrinterName.empty()) continue;
    if (!info.PrinterName.empty() && info.PrinterEnable) {
      printers.push_back(MakeEntry(info, info.PrinterName, info.PrinterPort));
    }
    if (!info.FaxPrinterName.empty() && info.FaxEnable) {
      faxes.push_back(MakeEntry(info, info.FaxPrinterName, info.FaxPrinterPort));
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
    if (entry.ServerMAC == serverMac &&
        MakeDeviceIdentityText(entry.DeviceVid, entry.DevicePid, entry.DeviceSNo) == identityText) {
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
