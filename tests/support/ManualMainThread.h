// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/EventPump.h"
#include "platform/MainThread.h"

namespace tessaro::testing {

// The thread that constructs it plays the main thread. Work handed over from other threads
// waits in a queue until the test (or a wait that pumps events) drains it, so a test decides
// exactly when hand-overs run.
class ManualMainThread : public MainThread, public EventPump {
 public:
  ManualMainThread();
  void RunSync(std::function<void()> work) override;
  void Post(std::function<void()> work) override;
  bool IsMainThread() const override;
  // Runs everything queued so far; returns how many items ran.
  void ProcessPendingEvents() override;
  int Drain();
  // Waits (real time, up to `timeout`) until something is queued, then drains.
  int DrainWithin(std::chrono::milliseconds timeout);
  int pumpCount() const { return pumpCount_; }

 private:
  std::thread::id mainId_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::function<void()>> queue_;
  int pumpCount_ = 0;
};

}  // namespace tessaro::testing
