// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/FakeClock.h"

namespace tessaro::testing {

namespace {
// A fixed, recognisable start: 2026-01-01 00:00:00 UTC.
constexpr std::chrono::seconds kWallStart{1767225600};
}  // namespace

std::chrono::steady_clock::time_point FakeClock::Now() const {
  std::lock_guard lock(mutex_);
  return std::chrono::steady_clock::time_point{} + elapsed_;
}

std::chrono::system_clock::time_point FakeClock::WallNow() const {
  std::lock_guard lock(mutex_);
  return std::chrono::system_clock::time_point{kWallStart} + elapsed_;
}

void FakeClock::Sleep(Duration duration) {
  std::function<void(Duration)> hook;
  {
    std::lock_guard lock(mutex_);
    elapsed_ += duration;
    sleeps_.push_back(duration);
    hook = hook_;
  }
  if (hook) hook(duration);
}

void FakeClock::Advance(Duration duration) {
  std::lock_guard lock(mutex_);
  elapsed_ += duration;
}

std::vector<Clock::Duration> FakeClock::sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

Clock::Duration FakeClock::slept() const {
  std::lock_guard lock(mutex_);
  Duration sum{0};
  for (auto d : sleeps_) sum += d;
  return sum;
}

void FakeClock::OnSleep(std::function<void(Duration)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

}  // namespace tessaro::testing
