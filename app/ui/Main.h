// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: the device list, the hint panel, the tray icon with its menu, the close box
// that only hides, the mini start and the close sequence. What it decides comes from
// MainFormCore; this class applies it to Qt.
#pragma once

#include <QFrame>
#include <QListView>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "app/MainFormCore.h"
#include "autoconnect/PrinterMakers.h"

class QLabel;

namespace tessaro {

// Tray callback values: a left click, a right click, and a later copy's "show yourself".
inline constexpr int kTrayLeftButtonDown = 513;
inline constexpr int kTrayRightButtonUp = 517;
inline constexpr int kTrayShowRequest = 119;

class TMainFm : public QWidget, public MainFormShell {
 public:
  TMainFm(MainFormServices services, Registry& registry);
  ~TMainFm() override;

  // The creation steps; on SetupIncomplete the caller ends the program.
  CreateResult RunCreationSteps(const StartupInputs& inputs);
  // First show after creation: on screen, or parked off-screen for a mini start.
  void ShowAfterCreation();

  void TrayMessage(int message);

  // Menu commands.
  void OpenMItemClick();
  void ExitMItemClick();
  // The session ends: the close sequence runs with SessionEnding set.
  void EndSession();

  MainFormCore& Core() { return core_; }
  QMenu* PopupMenu() const { return popupMenu_; }
  QFrame* NotePanel() const { return notePanel_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  bool Closing() const { return closing_; }
  const std::string& ProgramFolder() const { return programFolder_; }

  // MainFormShell
  void SetTrayLook(const TrayLook& look) override;
  void AddTrayIcon() override;
  void StartMiniWindowTimer() override;
  void StartNotifyVersionTimer(int intervalMs) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildNotePanel();
  void BuildPopupMenu();
  void ApplyPlacement();
  MainWindowPlacement CurrentPlacement() const;
  void ShowFromTray();
  void Timer_MiniWindowTimer();
  void RunCloseSequence(QCloseEvent* event);

  Registry& registry_;
  MainFormCore core_;
  std::string programFolder_;
  bool closing_ = false;
  bool sessionEnding_ = false;
  bool exitRequested_ = false;
  bool trayAvailable_ = false;
  QListView* listView_;
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
  QTimer timerClick_;
  PrinterMakerTable printerMakers_;
};

// Prints "tessaro-utility: <what>" on standard output when TESSARO_TRACE is set (tests and
// start-up timing read these lines).
void TraceLine(const std::string& what);

}  // namespace tessaro
