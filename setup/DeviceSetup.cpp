// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/DeviceSetup.h"

#include <algorithm>

#include "autoconnect/AutoConnectLists.h"
#include "autoconnect/AutoConnectStore.h"
#include "host/WindowsVersion.h"
#include "records/DeviceTypes.h"
#include "records/StateText.h"

namespace tessaro::setup {
namespace {

SetupDeviceIdentity IdentityOf(const DeviceData& d) {
  return {d.serverName, d.Key(), d.type, d.manufacturer, d.product};
}

std::vector<ChoiceEntry> ChoicesOf(const AutoLinkList& list) {
  std::vector<ChoiceEntry> entries;
  for (const auto& entry : list) entries.push_back({entry->PrinterName, entry->PrinterPort});
  return entries;
}

// Keeps a flag up for the length of a scope.
class Running {
 public:
  explicit Running(bool& flag) : flag_(flag) { flag_ = true; }
  ~Running() { flag_ = false; }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  bool& flag_;
};

}  // namespace

std::vector<MakerSection> MakerSectionsOf(const PrinterMakerTable& table) {
  std::vector<MakerSection> sections;
  for (const PrinterMakerSection& section : table.sections) {
    MakerSection maker;
    for (size_t i = 0; i < section.lines.size(); ++i) {
      if (i == 0) {
        maker.vendorId = section.lines[i].second;
      } else {
        maker.keywords.push_back(section.lines[i].second);
      }
    }
    sections.push_back(std::move(maker));
  }
  return sections;
}

struct DeviceSetup::Opening {
  DeviceData device;
  SetupDevice setupDevice;
  OpeningInput input;
  SetupLists lists;
};

DeviceSetup::DeviceSetup(DeviceSetupServices services, SetupWindow& window)
    : services_(std::move(services)), window_(window),
      link_(services_.driver, services_.rows, services_.state.computerName), dialogs_(services_.ui),
      sources_(services_.spooler, services_.queues, services_.scannerSources),
      wizard_(link_, dialogs_, services_.sleeper, sources_) {}

std::optional<DeviceSetup::Opening> DeviceSetup::Open(size_t row) {
  if (running_ || row >= services_.rows.rowCount()) return std::nullopt;
  Opening opening;
  opening.device = services_.rows.row(row);  // a copy: the rows may change during the run
  if (opening.device.handle == kInvalidBusHandle) return std::nullopt;
  opening.setupDevice = {IdentityOf(opening.device), opening.device.displayName};
  opening.input.entry =
      ReadStoredDeviceEntry(services_.registry, services_.state.appKey, opening.device);
  opening.input.displayName = opening.device.displayName;
  opening.input.olderWindows = IsOlderWindows(services_.state.windowsVersionFlags);
  opening.lists.printers = ChoicesOf(services_.state.autoPrinters);
  opening.lists.faxes = ChoicesOf(services_.state.autoFaxes);
  opening.lists.makers = MakerSectionsOf(services_.makers);
  link_.Target(opening.device);
  return opening;
}

void DeviceSetup::ManagePrinter(size_t row) {
  std::optional<Opening> opening = Open(row);
  if (!opening) return;
  Running running(running_);
  int entryIndex = opening->device.autoPrinterIndex;
  if (entryIndex >= static_cast<int>(services_.state.autoPrinters.size())) entryIndex = -1;
  wizard_.StartPrinterRun(opening->setupDevice, opening->input, opening->lists, entryIndex);
  const bool wasSetUp = wizard_.state().setUp;
  if (window_.Run(wizard_) == RunEnd::Ok && wizard_.state().entryIndex >= 0)
    StorePrinterChoice(opening->device);
  StoreScanChoice(opening->device);
  Finish(opening->device, wasSetUp);
}

void DeviceSetup::ManageScanner(size_t row) {
  std::optional<Opening> opening = Open(row);
  if (!opening) return;
  Running running(running_);
  wizard_.StartScannerRun(opening->setupDevice, opening->input, opening->lists);
  const bool wasSetUp = wizard_.state().setUp;
  if (window_.Run(wizard_) == RunEnd::Ok) StoreScannerRecognition(opening->device, wasSetUp);
  Finish(opening->device, wasSetUp);
}

// The monitors of the touched entries stop before their entries change, so no monitor ever
// reads an entry while it is rewritten or removed.
void DeviceSetup::StorePrinterChoice(const DeviceData& device) {
  const WizardState& state = wizard_.state();
  AutoLinkList& list = services_.state.autoPrinters;
  const std::vector<ChoiceEntry>& chosen = wizard_.lists().printers;
  const auto entry = static_cast<size_t>(state.entryIndex);
  if (entry >= chosen.size() || entry > list.size()) return;
  std::optional<ListMonitors> monitors;
  if (services_.monitors != nullptr) monitors.emplace(*services_.monitors, list, services_.pump);
  if (monitors) {
    monitors->Stop(state.replacedIndex);
    monitors->Stop(state.entryIndex);
  }
  const std::string before = entry < list.size() ? list[entry]->PrinterName : std::string();
  if (entry == list.size()) list.push_back(AutoLinkPrinter::For(device.Key(), {}, {}));
  list[entry]->PrinterName = chosen[entry].printerName;
  list[entry]->PrinterPort = chosen[entry].printerPort;
  WriteDeviceEntry(services_.registry, services_.state.appKey,
                   PrinterEntryAfterSetup(IdentityOf(device), state.printerEnabled, chosen[entry]));
  if (monitors) ApplyMonitorChanges(*monitors, state, static_cast<int>(list.size()));
  // Removed from the back first, so the other index still holds.
  const int replaced = state.replacedIndex;
  const bool dropOwn = !state.printerEnabled;
  if (dropOwn && state.entryIndex > replaced) list.erase(list.begin() + state.entryIndex);
  if (replaced >= 0 && static_cast<size_t>(replaced) < list.size())
    DropReplacedEntry(static_cast<size_t>(replaced));
  if (dropOwn && state.entryIndex < replaced) list.erase(list.begin() + state.entryIndex);
  ReleaseIfUnbound(before);
}

// The stopped monitor left the queue paused; with no entry binding it, nothing would resume it.
void DeviceSetup::ReleaseIfUnbound(const std::string& queue) {
  const auto binds = [&](const AutoLinkList& list) {
    return std::any_of(list.begin(), list.end(),
                       [&](const auto& e) { return e->PrinterName == queue; });
  };
  if (queue.empty() || binds(services_.state.autoPrinters) || binds(services_.state.autoFaxes))
    return;
  services_.spooler.SetQueueHold(queue, QueueHold::Released);
}

void DeviceSetup::DropReplacedEntry(size_t replaced) {
  AutoLinkList& list = services_.state.autoPrinters;
  AutoConnectInfo other = AutoConnectInfo::For(list[replaced]->Key());
  if (ReadDeviceEntry(services_.registry, services_.state.appKey, other)) {
    other.PrinterEnable = 0;
    WriteDeviceEntry(services_.registry, services_.state.appKey, other);
  }
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(replaced));
}

void DeviceSetup::StoreScanChoice(const DeviceData& device) {
  std::optional<AutoConnectInfo> entry =
      ReadStoredDeviceEntry(services_.registry, services_.state.appKey, device);
  if (!entry) return;
  entry->ScanIndex = wizard_.state().scanIndex;
  entry->ScanNameTwain = wizard_.state().scanName;
  WriteDeviceEntry(services_.registry, services_.state.appKey, *entry);
}

void DeviceSetup::StoreScannerRecognition(const DeviceData& device, bool wasSetUp) {
  const WizardState& state = wizard_.state();
  std::vector<std::string>& ids = services_.state.scannerIds;
  const std::string id = ScannerIdentityText(device.vendorId, device.productId);
  const std::string& appKey = services_.state.appKey;
  const char* newType = nullptr;
  if (!wasSetUp) {
    newType = "Scanner";
    AddScannerId(services_.registry, appKey, device.vendorId, device.productId,
                 device.DeviceIdentityText);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  } else if (state.scanIndex == 0) {
    newType = "UNKNOWN";
    RemoveScannerId(services_.registry, appKey, device.vendorId, device.productId);
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
  }
  WriteDeviceEntry(services_.registry, appKey,
                   ScannerEntryAfterSetup(IdentityOf(device), state.scanIndex, state.scanName));
  if (newType == nullptr) return;
  const DeviceData* row =
      services_.rows.FindDeviceRow(device.serverName, device.serverIp, device.DeviceIdentityText);
  if (const auto index = services_.rows.IndexOf(row))
    services_.rows.EditRow(*index, [&](DeviceData& d) { d.type = newType; });
}

void DeviceSetup::RefreshRows() {
  for (size_t i = 0; i < services_.rows.rowCount(); ++i) {
    const DeviceData& d = services_.rows.row(i);
    if (IsType(d.type, devtype::kMassStorage)) continue;  // holds its storage mode instead
    std::string name;
    const int32_t index =
        FindAutoLinkEntry(services_.state.autoPrinters, d.serverMac, d.DeviceIdentityText, name);
    if (index == d.autoPrinterIndex && name == d.autoPrinterName) continue;
    services_.rows.EditRow(i, [&](DeviceData& row) {
      row.autoPrinterIndex = index;
      row.autoPrinterName = name;
      UpdateStateText(row, services_.state.scannerIds, services_.state.computerName);
    });
  }
}

void DeviceSetup::Finish(const DeviceData& device, bool wasSetUp) {
  // Every run, even when the device's own row has gone: other rows' entries may have moved.
  RefreshRows();
  const DeviceData* row =
      services_.rows.FindDeviceRow(device.serverName, device.serverIp, device.DeviceIdentityText);
  const auto index = services_.rows.IndexOf(row);
  if (!index) return;
  services_.rows.EditRow(*index, [&](DeviceData& d) {
    UpdateStateText(d, services_.state.scannerIds, services_.state.computerName);
  });
  if (ReleaseAfterRun(wasSetUp, IsOlderWindows(services_.state.windowsVersionFlags)))
    ReleaseDevice(link_, dialogs_);
}

}  // namespace tessaro::setup
