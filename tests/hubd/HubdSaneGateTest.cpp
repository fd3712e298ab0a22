// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-hubd serving SANE (`sane = yes`) with SANE's test backend behind it, inside this
// test's own network namespace. Two PCs on their own loopback addresses: each holds the scanner's
// lock in turn over the hub wire and scans with scanimage through SANE's net backend, connecting
// from its own address as a PC on the network would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "protocol/HubWire.h"
#include "protocol/UsbLayout.h"
#include "tests/TestPaths.h"
#include "tests/support/Command.h"
#include "tests/support/Process.h"
#include "tests/support/SaneTestBackend.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;
using wire::MsgType;

namespace {

const std::string kBinary = std::string(kBinaryDir) + "/hubd/tessaro-hubd";
constexpr char kServer[] = "127.0.0.2";
constexpr char kNetName[] = "net:127.0.0.2:test:0";
constexpr std::chrono::seconds kDeadline{20};

std::vector<uint8_t> Cmd(MsgType type, uint8_t number, uint8_t kind = 0, uint32_t value = 0) {
  return wire::EncodeDeviceCommand(type, {number, kind, value});
}

// The Result a request got, after the change notice that came first.
uint32_t Status(const std::vector<wire::Frame>& frames) {
  if (frames.empty() || frames.back().type != MsgType::Result) return 0xFFFFFFFF;
  return wire::DecodeResult(frames.back().payload).value_or(0xFFFFFFFF);
}

// Children of `pid` still in the process table, zombies included.
std::string ChildrenOf(pid_t pid) {
  const std::string p = std::to_string(pid);
  return ReadTextFile("/proc/" + p + "/task/" + p + "/children");
}

class HubdSane : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& folder : {server_, client_}) mkdir(folder.c_str(), 0700);
    WriteTextFile(server_ + "/dll.conf", "test\n");
    WriteTextFile(server_ + "/test.conf", SaneTestBackendConfig(1));
    WriteTextFile(client_ + "/dll.conf", "net\n");
    WriteTextFile(client_ + "/net.conf", std::string("connect_timeout = 3\n") + kServer + "\n");
    WriteTextFile(config_,
                  "[server]\nname = SCAN-HUB\naddress = 127.0.0.2\nhttp-port = 0\nsane = yes\n"
                  "[device 1]\ntype = SCANNER\nvendor-id = 04b8\nproduct-id = 0110\n"
                  "sane-device = test:0\n"
                  "[device 2]\ntype = PRINTER\nvendor-id = 04f9\nproduct-id = 0042\n");
    // saned finds the backends' configuration where hubd's own SANE_CONFIG_DIR says.
    hubd_ =
        std::make_unique<Process>(kBinary, std::vector<std::string>{"--config", config_},
                                  std::map<std::string, std::string>{{"SANE_CONFIG_DIR", server_}});
    ASSERT_TRUE(hubd_->Start());
    ASSERT_TRUE(hubd_->WaitForOutput("hubd: ready", kDeadline)) << hubd_->Output();
  }

  std::unique_ptr<WireClient> Pc(const std::string& name, const std::string& from) {
    auto c = std::make_unique<WireClient>(kServer, 2005, from);
    EXPECT_TRUE(c->connected());
    EXPECT_TRUE(c->Hello(name));
    return c;
  }

  // scanimage from `from` through the server's SANE port; true when a whole page came.
  bool ScanFrom(const std::string& from, std::string& why) {
    const std::string page = dir_ / ("page-" + from + ".pnm");
    std::filesystem::remove(page);
    const auto r = RunCommand("/usr/bin/scanimage", {"-d", kNetName, "--format=pnm", "-o", page},
                              {{"SANE_CONFIG_DIR", client_},
                               {"LD_PRELOAD", TESSARO_BIND_SOURCE},
                               {"TESSARO_SOURCE_IP", from}});
    why = "scanimage exit " + std::to_string(r.exitCode) + ": " + r.err + "\nhubd:\n" +
          hubd_->Output();
    // 80 x 100 mm at 50 dpi in grey: a P5 header, then 157 x 196 bytes.
    const std::string data = std::filesystem::exists(page) ? ReadTextFile(page) : std::string();
    return r.exitCode == 0 && data.starts_with("P5") && data.size() > 157u * 196u;
  }

  TempDir dir_;
  const std::string server_ = dir_ / "sane-server";
  const std::string client_ = dir_ / "sane-client";
  const std::string config_ = dir_ / "hub.ini";
  std::unique_ptr<Process> hubd_;
};

TEST_F(HubdSane, OnlyThePcHoldingTheScannersLockScansThroughTheServer) {
  auto a = Pc("PC-A", "127.0.0.5");
  auto b = Pc("PC-B", "127.0.0.9");

  // PCs are told the name they scan by; a printer has none.
  const auto listed = a->Call(MsgType::GetDevices, 1);
  ASSERT_EQ(listed.size(), 1u);
  const auto list = wire::DecodeDeviceList(listed[0].payload).value();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].descriptors, (std::vector<std::pair<std::string, std::string>>{
                                     {"class", "ff/ff/ff"}, {"sane-device", kNetName}}));
  EXPECT_EQ(wire::FindDescriptor(list[1].descriptors, "sane-device"), nullptr);

  std::string why;
  EXPECT_FALSE(ScanFrom("127.0.0.5", why)) << "nobody holds the lock yet";
  ASSERT_TRUE(hubd_->WaitForOutput("refusing SANE connection from 127.0.0.5:")) << why;

  ASSERT_EQ(Status(a->Call(MsgType::Link, 2, Cmd(MsgType::Link, 1))), 0u);
  ASSERT_EQ(Status(a->Call(MsgType::Lock, 3, Cmd(MsgType::Lock, 1, 2, 600))), 0u);
  EXPECT_TRUE(ScanFrom("127.0.0.5", why)) << why;
  EXPECT_TRUE(hubd_->WaitForOutput("SANE connection from 127.0.0.5:")) << hubd_->Output();
  EXPECT_NE(hubd_->Output().find("(PC-A) handed to saned"), std::string::npos) << hubd_->Output();
  EXPECT_FALSE(ScanFrom("127.0.0.9", why)) << "PC-B holds no lock";
  EXPECT_TRUE(hubd_->WaitForOutput("refusing SANE connection from 127.0.0.9:")) << why;

  // PC-A lets go; PC-B takes the scanner and scans, and PC-A is the one refused now.
  ASSERT_EQ(Status(a->Call(MsgType::Unlock, 4, Cmd(MsgType::Unlock, 1, 2, 0))), 0u);
  ASSERT_EQ(Status(a->Call(MsgType::Unlink, 5, Cmd(MsgType::Unlink, 1))), 0u);
  ASSERT_EQ(Status(b->Call(MsgType::Link, 2, Cmd(MsgType::Link, 1))), 0u);
  ASSERT_EQ(Status(b->Call(MsgType::Lock, 3, Cmd(MsgType::Lock, 1, 2, 600))), 0u);
  EXPECT_TRUE(ScanFrom("127.0.0.9", why)) << why;
  EXPECT_FALSE(ScanFrom("127.0.0.5", why)) << "PC-A's lock has ended";
  EXPECT_TRUE(hubd_->WaitForOutputCount("refusing SANE connection from 127.0.0.5:", 2)) << why;

  // Every saned hubd started is gone, reaped, with the configuration written for it.
  EXPECT_TRUE(Eventually([&] { return ChildrenOf(hubd_->pid()).empty(); }))
      << ChildrenOf(hubd_->pid());
  EXPECT_TRUE(std::filesystem::is_empty(config_ + ".pins.sane"));
}

TEST_F(HubdSane, ALockOnAnotherKindOfDeviceOpensNothing) {
  auto a = Pc("PC-A", "127.0.0.5");
  ASSERT_EQ(Status(a->Call(MsgType::Link, 1, Cmd(MsgType::Link, 2))), 0u);
  ASSERT_EQ(Status(a->Call(MsgType::Lock, 2, Cmd(MsgType::Lock, 2, 2, 600))), 0u);
  // Linked but not locked is not held either.
  ASSERT_EQ(Status(a->Call(MsgType::Link, 3, Cmd(MsgType::Link, 1))), 0u);
  std::string why;
  EXPECT_FALSE(ScanFrom("127.0.0.5", why));
  EXPECT_TRUE(hubd_->WaitForOutput("refusing SANE connection from 127.0.0.5:")) << why;
}

}  // namespace
