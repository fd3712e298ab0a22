// SPDX-License-Identifier: GPL-2.0-or-later
// TReadThread: reads the Trunk's event records, one read outstanding at a time, and hands each
// record to the main thread, waiting until the handler has run there.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "driver/DriverClient.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/MainThread.h"

namespace tessaro {

// How long the reader rests after a failed read before it reads again, so a bus that has gone
// away does not keep it (and the main thread) spinning.
inline constexpr std::chrono::milliseconds kFailedReadPause{200};

class TReadThread {
 public:
  // Runs on the main thread with the record buffer and the byte count of its read.
  using Handler = std::function<void(std::span<const uint8_t> record, int64_t byteCount)>;

  // The references must outlive the thread (or, after an abandoned Stop, the process).
  TReadThread(BusTransport& bus, BusHandle trunk, MainThread& mainThread, Clock& clock,
              Handler handler);
  // Call Stop first: a reader still running here is stopped without a pump, which cannot serve
  // a hand-over it may be waiting in.
  ~TReadThread();
  TReadThread(const TReadThread&) = delete;
  TReadThread& operator=(const TReadThread&) = delete;

  void Start();
  bool running() const { return thread_.joinable(); }
  // Whether the last read failed: the bus may have gone away with the Trunk.
  bool ReadsFailing() const { return shared_->readsFailing; }

  // Main thread: sets the stop flag, wakes the pending read (WakeEventReader) and waits for the
  // thread to end. A hand-over the reader waits in is served from here, so the stop does not
  // depend on the event loop delivering it (a stop that runs inside an event's delivery may not
  // see the events posted meanwhile); events are pumped as well.
  // Returns false when `giveUp` turned true first (the desktop session ends): the thread is then
  // left to end with the process, and any record it still reads is dropped.
  bool Stop(DriverClient& driver, EventPump& pump, const std::function<bool()>& giveUp = {});

 private:
  // What the thread shares with its owner; it outlives an abandoned owner.
  struct Shared {
    std::atomic<bool> terminate{false};
    std::atomic<bool> readsFailing{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    bool abandoned = false;  // main thread only
    // The hand-over the reader waits in, if any; whoever serves it first (the posted call or
    // the stop) runs it, once.
    const std::function<void()>* handOver = nullptr;
    bool handOverRunning = false;
    std::condition_variable handedOver;
  };
  // Reader thread: has `work` run on the main thread and waits until it has.
  static void HandOver(const std::shared_ptr<Shared>& keep, MainThread& mainThread,
                       const std::function<void()>& work);
  // Main thread: runs the waiting hand-over, if there is one and it is not already running.
  static void ServeHandOver(Shared& shared);
  static void Run(std::shared_ptr<Shared> shared, BusTransport& bus, BusHandle trunk,
                  MainThread& mainThread, Clock& clock, Handler handler);

  BusTransport& bus_;
  BusHandle trunk_;
  MainThread& mainThread_;
  Clock& clock_;
  Handler handler_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace tessaro
