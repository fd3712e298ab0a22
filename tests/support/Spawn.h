// SPDX-License-Identifier: GPL-2.0-or-later
// Starting a program from a test. posix_spawn, never fork and exec: the tests run threads, and
// the child of a threaded process may make only async-signal-safe calls before its exec. A child
// that allocates or sets its environment there can wait for ever on a lock another thread held at
// the fork (the sanitizers' allocator is one), and the test with it.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace tessaro::testing {

// Where the program's standard output and error go: files, created when missing. The same path
// for both gives one file with both streams in the order written.
struct SpawnOutput {
  std::string out;
  std::string err;
  bool append = false;  // else the files are emptied first
};

// Starts `program` (a path: no search) with `args` and this process's environment with `env` laid
// over it. Its pid, or -1 when it could not be started.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, const SpawnOutput& output);

}  // namespace tessaro::testing
