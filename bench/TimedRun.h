// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tessaro::bench {

struct RunResult {
  int exitCode = -1;  // 128 + the signal's number when a signal ended it
  std::chrono::nanoseconds wall{};
  long peakResidentKb = 0;  // the peak resident size of the process, as wait4 reports it
};

struct RunOptions {
  bool oneCore = false;    // pinned to the first processor this process may use
  std::string stderrPath;  // where its standard error goes; standard output is discarded
};

// Runs a program to its end, timing it from its start until it is reaped. The calling process
// should be small when it calls this: a forked child starts with its parent's resident size.
RunResult TimedRun(const std::string& program, const std::vector<std::string>& args,
                   const RunOptions& options = {});

}  // namespace tessaro::bench
