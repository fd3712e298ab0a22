// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: the device list, the hint panel, the tray icon with its menu, the close box
// that only hides and the mini start. What it shows comes from the ClientRuntime, which it
// forwards the user's commands, its timers and the close to; this class applies it to Qt.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/ClientRuntime.h"
#include "app/ClientWindow.h"

class QLabel;

namespace tessaro {

// Tray callback values: a left click, a right click, and a later copy's "show yourself".
inline constexpr int kTrayLeftButtonDown = 513;
inline constexpr int kTrayRightButtonUp = 517;
inline constexpr int kTrayShowRequest = 119;

class DeviceItemModel;
class OptionsAndNotices;
class DeviceListView;

class TMainFm : public QWidget, public ClientWindow {
 public:
  // The runtime must outlive the window.
  explicit TMainFm(ClientRuntime& runtime);
  ~TMainFm() override;

  // The creation steps; on SetupIncomplete the caller ends the program.
  CreateResult RunCreationSteps(const StartupInputs& inputs);
  // First show after creation: on screen in the stored state, or parked off-screen for a mini
  // start.
  void ShowAfterCreation();

  void TrayMessage(int message);

  // Menu commands.
  void OpenMItemClick();
  void OptionsMItemClick();
  void AboutMItemClick();
  void ExitMItemClick();
  // The session ends: the close sequence runs with SessionEnding set.
  void EndSession();
  // The device menu's commands and the double click on a row.
  void RunDeviceCommand(DeviceCommand command, size_t row);
  // Scan Now's two paths; Scan Now is not offered without them.
  void SetScanPaths(ScanPaths* paths) { scanPaths_ = paths; }
  void QuickScan(size_t row);

  ClientRuntime& Runtime() { return runtime_; }
  // Whether the trunk-update timer still waits to make its refresh after the window showed.
  bool TrunkUpdatePending() const { return timerTrunkUpdate_.isActive(); }
  MainFormCore& Core() { return runtime_.Core(); }
  DeviceListModel& Rows() { return runtime_.Rows(); }
  ClientState& State() { return runtime_.State(); }
  DeviceListView* ListView() const { return listView_; }
  QMenu* PopupMenu() const { return popupMenu_; }
  QFrame* NotePanel() const { return notePanel_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  bool Closing() const { return runtime_.Closing(); }

  // MainFormShell
  void SetTrayLook(const TrayLook& look) override;
  void AddTrayIcon() override;
  void StartMiniWindowTimer() override;
  void StartNotifyVersionTimer(int intervalMs) override;

  // MainWindowPort
  void ShowNotePanel(bool visible) override;
  void NetworkChecked(bool networkReady) override;
  void ShowDeviceFoundNotice(const std::string& displayName) override;
  void StartReleaseRequestTimer(std::chrono::milliseconds delay) override;
  void RepaintList() override;

  // The close sequence's window steps.
  MainWindowPlacement PlacementAtClose() const override;
  void StopTimers() override;
  void RemoveTrayIcon() override;
  void Closed() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildNotePanel();
  void BuildPopupMenu();
  void BuildListView();
  void PopupMenuPopup();
  void ReplaceServerEntries(const std::vector<ServerMenuEntry>& servers);
  void ApplyTrayLook();
  void ApplyPlacement();
  void ShowFromTray();
  void Timer_MiniWindowTimer();

  ClientRuntime& runtime_;
  ScanPaths* scanPaths_ = nullptr;
  std::string programFolder_;
  bool trayAvailable_ = false;
  bool trayRemoved_ = false;
  bool networkReady_ = false;
  DeviceItemModel* itemModel_ = nullptr;
  DeviceListView* listView_ = nullptr;
  QFrame* notePanel_ = nullptr;
  QLabel* noteMemo_ = nullptr;
  QMenu* popupMenu_ = nullptr;
  std::vector<QPointer<QMenu>> serverMenus_;  // the tray menu's server entries
  QAction* upmItem_ = nullptr;
  QAction* optionsMItem_ = nullptr;
  QAction* openMItem_ = nullptr;
  QAction* aboutMItem_ = nullptr;
  QAction* exitMItem_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QTimer timerMiniWindow_;
  QTimer timerNotifyVer_;
  QTimer timerTrunkUpdate_;
  QTimer timerTrunkWatch_;
  QTimer timerRequest_;
  // The Options dialog, the new-version check and the notices; made with the running parts.
  std::unique_ptr<OptionsAndNotices> optionsAndNotices_;
  int32_t workAreaWidth_ = 0;
};

// Prints "tessaro-utility: <what>" on standard output when TESSARO_TRACE is set (tests and
// start-up timing read these lines).
void TraceLine(const std::string& what);

}  // namespace tessaro
