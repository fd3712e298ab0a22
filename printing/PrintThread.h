// SPDX-License-Identifier: GPL-2.0-or-later
// TPrintThread: the print monitor of one auto-connect entry. It keeps the entry's queue held
// while the device belongs to another PC (or to nobody), so jobs wait in the spooler. When a job
// waits and the device can be had, it links the device to this PC, locks it and releases the
// queue so the job prints; once the queue has run empty it unlocks the device again.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Spooler.h"
#include "printing/MonitorActions.h"
#include "printing/PrintMonitorHost.h"
#include "records/AutoConnectRecords.h"

namespace tessaro {

// The message shown when the queue's port cannot reach the device.
inline constexpr const char* SAutoLink_Fail =
    "The port of auto-connect can not be a LPR / Raw TCP / SMB port.";

inline constexpr std::chrono::milliseconds kMonitorStartDelay{3000};
inline constexpr std::chrono::milliseconds kReopenDelay{10000};
inline constexpr std::chrono::milliseconds kChangeWait{2000};
inline constexpr std::chrono::milliseconds kLookupPause{2000};
inline constexpr std::chrono::milliseconds kReleaseAfterLink{500};
inline constexpr std::chrono::milliseconds kOwnerPoll{100};
inline constexpr int kOwnerTries = 100;
inline constexpr int kOwnerTriesBeforeRefresh = 70;
inline constexpr uint32_t kAutoLockSeconds = 1200;
inline constexpr uint32_t kFaxUnlockLingerSeconds = 180;
inline constexpr size_t kJobsLooked = 100;

// What a monitor needs; everything must outlive it.
struct PrintMonitorServices {
  Spooler& spooler;
  PrintMonitorHost& host;
  Clock& clock;
  std::string computerName;      // this PC, compared exactly with a device's owner
  uint32_t windowsVersionFlags;  // chooses how a job on an unsuitable port is deleted
};

class TPrintThread {
 public:
  // The entry's identity is copied here, on the main thread: the monitor never reads the
  // entry again.
  TPrintThread(const AutoLinkPrinter& entry, const PrintMonitorServices& services);
  // Asks the thread to stop and waits for it; a monitor that may be handing work to the main
  // thread must be stopped (and waited for while serving it) before.
  ~TPrintThread();
  TPrintThread(const TPrintThread&) = delete;
  TPrintThread& operator=(const TPrintThread&) = delete;

  // Set before Start.
  uint32_t UnlockLingerSeconds = 0;
  uint32_t LockSeconds = 0;
  // Hears each hold sent, link, lock, unlock, refused port and the end; may stay null.
  MonitorActionSink* Actions = nullptr;

  void Start();
  // Asks the thread to stop; it ends at its next look at the flag.
  void Terminate() { stop_ = true; }
  // Whether the thread has ended (or never started).
  bool Finished() const;
  // Waits up to `timeout` for the thread to end.
  bool WaitFinished(std::chrono::milliseconds timeout);

 private:
  enum class PassEnd { Reopen, Leave };

  void Execute();
  // `polled`: the queue's changes cannot be watched, so it is looked at every kChangeWait.
  PassEnd Watch(PrintQueue& queue, uint32_t access, bool polled);
  void EmptyQueue(PrintQueue& queue, uint32_t access, bool timedOut);
  // For a waiting job: parks the queue, links the device, releases the queue and waits for the
  // server to show this PC as the device's user. The lock follows in the caller.
  void TakeDevice(PrintQueue& queue, uint32_t access);
  // The unsuitable-port box and the job's deletion after it.
  void RefusePort(PrintQueue& queue);
  void Hold(PrintQueue& queue, uint32_t access, QueueHold hold);
  void CheckAndGetSpur();
  void End(PrintQueue* queue, uint32_t access);
  void Pause(std::chrono::milliseconds duration);
  void Report(const char* action);
  bool OwnedHere() const { return Owner == services_.computerName; }

  PrintMonitorServices services_;
  const DeviceKey key_;  // the entry's identity, which never changes

  std::string PrinterName;
  std::string PortName;
  int32_t JobId = -1;
  BusHandle BusHandle_ = kInvalidBusHandle;
  std::string DeviceId = "-1";
  std::string Owner;
  bool JobsPending = false;
  bool ForceRefresh = false;
  bool PortChecked = false;
  bool CancelFailed = false;
  int LinkState = -1;

  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::condition_variable ended_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace tessaro
