// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/FakeBusTransport.h"

#include <algorithm>
#include <cstring>

namespace tessaro::testing {

void FakeBusTransport::SetInterfaces(InterfaceClass cls,
                                     std::optional<std::vector<std::string>> paths) {
  std::lock_guard lock(mutex_);
  interfaces_[cls] = std::move(paths);
}

void FakeBusTransport::FailOpen(const std::string& path) {
  std::lock_guard lock(mutex_);
  failingOpens_.insert(path);
}

void FakeBusTransport::SetReplies(const std::string& path, uint32_t code,
                                  std::vector<Reply> replies) {
  std::lock_guard lock(mutex_);
  replies_[{path, code}] = std::deque<Reply>(replies.begin(), replies.end());
}

void FakeBusTransport::QueueEvent(const std::string& path, Reply reply) {
  std::lock_guard lock(mutex_);
  events_[path].push_back(std::move(reply));
}

std::vector<FakeBusTransport::Request> FakeBusTransport::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<FakeBusTransport::Request> FakeBusTransport::requestsFor(uint32_t code) const {
  std::vector<Request> matching;
  for (auto& r : requests()) {
    if (!r.eventRead && r.code == code) matching.push_back(r);
  }
  return matching;
}

int FakeBusTransport::openHandles() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(open_.size());
}

std::optional<std::vector<std::string>> FakeBusTransport::ListInterfaces(InterfaceClass cls) {
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(cls);
  return it == interfaces_.end() ? std::nullopt : it->second;
}

BusHandle FakeBusTransport::Open(const std::string& devicePath) {
  std::lock_guard lock(mutex_);
  if (failingOpens_.count(devicePath)) return kInvalidBusHandle;
  const BusHandle h = next_++;
  open_[h] = devicePath;
  return h;
}

void FakeBusTransport::Close(BusHandle handle) {
  std::lock_guard lock(mutex_);
  open_.erase(handle);
}

IoResult FakeBusTransport::Deliver(const Reply& reply, void* output, uint32_t outputLength) {
  if (!reply.ok) return IoResult{false, reply.error, 0};
  const auto size = static_cast<uint32_t>(reply.bytes.size());
  const uint32_t copied = std::min(size, outputLength);
  if (output && copied > 0) std::memcpy(output, reply.bytes.data(), copied);
  return IoResult{true, 0, reply.bytesReturned.value_or(size)};
}

IoResult FakeBusTransport::Control(BusHandle handle, uint32_t code, const void* input,
                                   uint32_t inputLength, void* output, uint32_t outputLength) {
  std::lock_guard lock(mutex_);
  auto h = open_.find(handle);
  if (h == open_.end()) return IoResult{false, buserr::kInvalidHandle, 0};
  // The input is recorded before the reply is written, as both may share one buffer.
  const auto* in = static_cast<const uint8_t*>(input);
  requests_.push_back({h->second, false, code,
                       in ? std::vector<uint8_t>(in, in + inputLength) : std::vector<uint8_t>{},
                       outputLength});
  auto it = replies_.find({h->second, code});
  if (it == replies_.end() || it->second.empty()) {
    return IoResult{false, buserr::kInvalidFunction, 0};
  }
  const Reply reply = it->second.front();
  if (it->second.size() > 1) it->second.pop_front();
  return Deliver(reply, output, outputLength);
}

IoResult FakeBusTransport::ReadEvent(BusHandle handle, void* buffer, uint32_t length) {
  std::lock_guard lock(mutex_);
  auto h = open_.find(handle);
  if (h == open_.end()) return IoResult{false, buserr::kInvalidHandle, 0};
  requests_.push_back({h->second, true, 0, {}, length});
  auto& queue = events_[h->second];
  if (queue.empty()) return IoResult{false, buserr::kOperationAborted, 0};
  const Reply reply = std::move(queue.front());
  queue.pop_front();
  return Deliver(reply, buffer, length);
}

}  // namespace tessaro::testing
