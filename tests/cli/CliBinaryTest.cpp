// SPDX-License-Identifier: GPL-2.0-or-later
// The built program itself, for what only the real binary shows: its environment and status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/TestPaths.h"
#include "tests/support/Process.h"
#include "tests/support/Spawn.h"

using tessaro::testing::ReadTextFile;

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
  Result r;
  const pid_t pid = tessaro::testing::SpawnProgram(
      binary, args, {{"TESSARO_RUNTIME_DIR", runtimeDir}}, {outPath, errPath});
  if (pid > 0) {
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  }
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
