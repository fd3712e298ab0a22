// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CommandMainThread.h"

namespace tessaro::cli {

void CommandMainThread::RunSync(std::function<void()> work) {
  if (IsMainThread()) {
    work();
    return;
  }
  bool done = false;
  std::unique_lock lock(mutex_);
  queue_.push_back([&] {
    work();
    std::lock_guard doneLock(mutex_);
    done = true;
    ran_.notify_all();
  });
  queued_.notify_all();
  ran_.wait(lock, [&] { return done; });
}

void CommandMainThread::Post(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(work));
  queued_.notify_all();
}

void CommandMainThread::Serve(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  queued_.wait_for(lock, wait, [&] { return !queue_.empty(); });
  while (!queue_.empty()) {
    auto work = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    work();
    lock.lock();
  }
}

}  // namespace tessaro::cli
