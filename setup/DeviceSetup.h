// SPDX-License-Identifier: GPL-2.0-or-later
// Manage Device and TroubleShooting from the device menu: a run of the wizard for the selected
// row, and what it leaves behind in the device entry, the scanner identities, the auto-connect
// printer list, its monitors and the rows.
#pragma once

#include <cstddef>

#include "autoconnect/PrinterMakers.h"
#include "devices/DeviceListModel.h"
#include "platform/Registry.h"
#include "records/ClientState.h"
#include "setup/SetupAdapters.h"

namespace tessaro::setup {

// The form that shows a run and returns once it has ended.
class SetupWindow {
 public:
  virtual ~SetupWindow() = default;
  virtual RunEnd Run(SetupWizard& wizard) = 0;
};

struct DeviceSetupServices {
  Registry& registry;  // the user's hive
  ClientState& state;
  DeviceListModel& rows;
  DriverClient& driver;
  PrintMonitors* monitors;  // none before the running parts have started
  EventPump& pump;
  SetupSleeper& sleeper;  // the pause after linking (PumpSleeper)
  Spooler& spooler;
  PrintQueueAdmin& queues;
  UiPort& ui;
  const PrinterMakerTable& makers;
  SystemSetupSources::SourceNames scannerSources;
};

// Maker sections as the lists use them: the first line's value is the vendor ID.
std::vector<MakerSection> MakerSectionsOf(const PrinterMakerTable& table);

class DeviceSetup {
 public:
  DeviceSetup(DeviceSetupServices services, SetupWindow& window);

  // The printer command (printers and MFPs) and the scanner command (scanners and unknown
  // devices). A row past the end, a row without a Spur, or a run already open do nothing.
  void ManagePrinter(size_t row);
  void ManageScanner(size_t row);

  // The one wizard, kept between runs.
  const SetupWizard& wizard() const { return wizard_; }

 private:
  struct Opening;
  std::optional<Opening> Open(size_t row);
  void StorePrinterChoice(const DeviceData& device);
  void DropReplacedEntry(size_t replaced);
  // Resumes `queue` when no auto-connect entry binds it any more.
  void ReleaseIfUnbound(const std::string& queue);
  void StoreScanChoice(const DeviceData& device);
  void StoreScannerRecognition(const DeviceData& device, bool wasSetUp);
  // Every row's printer entry index and state text, after the list changed under them.
  void RefreshRows();
  void Finish(const DeviceData& device, bool wasSetUp);

  DeviceSetupServices services_;
  SetupWindow& window_;
  DriverSetupLink link_;
  UiSetupDialogs dialogs_;
  SystemSetupSources sources_;
  SetupWizard wizard_;
  bool running_ = false;
};

}  // namespace tessaro::setup
