// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/BusTransport.h"

namespace tessaro::testing {

// A scripted bus in memory: interfaces per class, paths that refuse to open, and for each
// (path, control code) the replies to give, as raw bytes with a status and a reported size.
// Every request is recorded. It keeps the transport's rules: at most the output length is
// copied, nothing on failure, and calls on a closed or unknown handle fail.
class FakeBusTransport : public BusTransport {
 public:
  struct Reply {
    bool ok = true;
    uint32_t error = 0;
    std::vector<uint8_t> bytes;
    std::optional<uint32_t> bytesReturned;  // reported size; the size of `bytes` when unset
  };
  static Reply Success(std::vector<uint8_t> bytes) { return Reply{true, 0, std::move(bytes), {}}; }
  static Reply Fail(uint32_t error) { return Reply{false, error, {}, {}}; }

  struct Request {
    std::string path;
    bool eventRead = false;
    uint32_t code = 0;
    std::vector<uint8_t> input;
    uint32_t outputLength = 0;
  };

  // The listing of a class; a class never set (or set to nullopt) cannot be listed.
  void SetInterfaces(InterfaceClass cls, std::optional<std::vector<std::string>> paths);
  void FailOpen(const std::string& path);
  // Replies to `code` on `path`, given in order; the last one repeats. An unscripted code
  // fails with ERROR_INVALID_FUNCTION.
  void SetReplies(const std::string& path, uint32_t code, std::vector<Reply> replies);
  void SetReply(const std::string& path, uint32_t code, Reply reply) {
    SetReplies(path, code, {std::move(reply)});
  }
  // Event records for reads on `path`, handed out in order; with none left a read fails.
  void QueueEvent(const std::string& path, Reply reply);

  std::vector<Request> requests() const;
  std::vector<Request> requestsFor(uint32_t code) const;
  int openHandles() const;

  std::optional<std::vector<std::string>> ListInterfaces(InterfaceClass cls) override;
  BusHandle Open(const std::string& devicePath) override;
  void Close(BusHandle handle) override;
  IoResult Control(BusHandle handle, uint32_t code, const void* input, uint32_t inputLength,
                   void* output, uint32_t outputLength) override;
  IoResult ReadEvent(BusHandle handle, void* buffer, uint32_t length) override;

 private:
  static IoResult Deliver(const Reply& reply, void* output, uint32_t outputLength);

  mutable std::mutex mutex_;
  std::map<InterfaceClass, std::optional<std::vector<std::string>>> interfaces_;
  std::set<std::string> failingOpens_;
  std::map<std::pair<std::string, uint32_t>, std::deque<Reply>> replies_;
  std::map<std::string, std::deque<Reply>> events_;
  std::map<BusHandle, std::string> open_;
  BusHandle next_ = 100;
  std::vector<Request> requests_;
};

}  // namespace tessaro::testing
