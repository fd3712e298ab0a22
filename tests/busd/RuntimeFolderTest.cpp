// SPDX-License-Identifier: GPL-2.0-or-later
// The runtime folder busd serves from: a folder it finds already there is used only when it is
// a real folder busd's user owns and nobody else can write to, and only sockets are cleared.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "base/FileHandle.h"
#include "busd/RuntimeFolder.h"
#include "protocol/BusFrame.h"
#include "tests/support/Process.h"

using tessaro::testing::ReadTextFile;

namespace tessaro::busd {
namespace {

namespace fs = std::filesystem;

// No such group: folders keep the test's own group, and group write is judged against it.
constexpr const char* kGroup = "tessaro-test-no-such-group";
const Logger kLog("busd", StderrLogSink());

void MakeFolder(const std::string& path, mode_t mode) {
  ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

// A folder as a busd that ended without cleaning up leaves it.
void MakeLeftFolder(const std::string& run) {
  MakeFolder(run, 0770);
  MakeFolder(busipc::ClassFolder(run, true), 0750);
  MakeFolder(busipc::ClassFolder(run, false), 0750);
}

// A socket file nobody listens on any more.
void MakeStaleSocket(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
}

TEST(RuntimeFolder, OnlyAFolderBusdsUserAloneControlsIsUsed) {
  struct Case {
    const char* what;
    std::function<void(const std::string& base, const std::string& run)> setup;
    bool usable;
    bool needsRoot = false;
  };
  const Case cases[] = {
      {"missing: made", [](const std::string&, const std::string&) {}, true},
      {"left by an earlier busd",
       [](const std::string&, const std::string& run) { MakeLeftFolder(run); }, true},
      {"symbolic link to a folder",
       [](const std::string& base, const std::string& run) {
         MakeFolder(base + "/elsewhere", 0700);
         ASSERT_EQ(::symlink((base + "/elsewhere").c_str(), run.c_str()), 0);
       },
       false},
      {"writable by everyone",
       [](const std::string&, const std::string& run) { MakeFolder(run, 0777); }, false},
      {"class folder is a symbolic link",
       [](const std::string& base, const std::string& run) {
         MakeFolder(run, 0700);
         MakeFolder(base + "/elsewhere", 0700);
         ASSERT_EQ(::symlink((base + "/elsewhere").c_str(), busipc::ClassFolder(run, true).c_str()),
                   0);
       },
       false},
      {"class folder writable by others",
       [](const std::string&, const std::string& run) {
         MakeFolder(run, 0700);
         MakeFolder(busipc::ClassFolder(run, false), 0757);
       },
       false},
      {"owned by another user",
       [](const std::string&, const std::string& run) {
         MakeFolder(run, 0750);
         ASSERT_EQ(::chown(run.c_str(), 65534, 65534), 0);  // nobody
       },
       false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && ::geteuid() != 0) {
      std::printf("skipped without root: %s\n", c.what);
      continue;
    }
    testing::TempDir base;
    const std::string run = base / "run";
    c.setup(base.path(), run);
    if (HasFatalFailure()) return;
    auto folder = RuntimeFolder::Prepare(run, kGroup, kLog);
    EXPECT_EQ(folder.has_value(), c.usable) << (folder ? "" : folder.error());
    if (folder) {
      const auto listening = (*folder)->Listen(true, 0);
      EXPECT_TRUE(listening && listening->valid()) << (listening ? "" : listening.error());
      EXPECT_TRUE(ConnectUnix(busipc::ClassFolder(run, true) + "/0").valid());
    } else {
      EXPECT_NE(folder.error().find(base.path()), std::string::npos) << folder.error();
    }
    // Nothing was made in a folder the link pointed to.
    if (fs::is_directory(base / "elsewhere")) {
      EXPECT_TRUE(fs::is_empty(base / "elsewhere"));
    }
  }
}

TEST(RuntimeFolder, OnlyStaleSocketsAreCleared) {
  testing::TempDir base;
  const std::string run = base / "run";
  MakeLeftFolder(run);
  const std::string trunk = busipc::ClassFolder(run, true);
  const std::string spur = busipc::ClassFolder(run, false);
  MakeStaleSocket(trunk + "/0");
  MakeStaleSocket(spur + "/3");
  testing::WriteTextFile(spur + "/7", "someone's file");
  ASSERT_EQ(::symlink((base / "target").c_str(), (trunk + "/5").c_str()), 0);
  testing::WriteTextFile(base / "target", "kept");

  auto prepared = RuntimeFolder::Prepare(run, kGroup, kLog);
  ASSERT_TRUE(prepared) << prepared.error();
  RuntimeFolder& folder = **prepared;
  EXPECT_FALSE(fs::exists(fs::symlink_status(spur + "/3")));
  EXPECT_EQ(ReadTextFile(spur + "/7"), "someone's file");
  EXPECT_TRUE(fs::is_symlink(trunk + "/5"));
  EXPECT_EQ(ReadTextFile(base / "target"), "kept");
  const auto trunkSocket = folder.Listen(true, 0);  // the stale one made room
  EXPECT_TRUE(trunkSocket) << trunkSocket.error();
  // A planted file where a socket goes is not replaced: that socket cannot be made.
  EXPECT_FALSE(folder.Listen(false, 7));
  EXPECT_EQ(ReadTextFile(spur + "/7"), "someone's file");
}

}  // namespace
}  // namespace tessaro::busd
