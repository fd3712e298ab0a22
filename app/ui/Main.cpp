// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/Main.h"

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

#include "app/ui/TrayIcons.h"

namespace tessaro {

void TraceLine(const std::string& what) {
  static const bool enabled = std::getenv("TESSARO_TRACE") != nullptr;
  if (!enabled) return;
  std::printf("tessaro-utility: %s\n", what.c_str());
  std::fflush(stdout);
}

TMainFm::TMainFm(MainFormServices services, Registry& registry)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      registry_(registry),
      core_(std::move(services), *this),
      listView_(new QListView(this)) {
  setObjectName(QStringLiteral("TMainFm"));
  // Relative paths (the printer maker table) are taken from the program's folder.
  programFolder_ = QCoreApplication::applicationDirPath().toStdString();
  QDir::setCurrent(QString::fromStdString(programFolder_));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(listView_);
  listView_->setObjectName(QStringLiteral("ListView"));
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
  timerClick_.setInterval(300);
}

TMainFm::~TMainFm() = default;

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
  QObject::connect(openMItem_, &QAction::triggered, this, [this] { OpenMItemClick(); });
  QObject::connect(exitMItem_, &QAction::triggered, this, [this] { ExitMItemClick(); });
}

CreateResult TMainFm::RunCreationSteps(const StartupInputs& inputs) {
  const CreateResult result = core_.Create(inputs);
  if (result != CreateResult::Ready) return result;
  const MainFormSettings& settings = core_.Settings();
  setWindowTitle(QString::fromLocal8Bit(settings.WindowCaption.c_str()));
  openMItem_->setText(QString::fromLocal8Bit(settings.TrayOpenCaption.c_str()));
  aboutMItem_->setText(QString::fromLocal8Bit(settings.TrayAboutCaption.c_str()));
  ApplyPlacement();
  return result;
}

void TMainFm::ApplyPlacement() {
  const MainWindowPlacement& placement = core_.Placement();
  resize(placement.width, placement.height);
  move(placement.left, placement.top);
}

void TMainFm::ShowAfterCreation() {
  if (core_.Placement().state == WindowState::Maximized && !core_.MiniStart()) {
    showMaximized();
  } else {
    show();
  }
}

MainWindowPlacement TMainFm::CurrentPlacement() const {
  MainWindowPlacement placement = core_.Placement();
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
  tray_->setToolTip(QString::fromLocal8Bit(look.tip.substr(0, 127).c_str()));
  QApplication::setWindowIcon(icon);
  setWindowIcon(icon);
}

void TMainFm::AddTrayIcon() {
  tray_->show();
  TraceLine("tray icon added");
}

void TMainFm::StartMiniWindowTimer() { timerMiniWindow_.start(); }

void TMainFm::StartNotifyVersionTimer(int intervalMs) {
  timerNotifyVer_.setInterval(intervalMs);
  timerNotifyVer_.start();
}

// Half a second after a mini start: out of sight for good, until the tray opens it.
void TMainFm::Timer_MiniWindowTimer() {
  timerMiniWindow_.stop();
  move(x(), kMiniHiddenTop);
  hide();
}

void TMainFm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (y() == kMiniHiddenTop) move(x(), core_.Settings().RestoreTop);
  if (core_.Trunk() != kInvalidBusHandle) LoadPrinterMakerTable(programFolder_, printerMakers_);
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

void TMainFm::ShowFromTray() {
  showNormal();
  raise();
  activateWindow();
}

void TMainFm::TrayMessage(int message) {
  if (message == kTrayLeftButtonDown || message == kTrayShowRequest) {
    ShowFromTray();
  } else if (message == kTrayRightButtonUp) {
    popupMenu_->popup(QCursor::pos());
  }
}

void TMainFm::OpenMItemClick() {
  if (isHidden()) ShowFromTray();
}

void TMainFm::ExitMItemClick() {
  exitRequested_ = true;
  close();
  exitRequested_ = false;
}

void TMainFm::EndSession() {
  sessionEnding_ = true;
  close();
}

void TMainFm::closeEvent(QCloseEvent* event) {
  if (!exitRequested_ && !sessionEnding_) {
    // The close box only hides; the tray icon is the way back. Without a tray, minimise.
    event->ignore();
    if (!trayAvailable_) {
      showMinimized();
      return;
    }
    tray_->show();
    hide();
    return;
  }
  RunCloseSequence(event);
}

void TMainFm::RunCloseSequence(QCloseEvent* event) {
  if (closing_) {
    event->ignore();
    return;
  }
  closing_ = true;
  const MainWindowPlacement placement = CurrentPlacement();
  core_.CloseListsAndTrunk();
  tray_->hide();
  core_.CloseSocketsAndLock();
  event->accept();
  SavePlacement(registry_, placement);
  TraceLine("closed");
  QCoreApplication::quit();
}

}  // namespace tessaro
