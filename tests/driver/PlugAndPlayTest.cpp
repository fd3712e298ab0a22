// SPDX-License-Identifier: GPL-2.0-or-later
// The plug-and-play calls over a scripted bus (the buffers they send, the replies they accept),
// and the storage eject over a scripted bus and a real hive for the faults a live bus rarely
// shows; the eject dialog's text and answers.
#include <gtest/gtest.h>

#include <cstring>

#include "base/ByteOrder.h"
#include "devices/Eject.h"
#include "driver/PlugAndPlay.h"
#include "platform/linux/SqliteRegistry.h"
#include "protocol/BusFrame.h"
#include "tests/support/FakeBusTransport.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedUi.h"

using namespace tessaro;
using namespace tessaro::testing;
namespace code = tessaro::busipc::code;
using Reply = FakeBusTransport::Reply;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr const char* kTrunk = "/run/t/trunk/0";

Bytes CString(const std::string& text) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  return b;
}

Bytes EjectOutput(uint32_t vetoType, const std::string& name, bool terminate = true) {
  Bytes b(4 + name.size() + (terminate ? 1 : 0), 0);
  PutU32(b.data(), vetoType);
  std::memcpy(b.data() + 4, name.data(), name.size());
  return b;
}

class PlugAndPlayTest : public ::testing::Test {
 protected:
  PlugAndPlayTest() { bus.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{kTrunk}); }
  FakeBusTransport bus;
  FakeClock clock;
  PlugAndPlay pnp{bus, clock};
};

}  // namespace

TEST_F(PlugAndPlayTest, LocateSendsTheIdWithItsNulOnATrunkOfItsOwn) {
  bus.SetReplies(kTrunk, code::kDeviceNodePresent,
                 {FakeBusTransport::Success({}), FakeBusTransport::Fail(1168)});
  EXPECT_TRUE(pnp.LocateDevNode("USB\\Vid_2e10&Pid_5567\\4C53"));
  EXPECT_FALSE(pnp.LocateDevNode("USB\\Vid_2e10&Pid_5567\\4C53"));
  const auto sent = bus.requestsFor(code::kDeviceNodePresent);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].path, kTrunk);
  EXPECT_EQ(sent[0].input, CString("USB\\Vid_2e10&Pid_5567\\4C53"));
  EXPECT_EQ(bus.openHandles(), 0) << "each call closes the Trunk it opened";

  // The text ends at its first NUL, as a C string does; 199 bytes is the longest sent.
  EXPECT_FALSE(pnp.LocateDevNode(std::string("USB\\A\0B", 7)));
  EXPECT_EQ(bus.requestsFor(code::kDeviceNodePresent).back().input, CString("USB\\A"));
  EXPECT_FALSE(pnp.LocateDevNode(std::string(199, 'x')));
  EXPECT_EQ(bus.requestsFor(code::kDeviceNodePresent).back().input.size(), 200u);
  EXPECT_FALSE(pnp.LocateDevNode(std::string(200, 'x')));
  EXPECT_EQ(bus.requestsFor(code::kDeviceNodePresent).size(), 4u) << "too long: never sent";

  bus.SetInterfaces(InterfaceClass::Trunk, std::nullopt);
  EXPECT_FALSE(pnp.LocateDevNode("USB\\Vid_2e10&Pid_5567\\4C53")) << "no bus";
}

TEST_F(PlugAndPlayTest, EjectReadsVetoTypeAndNameOrLeavesThemAlone) {
  const struct {
    const char* what;
    Reply reply;
    bool ok;
    uint32_t vetoType;
    std::string vetoName;
  } cases[] = {
      {"no veto", FakeBusTransport::Success(EjectOutput(0, "")), true, 0, ""},
      {"a veto and its name", FakeBusTransport::Success(EjectOutput(6, "Open files on E:")), true,
       6, "Open files on E:"},
      {"a name without its NUL ends with the reply",
       FakeBusTransport::Success(EjectOutput(5, "Backup", false)), true, 5, "Backup"},
      {"a reply larger than the buffer",
       {true, 0, EjectOutput(5, std::string(300, 'n')), 304},
       true,
       5,
       std::string(259, 'n')},
      {"reply shorter than a veto type", FakeBusTransport::Success({1, 0}), false, 77, "before"},
      {"refused", FakeBusTransport::Fail(31), false, 77, "before"},
  };
  for (const auto& c : cases) {
    bus.SetReply(kTrunk, code::kRequestEject, c.reply);
    uint32_t vetoType = 77;
    std::string vetoName = "before";
    EXPECT_EQ(pnp.RequestDeviceEject("USB\\Vid_2e10&Pid_5567\\4C53", vetoType, vetoName), c.ok)
        << c.what;
    EXPECT_EQ(vetoType, c.vetoType) << c.what;
    EXPECT_EQ(vetoName, c.vetoName) << c.what;
  }
  const auto sent = bus.requestsFor(code::kRequestEject).back();
  EXPECT_EQ(sent.input, CString("USB\\Vid_2e10&Pid_5567\\4C53"));
  EXPECT_EQ(sent.outputLength, 264u);
}

namespace {

// A machine hive with instances under one storage device's IDs, and a scripted bus.
class EjectStorageTest : public PlugAndPlayTest {
 protected:
  void AddInstance(const std::string& name) {
    RegKey key;
    ASSERT_EQ(hive.OpenKey(RegRoot::LocalMachine,
                           "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2E10&PID_55AB\\" + name,
                           regaccess::kAllAccess, true, key),
              0u);
  }
  int Eject(const std::string& serial) { return EjectStorage(hive, pnp, 0x2E10, 0x55AB, serial); }

  TempDir dir;
  SqliteRegistry hive{HivePaths{"", dir / "machine.hive"}};
};

}  // namespace

TEST_F(EjectStorageTest, ResultsFromTheHiveAndTheBus) {
  EXPECT_EQ(Eject("S1"), ejectresult::kNoDatabaseEntry) << "no hive at all";
  AddInstance("S1");
  AddInstance("S2");
  const struct {
    const char* what;
    std::string serial;
    Reply present, eject;
    int result;
    std::string askedFor;  // the instance ID sent; empty: nothing sent
  } cases[] = {
      {"ejected", "S2", FakeBusTransport::Success({}),
       FakeBusTransport::Success(EjectOutput(0, "")), ejectresult::kEjected,
       "USB\\Vid_2e10&Pid_55AB\\S2"},
      {"first instance for no serial", "", FakeBusTransport::Success({}),
       FakeBusTransport::Success(EjectOutput(0, "")), ejectresult::kEjected,
       "USB\\Vid_2e10&Pid_55AB\\S1"},
      {"serial of no instance", "S3", FakeBusTransport::Success({}), FakeBusTransport::Success({}),
       ejectresult::kEjected, ""},
      {"serial in another letter case", "s2", FakeBusTransport::Success({}),
       FakeBusTransport::Success({}), ejectresult::kEjected, ""},
      {"node not present", "S2", FakeBusTransport::Fail(1168), FakeBusTransport::Success({}),
       ejectresult::kNotPresent, "USB\\Vid_2e10&Pid_55AB\\S2"},
      {"vetoed", "S2", FakeBusTransport::Success({}),
       FakeBusTransport::Success(EjectOutput(6, "in use")), ejectresult::kRefused,
       "USB\\Vid_2e10&Pid_55AB\\S2"},
      {"server did not answer", "S2", FakeBusTransport::Success({}), FakeBusTransport::Fail(31),
       ejectresult::kRefused, "USB\\Vid_2e10&Pid_55AB\\S2"},
      {"malformed answer", "S2", FakeBusTransport::Success({}), FakeBusTransport::Success({0, 0}),
       ejectresult::kRefused, "USB\\Vid_2e10&Pid_55AB\\S2"},
  };
  for (const auto& c : cases) {
    bus.SetReply(kTrunk, code::kDeviceNodePresent, c.present);
    bus.SetReply(kTrunk, code::kRequestEject, c.eject);
    const size_t before = bus.requests().size();
    EXPECT_EQ(Eject(c.serial), c.result) << c.what;
    const auto all = bus.requests();
    if (c.askedFor.empty()) {
      EXPECT_EQ(all.size(), before) << c.what;
      continue;
    }
    ASSERT_GT(all.size(), before) << c.what;
    EXPECT_EQ(all[before].code, code::kDeviceNodePresent) << c.what;
    EXPECT_EQ(all[before].input, CString(c.askedFor)) << c.what;
    const bool ejectAsked = all.size() > before + 1;
    EXPECT_EQ(ejectAsked, c.result != ejectresult::kNotPresent) << c.what;
  }
}

TEST(EjectDeviceDlg, TextAndWhatEachAnswerMeans) {
  const EjectDeviceDlg dlg("Keystone - Pocket Drive 32");
  EXPECT_EQ(dlg.Text(),
            "The device Keystone - Pocket Drive 32 is busy, please click \"Cancel\" to continue, "
            "or click \"Disconnect\" to hard stop the device.");
  const struct {
    int ejectResult;
    std::optional<int> answer;  // the dialog's modal result; none: it must not be shown
    bool release;
  } cases[] = {
      {ejectresult::kEjected, std::nullopt, true},
      {ejectresult::kNotPresent, std::nullopt, true},
      {ejectresult::kRefused, answer::kOk, true},
      {ejectresult::kRefused, answer::kCancel, false},
      {ejectresult::kNoDatabaseEntry, answer::kOk, true},
      {ejectresult::kNoDatabaseEntry, answer::kCancel, false},
      {ejectresult::kRefused, 0, false},  // closed some other way
  };
  for (const auto& c : cases) {
    ScriptedUi ui;
    if (c.answer) ui.QueueAnswer(*c.answer);
    EXPECT_EQ(MayReleaseStorage(c.ejectResult, ui, "Keystone - Pocket Drive 32"), c.release)
        << c.ejectResult;
    ASSERT_EQ(ui.dialogs().size(), c.answer ? 1u : 0u) << c.ejectResult;
    if (c.answer) {
      EXPECT_EQ(ui.dialogs()[0].dialogId, "TEjectDeviceDlg");
      EXPECT_EQ(ui.dialogs()[0].text, dlg.Text());
    }
    EXPECT_TRUE(ui.messages().empty());
  }
}
