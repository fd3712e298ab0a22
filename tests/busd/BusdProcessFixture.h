// SPDX-License-Identifier: GPL-2.0-or-later
// Starts the real tessaro-busd in a temporary runtime folder, with a fake device server on
// 127.0.0.2:2005, and speaks raw bus IPC frames to it. Every test using it runs inside its own
// network namespace (see CMakeLists.txt) and stops what it started by pid.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "base/ByteOrder.h"
#include "base/FileHandle.h"
#include "busd/ReplyBuilder.h"
#include "protocol/BusFrame.h"
#include "tests/TestPaths.h"
#include "tests/busd/FakeHub.h"
#include "tests/support/Process.h"

namespace tessaro::busd_process {

namespace code = busipc::code;
namespace fs = std::filesystem;

inline const uint32_t kHubIp = ::inet_addr("127.0.0.2");

inline constexpr std::chrono::seconds kDeadline{20};

// Polls `ready` until it holds or a generous deadline passes.
inline bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds limit = kDeadline) {
  return testing::Eventually(ready, limit);
}

// One bus IPC connection speaking raw frames.
class RawBus {
 public:
  explicit RawBus(const std::string& path) : fd_(ConnectUnix(path)) {
    timeval tv{20, 0};  // a reply that never comes fails the test instead of hanging it
    if (fd_.valid()) ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  bool valid() const { return fd_.valid(); }

  void SendRequest(busipc::Op op, uint32_t c, std::vector<uint8_t> input, uint32_t outLength) {
    const auto bytes = busipc::EncodeRequest({op, c, outLength, std::move(input)});
    ASSERT_TRUE(WriteAll(fd_.get(), bytes.data(), bytes.size()));
  }
  std::optional<busipc::Reply> Receive() {
    busipc::ReplyDecoder d;
    for (;;) {
      if (auto r = d.Next()) return r;
      uint8_t buffer[4096];
      const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
      if (n <= 0 || d.broken()) return std::nullopt;
      d.Feed({buffer, static_cast<size_t>(n)});
    }
  }
  busipc::Reply Call(uint32_t c, std::vector<uint8_t> input, uint32_t outLength = 64) {
    SendRequest(busipc::Op::Control, c, std::move(input), outLength);
    auto r = Receive();
    EXPECT_TRUE(r) << "no reply to code " << std::hex << c;
    return r.value_or(busipc::Reply{0xFFFFFFFF, {}});
  }
  void StartEventRead() { SendRequest(busipc::Op::EventRead, 0, {}, 2048); }

 private:
  UniqueFd fd_;
};

inline wire::DeviceInfo Device(uint8_t number, std::string type, std::string product) {
  wire::DeviceInfo d;
  d.number = number;
  d.vendorId = 0x04F9;
  d.productId = 0x0042 + number;
  d.type = std::move(type);
  d.manufacturer = "Maker";
  d.product = std::move(product);
  d.serial = "SN" + std::to_string(number);
  return d;
}

class BusdProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_ = std::make_unique<testing_hub::FakeHub>(
        "127.0.0.2", 2005,
        std::vector<wire::DeviceInfo>{Device(1, "PRINTER", "LaserOne"),
                                      Device(2, "SCANNER", "Scan")});
    ASSERT_TRUE(hub_->listening());
    StartBusd(BusdArguments());
    ASSERT_TRUE(WaitFor([this] { return RawBus(TrunkPath()).valid(); })) << "busd never listened\n"
                                                                         << busd_->Output();
  }

  void TearDown() override {
    busd_.reset();
    hub_.reset();
  }

  virtual std::vector<std::string> BusdArguments() const {
    return {"--server", "127.0.0.2", "--no-discovery"};
  }
  // A program that busd runs under (it execs busd, so the pid stays busd's); none when empty.
  virtual std::vector<std::string> BusdWrapper() const { return {}; }

  void StartBusd(std::vector<std::string> extra) {
    // Its own machine hive: what busd records of linked devices stays in the test's folder.
    std::vector<std::string> args{
        "--runtime-dir", runtime_, "--computer-name", "PC-A",
        "--drop-after",  "2",      "--machine-hive",  hiveDir_ / "machine.hive"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string program = std::string(testing::kBinaryDir) + "/busd/tessaro-busd";
    if (auto wrapper = BusdWrapper(); !wrapper.empty()) {
      args.insert(args.begin(), program);
      args.insert(args.begin(), wrapper.begin() + 1, wrapper.end());
      program = wrapper.front();
    }
    busd_ = std::make_unique<testing::Process>(program, args);
    ASSERT_TRUE(busd_->Start());
  }

  // Ends busd with `signal` and returns its exit code (-1 if it did not end in time).
  int StopBusd(int signal) {
    busd_->Signal(signal);
    return busd_->WaitForExit(kDeadline).value_or(-1);
  }

  std::string TrunkPath() const { return busipc::ClassFolder(runtime_, true) + "/0"; }
  std::string SpurPath(int n) const {
    return busipc::ClassFolder(runtime_, false) + "/" + std::to_string(n);
  }

  std::vector<uint8_t> ServerList(RawBus& trunk) {
    return trunk.Call(code::kGetServerList, std::vector<uint8_t>(1024), 1024).output;
  }
  // Waits until the server list shows exactly `count` entries, the first in `state`.
  bool WaitForList(RawBus& trunk, int count, int state = -1) {
    return WaitFor([&] {
      const auto list = ServerList(trunk);
      if (list.size() < 8 || list[4] != count) return false;
      return state < 0 || (list.size() >= 12 && list[12] == state);
    });
  }
  // Attaches the fake hub and waits for its Spur.
  void Attach(RawBus& trunk) {
    ASSERT_TRUE(WaitForList(trunk, 1, 1));
    ASSERT_EQ(trunk.Call(code::kAttachServer, {127, 0, 0, 2}).status, 0u);
    ASSERT_TRUE(WaitFor([this] { return RawBus(SpurPath(0)).valid(); })) << "no Spur";
  }
  // Reads events until one satisfies `wanted`; records read on the way are skipped.
  std::optional<std::vector<uint8_t>> ReadUntil(
      RawBus& reader, const std::function<bool(const std::vector<uint8_t>&)>& wanted,
      bool startFirst = true) {
    for (int i = 0; i < 50; ++i) {
      if (startFirst || i > 0) reader.StartEventRead();
      auto r = reader.Receive();
      if (!r || r->status != 0) return std::nullopt;
      if (wanted(r->output)) return r->output;
    }
    return std::nullopt;
  }
  // Makes `reader` an event reader for sure: a wake ends its first read (or, when busd had not
  // taken that read yet, waits for it); every event after that reaches it.
  void RegisterReader(RawBus& reader) {
    RawBus control(TrunkPath());
    reader.StartEventRead();
    ASSERT_EQ(control.Call(code::kWakeEventReader, std::vector<uint8_t>(64)).status, 0u);
    ASSERT_TRUE(ReadUntil(
        reader, [](const auto& r) { return r.empty(); }, false));
  }
  static bool IsDeviceEvent(const std::vector<uint8_t>& r) {
    return r.size() == 16 && r[0] == 1 && r[9] == 127 && r[10] == 0 && r[11] == 0 && r[12] == 2;
  }

  testing::TempDir runtimeDir_{"/tmp/busd-"};
  testing::TempDir hiveDir_{"/tmp/busd-hive-"};
  const std::string runtime_ = runtimeDir_.path();
  std::unique_ptr<testing_hub::FakeHub> hub_;
  std::unique_ptr<testing::Process> busd_;
};

}  // namespace tessaro::busd_process
