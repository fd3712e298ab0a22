// SPDX-License-Identifier: GPL-2.0-or-later
// What the main form does when it is made, without any window: settings, the Trunk, the
// firewall, the network self-test, the first-run gateway, the tray icon's look, the process-wide
// lists. What the running program shares goes into its ClientState; the Qt form applies the rest
// and owns the timers; tests drive this class alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/Firewall.h"
#include "platform/HostNetwork.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "platform/TrunkProblem.h"
#include "platform/UiPort.h"
#include "records/ClientState.h"

namespace tessaro {

class HostChecks;

inline constexpr const char* kMiniSwitch = "-mini";
inline constexpr const char* kNetworkNotReadyTip = "Network is not ready !";

// The tray icon: index 0 is the normal icon, 1 the one for no device listed or no network.
struct TrayLook {
  std::string tip;
  int iconIndex = 0;
};

// The outside services the creation steps use. The references must outlive the core.
struct MainFormServices {
  Registry& registry;
  BusTransport& bus;
  Clock& clock;
  Firewall& firewall;
  HostNetwork& network;
  UiPort& ui;
  EventPump* pump = nullptr;
  // Makes the named mutex that serialises refreshes across processes.
  std::function<std::unique_ptr<NamedMutex>(const std::string& name)> makeNamedMutex;
  std::FILE* trace = stdout;  // the firewall steps' trace lines
  // Why no Trunk opened, told below the setup message; unset: the message alone.
  std::function<TrunkProblem()> diagnoseTrunk{};
  std::string userName{};
};

// The window and tray as the creation steps need them; the Qt form implements it.
class MainFormShell {
 public:
  virtual ~MainFormShell() = default;
  virtual void SetTrayLook(const TrayLook& look) = 0;  // also the application's own icon
  virtual void AddTrayIcon() = 0;
  virtual void StartMiniWindowTimer() = 0;  // 500 ms, then the window hides (mini start)
  virtual void StartNotifyVersionTimer(int intervalMs) = 0;
};

struct StartupInputs {
  std::string programPath;             // the program file, let in by the firewall
  std::vector<std::string> arguments;  // without the program itself
  WorkArea workArea;
  std::string windowsVersionSetting;  // empty: TESSARO_WINDOWS_VERSION or the default
};

enum class CreateResult { Ready, SetupIncomplete };

// The texts the creation steps show.
std::string SetupIncompleteText();
// The user-hive value that remembers the cause a mini start (the log-in) last told.
inline constexpr const char* kSetupCauseToldValue = "Setup Cause Told";
std::string FirewallHintText();
bool HasMiniSwitch(const std::vector<std::string>& arguments);
// The tray tip and icon from the caption, the network state and whether the note panel shows.
TrayLook ChooseTrayLook(const std::string& caption, bool networkReady, bool notePanelVisible);

// The state the window first shows in: the stored one, except that a mini start parks the
// window off-screen in its normal state (it hides half a second later).
WindowState StartWindowState(const MainWindowPlacement& placement, bool miniStart);

// Where the Options dialog opens beside the main window: to its right when the dialog is
// narrower than the room left of the work area, else to its left; its top is the window's.
struct DialogPosition {
  int32_t left = 0;
  int32_t top = 0;
};
DialogPosition OptionsDialogPosition(int32_t mainLeft, int32_t mainTop, int32_t mainWidth,
                                     int32_t dialogWidth, int32_t workAreaWidth);

class MainFormCore {
 public:
  // `state` receives the Trunk, the computer name, the first-run gateway, the notice switch,
  // the Windows version flags and the stored lists; it must outlive the core.
  MainFormCore(MainFormServices services, MainFormShell& shell, ClientState& state);
  ~MainFormCore();
  MainFormCore(const MainFormCore&) = delete;
  MainFormCore& operator=(const MainFormCore&) = delete;

  // Runs every creation step in order. SetupIncomplete: the setup message has been shown and the
  // program must end without a tray icon; nothing else has been made.
  CreateResult Create(const StartupInputs& inputs);

  // The close sequence's steps for what the creation made, in their order: the lists and the
  // Trunk, then (after the tray icon is gone) the sockets and the refresh lock. Each is safe to
  // call twice; Release does both.
  void CloseListsAndTrunk();
  void CloseSocketsAndLock();
  void Release() {
    CloseListsAndTrunk();
    CloseSocketsAndLock();
  }

  MainWindowPlacement& Placement() { return placement_; }
  const MainWindowPlacement& Placement() const { return placement_; }
  const MainFormSettings& Settings() const { return settings_; }
  BusHandle Trunk() const { return state_.trunk; }
  const std::string& FirstRunGateway() const { return state_.firstRunGateway; }
  bool MiniStart() const { return miniStart_; }
  uint32_t WindowsVersionFlags() const { return state_.windowsVersionFlags; }
  bool NetworkReady() const { return networkReady_; }
  NamedMutex* RefreshLock() const { return refreshLock_.get(); }
  const std::vector<std::string>& ScannerIdList() const { return state_.scannerIds; }
  HostChecks& Host() { return *host_; }
  const MainFormServices& Services() const { return services_; }

 private:
  void ShowSetupIncomplete(bool miniStart);
  void RunNetworkSelfTest();
  void FindFirstRunGateway(const StartupInputs& inputs);
  void SecondUdpCheck();

  MainFormServices services_;
  MainFormShell& shell_;
  ClientState& state_;
  std::unique_ptr<HostChecks> host_;
  MainWindowPlacement placement_;
  MainFormSettings settings_;
  bool miniStart_ = false;
  bool networkReady_ = false;
  TrayLook trayLook_;
  std::unique_ptr<NamedMutex> refreshLock_;
};

}  // namespace tessaro
