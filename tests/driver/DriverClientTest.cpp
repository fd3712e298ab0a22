// SPDX-License-Identifier: GPL-2.0-or-later
// The driver operations over a scripted bus: the buffers they send, the replies they accept.
#include <gtest/gtest.h>

#include <functional>

#include "driver/DriverClient.h"
#include "protocol/BusFrame.h"
#include "tests/support/DriverReplies.h"
#include "tests/support/FakeBusTransport.h"
#include "tests/support/FakeClock.h"

using namespace tessaro;
using namespace tessaro::testing;
namespace code = tessaro::busipc::code;
using std::chrono::milliseconds;
using Reply = FakeBusTransport::Reply;

namespace {

constexpr const char* kTrunkPath = "/run/t/trunk/0";
constexpr const char* kSpurPath = "/run/t/spur/0";

class DriverClientTest : public ::testing::Test {
 protected:
  DriverClientTest() {
    bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{kTrunkPath});
    bus.SetInterfaces(InterfaceClass::Spur, std::vector<std::string>{kSpurPath});
    trunk = bus.Open(kTrunkPath);
    spur = bus.Open(kSpurPath);
  }
  FakeBusTransport bus;
  FakeClock clock;
  DriverClient driver{bus, clock};
  BusHandle trunk = kInvalidBusHandle;
  BusHandle spur = kInvalidBusHandle;
};

}  // namespace

TEST_F(DriverClientTest, RequestBuffers) {
  struct Case {
    const char* what;
    std::function<void()> call;
    uint32_t code;
    Bytes input;
    uint32_t outputLength;
  } cases[] = {
      {"server list",
       [&] {
         std::vector<ServerEntry> s;
         driver.GetServerList(trunk, s);
       },
       code::kGetServerList, Bytes(1024, 0), 1024},
      {"attach", [&] { driver.AttachServer(trunk, "192.168.1.20"); }, code::kAttachServer,
       Bytes{192, 168, 1, 20}, 64},
      {"attach with a text inet_addr rejects", [&] { driver.AttachServer(trunk, "no.such"); },
       code::kAttachServer, Bytes{255, 255, 255, 255}, 64},
      {"wake", [&] { driver.WakeEventReader(trunk); }, code::kWakeEventReader, Bytes(64, 0), 64},
      {"trunk version",
       [&] {
         std::string v;
         driver.GetTrunkVersion(trunk, v);
       },
       code::kGetTrunkVersion, Bytes(64, 0), 64},
      {"spur address",
       [&] {
         std::string a;
         driver.GetSpurAddress(spur, a);
       },
       code::kGetSpurAddress, Bytes(64, 0), 64},
      {"device list", [&] { driver.GetDeviceList(spur); }, code::kGetDeviceList, Bytes(2048, 0),
       2048},
      {"link", [&] { driver.LinkDevice(spur, "7"); }, code::kLinkDevice, Bytes{7}, 1},
      {"link sends the low byte", [&] { driver.LinkDevice(spur, "300"); }, code::kLinkDevice,
       Bytes{44}, 1},
      {"unlink of a non-number", [&] { driver.UnlinkDevice(spur, "abc"); }, code::kUnlinkDevice,
       Bytes{0}, 1},
      {"unlink of -1", [&] { driver.UnlinkDevice(spur, "-1"); }, code::kUnlinkDevice, Bytes{0xFF},
       1},
      {"spur version",
       [&] {
         std::string v;
         driver.GetSpurVersion(spur, v);
       },
       code::kGetSpurVersion, Bytes(64, 0), 64},
      {"lock", [&] { driver.LockDevice(spur, "5", LockKind::Manual, 259200); }, code::kLockDevice,
       Bytes{5, 0x80, 0xF4, 0x03, 0x00, 2}, 6},
      {"unlock", [&] { driver.UnlockDevice(spur, "5", LockKind::Automatic, 0); },
       code::kUnlockDevice, Bytes{5, 0, 0, 0, 0, 1}, 6},
      {"request to use without address", [&] { driver.RequestToUseDevice(spur, "12", 1, ""); },
       code::kRequestToUse, Bytes{12, 1, 0, 0, 0, 0}, 6},
      {"request to use with address", [&] { driver.RequestToUseDevice(spur, "12", 1, "10.1.2.3"); },
       code::kRequestToUse, Bytes{12, 1, 10, 1, 2, 3}, 6},
  };
  for (const auto& c : cases) {
    const size_t before = bus.requests().size();
    c.call();
    const auto sent = bus.requests();
    ASSERT_GT(sent.size(), before) << c.what;
    const auto& r = sent[before];
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.input, c.input) << c.what;
    EXPECT_EQ(r.outputLength, c.outputLength) << c.what;
  }
}

TEST_F(DriverClientTest, OperationsReportWhetherTheCallSucceeded) {
  bus.SetReply(kSpurPath, code::kLinkDevice, FakeBusTransport::Success({0}));
  bus.SetReply(kSpurPath, code::kUnlinkDevice, FakeBusTransport::Fail(buserr::kGenFailure));
  bus.SetReply(kTrunkPath, code::kAttachServer, FakeBusTransport::Success({}));
  EXPECT_TRUE(driver.LinkDevice(spur, "1"));
  EXPECT_FALSE(driver.UnlinkDevice(spur, "1"));
  EXPECT_TRUE(driver.AttachServer(trunk, "10.0.0.1"));
  EXPECT_FALSE(driver.LockDevice(spur, "1", LockKind::Manual, 3600));  // unscripted: fails
  bus.Close(spur);
  bus.SetReply(kSpurPath, code::kLockDevice, FakeBusTransport::Success({}));
  EXPECT_FALSE(driver.LockDevice(spur, "1", LockKind::Manual, 3600)) << "closed handle";
}

TEST_F(DriverClientTest, ServerListRetriesOnceWithOneSecondSleeps) {
  const Bytes zeroByte0 = ListReply(0, 1, {ServerEntryBytes(ServerFields{})});
  const Bytes good = ServerListReply({ServerFields{}});
  struct Case {
    const char* what;
    std::vector<Reply> replies;
    int expected;
    size_t attempts;
    std::vector<milliseconds> sleeps;
  } cases[] = {
      {"byte 0 zero twice",
       {FakeBusTransport::Success(zeroByte0)},
       -1,
       2,
       {milliseconds(1000), milliseconds(1000)}},
      {"failing twice",
       {FakeBusTransport::Fail(buserr::kGenFailure)},
       -1,
       2,
       {milliseconds(1000), milliseconds(1000)}},
      {"failing once",
       {FakeBusTransport::Fail(buserr::kGenFailure), FakeBusTransport::Success(good)},
       1,
       2,
       {milliseconds(1000)}},
      {"first answer good", {FakeBusTransport::Success(good)}, 1, 1, {}},
      {"returned size beyond 1024", {Reply{true, 0, good, 1025}}, -1, 1, {}},
      {"count 0", {FakeBusTransport::Success(ListReply(1, 0, {}))}, 0, 1, {}},
  };
  for (const auto& c : cases) {
    FakeBusTransport fresh;
    FakeClock freshClock;
    fresh.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{kTrunkPath});
    DriverClient client(fresh, freshClock);
    const BusHandle h = client.OpenTrunk();
    fresh.SetReplies(kTrunkPath, code::kGetServerList, c.replies);
    std::vector<ServerEntry> servers{ServerEntry{"1.1.1.1", "kept", "1", "", 0}};
    EXPECT_EQ(client.GetServerList(h, servers), c.expected) << c.what;
    EXPECT_EQ(fresh.requestsFor(code::kGetServerList).size(), c.attempts) << c.what;
    EXPECT_EQ(freshClock.sleeps(), c.sleeps) << c.what;
    if (c.expected < 0) {
      ASSERT_EQ(servers.size(), 1u) << c.what;
      EXPECT_EQ(servers[0].name, "kept") << c.what << ": output unchanged on failure";
    } else {
      EXPECT_EQ(servers.size(), static_cast<size_t>(c.expected)) << c.what;
    }
  }
}

TEST_F(DriverClientTest, ServerListEntries) {
  ServerFields a, b;
  a.name = "Alpha";
  b.name = "Beta";
  b.ip = {127, 0, 0, 3};
  bus.SetReply(kTrunkPath, code::kGetServerList,
               FakeBusTransport::Success(ServerListReply({a, b})));
  std::vector<ServerEntry> servers;
  ASSERT_EQ(driver.GetServerList(trunk, servers), 2);
  EXPECT_EQ(servers[0].name, "Alpha");
  EXPECT_EQ(servers[1].ip, "127.0.0.3");
}

TEST_F(DriverClientTest, QueriesLeaveTheirTextUnchangedOnFailure) {
  struct Case {
    const char* what;
    std::optional<Reply> reply;
    std::string expected;
  } cases[] = {
      {"good", FakeBusTransport::Success(VersionReply(1, 0, 12)), "1.0.12"},
      {"failed call", FakeBusTransport::Fail(buserr::kGenFailure), "before"},
      {"byte 0 zero", FakeBusTransport::Success({0, 0, 0, 0, 1, 2, 3}), "before"},
      {"reply longer than 64", Reply{true, 0, VersionReply(1, 0, 12), 65}, "before"},
  };
  for (const auto& c : cases) {
    bus.SetReply(kTrunkPath, code::kGetTrunkVersion, *c.reply);
    bus.SetReply(kSpurPath, code::kGetSpurVersion, *c.reply);
    std::string trunkVersion = "before", spurVersion = "before";
    EXPECT_EQ(driver.GetTrunkVersion(trunk, trunkVersion), c.expected != "before") << c.what;
    EXPECT_EQ(driver.GetSpurVersion(spur, spurVersion), c.expected != "before") << c.what;
    EXPECT_EQ(trunkVersion, c.expected) << c.what;
    EXPECT_EQ(spurVersion, c.expected) << c.what;
  }
  std::string address = "before";
  bus.SetReply(kSpurPath, code::kGetSpurAddress, FakeBusTransport::Fail(buserr::kGenFailure));
  EXPECT_FALSE(driver.GetSpurAddress(spur, address));
  EXPECT_EQ(address, "before");
  bus.SetReply(kSpurPath, code::kGetSpurAddress,
               FakeBusTransport::Success(AddressReply({10, 9, 8, 7})));
  EXPECT_TRUE(driver.GetSpurAddress(spur, address));
  EXPECT_EQ(address, "10.9.8.7");
}

TEST_F(DriverClientTest, DeviceList) {
  const Bytes two = DeviceListReply({DeviceFields{}, DeviceFields{}});
  struct Case {
    const char* what;
    Reply reply;
    std::optional<size_t> expected;
  } cases[] = {
      {"two devices", FakeBusTransport::Success(two), 2},
      {"a failed request reads as zero devices", FakeBusTransport::Fail(buserr::kGenFailure), 0},
      {"a reply longer than 2048 gives no result", Reply{true, 0, two, 2049}, std::nullopt},
      {"a reply of exactly 2048", Reply{true, 0, two, 2048}, 2},
  };
  for (const auto& c : cases) {
    bus.SetReply(kSpurPath, code::kGetDeviceList, c.reply);
    const auto list = driver.GetDeviceList(spur);
    ASSERT_EQ(list.has_value(), c.expected.has_value()) << c.what;
    if (list) {
      EXPECT_EQ(list->size(), *c.expected) << c.what;
    }
  }
}

TEST(OpenTrunk, OpensTheFirstInterfaceOnly) {
  FakeBusTransport bus;
  FakeClock clock;
  DriverClient driver(bus, clock);
  EXPECT_EQ(driver.OpenTrunk(), kInvalidBusHandle) << "class cannot be listed";
  bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{});
  EXPECT_EQ(driver.OpenTrunk(), kInvalidBusHandle) << "no interface";
  bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{"t/0", "t/1"});
  bus.FailOpen("t/0");
  EXPECT_EQ(driver.OpenTrunk(), kInvalidBusHandle) << "the first one fails to open";
  EXPECT_EQ(bus.openHandles(), 0);
  bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{"t/2", "t/0"});
  EXPECT_NE(driver.OpenTrunk(), kInvalidBusHandle);
  EXPECT_EQ(bus.openHandles(), 1);
}

TEST(OpenSpurs, EveryInterfaceThatOpensWithItsAddress) {
  FakeBusTransport bus;
  FakeClock clock;
  DriverClient driver(bus, clock);
  EXPECT_FALSE(driver.OpenSpurs()) << "class cannot be listed";
  bus.SetInterfaces(InterfaceClass::Spur, std::vector<std::string>{"s/0", "s/1", "s/2"});
  bus.FailOpen("s/1");
  bus.SetReply("s/0", code::kGetSpurAddress,
               FakeBusTransport::Success(AddressReply({127, 0, 0, 2})));
  bus.SetReply("s/2", code::kGetSpurAddress, FakeBusTransport::Fail(buserr::kGenFailure));
  const auto spurs = driver.OpenSpurs();
  ASSERT_TRUE(spurs);
  ASSERT_EQ(spurs->size(), 2u);
  EXPECT_EQ((*spurs)[0].path, "s/0");
  EXPECT_EQ((*spurs)[0].address, "127.0.0.2");
  EXPECT_EQ((*spurs)[1].path, "s/2");
  EXPECT_EQ((*spurs)[1].address, "") << "a Spur that does not tell its address";
  EXPECT_NE((*spurs)[0].handle, (*spurs)[1].handle);
  EXPECT_EQ(bus.openHandles(), 2);
}

TEST(OpenSpurs, LooksAtSixtyFourInterfacesAtMost) {
  FakeBusTransport bus;
  FakeClock clock;
  DriverClient driver(bus, clock);
  std::vector<std::string> paths;
  for (int i = 0; i < 70; ++i) paths.push_back("s/" + std::to_string(i));
  bus.SetInterfaces(InterfaceClass::Spur, paths);
  const auto spurs = driver.OpenSpurs();
  ASSERT_TRUE(spurs);
  EXPECT_EQ(spurs->size(), 64u);
}
