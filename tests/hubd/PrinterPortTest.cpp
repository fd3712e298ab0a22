// SPDX-License-Identifier: GPL-2.0-or-later
// A real printer's jobs go to its usblp node: a printer that stops taking data stops hubd reading
// its sender (memory never grows), the printer's status says why data stops, and a printer pulled
// out fails the job with a status that keeps it at the PC. A FIFO stands for the node.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/lp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "base/FileHandle.h"
#include "hubd/Hub.h"
#include "hubd/PrinterPort.h"
#include "hubd/Session.h"
#include "tests/hubd/Handshake.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::hubd;
using tessaro::testing::TestKeyFor;
using wire::MsgType;

namespace {

TEST(PrinterPortStatus, PortStatusBitsAndErrorsBecomeStatuses) {
  const int ready = LP_PSELECD | LP_PERRORP;
  EXPECT_EQ(PrinterPort::StatusOf(ready), 0u);
  EXPECT_EQ(PrinterPort::StatusOf(ready | LP_POUTPA), kStatusOutOfPaper);
  EXPECT_EQ(PrinterPort::StatusOf(LP_PERRORP), winerr::kNotReady) << "not selected: offline";
  EXPECT_EQ(PrinterPort::StatusOf(LP_PSELECD), winerr::kWriteFault) << "nError low";
  EXPECT_EQ(PrinterPort::StatusOfErrno(ENODEV), winerr::kNotReady) << "pulled out: keep the job";
  EXPECT_EQ(PrinterPort::StatusOfErrno(EIO), winerr::kWriteFault);
  PrinterPort missing;
  EXPECT_EQ(missing.Open("/nonexistent/usb/lp9"), winerr::kNotReady);
}

// What the fake source offers hubd in place of udev.
class FakeUsb : public UsbSource {
 public:
  int fd() const override { return -1; }
  bool Update() override { return std::exchange(changed, false); }
  std::vector<UsbDevice> Devices() const override { return devices; }
  std::vector<UsbDevice> devices;
  bool changed = false;
};

class PrinterNode : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
    reader = UniqueFd(::open(node.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(reader.valid());
    UsbDevice printer;
    printer.sysPath = "/sys/devices/usb1/1-1";
    printer.port = "1-1";
    printer.vendorId = 0x04f9;
    printer.productId = 0x0042;
    printer.serial = "LW-1";
    printer.interfaces = {{7, 1, 2}};
    printer.lpNode = node;
    usb.devices = {printer};
    hub.SetUsb(&usb, &numbers);
  }

  std::unique_ptr<Session> Pc(const std::string& name) {
    auto s = std::make_unique<Session>(hub, 0x0500007F, name);
    hubd::testing::Greet(hub, *s, name, TestKeyFor(name));
    s->Receive(wire::EncodeFrame({MsgType::Link, 0, 3, wire::EncodeDeviceCommand(MsgType::Link, {1, 0, 0})}));
    hubd::testing::TakeFrames(*s);
    return s;
  }

  static std::vector<uint8_t> Piece(uint32_t id, const std::string& bytes) {
    std::vector<uint8_t> payload{1};
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    return wire::EncodeFrame({MsgType::WriteData, 0, id, payload});
  }

  // The Results among what the session sent, by status.
  static std::vector<uint32_t> Results(Session& s) {
    std::vector<uint32_t> out;
    for (const auto& f : hubd::testing::TakeFrames(s))
      if (f.type == MsgType::Result) out.push_back(wire::DecodeResult(f.payload).value_or(99));
    return out;
  }

  std::string Drain() {
    std::string got;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(reader.get(), buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<size_t>(n));
    return got;
  }

  tessaro::testing::TempDir dir;
  const std::string node = dir / "lp0";
  UniqueFd reader;
  tessaro::testing::FakeClock clock;
  std::vector<std::string> log;
  PinStore pins{"", nullptr};
  HubConfig config = [] {
    HubConfig c;
    c.server.address = "127.0.0.2";
    return c;
  }();
  Hub hub{config, clock, wire::kVersionMajor, pins,
          [this](const std::string& l) { log.push_back(l); }};
  FakeUsb usb;
  DeviceNumbers numbers{"", nullptr};
};

TEST_F(PrinterNode, APrinterThatStopsTakingDataStopsItsSenderAndGetsEveryByteInOrder) {
  auto pc = Pc("PC-A");
  // Twenty pieces of 60000 bytes arrive at once: far more than the FIFO (the printer) holds.
  std::string sent;
  std::vector<uint8_t> wire;
  for (uint32_t i = 0; i < 20; ++i) {
    const std::string piece(60000, static_cast<char>('a' + i));
    sent += piece;
    const auto frame = Piece(10 + i, piece);
    wire.insert(wire.end(), frame.begin(), frame.end());
  }
  const auto end = wire::EncodeFrame({MsgType::EndData, 0, 99, {1}});
  wire.insert(wire.end(), end.begin(), end.end());
  // First the eight pieces a PC sends ahead: the printer holds up the rest, yet a Ping is
  // answered meanwhile, so the PC does not take hubd for gone while its printer is busy.
  const size_t eight = 8 * (wire.size() - end.size()) / 20;
  pc->Receive(std::span(wire).first(eight));
  EXPECT_TRUE(hub.sink().Waiting(pc.get()));
  EXPECT_TRUE(pc->wantsInput());
  size_t results = Results(*pc).size();
  EXPECT_LT(results, 3u) << "hubd goes on only once the printer took the last piece";
  pc->Receive(wire::EncodeFrame({MsgType::Ping, 0, 98, {}}));
  const auto pong = hubd::testing::TakeFrames(*pc);
  ASSERT_EQ(pong.size(), 1u);
  EXPECT_EQ(pong[0].type, MsgType::Pong);
  // The rest: what waits for the printer is bounded, and then the PC is not read at all.
  pc->Receive(std::span(wire).subspan(eight));
  EXPECT_FALSE(pc->wantsInput());
  results += Results(*pc).size();
  EXPECT_LT(results, 3u);
  std::string printed;
  std::vector<uint32_t> statuses;
  for (int turns = 0; turns < 1000 && statuses.size() + results < 21; ++turns) {
    printed += Drain();
    for (const auto& [number, fd] : hub.sink().WaitingNodes()) hub.OnPrinterWritable(number);
    if (pc->ReadyToResume()) pc->Resume();
    for (uint32_t s : Results(*pc)) statuses.push_back(s);
  }
  printed += Drain();
  EXPECT_EQ(statuses.size() + results, 21u);
  for (uint32_t s : statuses) EXPECT_EQ(s, 0u);
  EXPECT_EQ(printed.size(), sent.size());
  EXPECT_TRUE(printed == sent) << "the printer got the job byte for byte";
  EXPECT_TRUE(pc->wantsInput());
}

TEST_F(PrinterNode, APrinterPulledOutMidJobFailsItWithAStatusThatKeepsTheJob) {
  auto pc = Pc("PC-A");
  pc->Receive(Piece(10, "first piece"));
  ASSERT_EQ(Results(*pc), std::vector<uint32_t>{0});
  // udev reports the printer gone: PCs see it go, and the job's later pieces and its end fail.
  usb.devices.clear();
  usb.changed = true;
  hub.OnUsbEvents();
  bool listed = false;
  for (const auto& f : hubd::testing::TakeFrames(*pc))
    if (f.type == MsgType::DevicesChanged) listed = wire::DecodeDeviceList(f.payload)->empty();
  EXPECT_TRUE(listed) << "one DevicesChanged without the printer";
  pc->Receive(Piece(11, "second piece"));
  EXPECT_EQ(Results(*pc), std::vector<uint32_t>{winerr::kNotReady});
  pc->Receive(wire::EncodeFrame({MsgType::EndData, 0, 12, {1}}));
  EXPECT_EQ(Results(*pc), std::vector<uint32_t>{winerr::kNotReady});
  EXPECT_EQ(Drain(), "first piece");
  // Plugged in again it keeps its number and takes the job anew.
  usb.devices = {};
  UsbDevice printer;
  printer.sysPath = "/sys/devices/usb1/1-1";
  printer.port = "1-1";
  printer.vendorId = 0x04f9;
  printer.productId = 0x0042;
  printer.serial = "LW-1";
  printer.interfaces = {{7, 1, 2}};
  printer.lpNode = node;
  usb.devices = {printer};
  usb.changed = true;
  hub.OnUsbEvents();
  ASSERT_EQ(hub.table().List().size(), 1u);
  EXPECT_EQ(hub.table().List()[0].number, 1);
  EXPECT_EQ(hub.table().List()[0].owner, "") << "a device plugged in again is free";
}

TEST_F(PrinterNode, AVetoSetWhileRunningOutlastsOtherDevicesComingAndGoing) {
  ASSERT_EQ(hub.table().SetEjectVeto(1, 6, "Open files"), 0u);
  UsbDevice stick;
  stick.sysPath = "/sys/devices/usb1/1-2";
  stick.port = "1-2";
  stick.vendorId = 0x0781;
  stick.productId = 0x5567;
  stick.interfaces = {{8, 6, 0x50}};
  usb.devices.push_back(stick);
  usb.changed = true;
  hub.OnUsbEvents();
  ASSERT_EQ(hub.table().List().size(), 2u);
  EXPECT_EQ(hub.table().ConfigOf(1)->ejectVeto, 6u);
  EXPECT_EQ(hub.table().ConfigOf(1)->ejectVetoName, "Open files");
  EXPECT_EQ(hub.table().ConfigOf(2)->type, "MASS STORAGE");
}

TEST_F(PrinterNode, ANodeThatFailsAWriteDropsTheJobAndItsLaterPieces) {
  auto pc = Pc("PC-A");
  reader.Reset();  // nobody reads: writing fails (EPIPE), as a printer with an I/O error would
  pc->Receive(Piece(10, "lost"));
  EXPECT_EQ(Results(*pc), std::vector<uint32_t>{winerr::kNotReady})
      << "a node nobody reads cannot even be opened: a printer that is not there";
  reader = UniqueFd(::open(node.c_str(), O_RDONLY | O_NONBLOCK));
  pc->Receive(Piece(11, "after the fault"));
  EXPECT_EQ(Results(*pc), std::vector<uint32_t>{winerr::kNotReady})
      << "a later piece never starts a job with a gap";
  pc->Receive(wire::EncodeFrame({MsgType::AbortData, 0, 12, {1}}));
  EXPECT_EQ(Results(*pc), std::vector<uint32_t>{0});
  pc->Receive(Piece(13, "whole job"));
  pc->Receive(wire::EncodeFrame({MsgType::EndData, 0, 14, {1}}));
  EXPECT_EQ(Results(*pc), (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(Drain(), "whole job");
}

}  // namespace
