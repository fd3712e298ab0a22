// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/hubd/HubdProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tessaro::testing {

HubdProcess::HubdProcess(const std::string& binary, const std::vector<std::string>& args,
                         std::string logPath)
    : logPath_(std::move(logPath)) {
  std::vector<std::string> all{binary};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) ::dup2(log, STDERR_FILENO);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
}

HubdProcess::~HubdProcess() {
  if (!Running()) return;
  ::kill(pid_, SIGTERM);
  if (!WaitExit(std::chrono::seconds(10))) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string HubdProcess::Log() const {
  std::ifstream in(logPath_);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {
int Count(const std::string& log, const std::string& text) {
  int found = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
  return found;
}
}  // namespace

bool HubdProcess::Running() {
  int status = 0;
  if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;  // reaped: never signal a pid that may be reused
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return pid_ > 0;
}

bool HubdProcess::WaitForLog(const std::string& text, int occurrences,
                             std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (Count(Log(), text) < occurrences) {
    if (!Running() || std::chrono::steady_clock::now() >= end)
      return Count(Log(), text) >= occurrences;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void HubdProcess::Signal(int signal) {
  if (Running()) ::kill(pid_, signal);
}

std::optional<int> HubdProcess::WaitExit(std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (Running() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return exitStatus_;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hubd-test.XXXXXX").string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  const std::string file = path_ + "/" + name;
  std::ofstream(file) << text;
  return file;
}

}  // namespace tessaro::testing
