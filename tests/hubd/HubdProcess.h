// SPDX-License-Identifier: GPL-2.0-or-later
// Starts tessaro-hubd for a test and always stops it again, by its pid.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tessaro::testing {

class HubdProcess {
 public:
  // Starts the binary with args; its stderr goes to logPath.
  HubdProcess(const std::string& binary, const std::vector<std::string>& args, std::string logPath);
  ~HubdProcess();
  HubdProcess(const HubdProcess&) = delete;
  HubdProcess& operator=(const HubdProcess&) = delete;

  pid_t pid() const { return pid_; }
  std::string Log() const;
  // Polls the log until it holds `text` (counting from the start) or the process ends.
  bool WaitForLog(const std::string& text, int occurrences = 1,
                  std::chrono::seconds deadline = std::chrono::seconds(20));
  void Signal(int signal);
  // The exit status once the process has ended, nullopt if it is still running at the deadline.
  std::optional<int> WaitExit(std::chrono::seconds deadline = std::chrono::seconds(20));

 private:
  bool Running();  // reaps the process once it has ended

  pid_t pid_ = -1;
  std::optional<int> exitStatus_;
  std::string logPath_;
};

// A fresh temporary folder, removed with its files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

}  // namespace tessaro::testing
