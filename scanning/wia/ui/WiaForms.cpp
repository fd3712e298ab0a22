// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/ui/WiaForms.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "platform/qt/QtText.h"
#include "scanning/ui/ScanChoiceForm.h"
#include "scanning/wia/WiaTexts.h"

namespace tessaro {
namespace {

constexpr int kPreviewWidth = 145;
constexpr int kPreviewHeight = 200;

QLabel* Heading(const char* title, const char* text, QWidget* owner) {
  auto* label = new QLabel(QStringLiteral("<b>%1</b><br>%2").arg(title, text), owner);
  return label;
}

// A field the user clicks to open what it names, drawn underlined.
QLineEdit* LinkField(const char* hint, QWidget* owner) {
  auto* edit = new QLineEdit(owner);
  edit->setReadOnly(true);
  edit->setToolTip(hint);
  QFont font = edit->font();
  font.setUnderline(true);
  edit->setFont(font);
  return edit;
}

}  // namespace

TWiaDeviceDlg::TWiaDeviceDlg(QWidget* owner) : QDialog(owner) {
  setObjectName("TWiaDeviceDlg");
  setWindowTitle(wia::kWiaCaption);
  const ScanChoiceBoxes boxes = BuildScanChoiceForm(*this);
  SourceBox = boxes.source;
  ModeBox = boxes.mode;
  ResolutionBox = boxes.resolution;
  ModeBox->addItems({"Color", "Gray"});
}

bool TWiaDeviceDlg::Run(const wia::DeviceOffer& offer, wia::DeviceChoices& choices) {
  SourceBox->clear();
  if (offer.hasFlatbed) SourceBox->addItem("Flatbed", static_cast<int>(wia::ScanSource::Flatbed));
  if (offer.hasFeeder)
    SourceBox->addItem("Document Feeder", static_cast<int>(wia::ScanSource::Feeder));
  const int low = offer.maxResolution > 0 ? static_cast<int>(std::ceil(offer.minResolution)) : 1;
  const int high = offer.maxResolution > 0 ? static_cast<int>(offer.maxResolution) : 1200;
  ResolutionBox->setRange(std::max(low, 1), std::max(high, 1));
  ResolutionBox->setValue(choices.resolution);
  if (exec() != QDialog::Accepted) return false;
  choices.source = static_cast<wia::ScanSource>(SourceBox->currentData().toInt());
  choices.mode = ModeBox->currentIndex() == 0 ? wia::ScanMode::Color : wia::ScanMode::Gray;
  choices.resolution = ResolutionBox->value();
  return true;
}

TNetWIASetFm::TNetWIASetFm(UiPort& ui, std::string picturesFolder, QWidget* owner)
    : QDialog(owner), FileNameEdit(new QLineEdit(this)), FileFmtComboBox(new QComboBox(this)),
      FilePathEdit(new QLineEdit(this)), BrowseBtn(new QPushButton("Browse ...", this)),
      BackBtn(new QPushButton("< Back", this)), NextBtn(new QPushButton("Next >", this)),
      CancelBtn(new QPushButton("Cancel", this)), core_(ui, std::move(picturesFolder)) {
  setObjectName("TNetWIASetFm");
  setWindowTitle(wia::kWiaCaption);
  setModal(true);
  FileNameEdit->setMaxLength(static_cast<int>(wia::kMaxGroupName));
  FileFmtComboBox->addItems({"JPG (JPEG Image)", "BMP (Bitmap Image)"});
  FilePathEdit->setReadOnly(true);
  NextBtn->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading("        Picture Name and Destination ",
                            "Select a name and destination for your pictures.", this));
  layout->addWidget(new QLabel("1. Type a name for this group of pictures :", this));
  layout->addWidget(FileNameEdit);
  layout->addWidget(new QLabel("2. Select a file format :", this));
  layout->addWidget(FileFmtComboBox);
  layout->addWidget(new QLabel("3. Choose a place to save this group of pictures :", this));
  auto* path = new QHBoxLayout;
  path->addWidget(FilePathEdit);
  path->addWidget(BrowseBtn);
  layout->addLayout(path);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BackBtn);
  buttons->addWidget(NextBtn);
  buttons->addWidget(CancelBtn);
  layout->addLayout(buttons);
  connect(BrowseBtn, &QPushButton::clicked, this, [this] {
    const QString start =
        FilePathEdit->text().isEmpty() ? ToQString(core_.DefaultFolder()) : FilePathEdit->text();
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Select a destination folder", start);
    if (folder.isEmpty()) return;
    core_.SetFolder(ToStdString(folder));
    FilePathEdit->setText(ToQString(core_.FilePathEdit));
  });
  connect(BackBtn, &QPushButton::clicked, this, [this] {
    result_ = answer::kRetry;
    accept();
  });
  connect(NextBtn, &QPushButton::clicked, this, [this] { NextBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] {
    result_ = answer::kCancel;
    reject();
  });
}

int TNetWIASetFm::Run(wia::WiaScanSettings& settings) {
  core_.Show();
  FilePathEdit->setText(ToQString(core_.FilePathEdit));
  FilePathEdit->end(false);
  if (FileNameEdit->text().isEmpty() && !core_.FileNameEdit.empty())
    FileNameEdit->setText(ToQString(core_.FileNameEdit));
  result_ = answer::kCancel;
  exec();
  if (result_ == answer::kOk) settings = chosen_;
  return result_;
}

void TNetWIASetFm::NextBtnClick() {
  core_.FileNameEdit = ToStdString(FileNameEdit->text());
  core_.FileFmtIndex = FileFmtComboBox->currentIndex();
  const auto exists = [](const std::string& file) { return QFileInfo::exists(ToQString(file)); };
  const auto settings = core_.NextBtnClick(exists);
  if (!settings) return;
  chosen_ = *settings;
  result_ = answer::kOk;
  accept();
}

TNetWIASaveFm::TNetWIASaveFm(UiPort& ui, QWidget* owner)
    : QDialog(owner),
      Edit_Location(
          LinkField("To see your pictures on your computer, please click this location.", this)),
      Edit_FileName(LinkField("To see this picture, please click here.", this)),
      ProgressBar_Scan(new QProgressBar(this)), Label_Percent(new QLabel("0 %", this)),
      Label_Cancel(new QLabel(wia::kCancellingScan, this)),
      ProgressBar_Save(new QProgressBar(this)), ScanImage(new QLabel(this)),
      CancelBtn(new QPushButton("Cancel", this)), BackBtn(new QPushButton("< Back", this)),
      ui_(ui) {
  setObjectName("TNetWIASaveFm");
  setWindowTitle(wia::kWiaCaption);
  setModal(true);
  setFixedWidth(534);
  ProgressBar_Scan->setRange(0, 100);
  Label_Cancel->setStyleSheet("color: red");
  Label_Cancel->hide();
  ScanImage->setFixedSize(kPreviewWidth, kPreviewHeight);
  ScanImage->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  ScanImage->setCursor(Qt::PointingHandCursor);
  ScanImage->setAlignment(Qt::AlignCenter);
  auto* fields = new QFormLayout;
  fields->addRow("Location :", Edit_Location);
  fields->addRow("Picture :", Edit_FileName);
  fields->addRow("Picture scan progress :", ProgressBar_Scan);
  fields->addRow(Label_Percent, Label_Cancel);
  fields->addRow("Picture save progress :", ProgressBar_Save);
  auto* body = new QHBoxLayout;
  body->addLayout(fields);
  body->addWidget(ScanImage);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BackBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading("        Scanning Picture ",
                            "Please wait while the wizard scans your pictures.", this));
  layout->addLayout(body);
  layout->addLayout(buttons);
  Timer.setInterval(1000);
  Timer.setSingleShot(true);
  connect(&Timer, &QTimer::timeout, this, [this] {
    if (core_) core_->Run();
  });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
  connect(BackBtn, &QPushButton::clicked, this, [this] {
    result_ = answer::kRetry;
    accept();
  });
  // Only local folders and files are ever opened from here.
  connect(Edit_Location, &QLineEdit::selectionChanged, this, [this] {
    if (!Edit_Location->text().isEmpty())
      QDesktopServices::openUrl(QUrl::fromLocalFile(Edit_Location->text()));
  });
  connect(Edit_FileName, &QLineEdit::selectionChanged, this, [this] {
    if (!Edit_FileName->text().isEmpty())
      QDesktopServices::openUrl(QUrl::fromLocalFile(Edit_Location->text() + Edit_FileName->text()));
  });
}

int TNetWIASaveFm::Run(const wia::WiaTransferJob& job) {
  core_ = std::make_unique<wia::TNetWIASaveCore>(*this, job);
  finished_ = false;
  result_ = answer::kCancel;
  core_->Show();
  ScanImage->clear();
  BackBtn->setEnabled(false);
  CancelBtn->setText("Cancel");
  Label_Cancel->hide();
  Timer.start();
  exec();
  Timer.stop();
  core_.reset();
  return result_;
}

void TNetWIASaveFm::CancelBtnClick() {
  if (finished_) {
    result_ = answer::kCancel;
    reject();
    return;
  }
  if (core_) core_->CancelClick();
}

void TNetWIASaveFm::SetLocation(const std::string& folder) {
  Edit_Location->setText(ToQString(folder));
  Edit_Location->end(false);
}

void TNetWIASaveFm::SetFileName(const std::string& name) {
  Edit_FileName->setText(ToQString(name));
}

void TNetWIASaveFm::SetScanProgress(int32_t percent, const std::string& label) {
  ProgressBar_Scan->setValue(std::clamp(percent, 0, 100));
  Label_Percent->setText(ToQString(label));
}

void TNetWIASaveFm::ShowPreview(const std::string& file) {
  QImageReader reader(ToQString(file));
  const QSize size = reader.size();
  if (size.isEmpty()) {
    ScanImage->clear();
    return;
  }
  // A JPEG is read at an eighth of its size: a preview needs no more.
  if (reader.format() == "jpeg") reader.setScaledSize(size / 8);
  const QImage page = reader.read();
  ScanImage->setPixmap(
      QPixmap::fromImage(page).scaled(kPreviewWidth, kPreviewHeight, Qt::KeepAspectRatio));
}

void TNetWIASaveFm::ShowCancelLabel(const std::string& text) {
  if (text.empty()) {
    Label_Cancel->hide();
    return;
  }
  Label_Cancel->setText(ToQString(text));
  Label_Cancel->show();
}

void TNetWIASaveFm::SetSaveProgress(int32_t position, int32_t max) {
  ProgressBar_Save->setRange(0, std::max(max, 1));
  ProgressBar_Save->setValue(position);
}

void TNetWIASaveFm::Finished(bool backEnabled) {
  finished_ = true;
  CancelBtn->setText("Close");
  BackBtn->setEnabled(backEnabled);
}

void TNetWIASaveFm::ShowMessage(const std::string& text) {
  ui_.ShowMessage({wia::kWiaCaption, text, mb::kOk, true});
}

void TNetWIASaveFm::ProcessPendingEvents() { QApplication::processEvents(); }

void WiaFormsSession::ShowMessage(const std::string& text) {
  ui_.ShowMessage({wia::kWiaCaption, text, mb::kOk, true});
}

}  // namespace tessaro
