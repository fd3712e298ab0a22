// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: the device list, the hint panel, the tray icon with its menu, the close box
// that only hides, the mini start and the close sequence. What it decides comes from
// MainFormCore; this class applies it to Qt.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QPointer>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "app/MainFormCore.h"
#include "autoconnect/PrinterMakers.h"
#include "records/ClientState.h"
#include "devices/DeviceListModel.h"
#include "devices/DeviceMenu.h"
#include "devices/DeviceOperations.h"
#include "devices/DriverEvents.h"
#include "devices/MainWindowPort.h"
#include "devices/RefreshCycle.h"
#include "driver/PlugAndPlay.h"
#include "driver/ReadThread.h"
#include "platform/MainThread.h"

class QLabel;

namespace tessaro {

// Tray callback values: a left click, a right click, and a later copy's "show yourself".
inline constexpr int kTrayLeftButtonDown = 513;
inline constexpr int kTrayRightButtonUp = 517;
inline constexpr int kTrayShowRequest = 119;

class DeviceItemModel;
class DeviceListView;

class TMainFm : public QWidget, public MainFormShell, public MainWindowPort {
 public:
  TMainFm(MainFormServices services, MainThread& mainThread, Spooler& spooler, Shell& shell);
  ~TMainFm() override;

  // The creation steps; on SetupIncomplete the caller ends the program.
  CreateResult RunCreationSteps(const StartupInputs& inputs);
  // First show after creation: on screen, or parked off-screen for a mini start.
  void ShowAfterCreation();

  void TrayMessage(int message);

  // Menu commands.
  void OpenMItemClick();
  void OptionsMItemClick();
  // The Options dialog, made after the main window.
  void SetOptionsDialog(QDialog* dialog) { optionsDialog_ = dialog; }
  void ExitMItemClick();
  // The session ends: the close sequence runs with SessionEnding set.
  void EndSession();
  // The device menu's commands and the double click on a row.
  void RunDeviceCommand(DeviceCommand command, size_t row);
  void QuickScan(size_t row);
  // A tray menu server entry's sub-items, for the server with this caption.
  void ServerCommand(const std::string& displayName, const std::string& item);

  MainFormCore& Core() { return core_; }
  DeviceOperations* Operations() const { return operations_.get(); }
  DeviceListModel& Rows() { return model_; }
  DeviceListView* ListView() const { return listView_; }
  ClientState& State() { return state_; }
  QMenu* PopupMenu() const { return popupMenu_; }
  QFrame* NotePanel() const { return notePanel_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  bool Closing() const { return state_.flags.Closing; }
  const std::string& ProgramFolder() const { return programFolder_; }

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
  void AddServerEntries();
  void StartDeviceWork();
  void StopReader();
  void Timer_TrunkUpdateTimer();
  void ApplyTrayLook();
  void ApplyPlacement();
  MainWindowPlacement CurrentPlacement() const;
  void ShowFromTray();
  void Timer_MiniWindowTimer();
  void RunCloseSequence(QCloseEvent* event);

  Registry& registry_;
  MainThread& mainThread_;
  MainFormCore core_;
  ClientState state_;
  DeviceListModel model_{*this};
  std::unique_ptr<RefreshCycle> refresh_;
  std::unique_ptr<DriverEventDispatcher> dispatcher_;
  std::unique_ptr<TReadThread> reader_;
  Spooler& spooler_;
  Shell& shell_;
  PlugAndPlay plugAndPlay_;
  std::unique_ptr<DeviceOperations> operations_;
  std::string programFolder_;
  bool exitRequested_ = false;
  bool trayAvailable_ = false;
  bool networkReady_ = false;
  DeviceItemModel* itemModel_ = nullptr;
  DeviceListView* listView_ = nullptr;
  QFrame* notePanel_ = nullptr;
  QLabel* noteMemo_ = nullptr;
  QMenu* popupMenu_ = nullptr;
  QAction* upmItem_ = nullptr;
  QAction* optionsMItem_ = nullptr;
  QAction* openMItem_ = nullptr;
  QAction* aboutMItem_ = nullptr;
  QAction* exitMItem_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QTimer timerMiniWindow_;
  QTimer timerNotifyVer_;
  QTimer timerTrunkUpdate_;
  QTimer timerRequest_;
  PrinterMakerTable printerMakers_;
  QPointer<QDialog> optionsDialog_;
  int32_t workAreaWidth_ = 0;
};

// Prints "tessaro-utility: <what>" on standard output when TESSARO_TRACE is set (tests and
// start-up timing read these lines).
void TraceLine(const std::string& what);

}  // namespace tessaro
