// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsEventPoller.h"

#include <algorithm>
#include <vector>

namespace tessaro {
namespace {

// How often a waiter looks at its stop flag itself, in case the reading thread is held up in a
// request; otherwise that thread wakes it on its next round.
constexpr std::chrono::milliseconds kStopLook{1000};

}  // namespace

CupsEventPoller::CupsEventPoller(std::string server, std::chrono::milliseconds interval)
    : server_(std::move(server)), interval_(interval) {}

CupsEventPoller::~CupsEventPoller() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  poll_.notify_all();
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
    watch.wake.wait_until(lock, std::min(deadline, now + kStopLook));
  }
  watch.stop = nullptr;
  return result;
}

void CupsEventPoller::Run() {
  std::unique_lock lock(mutex_);
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
    for (const auto& [id, result] : seen) {
      const auto watch = watches_.find(id);
      if (watch == watches_.end()) continue;  // removed while it was read
      watch->second.failed = watch->second.failed || result.failed;
      if (result.lastSequence > watch->second.lastSequence) {
        watch->second.lastSequence = result.lastSequence;
        watch->second.changed = true;
      }
    }
    // Only the waiters with something to see are woken.
    for (auto& [id, watch] : watches_)
      if (watch.changed || watch.failed || (watch.stop != nullptr && *watch.stop))
        watch.wake.notify_all();
    poll_.wait_for(lock, interval_, [this] { return quit_; });
  }
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
  ipp::Reply reply = ipp::Send(http_.get(), request, "/");
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
