// SPDX-License-Identifier: GPL-2.0-or-later
// The wizard's interfaces over the running program: the driver client for the device, the
// print monitors, the spooler and the scanners for the lists, and the message boxes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "devices/DeviceListModel.h"
#include "driver/DriverClient.h"
#include "platform/EventPump.h"
#include "platform/PrintQueueAdmin.h"
#include "platform/Spooler.h"
#include "platform/UiPort.h"
#include "printing/PrintMonitors.h"
#include "setup/MonitorChanges.h"
#include "setup/SetupWizard.h"

namespace tessaro::setup {

// The device of one run, reached through its server's Spur.
class DriverSetupLink : public SetupDeviceLink {
 public:
  DriverSetupLink(DriverClient& driver, const DeviceListModel& rows,
                  const std::string& computerName);
  void Target(const DeviceData& device) { device_ = device; }
  bool Link() override;
  bool Lock(int kind, int seconds) override;
  bool Unlock(int kind, int seconds) override;
  bool Unlink() override;
  // Asked of the device's row as the list shows it now, not of the snapshot.
  bool UsedByThisPc() override;

 private:
  DriverClient& driver_;
  const DeviceListModel& rows_;
  const std::string& computerName_;
  DeviceData device_;
};

// The printer list's monitors, stopped while the main thread's events keep running.
class ListMonitors : public SetupMonitors {
 public:
  ListMonitors(PrintMonitors& monitors, AutoLinkList& list, EventPump& pump)
      : monitors_(monitors), list_(list), pump_(pump) {}
  void Stop(int index) override;
  void Start(int index) override;

 private:
  PrintMonitors& monitors_;
  AutoLinkList& list_;
  EventPump& pump_;
};

// The queues of the spooler, the scanners' data sources and the queue the user may add.
class SystemSetupSources : public SetupSources {
 public:
  using SourceNames = std::function<std::vector<std::string>()>;
  SystemSetupSources(Spooler& spooler, PrintQueueAdmin& queues, SourceNames scanners)
      : spooler_(spooler), queues_(queues), scanners_(std::move(scanners)) {}
  std::vector<PrinterRow> Printers() override;
  bool PrinterExists(const std::string& name) override;
  std::vector<std::string> ScannerSources() override;
  Result<std::string> AddPrintQueue(const SetupDeviceIdentity& device) override;

 private:
  Spooler& spooler_;
  PrintQueueAdmin& queues_;
  SourceNames scanners_;
};

// The wizard's messages in the program's message boxes, captioned with the product's name and
// on top, as a warning; errors as plain boxes like the device commands' own.
class UiSetupDialogs : public SetupDialogs {
 public:
  explicit UiSetupDialogs(UiPort& ui) : ui_(ui) {}
  void ShowError(const std::string& text) override;
  bool AskYesNo(const std::string& question) override;
  bool AskOkCancel(const std::string& question) override;
  void ShowNote(const std::string& text) override;

 private:
  UiPort& ui_;
};

// Pauses while the main thread's events keep running.
class PumpSleeper : public SetupSleeper {
 public:
  explicit PumpSleeper(EventPump& pump) : pump_(pump) {}
  void Pause(std::chrono::milliseconds step) override;

 private:
  EventPump& pump_;
};

// The device's print queue URI, as the backend reads it; empty when the MAC cannot be read.
std::string DeviceQueueUri(const SetupDeviceIdentity& device);

}  // namespace tessaro::setup
