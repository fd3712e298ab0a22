// SPDX-License-Identifier: GPL-2.0-or-later
// The creation steps over a real hive and scripted bus, network and firewall: what is shown,
// what the tray looks like, the first-run gateway and the mini start.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>

#include "app/MainFormCore.h"
#include "host/HostChecks.h"
#include "tests/support/FakeBusTransport.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeFirewall.h"
#include "tests/support/HiveFixture.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro {
namespace {

// One Ethernet adapter (or none); the self-test's datagram comes back unless `echo` is off.
class OneAdapterNetwork : public HostNetwork {
 public:
  bool withAdapter = true;
  bool echo = true;
  bool resolves = true;
  std::string routes =
      "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n"
      "eth0\t00000000\t0102A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
  std::deque<std::string> sent;
  int openSockets = 0;

  std::vector<AdapterFacts> ListAdapters() override {
    if (!withAdapter) return {};
    return {{"eth0", "1", "52:54:00:12:34:56", "192.168.2.10"}};
  }
  std::string ReadRouteTable() override { return routes; }
  std::string ReadUdpTable(bool) override { return {}; }
  std::optional<std::string> ResolveIPv4(const std::string&) override {
    if (!resolves) return std::nullopt;
    return std::string("192.168.2.10");
  }
  int OpenBroadcastSocket(const std::string&, uint16_t, std::chrono::milliseconds) override {
    return 10 + openSockets++;
  }
  bool SendBroadcast(int, const uint8_t* data, size_t size, uint16_t) override {
    sent.emplace_back(reinterpret_cast<const char*>(data), size);
    return true;
  }
  ReceiveStatus Receive(int, uint8_t* buffer, size_t capacity, size_t& received) override {
    if (!echo || sent.empty()) return ReceiveStatus::TimedOut;
    const std::string datagram = sent.front();
    sent.pop_front();
    received = std::min(capacity, datagram.size());
    std::copy_n(datagram.data(), received, buffer);
    return ReceiveStatus::Datagram;
  }
  void CloseSocket(int) override { --openSockets; }
};

class RecordingShell : public MainFormShell {
 public:
  std::vector<std::string> calls;
  TrayLook look;
  void SetTrayLook(const TrayLook& l) override {
    look = l;
    calls.push_back("look");
  }
  void AddTrayIcon() override { calls.push_back("add"); }
  void StartMiniWindowTimer() override { calls.push_back("mini"); }
  void StartNotifyVersionTimer(int ms) override { calls.push_back("notify " + std::to_string(ms)); }
};

class CountingMutex : public NamedMutex {
 public:
  bool TryLock() override { return true; }
  void Unlock() override {}
};

class MainFormCoreTest : public HiveTest {
 protected:
  MainFormCoreTest() {
    bus_.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{"trunk0"});
    trace_ = std::tmpfile();
  }
  ~MainFormCoreTest() override { std::fclose(trace_); }

  std::unique_ptr<MainFormCore> Make() {
    MainFormServices services{registry_,
                              bus_,
                              clock_,
                              firewall_,
                              network_,
                              ui_,
                              nullptr,
                              [this](const std::string& name) -> std::unique_ptr<NamedMutex> {
                                mutexNames_.push_back(name);
                                return std::make_unique<CountingMutex>();
                              },
                              trace_};
    services.diagnoseTrunk = [this] { return trunkProblem_; };
    services.userName = "alice";
    return std::make_unique<MainFormCore>(services, shell_, state_);
  }
  StartupInputs Inputs(std::vector<std::string> args = {}) {
    StartupInputs inputs;
    inputs.programPath = "/opt/tessaro/tessaro-utility";
    inputs.arguments = std::move(args);
    inputs.workArea = {0, 0, 1024, 768};
    inputs.windowsVersionSetting = "6.1";
    return inputs;
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : ui_.messages()) texts.push_back(m.text);
    return texts;
  }

  testing::FakeBusTransport bus_;
  testing::FakeClock clock_;
  testing::AbsentFirewall firewall_;
  OneAdapterNetwork network_;
  testing::ScriptedUi ui_;
  RecordingShell shell_;
  ClientState state_;
  std::vector<std::string> mutexNames_;
  std::FILE* trace_;
  TrunkProblem trunkProblem_ = TrunkProblem::Unknown;
};

TEST_F(MainFormCoreTest, TheSetupMessageSaysItsCause) {
  bus_.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{});
  trunkProblem_ = TrunkProblem::NotRunning;
  // busd not running is told at every start: it is the machine's fault, and it gets mended.
  for (int start = 0; start < 2; ++start) {
    EXPECT_EQ(Make()->Create(Inputs({"-mini"})), CreateResult::SetupIncomplete);
    ASSERT_EQ(ui_.messages().size(), static_cast<size_t>(start + 1));
    EXPECT_EQ(ui_.messages().back().text,
              "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.\n\n"
              "The bus daemon tessaro-busd is not running. Next step: systemctl status "
              "tessaro-busd");
  }
}

TEST_F(MainFormCoreTest, AUserOutsideTheGroupIsToldOnceAtLogIn) {
  bus_.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{});
  trunkProblem_ = TrunkProblem::NoAccess;
  const std::string told =
      "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.\n\n"
      "The user alice is not in the group tessaro, which may use the bus daemon. Add it with: "
      "sudo usermod -aG tessaro alice (then log in again).";
  struct Step {
    std::vector<std::string> args;
    bool shown;
  } steps[] = {
      {{"-mini"}, true},   // the first log-in tells
      {{"-mini"}, false},  // the next ones do not
      {{}, true},          // started by hand, it always tells
      {{"-mini"}, false},
  };
  size_t shown = 0;
  for (const auto& step : steps) {
    EXPECT_EQ(Make()->Create(Inputs(step.args)), CreateResult::SetupIncomplete);
    shown += step.shown ? 1 : 0;
    ASSERT_EQ(ui_.messages().size(), shown);
    if (step.shown) {
      EXPECT_EQ(ui_.messages().back().text, told);
    }
    EXPECT_TRUE(shell_.calls.empty()) << "no tray icon";
  }
}

TEST_F(MainFormCoreTest, WithoutTheTrunkShowsTheSetupMessageAndMakesNothingElse) {
  bus_.SetInterfaces(InterfaceClass::Trunk, std::vector<std::string>{});
  auto core = Make();
  EXPECT_EQ(core->Create(Inputs()), CreateResult::SetupIncomplete);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].caption, "Corvana");
  EXPECT_EQ(ui_.messages()[0].text,
            "Tessaro Utility setup is incomplete!\n\nPlease reinstall again.");
  EXPECT_TRUE(shell_.calls.empty());  // no tray icon is ever added
  EXPECT_TRUE(mutexNames_.empty());
  // The settings were loaded before the Trunk was tried.
  EXPECT_EQ(UserText("MainForm Width"), "289");
}

TEST_F(MainFormCoreTest, ReadyStartInItsOrder) {
  auto core = Make();
  ASSERT_EQ(core->Create(Inputs()), CreateResult::Ready);
  EXPECT_TRUE(ui_.messages().empty());
  EXPECT_EQ(shell_.calls, (std::vector<std::string>{"look", "add", "notify 2000"}));
  EXPECT_EQ(shell_.look.tip, "Corvana Tessaro Utility");
  EXPECT_EQ(shell_.look.iconIndex, 0);
  EXPECT_EQ(mutexNames_, std::vector<std::string>{"RefreshServerList_QXV"});
  EXPECT_NE(core->Trunk(), kInvalidBusHandle);
  EXPECT_EQ(core->FirstRunGateway(), "192.168.2.1");
  EXPECT_EQ(core->WindowsVersionFlags(), 3u);  // Vista or later, NT 5 or later
  // The firewall's trace lines went to the trace stream, not to the user.
  std::rewind(trace_);
  char line[128] = {};
  ASSERT_NE(std::fgets(line, sizeof line, trace_), nullptr);
  EXPECT_STREQ(line, "CoCreateInstance failed: 0x80040154\n");
  // Centred in the 1024 x 768 work area.
  EXPECT_EQ(core->Placement().top, (768 - 351) / 2);
  EXPECT_EQ(core->Placement().left, (1024 - 289) / 2);

  core->Release();
  EXPECT_EQ(bus_.openHandles(), 0);
  EXPECT_EQ(network_.openSockets, 0);
  EXPECT_EQ(core->RefreshLock(), nullptr);
}

TEST_F(MainFormCoreTest, SelfTestThatGetsNothingBackShowsTheFirewallHint) {
  network_.echo = false;
  auto core = Make();
  ASSERT_EQ(core->Create(Inputs()), CreateResult::Ready);
  EXPECT_EQ(MessageTexts(),
            std::vector<std::string>{"Firewall\n\nTCP Out Port : 80; 2005\n\nUDP Out Port : 9303"});
}

TEST_F(MainFormCoreTest, TrayLookFollowsTheNetwork) {
  network_.resolves = false;
  auto core = Make();
  ASSERT_EQ(core->Create(Inputs()), CreateResult::Ready);
  EXPECT_EQ(shell_.look.tip, "Network is not ready !");
  EXPECT_EQ(shell_.look.iconIndex, 1);

  struct Case {
    bool ready, notePanel;
    const char* tip;
    int icon;
  } cases[] = {{true, false, "Caption", 0},
               {true, true, "Caption", 1},
               {false, false, "Network is not ready !", 1},
               {false, true, "Network is not ready !", 1}};
  for (const auto& c : cases) {
    const TrayLook look = ChooseTrayLook("Caption", c.ready, c.notePanel);
    EXPECT_EQ(look.tip, c.tip);
    EXPECT_EQ(look.iconIndex, c.icon) << c.ready << c.notePanel;
  }
}

TEST_F(MainFormCoreTest, FirstRunGatewayRules) {
  struct Case {
    const char* what;
    const char* version;
    bool storedServer;
    bool withAdapter;
    const char* gateway;
  } cases[] = {
      {"first run with a gateway", "6.1", false, true, "192.168.2.1"},
      {"stored server entries", "6.1", true, true, ""},
      {"Windows 4.0 skips the look-up", "4.0", false, true, ""},
      {"Windows 4.10 does not", "4.10", false, true, "192.168.2.1"},
      {"no qualifying adapter", "6.1", false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    SqliteRegistry registry(HivePaths{dir / "user.hive", dir / "machine.hive"});
    if (c.storedServer) {
      RegKey key;
      ASSERT_EQ(registry.OpenKey(RegRoot::CurrentUser,
                                 std::string(AppRegistryKey) + "\\Auto-Connect\\00:11:22:33:44:55",
                                 regaccess::kAllAccess, true, key),
                regerr::kSuccess);
    }
    network_.withAdapter = c.withAdapter;
    MainFormServices services{registry, bus_,    clock_, firewall_, network_,
                              ui_,      nullptr, {},     trace_};
    ClientState state;
    MainFormCore core(services, shell_, state);
    StartupInputs inputs = Inputs();
    inputs.windowsVersionSetting = c.version;
    ASSERT_EQ(core.Create(inputs), CreateResult::Ready);
    EXPECT_EQ(core.FirstRunGateway(), c.gateway);
  }
}

TEST_F(MainFormCoreTest, MiniStartParksTheWindowOnlyForTheExactSwitch) {
  struct Case {
    std::vector<std::string> args;
    bool mini;
  } cases[] = {{{"-mini"}, true}, {{"-MINI"}, false}, {{"x", "-mini"}, true}, {{}, false}};
  for (const auto& c : cases) {
    shell_.calls.clear();
    auto core = Make();
    ASSERT_EQ(core->Create(Inputs(c.args)), CreateResult::Ready);
    EXPECT_EQ(core->MiniStart(), c.mini);
    const bool timer =
        std::find(shell_.calls.begin(), shell_.calls.end(), "mini") != shell_.calls.end();
    EXPECT_EQ(timer, c.mini);
    if (c.mini) {
      EXPECT_EQ(core->Placement().top, 3000);
      EXPECT_EQ(core->Placement().positioning, FormPositioning::Designed);
      EXPECT_EQ(core->Settings().RestoreTop, (768 - 351) / 2);  // where the tray brings it back
    }
  }
}

TEST_F(MainFormCoreTest, NewVersionTimerOnlyWhenSwitchedOn) {
  SetUser("Notify New Version", "0");
  auto core = Make();
  ASSERT_EQ(core->Create(Inputs()), CreateResult::Ready);
  EXPECT_EQ(shell_.calls, (std::vector<std::string>{"look", "add"}));
}

TEST_F(MainFormCoreTest, ScannerIdsWithoutVendorAndProductAreLeftOut) {
  const std::string key = std::string(AppRegistryKey) + "\\ScannerId";
  SetRaw(RegRoot::CurrentUser, key, "Vid_04A9&Pid_1909", regtype::kSz, "");
  SetRaw(RegRoot::CurrentUser, key, "Something else", regtype::kSz, "");
  auto core = Make();
  ASSERT_EQ(core->Create(Inputs()), CreateResult::Ready);
  EXPECT_EQ(core->ScannerIdList(), std::vector<std::string>{"Vid_04A9&Pid_1909"});
}

TEST(OptionsDialogPosition, RightOfTheWindowOnlyWhenItFits) {
  struct Case {
    int32_t mainLeft, dialogWidth, left;
  } cases[] = {{700, 400, 300},   // 400 is not less than 1024 - 700 - 289 = 35
               {100, 400, 389},   // room enough on the right
               {334, 400, 623},   // 400 < 401: fits
               {335, 400, -65}};  // exactly the room left: goes left
  for (const auto& c : cases) {
    const DialogPosition at = OptionsDialogPosition(c.mainLeft, 120, 289, c.dialogWidth, 1024);
    EXPECT_EQ(at.left, c.left) << c.mainLeft;
    EXPECT_EQ(at.top, 120);
  }
}

}  // namespace
}  // namespace tessaro
