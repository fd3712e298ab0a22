// SPDX-License-Identifier: GPL-2.0-or-later
// Scan Now over a scripted bus: what it asks the driver (link only when another PC or nobody
// holds the device, lock kind 1 for 1200 s, the unlock with 0 s), which path the emulated Windows
// version takes, what it says when the device is no scanner or cannot be had, and that only the
// lock goes at the end, when the device's row is still there.
#include "base/ByteOrder.h"
#include "devices/MainWindowPort.h"
#include "host/WindowsVersion.h"
#include "platform/linux/SqliteRegistry.h"
#include "scanning/wia/ScanNow.h"
#include "tests/support/RefreshFixture.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01", 1, 1};
const Dev kScanner{.number = 3,
                   .type = "SCANNER",
                   .manufacturer = "Epsilon",
                   .product = "Flatbed 2",
                   .vendorId = 0x04B8,
                   .productId = 0x0110,
                   .serial = "SC123"};

class RecordingPaths : public ScanPaths {
 public:
  bool TwainReady() override { return twainReady; }
  bool RunTwain(const DeviceData& snapshot, const std::string& name, bool& lockHeld) override {
    ran.push_back("twain " + snapshot.deviceNumber + " " + name);
    if (during) during();
    lockHeld = twainLockHeld;
    return twainSourceFound;
  }
  void RunWia(const DeviceData& snapshot, const std::string& id) override {
    ran.push_back("wia " + snapshot.deviceNumber + " " + id);
    if (during) during();
  }
  bool twainReady = true;
  bool twainSourceFound = true;
  bool twainLockHeld = true;
  std::function<void()> during;
  std::vector<std::string> ran;
};

class ScanNowTest : public RefreshTest {
 protected:
  void SetUp() override {
    Listed(kHub, {kScanner});
    cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
    for (uint32_t code : {busop::kLinkDevice, busop::kLockDevice, busop::kUnlockDevice})
      Answer(code, true);
    const std::string key = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_04B8&Pid_0110\\SC123";
    const std::string cls = "SYSTEM\\CurrentControlSet\\Control\\Class\\{6BDD}\\0000";
    Put(key, "CompatibleIDs", regtype::kMultiSz, std::string("USB\\Class_FF\0\0", 14));
    Put(key, "Class", regtype::kSz, "Image");
    Put(key, "Service", regtype::kSz, "usbscan");
    Put(key, "Driver", regtype::kSz, "{6BDD}\\0000");
    Put(cls, "SubClass", regtype::kSz, "StillImage");
    Put(cls, "DeviceType", regtype::kDword, std::string("\1\0\0\0", 4));
    Put(cls, "DeviceID", regtype::kSz, "test:0");
  }
  void Put(const std::string& path, const std::string& name, uint32_t type,
           const std::string& data) {
    RegKey key;
    ASSERT_EQ(registry.OpenKey(RegRoot::LocalMachine, path, regaccess::kAllAccess, true, key), 0u);
    ASSERT_EQ(registry.SetValue(key, name, type, data), 0u);
  }
  void Answer(uint32_t code, bool ok) {
    bus.SetReply("spur/" + kHub.ip, code,
                 ok ? FakeBusTransport::Success({}) : FakeBusTransport::Fail(buserr::kGenFailure));
  }
  ScanNow MakeScanNow(const char* version) {
    uint32_t flags = VersionFlagsFor(*ParseWindowsVersion(version));
    return ScanNow({cycle.driver(),
                    registry,
                    registry,
                    ui,
                    pump,
                    clock,
                    kAppKey,
                    "PC-A",
                    flags,
                    [this](const DeviceData& d) -> std::optional<DeviceData> {
                      const DeviceData* row =
                          model.FindDeviceRow(d.serverName, d.serverIp, d.DeviceIdentityText);
                      return row ? std::optional<DeviceData>(*row) : std::nullopt;
                    },
                    {}});
  }
  const DeviceData& ScannerRow() const { return *Row(kHub.ip, "3"); }
  // "link", "lock N kind", "unlock N kind" of every device request, in order.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    const auto all = bus.requests();
    for (size_t i = base_; i < all.size(); ++i) {
      const auto& r = all[i];
      if (r.code == busop::kLinkDevice) out.push_back("link");
      if (r.code == busop::kLockDevice || r.code == busop::kUnlockDevice) {
        const uint32_t seconds = GetU32(&r.input[1]);
        out.push_back(std::string(r.code == busop::kLockDevice ? "lock " : "unlock ") +
                      std::to_string(seconds) + " kind " + std::to_string(r.input[5]));
      }
    }
    return out;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& m : ui.messages()) out.push_back(m.text);
    return out;
  }

  ScriptedUi ui;
  size_t base_ = 0;  // requests before the case
  NoWindow pump;
  RecordingPaths paths;
};

TEST_F(ScanNowTest, LinksLocksForTwentyMinutesAndDropsOnlyTheLock) {
  ScanNow scan = MakeScanNow("6.1");
  const auto before = clock.Now();
  EXPECT_EQ(scan.Run(ScannerRow(), paths), ScanNowOutcome::Scanned);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"link", "lock 1200 kind 1"}));
  // The device's row says nobody holds it, so the end sends no unlock: the unlock follows the
  // row as the list shows it then (see the next case).
  EXPECT_EQ(paths.ran, (std::vector<std::string>{"wia 3 test:0"}));
  EXPECT_GE(clock.Now() - before, std::chrono::milliseconds(2000));
  EXPECT_FALSE(scan.Busy());
}

TEST_F(ScanNowTest, TheUnlockGoesWhenTheRowShowsThisPcAndNotWhenTheRowIsGone) {
  struct Case {
    const char* name;
    std::function<void()> during;
    std::vector<std::string> requests;
  };
  const Case cases[] = {
      {"row held by this PC",
       [this] {
         Dev held = kScanner;
         held.owner = "PC-A";
         Devices(kHub.ip, {held});
         cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
       },
       {"link", "lock 1200 kind 1", "unlock 0 kind 1"}},
      {"row gone",
       [this] {
         Devices(kHub.ip, {});
         cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
       },
       {"link", "lock 1200 kind 1"}},
  };
  for (const Case& c : cases) {
    base_ = bus.requests().size();
    Devices(kHub.ip, {kScanner});
    cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
    paths.during = c.during;
    ScanNow scan = MakeScanNow("6.1");
    scan.Run(ScannerRow(), paths);
    EXPECT_EQ(Requests(), c.requests) << c.name;
  }
}

TEST_F(ScanNowTest, ADeviceThisPcHoldsIsLockedWithoutALink) {
  Dev held = kScanner;
  held.owner = "PC-A";
  Devices(kHub.ip, {held});
  cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
  ScanNow scan = MakeScanNow("6.1");
  scan.Run(ScannerRow(), paths);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"lock 1200 kind 1", "unlock 0 kind 1"}));
}

TEST_F(ScanNowTest, RefusalsSayWhyAndLeaveTheDeviceAlone) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* version;
    ScanNowOutcome outcome;
    std::vector<std::string> requests;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"no TWAIN on Windows 2000",
       [this] { paths.twainReady = false; },
       "5.0",
       ScanNowOutcome::NoTwain,
       {},
       {scannow::SNo_TWAIN_Driver}},
      {"link refused (another PC holds it)",
       [this] { Answer(busop::kLinkDevice, false); },
       "6.1",
       ScanNowOutcome::LinkFailed,
       {"link"},
       {scannow::SFail_Link}},
      {"lock refused",
       [this] { Answer(busop::kLockDevice, false); },
       "6.1",
       ScanNowOutcome::LockFailed,
       {"link", "lock 1200 kind 1"},
       {std::string(scannow::SFail_Link) + "!"}},
      {"no scanner in the device database",
       [this] {
         RegKey root;
         registry.OpenKey(RegRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Enum",
                          regaccess::kAllAccess, false, root);
         registry.DeleteKey(root, "USB");
       },
       "6.1",
       ScanNowOutcome::NotScanner,
       {},
       {scannow::kNotScanner}},
  };
  for (const Case& c : cases) {
    for (uint32_t code : {busop::kLinkDevice, busop::kLockDevice, busop::kUnlockDevice})
      Answer(code, true);
    base_ = bus.requests().size();
    paths = RecordingPaths{};
    c.arrange();
    ScanNow scan = MakeScanNow(c.version);
    const size_t shown = ui.messages().size();
    EXPECT_EQ(scan.Run(ScannerRow(), paths), c.outcome) << c.name;
    EXPECT_EQ(Requests(), c.requests) << c.name;
    auto texts = Messages();
    texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(shown));
    EXPECT_EQ(texts, c.messages) << c.name;
    EXPECT_TRUE(paths.ran.empty()) << c.name;
    EXPECT_FALSE(scan.Busy()) << c.name;
  }
  // The not-a-scanner box is the top-most one with the exclamation icon.
  EXPECT_EQ(ui.messages().back().flags, mb::kOk | mb::kIconWarning | mb::kTopMost);
}

TEST_F(ScanNowTest, TheWindowsVersionChoosesThePath) {
  struct Case {
    const char* version;
    const char* path;
  };
  const Case cases[] = {{"6.1", "wia"}, {"5.1", "wia"}, {"5.0", "twain"}, {"4.0", "twain"}};
  for (const Case& c : cases) {
    paths.ran.clear();
    ScanNow scan = MakeScanNow(c.version);
    scan.Run(ScannerRow(), paths);
    ASSERT_EQ(paths.ran.size(), 1u) << c.version;
    EXPECT_TRUE(paths.ran[0].starts_with(c.path)) << c.version << ": " << paths.ran[0];
  }
}

TEST_F(ScanNowTest, TheTwainPathDropsTheLockOnlyWhileTheWindowStillHoldsIt) {
  Dev held = kScanner;
  held.owner = "PC-A";
  Devices(kHub.ip, {held});
  cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
  struct Case {
    const char* name;
    bool found;
    bool lockHeld;
    std::vector<std::string> requests;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"window closed holding the lock", true, true, {"lock 1200 kind 1", "unlock 0 kind 1"}, {}},
      {"idle timer dropped it already", true, false, {"lock 1200 kind 1"}, {}},
      {"no source of that name",
       false,
       true,
       {"lock 1200 kind 1", "unlock 0 kind 1"},
       {scannow::kNoScanDriver}},
  };
  for (const Case& c : cases) {
    base_ = bus.requests().size();
    const size_t shown = ui.messages().size();
    paths.twainSourceFound = c.found;
    paths.twainLockHeld = c.lockHeld;
    ScanNow scan = MakeScanNow("5.0");
    scan.Run(ScannerRow(), paths);
    EXPECT_EQ(Requests(), c.requests) << c.name;
    auto texts = Messages();
    texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(shown));
    EXPECT_EQ(texts, c.messages) << c.name;
  }
}

TEST_F(ScanNowTest, ASecondScanNowWhileOneRunsIsIgnored) {
  ScanNow scan = MakeScanNow("6.1");
  std::optional<ScanNowOutcome> inner;
  paths.during = [&] {
    if (!inner) inner = scan.Run(ScannerRow(), paths);
  };
  EXPECT_EQ(scan.Run(ScannerRow(), paths), ScanNowOutcome::Scanned);
  EXPECT_EQ(inner, ScanNowOutcome::Ignored);
  EXPECT_EQ(paths.ran.size(), 1u);
}

}  // namespace
