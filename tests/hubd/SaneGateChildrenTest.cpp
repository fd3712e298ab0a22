// SPDX-License-Identifier: GPL-2.0-or-later
// The SANE gate's children, in-process and inside this test's own network namespace: scripts
// stand in for saned, so that a test decides how long each one runs and how it ends. PC-A holds
// the scanner's lock from 127.0.0.5; its SANE connections come from there.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "base/FileHandle.h"
#include "hubd/Hub.h"
#include "hubd/SaneGate.h"
#include "hubd/Session.h"
#include "tests/hubd/Handshake.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::hubd;

namespace {

constexpr char kServer[] = "127.0.0.2";
constexpr char kPcA[] = "127.0.0.5";

uint32_t Ip(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

HubConfig OneScanner() {
  HubConfig c;
  c.server.address = kServer;
  c.server.sane = true;
  DeviceConfig d;
  d.number = 1;
  d.type = "SCANNER";
  d.vendorId = 0x04b8;
  d.productId = 0x0110;
  d.saneDevice = "test:0";
  c.devices.push_back(d);
  return c;
}

class SaneGateChildren : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = std::make_unique<Session>(hub_, Ip(kPcA), std::string(kPcA) + ":1");
    hubd::testing::Greet(hub_, *session_, "PC-A", tessaro::testing::TestKeyFor("PC-A"));
    ASSERT_TRUE(session_->greeted());
    ASSERT_EQ(hub_.table().Link(1, "PC-A").status, kStatusOk);
    ASSERT_EQ(hub_.table().Lock(1, "PC-A", 2, 600).status, kStatusOk);
    // What each stand-in saw: where SANE would read its configuration, and the saned.conf there.
    setenv("GATE_TEST_DIR", dir_.path().c_str(), 1);
    setenv("SANE_CONFIG_DIR", "/backends", 1);
    Script("waits",
           "echo \"$SANE_CONFIG_DIR\" > \"$GATE_TEST_DIR/dir.$$\"\n"
           "cp \"${SANE_CONFIG_DIR%%:*}/saned.conf\" \"$GATE_TEST_DIR/conf.$$\"\n"
           "exec cat > /dev/null\n");
    Script("fails", "exit 3\n");
  }
  void TearDown() override {
    unsetenv("GATE_TEST_DIR");
    unsetenv("SANE_CONFIG_DIR");
  }

  void Script(const std::string& name, const std::string& body) {
    tessaro::testing::WriteTextFile(dir_ / name, "#!/bin/sh\n" + body);
    chmod((dir_ / name).c_str(), 0755);
  }

  bool Start(const std::string& saned) {
    std::string error;
    const bool started = gate_.Start({Ip(kServer), 6566, dir_ / "state.sane", saned}, error);
    EXPECT_EQ(error, "");
    return started;
  }

  // A SANE client's connection from `from`.
  static UniqueFd Connect(const char* from) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = Ip(from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6566);
    to.sin_addr.s_addr = Ip(kServer);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&source), sizeof source), 0);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    return fd;
  }

  // Turns of hubd's loop, as far as the gate goes, until `done` holds (or 10 s went by).
  template <typename F>
  bool RunUntil(F done) {
    return tessaro::testing::Eventually([&] {
      std::vector<pollfd> fds;
      for (int fd : gate_.Fds()) fds.push_back({fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 50) > 0) gate_.OnPoll(fds);
      return done();
    });
  }

  size_t Logged(const std::string& text) const {
    return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [&](const auto& l) {
      return l.find(text) != std::string::npos;
    }));
  }
  std::string Log() const {
    std::string all;
    for (const auto& l : log_) all += l + "\n";
    return all;
  }

  tessaro::testing::TempDir dir_;
  tessaro::testing::FakeClock clock_;
  std::vector<std::string> log_;
  PinStore pins_{"", nullptr};
  Hub hub_{OneScanner(), clock_, wire::kVersionMajor, pins_,
           [this](const std::string& l) { log_.push_back(l); }};
  std::unique_ptr<Session> session_;
  SaneGate gate_{hub_};
};

TEST_F(SaneGateChildren, EachConnectionHasItsOwnSanedUpToTheLimitAndEachIsReaped) {
  ASSERT_TRUE(Start(dir_ / "waits"));
  std::vector<UniqueFd> clients;
  for (size_t i = 0; i < SaneGate::kMaxChildren + 1; ++i) clients.push_back(Connect(kPcA));
  ASSERT_TRUE(RunUntil([&] {
    return Logged("handed to saned") == SaneGate::kMaxChildren &&
           Logged("8 saned are running already") == 1;
  })) << Log();
  EXPECT_EQ(gate_.children(), SaneGate::kMaxChildren);

  // Each saned was told its own folder first, then where the backends' files are; its
  // saned.conf lets in its peer only.
  ASSERT_TRUE(RunUntil([&] {
    size_t seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
      seen += e.path().filename().string().starts_with("conf.");
    return seen == SaneGate::kMaxChildren;
  }));
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    const std::string name = e.path().filename().string();
    if (name.starts_with("conf.")) {
      EXPECT_NE(tessaro::testing::ReadTextFile(e.path()).find("\n127.0.0.5\n"), std::string::npos);
    } else if (name.starts_with("dir.")) {
      const std::string configDir = tessaro::testing::ReadTextFile(e.path());
      EXPECT_TRUE(configDir.starts_with(dir_ / "state.sane/")) << configDir;
      EXPECT_TRUE(configDir.ends_with(":/backends\n")) << configDir;
    }
  }

  // One client goes: its saned ends and is reaped, and the next connection gets one.
  clients.erase(clients.begin());
  ASSERT_TRUE(RunUntil([&] { return gate_.children() == SaneGate::kMaxChildren - 1; })) << Log();
  clients.push_back(Connect(kPcA));
  ASSERT_TRUE(RunUntil([&] { return Logged("handed to saned") == SaneGate::kMaxChildren + 1; }))
      << Log();

  clients.clear();
  ASSERT_TRUE(RunUntil([&] { return gate_.children() == 0; })) << Log();
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "state.sane"));
  EXPECT_EQ(Logged("ended with status"), 0u) << "a saned ending normally is no news";
}

TEST_F(SaneGateChildren, ASanedEndingWithAnErrorIsLogged) {
  ASSERT_TRUE(Start(dir_ / "fails"));
  UniqueFd client = Connect(kPcA);
  ASSERT_TRUE(RunUntil([&] { return Logged("ended with status 3") == 1; })) << Log();
  EXPECT_EQ(gate_.children(), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "state.sane"));
}

TEST_F(SaneGateChildren, AMissingSanedIsLoggedAndTheConnectionClosed) {
  ASSERT_TRUE(Start(dir_ / "no-such-saned"));
  UniqueFd client = Connect(kPcA);
  ASSERT_TRUE(RunUntil([&] { return Logged("cannot start saned") == 1; })) << Log();
  EXPECT_EQ(gate_.children(), 0u);
  char byte;
  EXPECT_EQ(::recv(client.get(), &byte, 1, 0), 0) << "closed, nothing sent";
}

}  // namespace
