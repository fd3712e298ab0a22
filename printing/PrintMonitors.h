// SPDX-License-Identifier: GPL-2.0-or-later
// StartPrintMonitors and StopPrintMonitors: one print monitor per auto-connect entry, never two,
// started by the refresh timer and the device setup, stopped before an entry changes and at
// close. The owner keeps the monitors; each entry's Thread points at its own.
#pragma once

#include <map>
#include <memory>
#include <optional>

#include "platform/EventPump.h"
#include "printing/PrintThread.h"
#include "records/AutoConnectRecords.h"

namespace tessaro {

enum class MonitorList { Printer, Fax };

class PrintMonitors {
 public:
  explicit PrintMonitors(PrintMonitorServices services) : services_(std::move(services)) {}
  // Monitors still running are asked to stop and waited for (without serving the main thread:
  // stop them with StopPrintMonitors first).
  ~PrintMonitors();
  PrintMonitors(const PrintMonitors&) = delete;
  PrintMonitors& operator=(const PrintMonitors&) = delete;

  // Starts a monitor for every entry of `list` (or only the one at `index`) that has none
  // running: locked for kAutoLockSeconds, unlocked with kFaxUnlockLingerSeconds for faxes. A
  // monitor that has ended is replaced.
  void StartPrintMonitors(AutoLinkList& list, MonitorList kind,
                          std::optional<size_t> index = std::nullopt);

  // Asks the chosen monitors to stop, then waits for each in turn while the main thread's
  // events run (a monitor may be handing it a look-up). The wait has no limit, not even when the
  // session ends: a monitor left running would use the lists and the spooler after they are
  // freed, and one asked to stop ends within a fraction of a second (it takes no device and,
  // when the session ends, leaves its queue as it is).
  void StopPrintMonitors(AutoLinkList& list, EventPump& pump,
                         std::optional<size_t> index = std::nullopt);

  // Monitors started from now on report what they do to `sink` (null: to nobody).
  void ReportActionsTo(MonitorActionSink* sink) { actions_ = sink; }

  // The monitor of `entry`, while it has one.
  TPrintThread* MonitorOf(const AutoLinkPrinter& entry) const;

 private:
  PrintMonitorServices services_;
  MonitorActionSink* actions_ = nullptr;
  std::map<const AutoLinkPrinter*, std::unique_ptr<TPrintThread>> monitors_;
};

}  // namespace tessaro
