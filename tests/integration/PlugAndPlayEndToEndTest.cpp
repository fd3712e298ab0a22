// SPDX-License-Identifier: GPL-2.0-or-later
// Plug and play end to end: a real device server and two PCs' busd. What each PC's machine hive
// records as devices are linked and unlinked, whether a device node is present, ejects with and
// without a veto, and the client's storage eject over all of it.
#include <gtest/gtest.h>

#include "devices/Eject.h"
#include "driver/PlugAndPlay.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "protocol/BusFrame.h"
#include "tests/support/Lab.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const char* const kDevices = R"([device 1]
type = PRINTER
vendor-id = 04F9
product-id = 0042
manufacturer = Lumen
product = Laser 2040
serial = LW2040-00731

[device 2]
type = MASS STORAGE
vendor-id = 2E10
product-id = 5567
manufacturer = Keystone
product = Pocket Drive 32
serial = 4C5300012312

[device 3]
type = MASS STORAGE
vendor-id = 2E10
product-id = 5568
product = Vault 64
serial = KS-VETO-1
eject-veto = 5
eject-veto-name = Volume in use by Backup

[device 4]
type = MFP
vendor-id = 2E11
product-id = 5511
manufacturer = Corvid
product = Duo 4500 MFP
serial = CN0A1B2C3D
sane-device = test:0

[device 5]
type = MASS STORAGE
vendor-id = 2E10
product-id = 5569
product = Plain Stick
)";

const std::string kEnumUsb = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";

// One PC as the client sees it: its bus and its machine hive.
struct Client {
  explicit Client(const Lab::Pc& pc)
      : bus(pc.runtimeDir), hive(HivePaths{"", pc.machineHive}), pnp(bus, clock) {}

  std::vector<std::string> Instances(const std::string& ids) {
    RegKey key;
    std::vector<std::string> names;
    if (hive.OpenKey(RegRoot::LocalMachine, kEnumUsb + ids, regaccess::kRead, false, key) == 0)
      hive.EnumSubKeys(key, names);
    return names;
  }
  std::vector<std::string> Compatible(const std::string& path) {
    RegKey key;
    std::vector<std::string> list;
    if (hive.OpenKey(RegRoot::LocalMachine, kEnumUsb + path, regaccess::kRead, false, key) == 0)
      RegQueryMultiString(hive, key, "CompatibleIDs", list);
    return list;
  }
  int Eject(uint16_t vid, uint16_t pid, const std::string& serial) {
    return EjectStorage(hive, pnp, vid, pid, serial);
  }

  BusIpcTransport bus;
  SystemClock clock;
  SqliteRegistry hive;
  PlugAndPlay pnp;
};

class PlugAndPlayLab : public ::testing::Test {
 protected:
  void SetUp() override {
    lab.StartHub({"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", kDevices, {}});
    a = &lab.StartPc("PC-A", {"127.0.0.2"});
    b = &lab.StartPc("PC-B", {"127.0.0.2"});
    for (auto* pc : {a, b}) {
      ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.2", "1"));
      ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2"}));
    }
    clientA = std::make_unique<Client>(*a);
    clientB = std::make_unique<Client>(*b);
  }
  void Cli(const Lab::Pc& pc, const std::string& command, const std::string& device,
           int exitCode = 0) {
    const auto r = lab.Cli(pc, {command, "127.0.0.2", device});
    ASSERT_EQ(r.exitCode, exitCode) << command << " " << device << ": " << r.err;
  }
  // A veto set at run time by an administration connection on the server's machine.
  static void SetVeto(uint8_t device, uint32_t type, const std::string& name) {
    WireClient admin("127.0.0.2", 2005, "127.0.0.1");
    const auto frames =
        admin.Call(wire::MsgType::SetEjectVeto, 3, wire::EncodeSetEjectVeto({device, type, name}));
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(wire::DecodeResult(frames.back().payload), 0u);
  }

  Lab lab;
  Lab::Pc* a = nullptr;
  Lab::Pc* b = nullptr;
  std::unique_ptr<Client> clientA, clientB;
};

}  // namespace

TEST_F(PlugAndPlayLab, DeviceDatabaseIsWrittenWhenLinkedHereAndKeptAfterwards) {
  EXPECT_TRUE(clientA->Instances("Vid_04f9&Pid_0042").empty());
  // Recorded by the time the link has answered: the client may look at once.
  Cli(*a, "link", "1");
  EXPECT_EQ(clientA->Instances("Vid_04f9&Pid_0042"), std::vector<std::string>{"LW2040-00731"});
  EXPECT_EQ(clientA->Compatible("Vid_04f9&Pid_0042\\LW2040-00731").back(), "USB\\Class_07");
  Cli(*a, "link", "2");
  Cli(*a, "link", "4");
  EXPECT_EQ(clientA->Compatible("Vid_2e10&Pid_5567\\4C5300012312").back(), "USB\\Class_08");
  EXPECT_EQ(clientA->Compatible("Vid_2e11&Pid_5511\\CN0A1B2C3D").back(), "USB\\COMPOSITE");
  EXPECT_EQ(clientA->Instances("Vid_2e11&Pid_5511&MI_00").size(), 1u);
  EXPECT_EQ(clientA->Instances("Vid_2e11&Pid_5511&MI_01").size(), 1u);
  EXPECT_TRUE(clientB->Instances("Vid_04f9&Pid_0042").empty()) << "linked to another PC";

  Cli(*a, "unlink", "1");
  EXPECT_FALSE(clientA->pnp.LocateDevNode("USB\\Vid_04f9&Pid_0042\\LW2040-00731"))
      << "gone by the time the unlink has answered";
  EXPECT_EQ(clientA->Instances("Vid_04f9&Pid_0042").size(), 1u) << "kept after the device went";
  Cli(*b, "link", "1");
  EXPECT_EQ(clientB->Instances("Vid_04f9&Pid_0042"), std::vector<std::string>{"LW2040-00731"});
  EXPECT_NE(a->busd->Output().find("linked to this PC: USB\\Vid_2e11&Pid_5511\\CN0A1B2C3D"),
            std::string::npos)
      << a->busd->Output();
}

TEST_F(PlugAndPlayLab, NodeIsPresentOnlyWhileLinkedHere) {
  const std::string id = "USB\\Vid_2e10&Pid_5567\\4C5300012312";
  EXPECT_FALSE(clientA->pnp.LocateDevNode(id));
  Cli(*a, "link", "2");
  const struct {
    const char* what;
    Client* client;
    std::string id;
    bool present;
  } cases[] = {
      {"linked here", clientA.get(), id, true},
      {"IDs in upper case", clientA.get(), "USB\\VID_2E10&PID_5567\\4C5300012312", true},
      {"the client's own letter cases", clientA.get(), "USB\\Vid_2e10&Pid_5567\\4C5300012312",
       true},
      {"instance in another case", clientA.get(), "USB\\Vid_2e10&Pid_5567\\4c5300012312", false},
      {"another product", clientA.get(), "USB\\Vid_2e10&Pid_5568\\4C5300012312", false},
      {"on the other PC", clientB.get(), id, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.client->pnp.LocateDevNode(c.id), c.present) << c.what;

  Cli(*b, "link", "2");  // without a lock, another PC may take it
  EXPECT_TRUE(Eventually([&] { return !clientA->pnp.LocateDevNode(id); }));
  EXPECT_TRUE(clientB->pnp.LocateDevNode(id));
}

TEST_F(PlugAndPlayLab, EjectAsksTheServerWhichMayVeto) {
  Cli(*a, "link", "2");
  Cli(*a, "link", "3");
  uint32_t vetoType = 99;
  std::string vetoName = "x";
  const std::string stick = "USB\\Vid_2e10&Pid_5567\\4C5300012312";
  ASSERT_TRUE(clientA->pnp.RequestDeviceEject(stick, vetoType, vetoName));
  EXPECT_EQ(vetoType, 0u);
  EXPECT_EQ(vetoName, "");
  ASSERT_TRUE(
      clientA->pnp.RequestDeviceEject("USB\\Vid_2e10&Pid_5568\\KS-VETO-1", vetoType, vetoName));
  EXPECT_EQ(vetoType, 5u);
  EXPECT_EQ(vetoName, "Volume in use by Backup");

  SetVeto(2, 6, "Open files on E:");
  ASSERT_TRUE(clientA->pnp.RequestDeviceEject(stick, vetoType, vetoName));
  EXPECT_EQ(vetoType, 6u);
  EXPECT_EQ(vetoName, "Open files on E:");

  vetoType = 42;
  EXPECT_FALSE(clientB->pnp.RequestDeviceEject(stick, vetoType, vetoName)) << "not linked there";
  EXPECT_EQ(vetoType, 42u);

  // Prepared for removal, the device is still this PC's to unlock and unlink.
  SetVeto(2, 0, "");
  ASSERT_TRUE(clientA->pnp.RequestDeviceEject(stick, vetoType, vetoName));
  EXPECT_EQ(vetoType, 0u);
  EXPECT_TRUE(clientA->pnp.LocateDevNode(stick));
  ASSERT_EQ(lab.Cli(*a, {"lock", "127.0.0.2", "2", "2", "3600"}).exitCode, 0);
  ASSERT_EQ(lab.Cli(*a, {"unlock", "127.0.0.2", "2", "2", "0"}).exitCode, 0);
  Cli(*a, "unlink", "2");
}

TEST_F(PlugAndPlayLab, EjectStorageResults) {
  using namespace ejectresult;
  const struct {
    const char* what;
    std::function<void()> before;
    Client* client;
    uint16_t pid;
    std::string serial;
    int result;
  } steps[] = {
      {"never linked: no database entry", [] {}, clientA.get(), 0x5567, "4C5300012312",
       kNoDatabaseEntry},
      {"linked here", [&] { Cli(*a, "link", "2"); }, clientA.get(), 0x5567, "4C5300012312",
       kEjected},
      {"vetoed by the server's config", [&] { Cli(*a, "link", "3"); }, clientA.get(), 0x5568,
       "KS-VETO-1", kRefused},
      {"vetoed at run time", [&] { SetVeto(2, 6, "Open files on E:"); }, clientA.get(), 0x5567,
       "4C5300012312", kRefused},
      {"veto lifted", [&] { SetVeto(2, 0, ""); }, clientA.get(), 0x5567, "4C5300012312", kEjected},
      {"a serial no instance has", [] {}, clientA.get(), 0x5567, "NOT-THIS-ONE", kEjected},
      {"no serial: the first instance", [&] { Cli(*a, "link", "5"); }, clientA.get(), 0x5569, "",
       kEjected},
      {"unlinked: the entry stays, the node is gone", [&] { Cli(*a, "unlink", "2"); },
       clientA.get(), 0x5567, "4C5300012312", kNotPresent},
      {"linked to the other PC", [&] { Cli(*b, "link", "2"); }, clientA.get(), 0x5567,
       "4C5300012312", kNotPresent},
      {"on the other PC", [] {}, clientB.get(), 0x5567, "4C5300012312", kEjected},
      {"its server stopped", [&] { lab.StopHub("127.0.0.2"); }, clientA.get(), 0x5568, "KS-VETO-1",
       kNotPresent},
  };
  for (const auto& s : steps) {
    s.before();
    // A device another PC took reaches this PC's list a moment after that PC's command.
    int result = 0;
    Eventually([&] { return (result = s.client->Eject(0x2E10, s.pid, s.serial)) == s.result; },
               std::chrono::seconds(12));
    EXPECT_EQ(result, s.result) << s.what;
  }
}

TEST_F(PlugAndPlayLab, MalformedRequestsAreAnsweredWithAnError) {
  const BusHandle trunk = DriverClient(clientA->bus, clientA->clock).OpenTrunk();
  ASSERT_NE(trunk, kInvalidBusHandle);
  const struct {
    const char* what;
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t error;
  } cases[] = {
      {"node present without a NUL", busipc::code::kDeviceNodePresent,
       std::vector<uint8_t>(30, 'U'), buserr::kInvalidParameter},
      {"eject without a NUL", busipc::code::kRequestEject, std::vector<uint8_t>(30, 'U'),
       buserr::kInvalidParameter},
      {"node present over 200 bytes", busipc::code::kDeviceNodePresent,
       std::vector<uint8_t>(201, 0), buserr::kInvalidParameter},
      {"eject of 64 KiB", busipc::code::kRequestEject, std::vector<uint8_t>(65536, 0),
       buserr::kInvalidParameter},
  };
  for (const auto& c : cases) {
    uint8_t out[264] = {};
    const IoResult r = clientA->bus.Control(trunk, c.code, c.input.data(),
                                            static_cast<uint32_t>(c.input.size()), out, sizeof out);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, c.error) << c.what;
  }
  std::string version;
  EXPECT_TRUE(DriverClient(clientA->bus, clientA->clock).GetTrunkVersion(trunk, version))
      << "busd still answers on the same connection";
  clientA->bus.Close(trunk);
}
