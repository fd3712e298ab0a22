// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tessaro {

struct HttpRequest {
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  // The whole exchange, connection included: a user waits at most this long.
  std::chrono::milliseconds timeout{10000};
  // A body beyond this is refused rather than held in memory.
  std::size_t maxBodyBytes = 1 << 20;
};

struct HttpReply {
  bool ok = false;  // a complete body with a 2xx status
  long status = 0;  // 0 when no status line arrived
  std::string body;
  std::string error;  // why it failed, for the log
};

// Plain HTTP GETs, as the update check needs them.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpReply Get(const HttpRequest& request) = 0;
};

}  // namespace tessaro
