// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/ui/NetScanForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/qt/QtText.h"
#include "scanning/twain/WinIni.h"
#include "scanning/ui/SaveFileForm.h"

namespace tessaro {
namespace {

// How often the message loop hands the source a message: its transfers start from there.
constexpr int kMessagePumpMs = 50;

int32_t BitsOf(const QImage& image) {
  switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: return 1;
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8: return 8;
    default: return 24;
  }
}

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

}  // namespace

TNetScanFm::TNetScanFm(UiPort& ui, MainThread& mainThread, twain::ScanLockPort& lock,
                       NetScanSetup setup, QWidget* owner)
    : QDialog(owner), setup_(std::move(setup)) {
  setWindowTitle(twain::kScanWindowCaption);
  setWindowFlag(Qt::WindowStaysOnTopHint);
  resize(690, 599);

  SrcLabel = Named(new QLabel(this), "SrcLabel");
  FileNameEdit = Named(new QLineEdit("Picture", this), "FileNameEdit");
  FileNameEdit->setMaxLength(64);
  FileFmtComboBox = Named(new QComboBox(this), "FileFmtComboBox");
  FileFmtComboBox->addItems(
      {"JPG (JPEG Image)", "BMP (Bitmap Image)", "PDF (Portable Document Format)"});
  FilePathEdit = Named(new QLineEdit(this), "FilePathEdit");
  auto* browse = Named(new QPushButton("Browse ...", this), "BrowseBtn");
  ScanBtn = Named(new QPushButton("Scan", this), "ScanBtn");
  CloseBtn = Named(new QPushButton("Close", this), "CloseBtn");
  NoteSText = Named(new QLabel(this), "NoteSText");
  NoteSText->setStyleSheet("color: red");
  PageLabel = Named(new QLabel("No. 0 Page.", this), "PageLabel");
  LocationEdit = Named(new QLineEdit(this), "LocationEdit");
  LocationEdit->setReadOnly(true);
  LocationEdit->setToolTip("To see your pictures on your computer, please click this location.");
  InfoSText_FileName = Named(new QLabel(this), "InfoSText_FileName");
  InfoSText_Pixel = Named(new QLabel(this), "InfoSText_Pixel");
  InfoSText_CM = Named(new QLabel(this), "InfoSText_CM");
  InfoSText_Res = Named(new QLabel(this), "InfoSText_Res");
  InfoSText_Bits = Named(new QLabel(this), "InfoSText_Bits");
  InfoSText_FSize = Named(new QLabel(this), "InfoSText_FSize");
  IndexLabel = Named(new QLabel("0", this), "IndexLabel");
  TotalLabel = Named(new QLabel("0", this), "TotalLabel");
  ScaleLabel = Named(new QLabel(this), "ScaleLabel");
  auto tool = [this](const char* name, const char* text, const char* hint) {
    auto* button = Named(new QToolButton(this), name);
    button->setText(text);
    button->setToolTip(hint);
    return button;
  };
  PBtn = tool("PBtn", "<", "Previous Picture (<-)");
  NBtn = tool("NBtn", ">", "Next Picture (->)");
  ZInTBtn = tool("ZInTBtn", "+", "Zoom In (+)");
  ZOutTBtn = tool("ZOutTBtn", "-", "Zoom Out (-)");
  OPSizeTBtn = tool("OPSizeTBtn", "[ ]", "Optimum Size");
  ActualTBtn = tool("ActualTBtn", "1:1", "Actual Pixels");
  SaveBtn = tool("SaveBtn", "Save", "Save this picture as ...");
  PBtn->setEnabled(false);
  NBtn->setEnabled(false);
  ScrollBox = Named(new QScrollArea(this), "ScrollBox");
  ScanImage = Named(new QLabel, "ScanImage");
  ScanImage->setScaledContents(true);
  ScrollBox->setWidget(ScanImage);
  ScrollBox->setAlignment(Qt::AlignCenter);

  auto* left = new QVBoxLayout;
  left->addWidget(SrcLabel);
  left->addWidget(new QLabel("1. Type a name for this group of pictures :"));
  left->addWidget(FileNameEdit);
  left->addWidget(new QLabel("2. Select a file format :"));
  left->addWidget(FileFmtComboBox);
  left->addWidget(new QLabel("3. Choose a place to save this group of pictures :"));
  left->addWidget(FilePathEdit);
  left->addWidget(browse);
  left->addWidget(ScanBtn);
  left->addWidget(CloseBtn);
  left->addWidget(NoteSText);
  left->addWidget(PageLabel);
  left->addWidget(LocationEdit);
  left->addWidget(InfoSText_FileName);
  const std::pair<const char*, QLabel*> info[] = {{"Width * Height :", InfoSText_Pixel},
                                                  {"Dimensions :", InfoSText_CM},
                                                  {"Resolution :", InfoSText_Res},
                                                  {"Bit Depth :", InfoSText_Bits},
                                                  {"File Size :", InfoSText_FSize}};
  for (const auto& [caption, label] : info) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(caption));
    row->addWidget(label);
    left->addLayout(row);
  }
  left->addStretch();
  auto* bar = new QHBoxLayout;
  for (QWidget* widget : std::initializer_list<QWidget*>{
           PBtn, IndexLabel, new QLabel("of"), TotalLabel, NBtn, new QLabel("Scale : "), ScaleLabel,
           ZInTBtn, ZOutTBtn, OPSizeTBtn, ActualTBtn}) {
    bar->addWidget(widget);
  }
  auto* right = new QVBoxLayout;
  right->addWidget(ScrollBox, 1);
  right->addLayout(bar);
  auto* main = new QHBoxLayout(this);
  main->addLayout(left);
  main->addLayout(right, 1);

  TimeoutTimer.setInterval(twain::kIdleUnlockMs);
  SaveFileTimer.setInterval(twain::kSaveFilePollMs);
  messagePump_.setInterval(kMessagePumpMs);
  twain_ = std::make_unique<twain::TTwainScanner>(*this);
  twain_->SetProductname("Auto-Connect Scanner");
  twain_->SetManufacturer("TWAIN");
  twain_->SetProductFamily("ZED IZU Radiru");
  core_ = std::make_unique<twain::TNetScanCore>(
      *twain_, *this, ui, mainThread, lock,
      setup_.documentsFolder + "/" + ToStdString(FileNameEdit->text()));
  if (twain_->IsTwainDriverAvailable()) {
    try {
      twain_->InitTWAIN();
      twainReady_ = true;
    } catch (const std::exception&) {
      twainReady_ = false;  // no manager in this process: Scan Now finds no source
    }
  }

  connect(ScanBtn, &QPushButton::clicked, this, [this] { ScanBtnClick(); });
  connect(CloseBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, "Select a destination folder",
                                                             FilePathEdit->text());
    if (!folder.isEmpty()) FilePathEdit->setText(folder.endsWith('/') ? folder : folder + '/');
  });
  connect(NBtn, &QToolButton::clicked, this, [this] { core_->NBtnClick(); });
  connect(PBtn, &QToolButton::clicked, this, [this] { core_->PBtnClick(); });
  connect(ZInTBtn, &QToolButton::clicked, this,
          [this] { Zoom(twain::ZoomInScale(scalePercent_)); });
  connect(ZOutTBtn, &QToolButton::clicked, this,
          [this] { Zoom(twain::ZoomOutScale(scalePercent_, minScalePercent_)); });
  connect(ActualTBtn, &QToolButton::clicked, this, [this] { Zoom(100); });
  connect(OPSizeTBtn, &QToolButton::clicked, this, [this] { FitPreview(); });
  connect(SaveBtn, &QToolButton::clicked, this, [this] {
    // The core asks before replacing a file, so the dialog does not.
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix("jpg");
    dialog.setNameFilters(
        {"JPEG Image (*.jpg)", "Bitmap Image (*.bmp)", "Portable Document Format (*.pdf)"});
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      core_->SaveBtnClick(ToStdString(dialog.selectedFiles().front()));
    }
  });
  connect(&TimeoutTimer, &QTimer::timeout, this, [this] {
    core_->TimeoutTimerTimer();
    SyncTimers();
  });
  connect(&SaveFileTimer, &QTimer::timeout, this, [this] {
    core_->SaveFileTimerTimer();
    SyncTimers();
  });
  connect(&messagePump_, &QTimer::timeout, this, [this] {
    if (!messageHandler_) return;
    bool handled = false;
    messageHandler_(twain::AppMessage{MainWindowHandle(), 0}, handled);
    SyncTimers();
  });
}

TNetScanFm::~TNetScanFm() {
  core_.reset();
  twain_.reset();
}

uint32_t TNetScanFm::MainWindowHandle() {
  // Any non-zero number names the application to the manager.
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this) & 0xFFFFFFFF) | 1;
}

twain::MessageHandler TNetScanFm::ReplaceMessageHandler(twain::MessageHandler handler) {
  auto previous = std::exchange(messageHandler_, std::move(handler));
  if (messageHandler_) {
    messagePump_.start();
  } else {
    messagePump_.stop();
  }
  return previous;
}

void TNetScanFm::showEvent(QShowEvent* event) {
  if (FilePathEdit->text().isEmpty()) {
    FilePathEdit->setText(ToQString(setup_.picturesFolder));
  }
  QDialog::showEvent(event);
}

void TNetScanFm::closeEvent(QCloseEvent* event) {
  core_->FormClose();
  SyncTimers();
  QDialog::closeEvent(event);
}

void TNetScanFm::ScanFrom(const twain::ScanSessionInfo& session, const std::string& sourceName) {
  core_->SetSession(session);
  SrcLabel->setText(ToQString(sourceName));
  TimeoutTimer.start();
  exec();
}

void TNetScanFm::ScanBtnClick() {
  core_->ScanBtnClick(ToStdString(FileNameEdit->text()), FileFmtComboBox->currentIndex(),
                      ToStdString(FilePathEdit->text()));
  SyncTimers();
}

void TNetScanFm::SyncTimers() {
  if (core_->TimeoutTimerRunning() != TimeoutTimer.isActive()) {
    core_->TimeoutTimerRunning() ? TimeoutTimer.start() : TimeoutTimer.stop();
  }
  if (core_->SaveFileTimerRunning() != SaveFileTimer.isActive()) {
    core_->SaveFileTimerRunning() ? SaveFileTimer.start() : SaveFileTimer.stop();
  }
}

std::optional<twain::NetScanView::Picture> TNetScanFm::LoadPreview(const std::string& file) {
  QImage image;
  if (!image.load(ToQString(file))) return std::nullopt;
  picture_ = image;
  ScanImage->setPixmap(QPixmap::fromImage(picture_));
  scalePercent_ = minScalePercent_ = 0;
  FitPreview();
  return Picture{picture_.width(), picture_.height(), BitsOf(picture_)};
}

void TNetScanFm::ClearPreview() {
  picture_ = QImage();
  ScanImage->clear();
  ScaleLabel->clear();
}

void TNetScanFm::ShowNote(const std::string& text) { NoteSText->setText(ToQString(text)); }

void TNetScanFm::ShowPageLabel(int32_t page, const std::string& file) {
  PageLabel->setText(QString("No. %1 Page.").arg(page));
  if (file.empty()) {
    LocationEdit->clear();
    InfoSText_FileName->clear();
    return;
  }
  const QFileInfo info(ToQString(file));
  LocationEdit->setText(info.path() + '/');
  InfoSText_FileName->setText(info.fileName());
}

void TNetScanFm::ShowIndex(int32_t index, int32_t total) {
  IndexLabel->setNum(index);
  TotalLabel->setNum(total);
}

void TNetScanFm::ShowPictureTexts(const twain::PictureTexts& texts) {
  InfoSText_Bits->setText(ToQString(texts.bits));
  InfoSText_Pixel->setText(ToQString(texts.pixels));
  InfoSText_FSize->setText(ToQString(texts.size));
  InfoSText_CM->setText(ToQString(texts.cm));
  InfoSText_Res->setText(ToQString(texts.dpi));
}

void TNetScanFm::SetInputEnabled(bool enabled) {
  ScanBtn->setEnabled(enabled);
  CloseBtn->setEnabled(enabled);
}

void TNetScanFm::SetNavigationEnabled(bool enabled) {
  PBtn->setEnabled(enabled);
  NBtn->setEnabled(enabled);
}

void TNetScanFm::SetBusyCursor(bool busy) { busy ? setCursor(Qt::WaitCursor) : unsetCursor(); }

void TNetScanFm::ShowSavingWindow(bool shown) {
  if (shown) {
    saving_ = std::make_unique<TSaveFileFm>(this);
    saving_->ShowCentred();
  } else {
    saving_.reset();
  }
}

void TNetScanFm::SetSaveProgress(int32_t saved, int32_t pages) {
  if (saving_ && pages > 0) saving_->progress()->setValue(saved * 100 / pages);
}

void TNetScanFm::CloseWindow() { reject(); }

void TNetScanFm::Zoom(int32_t scale) {
  if (picture_.isNull() || scale == scalePercent_) return;
  const QSize panel = ScrollBox->viewport()->size();
  const auto place = twain::ScalePreview(picture_.width(), picture_.height(), scale, panel.width(),
                                         panel.height());
  scalePercent_ = place.scalePercent;
  ScanImage->resize(place.width, place.height);
  ScaleLabel->setText(QString("%1 %").arg(scalePercent_));
}

void TNetScanFm::FitPreview() {
  if (picture_.isNull()) return;
  const QSize panel = ScrollBox->viewport()->size();
  const auto place =
      twain::FitPreview(picture_.width(), picture_.height(), panel.width(), panel.height());
  ScanImage->resize(std::max(place.width, 1), std::max(place.height, 1));
  scalePercent_ = place.scalePercent;
  if (minScalePercent_ == 0) minScalePercent_ = scalePercent_;
  ScaleLabel->setText(QString("%1 %").arg(scalePercent_));
}

}  // namespace tessaro
