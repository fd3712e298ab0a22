// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/ManualMainThread.h"

namespace tessaro::testing {

ManualMainThread::ManualMainThread() : mainId_(std::this_thread::get_id()) {}

bool ManualMainThread::IsMainThread() const { return std::this_thread::get_id() == mainId_; }

void ManualMainThread::Post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  queued_.notify_all();
}

void ManualMainThread::RunSync(std::function<void()> work) {
  if (IsMainThread()) {
    work();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
  Post([&] {
    work();
    std::lock_guard lock(doneMutex);
    done = true;
    doneCv.notify_all();
  });
  std::unique_lock lock(doneMutex);
  doneCv.wait(lock, [&] { return done; });
}

int ManualMainThread::Drain() {
  int ran = 0;
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return ran;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
    ++ran;
  }
}

void ManualMainThread::ProcessPendingEvents() {
  ++pumpCount_;
  Drain();
}

int ManualMainThread::DrainWithin(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    queued_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
  }
  return Drain();
}

}  // namespace tessaro::testing
