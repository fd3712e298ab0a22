// SPDX-License-Identifier: GPL-2.0-or-later
// Ends the test process when a case has not finished in time, so a hang fails that case instead
// of stalling the run. Before it ends the process it prints every thread's stack (when gdb is
// there) and the children still running, so that a hang seen once on a loaded machine can be
// understood from the log alone. The children (a lab's servers, a tool the case waits for) are
// killed first: nothing else would stop them once the case's own thread is stuck.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Process.h"

namespace tessaro::testing {

// Every process whose parent is this one, with its command line.
inline std::vector<std::pair<pid_t, std::string>> ChildProcesses() {
  std::vector<std::pair<pid_t, std::string>> children;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...: the name may hold spaces and parentheses, the last ')' ends it.
    const size_t end = line.rfind(')');
    if (end == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + end + 1, " %c %ld", &state, &parent) != 2) continue;
    if (parent != ::getpid()) continue;
    std::ifstream cmdline(entry.path() / "cmdline");
    std::string command((std::istreambuf_iterator<char>(cmdline)), {});
    for (char& c : command)
      if (c == '\0') c = ' ';
    children.emplace_back(static_cast<pid_t>(std::stol(name)), command);
  }
  return children;
}

inline void KillChildProcesses() {
  for (const auto& [pid, command] : ChildProcesses()) ::kill(pid, SIGKILL);
}

// Prints the stack of every thread of this process through gdb, given at most `limit`.
inline void PrintThreadStacks(std::chrono::seconds limit) {
  const char* gdb = "/usr/bin/gdb";
  if (::access(gdb, X_OK) != 0) return;
  Process trace(gdb, {"-nx", "-batch", "-p", std::to_string(::getpid()), "-ex",
                      "thread apply all bt"});
  if (!trace.Start()) return;
  if (!trace.WaitForExit(limit)) trace.Stop(std::chrono::seconds(1));
  std::fputs(trace.Output().c_str(), stderr);
}

class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (disarmed_.wait_for(lock, limit, [this] { return done_; })) return;
          const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
          std::fprintf(stderr, "watchdog: %s.%s did not finish within %lld s\n",
                       test != nullptr ? test->test_suite_name() : "?",
                       test != nullptr ? test->name() : "?", static_cast<long long>(limit.count()));
          for (const auto& [pid, command] : ChildProcesses())
            std::fprintf(stderr, "watchdog: child %d still runs: %s\n", static_cast<int>(pid),
                         command.c_str());
          std::fflush(stderr);
          PrintThreadStacks(std::chrono::seconds(60));
          std::fflush(stderr);
          KillChildProcesses();
          std::_Exit(1);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    disarmed_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable disarmed_;
  bool done_ = false;
  std::thread thread_;  // last: it starts once the members it uses exist
};

}  // namespace tessaro::testing
