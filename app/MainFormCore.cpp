// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/MainFormCore.h"

#include "autoconnect/AutoConnectLists.h"
#include "autoconnect/AutoConnectStore.h"
#include "devices/RefreshLock.h"
#include "driver/DriverClient.h"
#include "host/Firewall.h"
#include "host/HostChecks.h"
#include "host/WindowsVersion.h"
#include "platform/RegistryText.h"

namespace tessaro {

std::string SetupIncompleteText() {
  return std::string(ProductName) + " setup is incomplete!\n\nPlease reinstall again.";
}

std::string FirewallHintText() {
  return "Firewall\n\nTCP Out Port : 80; 2005\n\nUDP Out Port : " + std::to_string(kSelfTestPort);
}

bool HasMiniSwitch(const std::vector<std::string>& arguments) {
  for (const auto& argument : arguments) {
    if (argument == kMiniSwitch) return true;  // exact case: "-MINI" is an ordinary start
  }
  return false;
}

TrayLook ChooseTrayLook(const std::string& caption, bool networkReady, bool notePanelVisible) {
  TrayLook look;
  look.tip = networkReady ? caption : kNetworkNotReadyTip;
  look.iconIndex = (networkReady && !notePanelVisible) ? 0 : 1;
  return look;
}

WindowState StartWindowState(const MainWindowPlacement& placement, bool miniStart) {
  return miniStart ? WindowState::Normal : placement.state;
}

DialogPosition OptionsDialogPosition(int32_t mainLeft, int32_t mainTop, int32_t mainWidth,
                                     int32_t dialogWidth, int32_t workAreaWidth) {
  const bool fitsRight = dialogWidth < workAreaWidth - mainLeft - mainWidth;
  return {fitsRight ? mainLeft + mainWidth : mainLeft - dialogWidth, mainTop};
}

MainFormCore::MainFormCore(MainFormServices services, MainFormShell& shell, ClientState& state)
    : services_(std::move(services)), shell_(shell), state_(state),
      host_(std::make_unique<HostChecks>(services_.network, services_.pump)) {}

MainFormCore::~MainFormCore() { Release(); }

CreateResult MainFormCore::Create(const StartupInputs& inputs) {
  LoadSettings(services_.registry, kApplicationTitle, inputs.workArea, placement_, settings_);
  state_.computerName = settings_.ComputerName;
  state_.notifyDeviceDetect = settings_.NotifyDeviceDetect;

  DriverClient driver(services_.bus, services_.clock);
  state_.trunk = driver.OpenTrunk();
  if (state_.trunk == kInvalidBusHandle) {
    ShowSetupIncomplete(HasMiniSwitch(inputs.arguments));
    return CreateResult::SetupIncomplete;
  }

  // Start-up goes on whatever the firewall answers.
  AuthorizeApplication(services_.firewall, inputs.programPath, ProductName, services_.trace);
  OpenFirewallPort(services_.firewall, kSelfTestPort, kProtocolUdp,
                   std::string(ProductName) + " UDP Port", services_.trace);

  RunNetworkSelfTest();
  FindFirstRunGateway(inputs);

  networkReady_ = host_->NetworkReady();
  trayLook_ = ChooseTrayLook(settings_.WindowCaption, networkReady_, false);
  shell_.SetTrayLook(trayLook_);

  if (HasMiniSwitch(inputs.arguments)) {
    miniStart_ = true;
    shell_.StartMiniWindowTimer();
    placement_.top = kMiniParkTop;
    placement_.positioning = FormPositioning::Designed;
  }
  shell_.AddTrayIcon();

  if (services_.makeNamedMutex) refreshLock_ = services_.makeNamedMutex(kRefreshLockMutexName);

  state_.autoPrinters.clear();
  state_.autoFaxes.clear();
  LoadAutoConnectLists(services_.registry, AppRegistryKey, state_.autoPrinters, state_.autoFaxes);

  GetWindowsVersionFlags(state_.windowsVersionFlags, inputs.windowsVersionSetting);
  SecondUdpCheck();

  state_.scannerIds.clear();
  LoadScannerIdList(services_.registry, AppRegistryKey, state_.scannerIds);

  if (settings_.NotifyNewVersion) shell_.StartNotifyVersionTimer(2000);
  return CreateResult::Ready;
}

// The cause follows the setup message. A user outside busd's group is told at one log-in, not at
// every one: the autostart runs for every user of the machine, and most of them may never be
// meant to use the devices. Started by hand, the client always tells.
void MainFormCore::ShowSetupIncomplete(bool miniStart) {
  const TrunkProblem problem =
      services_.diagnoseTrunk ? services_.diagnoseTrunk() : TrunkProblem::Unknown;
  const std::string cause = TrunkProblemText(problem, services_.userName);
  const bool remembered = problem == TrunkProblem::NoAccess;
  if (remembered && miniStart) {
    std::string told;
    RegReadText(services_.registry, RegRoot::CurrentUser, AppRegistryKey, kSetupCauseToldValue,
                told);
    if (told == cause) return;
  }
  MessageRequest message;
  message.caption = kApplicationTitle;
  message.text = SetupIncompleteText() + (cause.empty() ? "" : "\n\n" + cause);
  services_.ui.ShowMessage(message);
  if (remembered && miniStart)
    RegWriteText(services_.registry, RegRoot::CurrentUser, AppRegistryKey, kSetupCauseToldValue,
                 false, true, cause);
}

void MainFormCore::RunNetworkSelfTest() {
  host_->PrepareNetworkCheck();
  if (host_->BindTestSockets(false) && !host_->UdpLoopbackTest()) {
    MessageRequest message;
    message.caption = kApplicationTitle;
    message.text = FirewallHintText();
    services_.ui.ShowMessage(message);
  }
  host_->CloseTestSockets();
}

// The version test is made here ahead of its own step: NT 4.0 never looks for a gateway.
void MainFormCore::FindFirstRunGateway(const StartupInputs& inputs) {
  uint32_t flags = 0;
  GetWindowsVersionFlags(flags, inputs.windowsVersionSetting);
  if (flags & kWinNT4) return;
  state_.firstRunGateway = tessaro::FirstRunGateway(services_.registry, AppRegistryKey, flags,
                                                    host_->FindDefaultGateways());
}

// Some other program may sit on port 9303; the client then keeps test sockets on free ports.
void MainFormCore::SecondUdpCheck() {
  host_->PrepareNetworkCheck();
  if (!host_->BindTestSockets(false) && host_->UdpPortInUse(kSelfTestPort)) {
    host_->PrepareNetworkCheck();
    host_->BindTestSockets(true);
  }
}

void MainFormCore::CloseListsAndTrunk() {
  state_.autoPrinters.clear();
  state_.autoFaxes.clear();
  if (state_.trunk != kInvalidBusHandle) {
    services_.bus.Close(state_.trunk);
    state_.trunk = kInvalidBusHandle;
  }
}

void MainFormCore::CloseSocketsAndLock() {
  host_->StopSockets();
  refreshLock_.reset();
}

}  // namespace tessaro
