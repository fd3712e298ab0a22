// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/SetupAdapters.h"

#include <algorithm>
#include <thread>

#include "base/NumberText.h"
#include "base/Product.h"
#include "printing/DeviceUri.h"
#include "printing/PortTypes.h"

namespace tessaro::setup {

DriverSetupLink::DriverSetupLink(DriverClient& driver, const DeviceListModel& rows,
                                 const std::string& computerName)
    : driver_(driver), rows_(rows), computerName_(computerName) {}

bool DriverSetupLink::Link() { return driver_.LinkDevice(device_.handle, device_.deviceNumber); }

bool DriverSetupLink::Lock(int kind, int seconds) {
  return driver_.LockDevice(device_.handle, device_.deviceNumber, static_cast<LockKind>(kind),
                            static_cast<uint32_t>(seconds));
}

bool DriverSetupLink::Unlock(int kind, int seconds) {
  return driver_.UnlockDevice(device_.handle, device_.deviceNumber, static_cast<LockKind>(kind),
                              static_cast<uint32_t>(seconds));
}

bool DriverSetupLink::Unlink() {
  return driver_.UnlinkDevice(device_.handle, device_.deviceNumber);
}

bool DriverSetupLink::UsedByThisPc() {
  const DeviceData* row =
      rows_.FindDeviceRow(device_.serverName, device_.serverIp, device_.DeviceIdentityText);
  return row != nullptr && row->handle != kInvalidBusHandle && row->owner == computerName_;
}

void ListMonitors::Stop(int index) {
  if (index < 0 || static_cast<size_t>(index) >= list_.size()) return;
  monitors_.StopPrintMonitors(list_, pump_, static_cast<size_t>(index));
}

void ListMonitors::Start(int index) {
  if (index < 0 || static_cast<size_t>(index) >= list_.size()) return;
  monitors_.StartPrintMonitors(list_, MonitorList::Printer, static_cast<size_t>(index));
}

std::vector<PrinterRow> SystemSetupSources::Printers() {
  std::vector<PrinterRow> rows;
  for (const tessaro::PrinterRow& printer : ListWindowsPrinters(spooler_))
    rows.push_back({printer.caption, printer.port, printer.type.value_or(porttype::kOther)});
  return rows;
}

bool SystemSetupSources::PrinterExists(const std::string& name) {
  const auto printers = spooler_.Printers();
  // A spooler that cannot answer cannot tell: the choice stands.
  if (!printers) return true;
  return std::any_of(printers->begin(), printers->end(),
                     [&](const SpoolerPrinter& p) { return p.name == name; });
}

std::vector<std::string> SystemSetupSources::ScannerSources() {
  return scanners_ ? scanners_() : std::vector<std::string>{};
}

namespace {

// A USB ID as the device list writes it: one to four hex digits, nothing else.
std::optional<uint16_t> HexId(const std::string& text) {
  if (text.size() > 4) return std::nullopt;
  return ParseNumber<uint16_t>(text, 16);
}

}  // namespace

std::string DeviceQueueUri(const SetupDeviceIdentity& device) {
  auto mac = ParseMac(device.key.serverMac, ':');
  if (!mac) mac = ParseMac(device.key.serverMac, '-');
  if (!mac) return {};
  DeviceUri uri;
  uri.mac = *mac;
  const auto vendor = HexId(device.key.vendorId);
  const auto product = HexId(device.key.productId);
  if (!vendor || !product) return {};
  uri.vendorId = *vendor;
  uri.productId = *product;
  if (!device.key.serial.empty()) uri.serial = device.key.serial;
  return FormatDeviceUri(uri);
}

Result<std::string> SystemSetupSources::AddPrintQueue(const SetupDeviceIdentity& device) {
  NewPrintQueue queue;
  queue.deviceUri = DeviceQueueUri(device);
  if (queue.deviceUri.empty())
    return Failure("The device's server address cannot be read, so no queue was added.");
  queue.maker = device.manufacturer;
  queue.product = device.product;
  queue.wantedName = device.manufacturer + "_" + device.product;
  queue.info = DeviceDisplayName(device.manufacturer, device.product) + " on " + device.serverName;
  return queues_.AddQueue(queue);
}

void UiSetupDialogs::ShowError(const std::string& text) {
  ui_.ShowMessage({ProductName, text, mb::kOk, true});
}

bool UiSetupDialogs::AskYesNo(const std::string& question) {
  return ui_.ShowMessage({ProductName, question, mb::kYesNo | mb::kIconWarning | mb::kTopMost,
                          true}) == answer::kYes;
}

bool UiSetupDialogs::AskOkCancel(const std::string& question) {
  return ui_.ShowMessage({ProductName, question, mb::kOkCancel | mb::kIconWarning | mb::kTopMost,
                          true}) == answer::kOk;
}

void UiSetupDialogs::ShowNote(const std::string& text) {
  ui_.ShowMessage({ProductName, text, mb::kOk | mb::kIconWarning | mb::kTopMost, true});
}

void PumpSleeper::Pause(std::chrono::milliseconds step) {
  pump_.ProcessPendingEvents();
  std::this_thread::sleep_for(step);
  pump_.ProcessPendingEvents();
}

}  // namespace tessaro::setup
