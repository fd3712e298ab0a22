// SPDX-License-Identifier: GPL-2.0-or-later
#include "printing/PrintMonitors.h"

#include <chrono>
#include <exception>
#include <vector>

namespace tessaro {
namespace {
constexpr std::chrono::milliseconds kStopPoll{200};
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
      if (kind == MonitorList::Fax) monitor->UnlockLingerSeconds = kFaxUnlockLingerSeconds;
      monitor->Start();
      entry.Thread = monitor.get();
      monitors_[&entry] = std::move(monitor);
    } catch (const std::exception&) {
      // A monitor that cannot start leaves the others to start.
    }
  }
}

bool PrintMonitors::StopPrintMonitors(AutoLinkList& list, EventPump& pump,
                                      std::optional<size_t> index,
                                      const std::function<bool()>& giveUp) {
  std::vector<AutoLinkPrinter*> chosen;
  for (size_t i = 0; i < list.size(); ++i) {
    if (index && *index != i) continue;
    if (monitors_.count(list[i].get()) == 0) continue;
    chosen.push_back(list[i].get());
    monitors_[list[i].get()]->Terminate();
  }
  for (size_t n = 0; n < chosen.size(); ++n) {
    if (giveUp && giveUp()) {
      // The session ends: the remaining monitors end with the process, so their objects stay.
      for (size_t rest = n; rest < chosen.size(); ++rest) {
        monitors_[chosen[rest]].release();
        monitors_.erase(chosen[rest]);
        chosen[rest]->Thread = nullptr;
      }
      return false;
    }
    TPrintThread& monitor = *monitors_[chosen[n]];
    while (!monitor.WaitFinished(kStopPoll)) pump.ProcessPendingEvents();
    monitors_.erase(chosen[n]);
    chosen[n]->Thread = nullptr;
  }
  return true;
}

TPrintThread* PrintMonitors::MonitorOf(const AutoLinkPrinter& entry) const {
  const auto it = monitors_.find(&entry);
  return it == monitors_.end() ? nullptr : it->second.get();
}

}  // namespace tessaro
