// SPDX-License-Identifier: GPL-2.0-or-later
#include "printing/PrintMonitors.h"

#include <chrono>
#include <new>
#include <system_error>
#include <vector>

namespace tessaro {
namespace {
// Shorter than a 200 ms sleep: a monitor handing the main thread a look-up waits for the next poll.
constexpr std::chrono::milliseconds kStopPoll{20};
}  // namespace

PrintMonitors::~PrintMonitors() {
  for (auto& [entry, monitor] : monitors_) monitor->Terminate();
  monitors_.clear();
}

void PrintMonitors::StartPrintMonitors(AutoLinkList& list, MonitorList kind,
                                       std::optional<size_t> index) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (index && *index != i) continue;
    AutoLinkPrinter& entry = *list[i];
    auto it = monitors_.find(&entry);
    if (it != monitors_.end() && !it->second->Finished()) continue;
    try {
      auto monitor = std::make_unique<TPrintThread>(entry, services_);
      monitor->LockSeconds = kAutoLockSeconds;
      monitor->Actions = actions_;
      if (kind == MonitorList::Fax) monitor->UnlockLingerSeconds = kFaxUnlockLingerSeconds;
      monitor->Start();
      entry.Thread = monitor.get();
      monitors_[&entry] = std::move(monitor);
    } catch (const std::system_error& e) {
      // A monitor that cannot start leaves the others to start.
      services_.host.LogFailure("the print monitor of " + entry.PrinterName +
                                " cannot start its thread: " + e.what());
    } catch (const std::bad_alloc&) {
      services_.host.LogFailure("the print monitor of " + entry.PrinterName +
                                " cannot start: out of memory");
    }
  }
}

void PrintMonitors::StopPrintMonitors(AutoLinkList& list, EventPump& pump,
                                      std::optional<size_t> index) {
  std::vector<AutoLinkPrinter*> chosen;
  for (size_t i = 0; i < list.size(); ++i) {
    if (index && *index != i) continue;
    const auto it = monitors_.find(list[i].get());
    if (it == monitors_.end()) continue;
    chosen.push_back(list[i].get());
    it->second->Terminate();
  }
  for (AutoLinkPrinter* entry : chosen) {
    TPrintThread& monitor = *monitors_[entry];
    while (!monitor.WaitFinished(kStopPoll)) pump.ProcessPendingEvents();
    monitors_.erase(entry);
    entry->Thread = nullptr;
  }
}

TPrintThread* PrintMonitors::MonitorOf(const AutoLinkPrinter& entry) const {
  const auto it = monitors_.find(&entry);
  return it == monitors_.end() ? nullptr : it->second.get();
}

}  // namespace tessaro
