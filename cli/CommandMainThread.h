// SPDX-License-Identifier: GPL-2.0-or-later
// The main thread of a command without an event loop: the command's own thread. Work handed over
// from other threads waits in a queue until that thread serves it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/EventPump.h"
#include "platform/MainThread.h"

namespace tessaro::cli {

class CommandMainThread : public MainThread, public EventPump {
 public:
  void RunSync(std::function<void()> work) override;
  void Post(std::function<void()> work) override;
  bool IsMainThread() const override { return std::this_thread::get_id() == mainId_; }
  // Runs what is queued, waiting up to `wait` for something to arrive: a hand-over is served as
  // soon as it comes, not on the caller's next turn.
  void Serve(std::chrono::milliseconds wait);
  void ProcessPendingEvents() override { Serve(std::chrono::milliseconds(0)); }

 private:
  const std::thread::id mainId_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable ran_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace tessaro::cli
