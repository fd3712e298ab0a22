// SPDX-License-Identifier: GPL-2.0-or-later
// A small HTTP server on 127.0.0.1 for the update check: each connection gets the reply the test
// scripted last, and the request lines it received are kept for the test to read.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessaro::testing {

struct ScriptedReply {
  int status = 200;
  std::string body;
  std::chrono::milliseconds delay{0};  // before anything is sent
  bool cutShort = false;               // announce the full length, send half, close
};

class LoopbackHttpServer {
 public:
  LoopbackHttpServer();
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  void Script(ScriptedReply reply);
  // Every request's head (request line and headers) so far.
  std::vector<std::string> Requests() const;

 private:
  void Serve();
  void Answer(int connection);

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  ScriptedReply reply_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace tessaro::testing
