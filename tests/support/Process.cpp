// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/Process.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/Spawn.h"

namespace tessaro::testing {

Process::Process(std::string program, std::vector<std::string> args,
                 std::map<std::string, std::string> env)
    : program_(std::move(program)), args_(std::move(args)), env_(std::move(env)) {
  char tmpl[] = "/tmp/tessaro-proc.XXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd >= 0) ::close(fd);
  logPath_ = tmpl;
}

Process::~Process() {
  Stop(std::chrono::seconds(2));
  ::unlink(logPath_.c_str());
}

bool Process::Start() {
  const pid_t pid = SpawnProgram(program_, args_, env_, {logPath_, logPath_, true});
  if (pid < 0) return false;
  pid_ = pid;
  status_ = -1;
  return true;
}

std::string Process::Output() const {
  std::ifstream in(logPath_);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool Process::Running() {
  if (pid_ < 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    pid_ = -1;
    return false;
  }
  return true;
}

bool Process::Ended() const {
  if (pid_ < 0) return true;
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

namespace {
int CountOf(const std::string& output, const std::string& text) {
  int found = 0;
  for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
    ++found;
  return found;
}
}  // namespace

bool Process::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitForOutputCount(text, 1, timeout);
}

bool Process::WaitForOutputCount(const std::string& text, int count,
                                 std::chrono::milliseconds timeout) const {
  // Ended() is asked before the output is read: once it holds, all the output is there.
  Eventually([&] { return Ended() || CountOf(Output(), text) >= count; }, timeout);
  return CountOf(Output(), text) >= count;
}

std::optional<int> Process::WaitForExit(std::chrono::milliseconds timeout) {
  if (pid_ < 0 && status_ == -1) return std::nullopt;
  if (!Eventually([&] { return !Running(); }, timeout)) return std::nullopt;
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  return 128 + WTERMSIG(status_);
}

void Process::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

int Process::Stop(std::chrono::milliseconds grace) {
  if (pid_ < 0) return status_;
  ::kill(pid_, SIGTERM);
  const auto end = std::chrono::steady_clock::now() + grace;
  while (Running()) {
    if (std::chrono::steady_clock::now() > end) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      status_ = status;
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

}  // namespace tessaro::testing
