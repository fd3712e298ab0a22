// SPDX-License-Identifier: GPL-2.0-or-later
// Manage Device over the real pieces: rows from a scripted bus, the user's hive, a private cupsd
// holding queues on file:, socket://, ipp:// and tessaro:// URIs, and the print monitors.
#pragma once

#include <memory>

#include "autoconnect/AutoConnectLists.h"
#include "platform/linux/CupsQueueAdmin.h"
#include "platform/linux/CupsSpooler.h"
#include "platform/linux/SystemClock.h"
#include "printing/ClientMonitorHost.h"
#include "setup/DeviceSetup.h"
#include "setup/TwainSources.h"
#include "tests/setup/WizardFakes.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/RefreshFixture.h"

namespace tessaro::testing {

using namespace tessaro::setup;

inline const Hub kHub{"192.168.1.20", "Office", "00:1C:F0:AA:0B:01", 1, 1};
inline const Dev kPrinter{.number = 1};
inline const Dev kOtherPrinter{
    .number = 2, .product = "Laser 3050", .productId = 0x0043, .serial = "LW3050-1"};
inline const Dev kScanner{.number = 3,
                          .type = "UNKNOWN",
                          .manufacturer = "Optic",
                          .product = "Flat 9",
                          .vendorId = 0x04A9,
                          .productId = 0x1909,
                          .serial = "OF9"};
inline const std::string kOwnUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-1";

inline PrinterMakerTable Makers() {
  PrinterMakerTable table;
  table.sections = {{"Lumen", {{"VID", "04F9"}, {"1", "Lumen"}}},
                    {"Rival", {{"VID", "03F0"}, {"1", "Rival"}}}};
  return table;
}

class DeviceSetupRig : public RefreshTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cups.Running());
    ASSERT_TRUE(cups.AddQueue("Lumen_Laser", kOwnUri));
    ASSERT_TRUE(cups.AddQueue("Lumen_Other", "tessaro://00-1C-F0-AA-0B-01/04F9/0043"));
    ASSERT_TRUE(cups.AddQueue("Rival_Jet", "tessaro://00-1C-F0-AA-0B-01/03F0/0001"));
    ASSERT_TRUE(cups.AddQueue("Office_File", "file://" + cups.OutputFolder() + "/office.prn"));
    ASSERT_TRUE(cups.AddQueue("Net_Socket", "socket://127.0.0.1:9100"));
    ASSERT_TRUE(cups.AddQueue("Web_Queue", "ipp://127.0.0.1:631/printers/web"));
    // The other printer's entry binds "Lumen_Other", as a previous run stored it.
    AutoConnectInfo other;
    other.ServerName = kHub.name;
    other.ServerIP = kHub.ip;
    other.ServerMAC = kHub.mac;
    other.DeviceVid = "04F9";
    other.DevicePid = "0043";
    other.DeviceSNo = "LW3050-1";
    other.PrinterEnable = 1;
    other.PrinterName = "Lumen_Other";
    other.PrinterPort = "tessaro://00-1C-F0-AA-0B-01/04F9/0043";
    ASSERT_TRUE(WriteDeviceEntry(registry, kAppKey, other));
    LoadAutoConnectLists(registry, kAppKey, printers, faxes);
    ASSERT_EQ(printers.size(), 1u);
    Listed(kHub, {kPrinter, kOtherPrinter, kScanner});
    cycle.RefreshDevices(model.FindServer(kHub.name, kHub.ip));
    for (uint32_t code :
         {busop::kLinkDevice, busop::kUnlinkDevice, busop::kLockDevice, busop::kUnlockDevice})
      bus.SetReply("spur/" + kHub.ip, code, FakeBusTransport::Success({}));
  }
  void TearDown() override { monitors.StopPrintMonitors(printers, main); }

  // The runs show in `window` from now on.
  void UseWindow(SetupWindow& runWindow) {
    setup = std::make_unique<DeviceSetup>(
        DeviceSetupServices{registry, state, model, cycle.driver(), &monitors, main, noPause,
                            spooler, queues, ui, makers, TwainSourceNames},
        runWindow);
  }

  size_t RowOf(const Dev& d) const {
    for (size_t i = 0; i < model.rowCount(); ++i)
      if (model.row(i).deviceNumber == std::to_string(d.number)) return i;
    ADD_FAILURE() << "no row " << int(d.number);
    return model.rowCount();
  }
  std::optional<AutoConnectInfo> Stored(const std::string& pid, const std::string& serial) {
    AutoConnectInfo entry;
    entry.ServerIP = kHub.ip;
    entry.ServerMAC = kHub.mac;
    entry.DeviceVid = pid == "1909" ? "04A9" : "04F9";
    entry.DevicePid = pid;
    entry.DeviceSNo = serial;
    if (!ReadDeviceEntry(registry, kAppKey, entry)) return std::nullopt;
    return entry;
  }
  static size_t Named(const SetupWizard& wizard, const std::string& name) {
    const auto& rows = wizard.printerRows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].name == name) return i;
    return rows.size();
  }
  // From the install page to the auto-print page, not installing.
  static void ToAutoPrint(SetupWizard& wizard) {
    ASSERT_EQ(wizard.page(), SetupPage::Install);
    wizard.Next();
    ASSERT_EQ(wizard.page(), SetupPage::Connect);
    wizard.Next();
    ASSERT_EQ(wizard.page(), SetupPage::AutoPrint);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const MessageRequest& m : ui.messages()) texts.push_back(m.text);
    return texts;
  }

  PrivateCups cups;
  CupsSpooler spooler{cups.socket()};
  CupsQueueAdmin queues{cups.socket()};
  ScriptedUi ui;
  SystemClock systemClock;
  ClientMonitorHost host{main, model, cycle, cycle.driver(), bus, ui, state.flags};
  PrintMonitors monitors{{spooler, host, systemClock, "PC-A", 0}};
  PrinterMakerTable makers = Makers();
  NoWait noPause;  // nothing here needs the pause after linking
  std::unique_ptr<DeviceSetup> setup;
};

}  // namespace tessaro::testing
