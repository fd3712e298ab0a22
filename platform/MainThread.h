// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>

namespace tessaro {

// Hands work from worker threads to the main thread, which owns every list and form.
class MainThread {
 public:
  virtual ~MainThread() = default;
  // Runs `work` on the main thread and returns once it has run. Called on the main thread
  // itself, it runs `work` at once.
  virtual void RunSync(std::function<void()> work) = 0;
  // Queues `work` for the main thread and returns at once.
  virtual void Post(std::function<void()> work) = 0;
  virtual bool IsMainThread() const = 0;
};

}  // namespace tessaro
