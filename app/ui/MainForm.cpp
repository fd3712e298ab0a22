// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "app/ui/OptionsAndNotices.h"
#include "app/ui/TrayIcons.h"
#include "devices/ui/DeviceListView.h"
#include "platform/qt/QtText.h"

namespace tessaro {

void TraceLine(const std::string& what) {
  static const bool enabled = std::getenv("TESSARO_TRACE") != nullptr;
  if (!enabled) return;
  std::printf("tessaro-utility: %s\n", what.c_str());
  std::fflush(stdout);
}

TMainFm::TMainFm(ClientRuntime& runtime)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      runtime_(runtime) {
  setObjectName(QStringLiteral("TMainFm"));
  // Relative paths (the printer maker table) are taken from the program's folder.
  programFolder_ = ToStdString(QCoreApplication::applicationDirPath());
  QDir::setCurrent(ToQString(programFolder_));

  BuildListView();
  BuildNotePanel();
  BuildPopupMenu();

  tray_ = new QSystemTrayIcon(this);
  tray_->setContextMenu(popupMenu_);
  QObject::connect(tray_, &QSystemTrayIcon::activated, this,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) TrayMessage(kTrayLeftButtonDown);
                   });
  trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
  if (!trayAvailable_) {
    // Without a tray the window is the only way in: its own context menu is the tray menu.
    std::fprintf(stderr,
                 "tessaro-utility: no system tray is available; the window stays reachable and "
                 "its context menu holds the tray menu\n");
    setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(this, &QWidget::customContextMenuRequested, this,
                     [this] { popupMenu_->popup(QCursor::pos()); });
  }

  timerMiniWindow_.setInterval(500);
  timerMiniWindow_.setSingleShot(false);
  QObject::connect(&timerMiniWindow_, &QTimer::timeout, this, [this] { Timer_MiniWindowTimer(); });
  timerTrunkUpdate_.setInterval(500);
  QObject::connect(&timerTrunkUpdate_, &QTimer::timeout, this, [this] {
    if (runtime_.TrunkUpdateTick()) timerTrunkUpdate_.stop();
  });
  timerTrunkWatch_.setInterval(static_cast<int>(kTrunkWatchInterval.count()));
  QObject::connect(&timerTrunkWatch_, &QTimer::timeout, this,
                   [this] { runtime_.TrunkWatchTick(); });
  // The design interval: a manual check starts the timer even when the start-up did not, and a
  // QTimer's own default of 0 would then tick without pause.
  timerNotifyVer_.setInterval(kFirstCheckMs);
  QObject::connect(&timerNotifyVer_, &QTimer::timeout, this, [this] {
    if (optionsAndNotices_) optionsAndNotices_->TickVersionCheck();
  });
  timerRequest_.setSingleShot(true);
  QObject::connect(&timerRequest_, &QTimer::timeout, this,
                   [this] { runtime_.ReleaseRequestTimer(); });
  runtime_.AttachWindow(*this);
}

void TMainFm::BuildListView() {
  itemModel_ = new DeviceItemModel(runtime_.Rows(), this);
  DeviceListHooks hooks;
  hooks.computerName = [this] { return runtime_.State().computerName; };
  hooks.prepareMenu = [this](size_t row) { return runtime_.DeviceMenu(row); };
  hooks.runCommand = [this](DeviceCommand command, size_t row) { RunDeviceCommand(command, row); };
  hooks.quickScan = [this](size_t row) { QuickScan(row); };
  hooks.bringToFront = [this] {
    raise();
    activateWindow();
  };
  listView_ = new DeviceListView(*itemModel_, std::move(hooks), this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(listView_);
}

// A window destroyed without the close sequence (tests, an escaping exception) has the reader
// stopped first: it may be waiting to hand this window a record.
TMainFm::~TMainFm() {
  runtime_.DetachWindow();
  // The view and its item model stop following the rows before QWidget deletes its children.
  delete listView_;
  delete itemModel_;
}

void TMainFm::BuildNotePanel() {
  notePanel_ = new QFrame(this);
  notePanel_->setObjectName(QStringLiteral("NotePanel"));
  notePanel_->setAutoFillBackground(true);
  QPalette palette = notePanel_->palette();
  palette.setColor(QPalette::Window, Qt::white);
  notePanel_->setPalette(palette);
  notePanel_->setGeometry(4, 4, 277, 81);
  auto* column = new QVBoxLayout(notePanel_);
  column->setContentsMargins(0, 25, 0, 0);  // the white strip above the memo
  noteMemo_ = new QLabel(QStringLiteral("No USB device is detected.\n"
                                        "Please plug in one of the below USB devices.\n"
                                        "(Printer, MFP, Scanner, Storage Devices)"),
                         notePanel_);
  noteMemo_->setObjectName(QStringLiteral("NoteMemo"));
  noteMemo_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  noteMemo_->setStyleSheet(QStringLiteral("color: navy; font-weight: bold;"));
  column->addWidget(noteMemo_);
  notePanel_->hide();
}

void TMainFm::BuildPopupMenu() {
  popupMenu_ = new QMenu(this);
  popupMenu_->setObjectName(QStringLiteral("PopupMenu"));
  upmItem_ = popupMenu_->addSeparator();
  optionsMItem_ = popupMenu_->addAction(QStringLiteral("Advanced Options"));
  openMItem_ = popupMenu_->addAction(QStringLiteral("Open"));
  aboutMItem_ = popupMenu_->addAction(QStringLiteral("About"));
  popupMenu_->addSeparator();
  exitMItem_ = popupMenu_->addAction(QStringLiteral("Exit"));
  QObject::connect(popupMenu_, &QMenu::aboutToShow, this, [this] { PopupMenuPopup(); });
  QObject::connect(openMItem_, &QAction::triggered, this, [this] { OpenMItemClick(); });
  QObject::connect(optionsMItem_, &QAction::triggered, this, [this] { OptionsMItemClick(); });
  QObject::connect(aboutMItem_, &QAction::triggered, this, [this] { AboutMItemClick(); });
  QObject::connect(exitMItem_, &QAction::triggered, this, [this] { ExitMItemClick(); });
}

CreateResult TMainFm::RunCreationSteps(const StartupInputs& inputs) {
  const CreateResult result = runtime_.Start(inputs);
  if (result != CreateResult::Ready) return result;
  timerTrunkWatch_.start();
  networkReady_ = Core().NetworkReady();
  workAreaWidth_ = inputs.workArea.right - inputs.workArea.left;
  optionsAndNotices_ =
      std::make_unique<OptionsAndNotices>(Core(), State(), runtime_.DesktopShell(), timerNotifyVer_,
                                          inputs.workArea, this, [this] { return networkReady_; });
  const MainFormSettings& settings = Core().Settings();
  setWindowTitle(ToQString(settings.WindowCaption));
  openMItem_->setText(ToQString(settings.TrayOpenCaption));
  aboutMItem_->setText(ToQString(settings.TrayAboutCaption));
  ApplyPlacement();
  return result;
}

void TMainFm::ApplyPlacement() {
  const MainWindowPlacement& placement = Core().Placement();
  resize(placement.width, placement.height);
  move(placement.left, placement.top);
}

void TMainFm::ShowAfterCreation() {
  switch (StartWindowState(Core().Placement(), Core().MiniStart())) {
    case WindowState::Maximized: showMaximized(); break;
    case WindowState::Minimized: showMinimized(); break;
    case WindowState::Normal: show(); break;
  }
}

MainWindowPlacement TMainFm::PlacementAtClose() const {
  MainWindowPlacement placement = runtime_.Core().Placement();
  const QRect normal = isMaximized() ? normalGeometry() : geometry();
  placement.width = normal.width();
  placement.height = normal.height();
  placement.left = pos().x();
  placement.top = pos().y();
  placement.state = isMinimized()   ? WindowState::Minimized
                    : isMaximized() ? WindowState::Maximized
                                    : WindowState::Normal;
  return placement;
}

void TMainFm::SetTrayLook(const TrayLook& look) {
  const QIcon icon = TrayIcon(look.iconIndex);
  tray_->setIcon(icon);
  tray_->setToolTip(ToQString(look.tip.substr(0, 127)));
  QApplication::setWindowIcon(icon);
  setWindowIcon(icon);
}

void TMainFm::AddTrayIcon() {
  tray_->show();
  TraceLine("tray icon added");
}

void TMainFm::StartMiniWindowTimer() { timerMiniWindow_.start(); }

void TMainFm::StartNotifyVersionTimer(int intervalMs) { timerNotifyVer_.start(intervalMs); }

// Half a second after a mini start: out of sight for good, until the tray opens it.
void TMainFm::Timer_MiniWindowTimer() {
  timerMiniWindow_.stop();
  move(x(), kMiniHiddenTop);
  hide();
}

// Once the close has removed the tray icon, nothing brings it back.
void TMainFm::ApplyTrayLook() {
  SetTrayLook(
      ChooseTrayLook(Core().Settings().WindowCaption, networkReady_, !notePanel_->isHidden()));
  if (!trayRemoved_) tray_->show();
}

void TMainFm::ShowNotePanel(bool visible) {
  if (notePanel_->isHidden() == !visible) return;
  if (visible) notePanel_->resize(width() - 16, notePanel_->height());
  notePanel_->setVisible(visible);
  if (visible) notePanel_->raise();
  ApplyTrayLook();
}

void TMainFm::NetworkChecked(bool networkReady) {
  networkReady_ = networkReady;
  ApplyTrayLook();
  if (optionsAndNotices_) optionsAndNotices_->NetworkChanged(networkReady);
}

void TMainFm::ShowDeviceFoundNotice(const std::string& displayName) {
  TraceLine("device found: " + displayName);
  if (optionsAndNotices_) optionsAndNotices_->ShowDeviceFoundNotice(displayName);
}

void TMainFm::StartReleaseRequestTimer(std::chrono::milliseconds delay) {
  timerRequest_.start(static_cast<int>(delay.count()));
}

void TMainFm::RepaintList() { listView_->viewport()->repaint(); }

void TMainFm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (y() == kMiniHiddenTop) move(x(), Core().Settings().RestoreTop);
  if (runtime_.State().trunk != kInvalidBusHandle) {
    runtime_.ReloadPrinterMakers(programFolder_);
    timerTrunkUpdate_.start();
  }
  TraceLine("main window shown");
}

void TMainFm::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  TraceLine("main window hidden");
}

void TMainFm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (notePanel_ != nullptr) notePanel_->resize(width() - 16, notePanel_->height());
}

// A minimised window comes back in the state it had before (maximised stays maximised); a
// hidden one comes back as it was hidden.
void TMainFm::ShowFromTray() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TMainFm::TrayMessage(int message) {
  if (runtime_.State().flags.NoticeBusy) return;
  if (message == kTrayLeftButtonDown || message == kTrayShowRequest) {
    ShowFromTray();
  } else if (message == kTrayRightButtonUp) {
    popupMenu_->popup(QCursor::pos());
  }
}

// Rebuilt on every opening: one entry per server, above the separator.
void TMainFm::PopupMenuPopup() {
  if (runtime_.State().flags.NoticeBusy) return;
  raise();
  activateWindow();
  // Read before the old entries go: the read may wait, and an opening meanwhile rebuilds them.
  ReplaceServerEntries(runtime_.ServerMenuEntries());
}

void TMainFm::ReplaceServerEntries(const std::vector<ServerMenuEntry>& servers) {
  // Deleted later: a command chosen from an old entry may still be running below this opening.
  for (const QPointer<QMenu>& old : serverMenus_) {
    if (old == nullptr) continue;
    popupMenu_->removeAction(old->menuAction());
    old->deleteLater();
  }
  serverMenus_.clear();
  for (const ServerMenuEntry& server : servers) {
    const std::string caption = server.displayName;
    auto* entry = new QMenu(ToQString(caption), popupMenu_);
    entry->menuAction()->setCheckable(true);
    entry->menuAction()->setChecked(server.enabled);
    const auto add = [&](const char* text, bool checkable, bool checked) {
      QAction* action = entry->addAction(QString::fromLatin1(text));
      action->setCheckable(checkable);
      action->setChecked(checked);
      const std::string item = text;
      QObject::connect(action, &QAction::triggered, this,
                       [this, caption, item] { runtime_.ServerCommand(caption, item); });
    };
    add("Enable", true, server.enabled);
    add("Disable", true, !server.enabled);
    entry->addSeparator();
    add("Configuration...", false, false);
    popupMenu_->insertMenu(upmItem_, entry);
    serverMenus_.push_back(entry);
  }
}

// Scan Now runs through the scan paths the program made; every other command through the
// runtime. A command neither knows is only traced.
void TMainFm::RunDeviceCommand(DeviceCommand command, size_t row) {
  if (command == DeviceCommand::ScanNow && scanPaths_ != nullptr) {
    runtime_.RunScanNow(row, *scanPaths_, [this](bool busy) {
      if (busy)
        listView_->setCursor(Qt::WaitCursor);
      else
        listView_->unsetCursor();
    });
    return;
  }
  if (runtime_.RunDeviceCommand(command, row)) return;
  TraceLine("device command " + std::to_string(static_cast<int>(command)) + " for row " +
            std::to_string(row) + " is not available in this build");
}

void TMainFm::QuickScan(size_t row) {
  if (runtime_.QuickScanRuns(row)) RunDeviceCommand(DeviceCommand::ScanNow, row);
}

void TMainFm::OpenMItemClick() {
  if (isHidden()) ShowFromTray();
}

void TMainFm::OptionsMItemClick() {
  if (isHidden()) ShowFromTray();
  if (!optionsAndNotices_) return;
  TOptionFm& dialog = optionsAndNotices_->OptionsDialog();
  if (dialog.isVisible()) {
    dialog.raise();
    dialog.activateWindow();
    return;
  }
  optionsAndNotices_->PrepareOptions(networkReady_);
  const DialogPosition at =
      OptionsDialogPosition(x(), y(), width(), dialog.width(), workAreaWidth_);
  dialog.move(at.left, at.top);
  optionsAndNotices_->OptionsClosed(dialog.exec());
}

void TMainFm::AboutMItemClick() {
  if (optionsAndNotices_) optionsAndNotices_->ShowAboutNotice();
}

void TMainFm::ExitMItemClick() { runtime_.Close(CloseReason::Exit); }

void TMainFm::EndSession() { runtime_.Close(CloseReason::SessionEnd); }

// The close box only hides; the tray icon is the way back. Without a tray it minimises. The
// program ends by Exit or the session's end, never here.
void TMainFm::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (runtime_.Closed()) return;
  if (!trayAvailable_) {
    showMinimized();
    return;
  }
  tray_->show();
  hide();
}

void TMainFm::StopTimers() {
  timerMiniWindow_.stop();
  timerTrunkUpdate_.stop();
  timerTrunkWatch_.stop();
  timerRequest_.stop();
  timerNotifyVer_.stop();
}

void TMainFm::RemoveTrayIcon() {
  trayRemoved_ = true;
  tray_->hide();
}

void TMainFm::Closed() {
  hide();
  TraceLine("closed");
  QCoreApplication::quit();
}

}  // namespace tessaro
