// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsEventPoller.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tessaro {

CupsEventPoller::CupsEventPoller(std::string server, Timing timing)
    : server_(std::move(server)), timing_(timing),
      interrupt_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CupsEventPoller::~CupsEventPoller() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  poll_.notify_all();
  const uint64_t one = 1;
  if (interrupt_.valid()) (void)::write(interrupt_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

void CupsEventPoller::Add(int subscription) {
  std::lock_guard lock(mutex_);
  // A watch is reset in place: a waiter may still hold its condition.
  Watch& watch = watches_[subscription];
  watch.lastSequence = 0;
  watch.changed = false;
  watch.failed = false;
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  poll_.notify_all();
}

void CupsEventPoller::Remove(int subscription) {
  std::lock_guard lock(mutex_);
  watches_.erase(subscription);
}

ChangeWait CupsEventPoller::Wait(int subscription, std::chrono::milliseconds timeout,
                                 const std::atomic<bool>& stop) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  const auto found = watches_.find(subscription);
  if (found == watches_.end()) return ChangeWait::Failed;
  Watch& watch = found->second;
  watch.stop = &stop;
  ChangeWait result = ChangeWait::TimedOut;
  for (;;) {
    if (watch.failed) {
      result = ChangeWait::Failed;
      break;
    }
    if (watch.changed) {
      watch.changed = false;
      result = ChangeWait::Changed;
      break;
    }
    if (stop) {
      result = ChangeWait::Stopped;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    // A stop is seen on the reading thread's next round, or at the deadline when that thread is
    // held up in a request.
    watch.wake.wait_until(lock, deadline);
  }
  watch.stop = nullptr;
  return result;
}

void CupsEventPoller::Run() {
  std::unique_lock lock(mutex_);
  bool woken = false;
  bool pushedBefore = false;  // the push path was up when the last round ended
  while (!quit_) {
    std::map<int, int> asked;
    for (const auto& [id, watch] : watches_)
      if (!watch.failed) asked[id] = watch.lastSequence;
    if (asked.empty()) {
      poll_.wait(lock);  // nothing to read until a queue subscribes
      continue;
    }
    lock.unlock();
    const std::map<int, Seen> seen = Read(asked);
    lock.lock();
    bool anyChange = false;
    for (const auto& [id, result] : seen) {
      const auto watch = watches_.find(id);
      if (watch == watches_.end()) continue;  // removed while it was read
      watch->second.failed = watch->second.failed || result.failed;
      if (result.lastSequence > watch->second.lastSequence) {
        watch->second.lastSequence = result.lastSequence;
        watch->second.changed = true;
        anyChange = true;
      }
    }
    // Only the waiters with something to see are woken.
    for (auto& [id, watch] : watches_)
      if (watch.changed || watch.failed || (watch.stop != nullptr && *watch.stop))
        watch.wake.notify_all();
    lock.unlock();
    // Events since the last round came while the push path was up, yet nothing woke us.
    if (pushedBefore && anyChange && !woken) push_.MissedWake(http_.get());
    pushedBefore = push_.Keep(http_.get());
    woken = push_.Wait(pushedBefore ? timing_.pushedPoll : timing_.poll, interrupt_.get());
    lock.lock();
  }
  lock.unlock();
  push_.End(http_.get());
}

std::map<int, CupsEventPoller::Seen> CupsEventPoller::Read(
    const std::map<int, int>& lastSequences) {
  std::map<int, Seen> seen;
  ipp_status_t status = IPP_STATUS_OK;
  if (const auto together = ReadTogether(lastSequences, status)) {
    for (const auto& [id, last] : *together) seen[id] = Seen{last, false};
    return seen;
  }
  // One unknown subscription fails the whole request; find it without failing the others.
  const bool oneIsGone = status == IPP_STATUS_ERROR_NOT_FOUND && lastSequences.size() > 1;
  for (const auto& [id, last] : lastSequences) {
    const auto alone = oneIsGone ? ReadTogether({{id, last}}, status) : std::nullopt;
    seen[id] = alone ? Seen{alone->at(id), false} : Seen{last, true};
  }
  return seen;
}

std::optional<std::map<int, int>> CupsEventPoller::ReadTogether(
    const std::map<int, int>& lastSequences, ipp_status_t& status) {
  if (!http_) http_ = ipp::Connect(server_);
  std::vector<int> ids;
  std::vector<int> next;
  for (const auto& [id, last] : lastSequences) {
    ids.push_back(id);
    next.push_back(last + 1);
  }
  ipp_t* request = ipp::NewRequest(IPP_OP_GET_NOTIFICATIONS, "ipp://localhost/");
  ippAddIntegers(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids",
                 static_cast<int>(ids.size()), ids.data());
  ippAddIntegers(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers",
                 static_cast<int>(next.size()), next.data());
  ipp::Reply reply = ipp::SendSmall(http_.get(), request, "/");
  status = reply.status;
  if (!reply.ok() || !reply.response) {
    // A refusal keeps the connection; a broken one is made again on the next reading.
    if (status != IPP_STATUS_ERROR_NOT_FOUND) http_.reset();
    return std::nullopt;
  }
  std::map<int, int> result = lastSequences;
  // Each event is a group of its own holding its subscription and sequence number.
  int id = 0;
  int sequence = 0;
  const auto finishEvent = [&] {
    const auto known = result.find(id);
    if (known != result.end()) known->second = std::max(known->second, sequence);
    id = 0;
    sequence = 0;
  };
  for (ipp_attribute_t* attr = ippFirstAttribute(reply.response.get()); attr != nullptr;
       attr = ippNextAttribute(reply.response.get())) {
    const char* name = ippGetName(attr);
    if (name == nullptr || ippGetGroupTag(attr) != IPP_TAG_EVENT_NOTIFICATION) {
      finishEvent();
      continue;
    }
    if (ippGetValueTag(attr) != IPP_TAG_INTEGER) continue;
    const std::string key = name;
    const bool isId = key == "notify-subscription-id";
    if (!isId && key != "notify-sequence-number") continue;
    // Two events without a separator between them are still two.
    if ((isId && id != 0) || (!isId && sequence != 0)) finishEvent();
    (isId ? id : sequence) = ippGetInteger(attr, 0);
  }
  finishEvent();
  return result;
}

}  // namespace tessaro
