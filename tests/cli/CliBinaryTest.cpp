// SPDX-License-Identifier: GPL-2.0-or-later
// The built program itself, for what only the real binary shows: its environment and status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/TestPaths.h"
#include "tests/support/Process.h"

using tessaro::testing::ReadTextFile;

extern char** environ;

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the CLI with TESSARO_RUNTIME_DIR set to `runtimeDir`, capturing both streams.
Result RunCli(const std::vector<std::string>& args, const std::string& runtimeDir) {
  const std::string binary = std::string(tessaro::testing::kBinaryDir) + "/cli/tessaro-cli";
  const std::string outPath = runtimeDir + "/.out", errPath = runtimeDir + "/.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("TESSARO_RUNTIME_DIR=", 0) != 0) env.emplace_back(*e);
  }
  env.push_back("TESSARO_RUNTIME_DIR=" + runtimeDir);
  std::vector<char*> envp, argv{const_cast<char*>(binary.c_str())};
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  Result r;
  if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = ReadTextFile(outPath);
  r.err = ReadTextFile(errPath);
  return r;
}

class CliBinaryTest : public ::testing::Test {
 protected:
  CliBinaryTest() {
    char pattern[] = "/tmp/tcli-XXXXXX";
    dir_ = ::mkdtemp(pattern);
  }
  ~CliBinaryTest() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

}  // namespace

TEST_F(CliBinaryTest, EmptyRuntimeFolderIsAnIncompleteSetup) {
  for (const char* command : {"servers", "trunk-version", "watch"}) {
    const Result r = RunCli({"--json", command}, dir_);
    EXPECT_EQ(r.status, 3) << command;
    EXPECT_EQ(r.out, "") << command;
    EXPECT_EQ(r.err, "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.\n")
        << command;
  }
}

TEST_F(CliBinaryTest, UsageErrorsComeFirst) {
  const Result r = RunCli({"link", "127.0.0.2"}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("usage"), std::string::npos);
}
