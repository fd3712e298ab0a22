// SPDX-License-Identifier: GPL-2.0-or-later
#include "printing/PrintThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>

#include "base/Product.h"
#include "base/WinError.h"
#include "host/WindowsVersion.h"
#include "printing/PortTypes.h"

namespace tessaro {
namespace {

// Long sleeps are cut into slices so that a stop request is seen soon.
constexpr std::chrono::milliseconds kPauseSlice{200};

uint32_t LowerAccess(uint32_t access) {
  if (access == printeraccess::kAll) return printeraccess::kAdminister;
  return printeraccess::kUse;
}

// One step below normal, as the monitors run; raising a nice value needs no privilege.
void LowerThreadPriority() {
  const auto tid = static_cast<id_t>(::gettid());
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0) ::setpriority(PRIO_PROCESS, tid, nice + 1);
}

const char* HoldAction(QueueHold hold) {
  switch (hold) {
    case QueueHold::Held: return "hold";
    case QueueHold::Parked: return "park";
    case QueueHold::Released: break;
  }
  return "release";
}

}  // namespace

TPrintThread::TPrintThread(const AutoLinkPrinter& entry, const PrintMonitorServices& services)
    : services_(services), key_(entry.Key()), PrinterName(entry.PrinterName) {}

TPrintThread::~TPrintThread() {
  Terminate();
  if (thread_.joinable()) thread_.join();
}

void TPrintThread::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] {
    Execute();
    std::lock_guard lock(mutex_);
    finished_ = true;
    ended_.notify_all();
  });
}

bool TPrintThread::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_ || !thread_.joinable();
}

bool TPrintThread::WaitFinished(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return ended_.wait_for(lock, timeout, [&] { return finished_; }) || !thread_.joinable();
}

void TPrintThread::Pause(std::chrono::milliseconds duration) {
  while (duration.count() > 0 && !stop_) {
    const auto slice = std::min(duration, kPauseSlice);
    services_.clock.Sleep(slice);
    duration -= slice;
  }
}

void TPrintThread::Report(const char* action) {
  if (Actions != nullptr) Actions->Report({PrinterName, action, key_.serverMac, DeviceId});
}

void TPrintThread::Execute() {
  LowerThreadPriority();
  Pause(kMonitorStartDelay);
  uint32_t access = printeraccess::kAll;
  std::unique_ptr<PrintQueue> queue;
  while (!stop_) {
    LinkState = -1;
    queue.reset();  // closes the notification with the queue
    OpenedQueue opened = services_.spooler.OpenPrinter(PrinterName, access);
    if (!opened.queue) {
      if (opened.error == winerr::kInvalidPrinterName) break;  // the queue is gone: end
      if (opened.error == winerr::kAccessDenied) {
        access = LowerAccess(access);
        continue;
      }
      Pause(kReopenDelay);
      continue;
    }
    queue = std::move(opened.queue);
    // The first hold is tried whatever the rights.
    PortName = queue->SetHold(QueueHold::Held).value_or("0");
    Report("hold");
    // A spooler that refuses the notification is asked every kChangeWait instead.
    const bool polled = !queue->WatchChanges();
    if (Watch(*queue, access, polled) == PassEnd::Leave) break;
  }
  End(queue.get(), access);
  Report("ended");
}

TPrintThread::PassEnd TPrintThread::Watch(PrintQueue& queue, uint32_t access, bool polled) {
  while (!stop_) {
    const ChangeWait wait =
        polled ? queue.Poll(kChangeWait, stop_) : queue.WaitForChange(kChangeWait, stop_);
    if (wait == ChangeWait::Stopped || stop_) return PassEnd::Leave;
    if (wait == ChangeWait::Failed) return PassEnd::Reopen;
    const auto jobs = queue.Jobs(kJobsLooked);
    // Jobs that cannot be read are not "no jobs": the device is not unlocked under them.
    if (!jobs) return PassEnd::Reopen;
    if (jobs->empty()) {
      EmptyQueue(queue, access, wait == ChangeWait::TimedOut);
      continue;
    }
    JobId = jobs->front();
    JobsPending = true;
    CheckAndGetSpur();
    // The look-up may have waited long; a monitor asked to stop takes no device.
    if (stop_) return PassEnd::Leave;
    if (LinkState == 1 && Owner.empty()) {
      // The device lost its user while this monitor held it.
      Hold(queue, access, QueueHold::Held);
      LinkState = 0;
    }
    if (LinkState < 1 && !OwnedHere()) {
      if (CancelFailed) continue;
      if (!PortChecked) {
        const PortVerdict verdict = PortAllowsAutoConnect(services_.spooler, PortName);
        // A port that cannot be told now is looked at again at the next pass, never refused.
        if (verdict == PortVerdict::Unknown) continue;
        PortChecked = verdict == PortVerdict::Allowed;
        if (!PortChecked) {
          RefusePort(queue);
          continue;
        }
      }
      TakeDevice(queue, access);
    }
    if (LinkState < 1 && OwnedHere()) {
      // A failed lock changes nothing: the job prints while the device is linked here.
      services_.host.LockDevice(BusHandle_, DeviceId, LockKind::Automatic, LockSeconds);
      Report("lock");
      Hold(queue, access, QueueHold::Released);
      LinkState = 1;
    }
  }
  return PassEnd::Leave;
}

void TPrintThread::EmptyQueue(PrintQueue& queue, uint32_t access, bool timedOut) {
  JobId = -1;
  JobsPending = false;
  CheckAndGetSpur();
  if (timedOut) Hold(queue, access, OwnedHere() ? QueueHold::Released : QueueHold::Held);
  if (timedOut || LinkState != 1) return;
  // The queue ran empty while this monitor held the lock.
  if (Owner.empty()) {
    ForceRefresh = true;
    CheckAndGetSpur();
  }
  if (OwnedHere()) {
    services_.host.UnlockDevice(BusHandle_, DeviceId, LockKind::Automatic, UnlockLingerSeconds);
    Report("unlock");
  }
  LinkState = 0;
}

void TPrintThread::TakeDevice(PrintQueue& queue, uint32_t access) {
  Hold(queue, access, QueueHold::Parked);
  // A failed link is tried again at the next pass while jobs wait.
  if (!services_.host.LinkDevice(BusHandle_, DeviceId)) {
    Report("link-failed");
    return;
  }
  Report("link");
  Pause(kReleaseAfterLink);
  Hold(queue, access, QueueHold::Released);
  JobsPending = false;
  for (int attempt = 0; attempt < kOwnerTries && !stop_; ++attempt) {
    if (attempt >= kOwnerTriesBeforeRefresh) ForceRefresh = true;
    CheckAndGetSpur();
    Pause(kOwnerPoll);
    if (OwnedHere()) break;
  }
}

void TPrintThread::RefusePort(PrintQueue& queue) {
  MessageRequest box;
  box.caption = ProductName;
  box.text = SAutoLink_Fail;
  box.flags = mb::kOk;
  Report("port-refused");
  if (services_.host.ShowMessage(box) != answer::kOk) return;
  const bool deletes = (services_.windowsVersionFlags & (kWinNT5OrLater | kWinNT4)) != 0;
  if (!queue.DeleteJob(JobId, deletes ? JobControl::Delete : JobControl::Cancel))
    CancelFailed = true;
}

// With the use right only, the queue's hold is left alone after the first attempt.
void TPrintThread::Hold(PrintQueue& queue, uint32_t access, QueueHold hold) {
  if (access == printeraccess::kUse) return;
  queue.SetHold(hold);
  Report(HoldAction(hold));
}

void TPrintThread::CheckAndGetSpur() {
  BusHandle_ = kInvalidBusHandle;
  DeviceId = "-1";
  Owner.clear();
  try {
    std::optional<MonitoredServer> server;
    for (;;) {
      server = services_.host.FindServer(key_.serverMac);
      if (!JobsPending || stop_) break;
      Pause(kLookupPause);
      if (server) break;
    }
    std::optional<MonitoredDevice> device;
    while (server && !device) {
      device = services_.host.FindDevice(*server, key_);
      if (stop_ || (!JobsPending && !ForceRefresh)) break;
      if (device && server->handle != kInvalidBusHandle && !ForceRefresh) break;
      if (server->handle == kInvalidBusHandle) services_.host.OpenServerBus(*server);
      services_.host.RefreshDevices(*server);
      ForceRefresh = false;
      Pause(kLookupPause);
      // The refresh may have opened the Spur, replaced the record or dropped the device.
      const bool foundBefore = device.has_value();
      server = services_.host.FindServer(key_.serverMac);
      device.reset();
      if (foundBefore && server) device = services_.host.FindDevice(*server, key_);
    }
    if (server && device) {
      BusHandle_ = server->handle;
      DeviceId = device->deviceNumber;
      Owner = device->owner;
    }
  } catch (const std::exception& e) {
    // The main thread could not answer (out of memory, a failed hand-over): the device counts
    // as not found and the next turn looks again.
    services_.host.LogFailure("print monitor of " + PrinterName +
                              ": the device look-up failed: " + e.what());
    BusHandle_ = kInvalidBusHandle;
    DeviceId = "-1";
    Owner.clear();
  }
}

// Jobs printed while the client is not running stay in the spooler: the queue is left parked
// unless this PC uses the device.
void TPrintThread::End(PrintQueue* queue, uint32_t access) {
  if (queue == nullptr || services_.host.SessionEnding()) return;
  JobsPending = false;
  CheckAndGetSpur();
  if (!OwnedHere()) Hold(*queue, access, QueueHold::Parked);
}

}  // namespace tessaro
