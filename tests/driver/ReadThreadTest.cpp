// SPDX-License-Identifier: GPL-2.0-or-later
// The event reader thread: one read outstanding, records handed to the main thread and awaited
// there, the stop at close, failed reads, and the give-up when the session ends.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "driver/ReadThread.h"
#include "protocol/BusFrame.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ManualMainThread.h"

using namespace tessaro;
using namespace tessaro::testing;
using namespace std::chrono_literals;

namespace {

// A Trunk whose event reads block, like the bus's, until a record is queued or the reader is
// woken; a wake that finds no read waiting is kept for the next one.
class BlockingTrunk : public BusTransport {
 public:
  std::optional<std::vector<std::string>> ListInterfaces(InterfaceClass) override {
    return std::vector<std::string>{"trunk/0"};
  }
  BusHandle Open(const std::string&) override { return 1; }
  void Close(BusHandle) override {}
  IoResult Control(BusHandle, uint32_t code, const void*, uint32_t, void*, uint32_t) override {
    if (code != busipc::code::kWakeEventReader) return {false, buserr::kInvalidFunction, 0};
    std::lock_guard lock(mutex_);
    ++wakesSent_;
    if (!ignoreWakes_) ++wakes_;
    changed_.notify_all();
    return {true, 0, 0};
  }
  IoResult ReadEvent(BusHandle, void* buffer, uint32_t length) override {
    std::unique_lock lock(mutex_);
    if (failuresLeft_ > 0) {
      --failuresLeft_;
      return {false, buserr::kGenFailure, 0};
    }
    ++pending_;
    maxPending_ = std::max(maxPending_, pending_);
    changed_.notify_all();
    changed_.wait(lock, [&] { return wakes_ > 0 || !records_.empty(); });
    --pending_;
    if (wakes_ > 0) {
      --wakes_;
      return {true, 0, 0};
    }
    const auto record = std::move(records_.front());
    records_.pop_front();
    std::memcpy(buffer, record.data(), std::min<size_t>(record.size(), length));
    return {true, 0, static_cast<uint32_t>(record.size())};
  }

  void Queue(std::vector<uint8_t> record) {
    std::lock_guard lock(mutex_);
    records_.push_back(std::move(record));
    changed_.notify_all();
  }
  void FailNextReads(int n) {
    std::lock_guard lock(mutex_);
    failuresLeft_ = n;
  }
  void IgnoreWakes() {
    std::lock_guard lock(mutex_);
    ignoreWakes_ = true;
  }
  bool WaitForPendingRead() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return pending_ > 0; });
  }
  int pending() {
    std::lock_guard lock(mutex_);
    return pending_;
  }
  int maxPending() {
    std::lock_guard lock(mutex_);
    return maxPending_;
  }
  int wakesSent() {
    std::lock_guard lock(mutex_);
    return wakesSent_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> records_;
  int wakes_ = 0;
  int wakesSent_ = 0;
  int pending_ = 0;
  int maxPending_ = 0;
  int failuresLeft_ = 0;
  bool ignoreWakes_ = false;
};

// Tells the test when a hand-over is waiting for the main thread.
class WatchedMain : public ManualMainThread {
 public:
  void Post(std::function<void()> work) override {
    {
      std::lock_guard lock(mutex_);
      ++waiting_;
      entered_.notify_all();
    }
    ManualMainThread::Post(std::move(work));
  }
  bool WaitForHandOver() {
    std::unique_lock lock(mutex_);
    return entered_.wait_for(lock, 5s, [&] { return waiting_ > 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable entered_;
  int waiting_ = 0;
};

struct Handled {
  int kind;
  int64_t count;
  bool onMainThread;
  int readsPending;
};

class ReaderTest : public ::testing::Test {
 protected:
  TReadThread::Handler Recorder() {
    return [this](std::span<const uint8_t> record, int64_t count) {
      handled.push_back({record[0], count, main.IsMainThread(), trunk.pending()});
    };
  }
  BlockingTrunk trunk;
  WatchedMain main;
  FakeClock clock;
  DriverClient driver{trunk, clock};
  std::vector<Handled> handled;
};

}  // namespace

TEST_F(ReaderTest, RecordsReachTheMainThreadInOrderWithOneReadAtATime) {
  trunk.Queue({1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 2, 0, 0, 0});
  trunk.Queue({2});
  trunk.Queue({4, 1, 3, 10, 0, 0, 2, 10, 0, 0, 3, 0, 0, 0, 0});
  TReadThread reader(trunk, 1, main, clock, Recorder());
  reader.Start();
  while (handled.size() < 3) ASSERT_GT(main.DrainWithin(5s), 0);
  ASSERT_TRUE(trunk.WaitForPendingRead());
  EXPECT_TRUE(reader.Stop(driver, main));
  EXPECT_FALSE(reader.running());

  ASSERT_EQ(handled.size(), 3u);
  EXPECT_EQ(handled[0].kind, 1);
  EXPECT_EQ(handled[0].count, 16);
  EXPECT_EQ(handled[1].kind, 2);
  EXPECT_EQ(handled[1].count, 1);
  EXPECT_EQ(handled[2].kind, 4);
  for (const auto& h : handled) {
    EXPECT_TRUE(h.onMainThread);
    EXPECT_EQ(h.readsPending, 0) << "the next read waits until the handler has run";
  }
  EXPECT_EQ(trunk.maxPending(), 1);
}

TEST_F(ReaderTest, ClosingWhileTheReaderWaitsEndsIt) {
  TReadThread reader(trunk, 1, main, clock, Recorder());
  reader.Start();
  ASSERT_TRUE(trunk.WaitForPendingRead());
  EXPECT_TRUE(reader.Stop(driver, main));
  EXPECT_FALSE(reader.running());
  EXPECT_EQ(trunk.wakesSent(), 1);
  EXPECT_TRUE(handled.empty()) << "a woken read hands nothing over";
}

// The stop runs on the main thread; a reader waiting in a hand-over still gets it served.
TEST_F(ReaderTest, StopServesAHandOverTheReaderWaitsIn) {
  trunk.Queue({2});
  TReadThread reader(trunk, 1, main, clock, Recorder());
  reader.Start();
  ASSERT_TRUE(main.WaitForHandOver());
  EXPECT_TRUE(reader.Stop(driver, main));
  EXPECT_EQ(handled.size(), 1u);
}

// A stop that runs inside the delivery of an event may not see the events posted meanwhile,
// the reader's hand-over among them: the stop serves it all the same.
TEST_F(ReaderTest, StopServesAHandOverItsPumpCannotDeliver) {
  struct DeliversNothing : EventPump {
    void ProcessPendingEvents() override {}
  } pump;
  trunk.Queue({2});
  TReadThread reader(trunk, 1, main, clock, Recorder());
  reader.Start();
  ASSERT_TRUE(main.WaitForHandOver());
  int polls = 0;
  EXPECT_TRUE(reader.Stop(driver, pump, [&] { return ++polls > 250; }))
      << "the stop gave up on a reader waiting in a hand-over";
  ASSERT_EQ(handled.size(), 1u);
  EXPECT_EQ(handled[0].kind, 2);
  EXPECT_TRUE(handled[0].onMainThread);
  EXPECT_EQ(main.Drain(), 1) << "the posted call is still delivered, and finds nothing to run";
  EXPECT_EQ(handled.size(), 1u);
}

TEST_F(ReaderTest, FailedReadsRestAndHandNothingOver) {
  trunk.FailNextReads(3);
  TReadThread reader(trunk, 1, main, clock, Recorder());
  reader.Start();
  ASSERT_TRUE(trunk.WaitForPendingRead());
  EXPECT_EQ(clock.sleeps(), std::vector<Clock::Duration>(3, kFailedReadPause));
  main.Drain();
  EXPECT_TRUE(handled.empty());
  EXPECT_TRUE(reader.Stop(driver, main));
}

TEST_F(ReaderTest, SessionEndGivesUpOnAReaderThatDoesNotEnd) {
  trunk.IgnoreWakes();
  TReadThread reader(trunk, 1, main, clock, Recorder());
  reader.Start();
  ASSERT_TRUE(trunk.WaitForPendingRead());
  bool sessionEnding = false;
  int polls = 0;
  EXPECT_FALSE(reader.Stop(driver, main, [&] {
    sessionEnding = ++polls >= 3;
    return sessionEnding;
  }));
  EXPECT_FALSE(reader.running());
  // What the abandoned reader still reads is dropped; it then ends by itself.
  trunk.Queue({2});
  for (int i = 0; i < 250 && trunk.pending() > 0; ++i) std::this_thread::sleep_for(20ms);
  main.DrainWithin(100ms);
  EXPECT_TRUE(handled.empty());
}
