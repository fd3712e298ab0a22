// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>

#include "platform/HttpClient.h"

namespace tessaro {

// GETs through libcurl, one easy handle per request: the check runs once a minute at most.
class CurlHttpClient : public HttpClient {
 public:
  // `longestWait` caps every request's time-out (tests shorten it).
  explicit CurlHttpClient(std::chrono::milliseconds longestWait = std::chrono::seconds(10));
  HttpReply Get(const HttpRequest& request) override;

 private:
  std::chrono::milliseconds longestWait_;
};

}  // namespace tessaro
