// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench/TimedRun.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tessaro::bench {

namespace {

[[noreturn]] void ExecChild(const std::string& program, const std::vector<std::string>& args,
                            const RunOptions& options) {
  if (options.oneCore) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
      for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) {
          cpu_set_t one;
          CPU_ZERO(&one);
          CPU_SET(cpu, &one);
          ::sched_setaffinity(0, sizeof one, &one);
          break;
        }
    }
  }
  const int devNull = ::open("/dev/null", O_WRONLY);
  if (devNull >= 0) ::dup2(devNull, STDOUT_FILENO);
  if (!options.stderrPath.empty()) {
    const int err = ::open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execvp(program.c_str(), argv.data());
  ::_exit(127);
}

}  // namespace

RunResult TimedRun(const std::string& program, const std::vector<std::string>& args,
                   const RunOptions& options) {
  RunResult result;
  const auto start = std::chrono::steady_clock::now();
  // fork, not posix_spawn: a child sharing our memory until exec would inherit our peak size.
  const pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) ExecChild(program, args, options);
  int status = 0;
  struct rusage usage {};
  pid_t reaped;
  do {
    reaped = ::wait4(pid, &status, 0, &usage);
  } while (reaped < 0 && errno == EINTR);
  result.wall = std::chrono::steady_clock::now() - start;
  if (reaped != pid) return result;
  result.peakResidentKb = usage.ru_maxrss;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace tessaro::bench
