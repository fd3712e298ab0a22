// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace tessaro::testing {

// A child process of a test: started with its own environment additions, its standard output and
// error kept in one file, stopped by pid (SIGTERM, then SIGKILL) when the object goes.
class Process {
 public:
  Process(std::string program, std::vector<std::string> args,
          std::map<std::string, std::string> env = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Start();
  // Waits until its output holds `text` (true), or it ended or time ran out (false).
  bool WaitForOutput(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // The same for `count` occurrences of `text`, counted from the start of its output.
  bool WaitForOutputCount(const std::string& text, int count,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Waits for it to end by itself: its exit code (128 + the signal's number when a signal ended
  // it), or nullopt when it still runs at the deadline or never started.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // SIGTERM, then SIGKILL after `grace`; returns the exit status as waitpid reports it, or -1.
  int Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
  void Signal(int signal) const;
  bool Running();
  pid_t pid() const { return pid_; }
  std::string Output() const;  // standard output and error so far

 private:
  bool Ended() const;  // without reaping it, so that its pid stays ours

  std::string program_;
  std::vector<std::string> args_;
  std::map<std::string, std::string> env_;
  std::string logPath_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// Polls `condition` every 20 ms until it holds or `timeout` passes.
template <typename F>
bool Eventually(F condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace tessaro::testing

#include <thread>

template <typename F>
bool tessaro::testing::Eventually(F condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
