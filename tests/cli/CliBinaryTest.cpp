// SPDX-License-Identifier: GPL-2.0-or-later
// The built program itself, for what only the real binary shows: its environment and status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/TestPaths.h"
#include "tests/support/Command.h"

namespace {

// Runs the CLI with TESSARO_RUNTIME_DIR set to `runtimeDir`, capturing both streams.
tessaro::testing::CommandResult RunCli(const std::vector<std::string>& args,
                                       const std::string& runtimeDir) {
  return tessaro::testing::RunCommand(
      std::string(tessaro::testing::kBinaryDir) + "/cli/tessaro-cli", args,
      {{"TESSARO_RUNTIME_DIR", runtimeDir}});
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

// The setup message comes first, as scripts know it; the cause follows: an empty folder is what
// a busd that is not running leaves.
TEST_F(CliBinaryTest, EmptyRuntimeFolderIsAnIncompleteSetup) {
  for (const char* command : {"servers", "trunk-version", "watch"}) {
    const auto r = RunCli({"--json", command}, dir_);
    EXPECT_EQ(r.exitCode, 3) << command;
    EXPECT_EQ(r.out, "") << command;
    EXPECT_EQ(r.err,
              "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.\n\n"
              "The bus daemon tessaro-busd is not running. Next step: systemctl status "
              "tessaro-busd\n")
        << command;
  }
}

TEST_F(CliBinaryTest, HelpOfACommandNeedsNoBus) {
  const auto r = RunCli({"server", "--help"}, dir_);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("usage: tessaro-cli [--json] server enable IP", 0), 0u) << r.out;
}

TEST_F(CliBinaryTest, UsageErrorsComeFirst) {
  const auto r = RunCli({"link", "127.0.0.2"}, dir_);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("usage"), std::string::npos);
}
