// SPDX-License-Identifier: GPL-2.0-or-later
// The print spooler: its printers and their ports, and the queues that auto-connect printing
// holds back while their device belongs to another PC.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/WinError.h"

namespace tessaro {

// How a print queue treats its jobs. Held and parked queues keep new jobs waiting; a released
// queue prints them.
enum class QueueHold {
  Held,      // working offline and paused
  Parked,    // working offline, not paused
  Released,  // online, not paused
};

// The rights a queue is opened with. Holding and releasing need the administer right; the use
// right only lists and deletes jobs.
namespace printeraccess {
inline constexpr uint32_t kAll = 0xF000C;
inline constexpr uint32_t kAdminister = 0x4;
inline constexpr uint32_t kUse = 0x8;
}  // namespace printeraccess

// What deleting a job asks for: removed at once, or cancelled and kept in the history.
enum class JobControl : uint32_t { Cancel = 3, Delete = 5 };

// A port of the spooler: its name and the description that tells its kind.
struct SpoolerPort {
  std::string name;
  std::string description;
};

// A printer of the spooler with its port (several ports joined by "," for a pool).
struct SpoolerPrinter {
  std::string name;
  std::string portName;
};

enum class ChangeWait {
  Changed,   // something happened to the queue or its jobs
  TimedOut,  // nothing happened within the wait
  Stopped,   // the caller's stop flag was raised
  Failed,    // the notification broke: open the queue again
};

// An open queue. Closing it (destroying the object) ends its change notification.
class PrintQueue {
 public:
  virtual ~PrintQueue() = default;
  // Puts the queue in `hold` and returns its port name; nullopt, with nothing changed, when the
  // queue's state cannot be read. A refused change is ignored.
  virtual std::optional<std::string> SetHold(QueueHold hold) = 0;
  // The IDs of up to `limit` jobs waiting to print, oldest first (a job its owner holds waits
  // for the owner, and is left out); nullopt when they cannot be read.
  virtual std::optional<std::vector<int32_t>> Jobs(size_t limit) = 0;
  virtual bool DeleteJob(int32_t jobId, JobControl control) = 0;
  // Starts the change notification (job added, changed or deleted, queue changed).
  virtual bool WatchChanges() = 0;
  // Waits up to `timeout` for a change, returning early once `stop` is raised.
  virtual ChangeWait WaitForChange(std::chrono::milliseconds timeout,
                                   const std::atomic<bool>& stop) = 0;
  // For a queue whose changes cannot be watched (the spooler refused the notification): waits
  // `timeout`, returning early once `stop` is raised. Changed, as anything may have changed.
  virtual ChangeWait Poll(std::chrono::milliseconds timeout, const std::atomic<bool>& stop) {
    constexpr std::chrono::milliseconds kSlice{50};
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!stop && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
          kSlice,
          std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())));
    return stop ? ChangeWait::Stopped : ChangeWait::Changed;
  }
};

// Opening a queue: the queue, or the Windows error that refused it (1801 no such printer,
// 5 access denied, another code when the spooler cannot be reached).
struct OpenedQueue {
  std::unique_ptr<PrintQueue> queue;
  uint32_t error = 0;
};

class Spooler {
 public:
  virtual ~Spooler() = default;
  virtual OpenedQueue OpenPrinter(const std::string& printerName, uint32_t access) = 0;
  // The ports, or nullopt when the list cannot be read.
  virtual std::optional<std::vector<SpoolerPort>> Ports() = 0;
  // The local printers in the spooler's order, or nullopt when they cannot be listed.
  virtual std::optional<std::vector<SpoolerPrinter>> Printers() = 0;

  // Opens the queue `printerName` with full access, puts it in `hold` and closes it again. False,
  // with nothing changed, when the queue cannot be opened or its state cannot be read.
  virtual bool SetQueueHold(const std::string& printerName, QueueHold hold) {
    OpenedQueue opened = OpenPrinter(printerName, printeraccess::kAll);
    return opened.queue && opened.queue->SetHold(hold).has_value();
  }
};

// A spooler without printers: there is never a queue to open, hold or release.
class UnboundSpooler : public Spooler {
 public:
  OpenedQueue OpenPrinter(const std::string&, uint32_t) override {
    return {nullptr, winerr::kInvalidPrinterName};
  }
  std::optional<std::vector<SpoolerPort>> Ports() override { return std::vector<SpoolerPort>{}; }
  std::optional<std::vector<SpoolerPrinter>> Printers() override {
    return std::vector<SpoolerPrinter>{};
  }
};

}  // namespace tessaro
