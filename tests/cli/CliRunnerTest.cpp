// SPDX-License-Identifier: GPL-2.0-or-later
// The commands over a scripted bus: what they print and the exit status they end with.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/CliRunner.h"
#include "protocol/BusFrame.h"
#include "tests/support/DriverReplies.h"
#include "tests/support/FakeBusTransport.h"
#include "tests/support/FakeClock.h"

using namespace tessaro;
using namespace tessaro::cli;
using namespace tessaro::testing;
namespace code = tessaro::busipc::code;
using Reply = FakeBusTransport::Reply;

namespace {

constexpr const char* kTrunk = "trunk/0";
constexpr const char* kSpurA = "spur/0";
constexpr const char* kSpurB = "spur/1";

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

class CliRunnerTest : public ::testing::Test {
 protected:
  CliRunnerTest() {
    bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{kTrunk});
    bus.SetInterfaces(InterfaceClass::Spur, std::vector<std::string>{kSpurA, kSpurB});
    bus.SetReply(kSpurA, code::kGetSpurAddress,
                 FakeBusTransport::Success(AddressReply({127, 0, 0, 2})));
    bus.SetReply(kSpurB, code::kGetSpurAddress,
                 FakeBusTransport::Success(AddressReply({127, 0, 0, 3})));
  }
  CliRun Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunCli(args, bus, clock, out, err);
    return {status, out.str(), err.str()};
  }
  FakeBusTransport bus;
  FakeClock clock;
};

}  // namespace

TEST_F(CliRunnerTest, JsonOutputOfTheQueries) {
  ServerFields s;
  s.name = "Caf\xE9";
  s.state = 2;
  s.storageMode = 0;
  bus.SetReply(kTrunk, code::kGetServerList, FakeBusTransport::Success(ServerListReply({s})));
  bus.SetReply(kTrunk, code::kGetTrunkVersion, FakeBusTransport::Success(VersionReply(1, 0, 12)));
  bus.SetReply(kSpurB, code::kGetSpurVersion, FakeBusTransport::Success(VersionReply(2, 1, 0)));
  DeviceFields d;
  d.number = 12;
  d.lockKind = 2;
  d.lockCount = 1;
  d.texts = {"PRINTER", "OTHER-PC", "Lumenco", "LZ \"2040\"", ""};
  bus.SetReply(kSpurB, code::kGetDeviceList, FakeBusTransport::Success(DeviceListReply({d})));

  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"--json", "trunk-version"}, "{\"version\":\"1.0.12\"}\n"},
      {{"--json", "servers"},
       "{\"ip\":\"192.168.1.20\",\"name\":\"Caf\\u00E9\",\"state\":\"2\","
       "\"mac\":\"00:1C:F0:AA:0B:3E\",\"storageMode\":0}\n"},
      {{"--json", "spurs"},
       "{\"address\":\"127.0.0.2\",\"path\":\"spur/0\"}\n"
       "{\"address\":\"127.0.0.3\",\"path\":\"spur/1\"}\n"},
      {{"--json", "spur-version", "127.0.0.3"}, "{\"version\":\"2.1.0\"}\n"},
      {{"--json", "devices", "127.0.0.3"},
       "{\"deviceNumber\":\"12\",\"vendorId\":\"04F9\",\"productId\":\"0042\",\"lockKind\":2,"
       "\"lockCount\":1,\"type\":\"PRINTER\",\"owner\":\"OTHER-PC\",\"manufacturer\":\"Lumenco\","
       "\"product\":\"LZ \\\"2040\\\"\",\"serial\":\"\"}\n"},
  };
  for (const auto& c : cases) {
    const CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, 0) << c.args[1] << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
  EXPECT_EQ(bus.openHandles(), 0) << "every handle is closed at the end";
}

TEST_F(CliRunnerTest, DeviceCommandsSendToTheSpurOfTheAddress) {
  for (uint32_t c : {code::kLinkDevice, code::kUnlinkDevice, code::kLockDevice, code::kUnlockDevice,
                     code::kRequestToUse}) {
    bus.SetReply(kSpurB, c, FakeBusTransport::Success({}));
  }
  bus.SetReply(kTrunk, code::kAttachServer, FakeBusTransport::Success({}));
  struct Case {
    std::vector<std::string> args;
    uint32_t code;
    Bytes input;
  } cases[] = {
      {{"--json", "attach", "127.0.0.3"}, code::kAttachServer, {127, 0, 0, 3}},
      {{"--json", "link", "127.0.0.3", "5"}, code::kLinkDevice, {5}},
      {{"--json", "unlink", "127.0.0.3", "5"}, code::kUnlinkDevice, {5}},
      {{"--json", "lock", "127.0.0.3", "5", "2", "3600"},
       code::kLockDevice,
       {5, 0x10, 0x0E, 0, 0, 2}},
      {{"--json", "unlock", "127.0.0.3", "5", "1", "0"}, code::kUnlockDevice, {5, 0, 0, 0, 0, 1}},
      {{"--json", "request", "127.0.0.3", "5"}, code::kRequestToUse, {5, 1, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, 0) << c.args[1] << r.err;
    EXPECT_EQ(r.out, "{\"ok\":true}\n") << c.args[1];
    const auto sent = bus.requestsFor(c.code);
    ASSERT_FALSE(sent.empty()) << c.args[1];
    EXPECT_EQ(sent.back().input, c.input) << c.args[1];
    if (c.code != code::kAttachServer) {
      EXPECT_EQ(sent.back().path, kSpurB) << c.args[1];
    }
  }
}

TEST_F(CliRunnerTest, ExitStatus) {
  bus.SetReply(kTrunk, code::kGetServerList, FakeBusTransport::Success(ListReply(0, 0, {})));
  bus.SetReply(kTrunk, code::kGetTrunkVersion, FakeBusTransport::Fail(buserr::kGenFailure));
  bus.SetReply(kSpurA, code::kLinkDevice, FakeBusTransport::Fail(buserr::kGenFailure));
  bus.SetReply(kSpurA, code::kGetDeviceList, FakeBusTransport::Fail(buserr::kGenFailure));
  bus.SetReply(kSpurB, code::kGetDeviceList,
               Reply{true, 0, DeviceListReply({DeviceFields{}}), 4000});
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"servers"}, 1},                           // -1 from the server list
      {{"--json", "trunk-version"}, 1},           // a failed version query
      {{"--json", "link", "127.0.0.2", "1"}, 1},  // a false result
      {{"devices", "127.0.0.3"}, 1},              // a device list longer than its buffer
      {{"devices", "127.0.0.2"}, 0},              // a failed list is zero devices
      {{"devices", "10.9.9.9"}, 4},               // no Spur has the address
      {{}, 2},
      {{"--json"}, 2},
      {{"frobnicate"}, 2},
      {{"link", "127.0.0.2"}, 2},
      {{"link", "127.0.0.2", "one"}, 2},
      {{"lock", "127.0.0.2", "1", "2", "-5"}, 2},
      {{"lock", "127.0.0.2", "1", "256", "5"}, 2},
      {{"watch", "--count"}, 2},
      {{"watch", "--count", "x"}, 2},
      {{"--verbose", "servers"}, 2},
  };
  for (const auto& c : cases) {
    const CliRun r = Cli(c.args);
    const std::string what = c.args.empty() ? "(nothing)" : c.args.back();
    EXPECT_EQ(r.status, c.status) << what;
    if (c.status != 0) {
      EXPECT_EQ(r.out, "") << what << ": nothing on standard output";
      EXPECT_NE(r.err, "") << what << ": a message on standard error";
    }
  }
}

TEST_F(CliRunnerTest, NoTrunkIsAnIncompleteSetup) {
  for (auto listing : {std::optional<std::vector<std::string>>{},
                       std::optional<std::vector<std::string>>{std::vector<std::string>{}}}) {
    bus.SetInterfaces(InterfaceClass::Trunk, listing);
    const CliRun r = Cli({"--json", "spurs"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.\n");
  }
}

TEST_F(CliRunnerTest, SpurListingThatFailsMeansNoSpurHasTheAddress) {
  bus.SetInterfaces(InterfaceClass::Spur, std::nullopt);
  EXPECT_EQ(Cli({"devices", "127.0.0.2"}).status, 4);
  EXPECT_EQ(Cli({"spurs"}).status, 1);
}

TEST_F(CliRunnerTest, WatchPrintsRecordsUntilTheCount) {
  Bytes kind1(16, 0);
  kind1[0] = 1;
  kind1[9] = 127, kind1[12] = 3;
  Bytes kind4{4, 1, 7, 127, 0, 0, 2, 10, 0, 0, 9, 5, 0, 0, 0};
  AppendText(kind4, "B\xD6RJE");
  bus.QueueEvent(kTrunk, FakeBusTransport::Success({}));  // its own wake: no record
  bus.QueueEvent(kTrunk, FakeBusTransport::Success({}));  // a later wake: no record either
  bus.QueueEvent(kTrunk, FakeBusTransport::Success(kind1));
  bus.QueueEvent(kTrunk, FakeBusTransport::Success(InBuffer({2}, 16)));
  bus.QueueEvent(kTrunk, FakeBusTransport::Success(kind4));
  bus.QueueEvent(kTrunk, FakeBusTransport::Success(InBuffer({9}, 16)));
  bus.QueueEvent(kTrunk, FakeBusTransport::Success(InBuffer({3}, 16)));  // beyond the count
  const CliRun r = Cli({"--json", "watch", "--count", "4"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"kind\":1,\"name\":\"UPDATE_DEVICE_LIST\",\"ip\":\"127.0.0.3\"}\n"
            "{\"kind\":2,\"name\":\"UPDATE_BUS_LIST\"}\n"
            "{\"kind\":4,\"name\":\"OP_UBUS_REQUEST_TO_USE_DEVICE\",\"subCode\":1,"
            "\"deviceNumber\":\"7\",\"ip\":\"127.0.0.2\",\"requesterIp\":\"10.0.0.9\","
            "\"requesterName\":\"B\\u00D6RJE\"}\n"
            "{\"kind\":9}\n");
  // The line a script waits for, once: after the first read, before any record.
  EXPECT_EQ(r.err, std::string(kWatchReadingLine) + "\n");
  const auto requests = bus.requests();
  size_t eventReads = 0;
  for (const auto& q : requests) eventReads += q.eventRead && q.outputLength == 2048;
  EXPECT_EQ(eventReads, 6u);
  // The wake that answers the first read goes out before it.
  const auto firstRead = std::find_if(requests.begin(), requests.end(),
                                      [](const auto& q) { return q.eventRead; });
  const auto wake = std::find_if(requests.begin(), requests.end(), [](const auto& q) {
    return !q.eventRead && q.code == code::kWakeEventReader;
  });
  EXPECT_LT(wake, firstRead);
  // A read that fails ends the watch.
  EXPECT_EQ(Cli({"watch"}).status, 0 + 1);
}
