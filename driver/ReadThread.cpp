// SPDX-License-Identifier: GPL-2.0-or-later
#include "driver/ReadThread.h"

#include <algorithm>
#include <vector>

#include "driver/EventRecord.h"

namespace tessaro {

namespace {
constexpr std::chrono::milliseconds kStopPoll{20};
}  // namespace

TReadThread::TReadThread(BusTransport& bus, BusHandle trunk, MainThread& mainThread, Clock& clock,
                         Handler handler)
    : bus_(bus), trunk_(trunk), mainThread_(mainThread), clock_(clock),
      handler_(std::move(handler)), shared_(std::make_shared<Shared>()) {}

TReadThread::~TReadThread() {
  if (!thread_.joinable()) return;
  shared_->terminate = true;
  DriverClient(bus_, clock_).WakeEventReader(trunk_);
  thread_.join();
}

void TReadThread::Start() {
  if (thread_.joinable()) return;
  // Raising the reader above normal priority needs privileges here; it runs at normal priority.
  thread_ = std::thread(Run, shared_, std::ref(bus_), trunk_, std::ref(mainThread_),
                        std::ref(clock_), handler_);
}

void TReadThread::Run(std::shared_ptr<Shared> shared, BusTransport& bus, BusHandle trunk,
                      MainThread& mainThread, Clock& clock, Handler handler) {
  std::vector<uint8_t> buffer(kEventBufferSize);
  while (!shared->terminate) {
    std::fill(buffer.begin(), buffer.end(), uint8_t{0});
    const IoResult r = bus.ReadEvent(trunk, buffer.data(), kEventBufferSize);
    if (shared->terminate) break;
    shared->readsFailing = !r.ok;
    if (!r.ok) {
      clock.Sleep(kFailedReadPause);
      continue;
    }
    // A read that was only woken carries nothing to hand over.
    if (r.bytesReturned == 0) continue;
    const int64_t count = r.bytesReturned;
    HandOver(shared, mainThread, [&] {
      if (!shared->abandoned) handler(buffer, count);
    });
  }
  std::lock_guard lock(shared->mutex);
  shared->finished = true;
  shared->ended.notify_all();
}

void TReadThread::HandOver(const std::shared_ptr<Shared>& keep, MainThread& mainThread,
                           const std::function<void()>& work) {
  Shared& shared = *keep;
  {
    std::lock_guard lock(shared.mutex);
    shared.handOver = &work;
  }
  // The posted call may come after a stop served the hand-over, or after the owner is gone:
  // it holds the shared state and finds nothing left to run.
  mainThread.Post([keep] { ServeHandOver(*keep); });
  std::unique_lock lock(shared.mutex);
  shared.handedOver.wait(lock, [&] { return shared.handOver == nullptr; });
}

void TReadThread::ServeHandOver(Shared& shared) {
  const std::function<void()>* work = nullptr;
  {
    std::lock_guard lock(shared.mutex);
    if (shared.handOver == nullptr || shared.handOverRunning) return;
    work = shared.handOver;
    shared.handOverRunning = true;
  }
  // Released even when the handler throws (the application reports it and carries on): the
  // reader must not wait for ever.
  struct Release {
    Shared& shared;
    ~Release() {
      std::lock_guard lock(shared.mutex);
      shared.handOver = nullptr;
      shared.handOverRunning = false;
      shared.handedOver.notify_all();
    }
  } release{shared};
  (*work)();
}

bool TReadThread::Stop(DriverClient& driver, EventPump& pump, const std::function<bool()>& giveUp) {
  if (!thread_.joinable()) return true;
  shared_->terminate = true;
  driver.WakeEventReader(trunk_);
  for (;;) {
    {
      std::unique_lock lock(shared_->mutex);
      if (shared_->ended.wait_for(lock, kStopPoll, [&] { return shared_->finished; })) break;
    }
    if (giveUp && giveUp()) {
      shared_->abandoned = true;
      thread_.detach();
      return false;
    }
    ServeHandOver(*shared_);
    pump.ProcessPendingEvents();
  }
  thread_.join();
  return true;
}

}  // namespace tessaro
