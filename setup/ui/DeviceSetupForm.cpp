// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/ui/DeviceSetupForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/qt/QtText.h"
#include "setup/SetupTexts.h"

namespace tessaro {
namespace {

using setup::RowState;
using setup::SetupPage;

// The state images of the list rows: an empty box, a ticked box, a grey box.
QIcon StateImage(RowState state) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor frame = state == RowState::Unavailable ? QColor(160, 160, 160) : QColor(64, 64, 64);
  painter.setPen(QPen(frame, 1.2));
  painter.setBrush(state == RowState::Unavailable ? QColor(224, 224, 224) : QColor(Qt::white));
  painter.drawRect(QRectF(2.5, 2.5, 11, 11));
  if (state == RowState::Checked) {
    painter.setPen(QPen(QColor(0, 120, 0), 2));
    painter.drawPolyline(QPolygonF({QPointF(4.5, 8), QPointF(7, 11), QPointF(12, 5)}));
  }
  return QIcon(pixmap);
}

QLabel* WrappedLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setWordWrap(true);
  return label;
}

QWidget* NewPage(QStackedWidget* pages, const char* name) {
  auto* page = new QWidget(pages);
  page->setObjectName(QString::fromLatin1(name));
  new QVBoxLayout(page);
  pages->addWidget(page);
  return page;
}

QVBoxLayout* LayoutOf(QWidget* page) { return static_cast<QVBoxLayout*>(page->layout()); }

}  // namespace

QPoint PlaceBesideOwner(const QRect& owner, const QSize& size, const QRect& screen) {
  const int right = owner.right() + 1;
  const bool fitsRight = right + size.width() <= screen.right() + 1;
  return {fitsRight ? right : owner.left() - size.width(), owner.top()};
}

TDeviceSetupFm::TDeviceSetupFm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      title_(new QLabel(this)), pages_(new QStackedWidget(this)), next_(new QPushButton(this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
  setObjectName(QStringLiteral("TDeviceSetupFm"));
  setWindowTitle(QStringLiteral("Manage Device"));
  setModal(true);
  resize(460, 400);
  title_->setObjectName(QStringLiteral("Label_Title"));
  title_->setWordWrap(true);
  QFont bold = title_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.15);
  title_->setFont(bold);
  title_->setTextFormat(Qt::PlainText);
  next_->setObjectName(QStringLiteral("NextBtn"));
  next_->setDefault(true);
  cancel_->setObjectName(QStringLiteral("CancelBtn"));

  BuildInstallPage();
  BuildCdRomPage();
  BuildConnectPage();
  BuildConnectScannerPage();
  BuildAutoScanPage();
  BuildAutoPrintPage();
  BuildTroublePage();

  // Next stands left of Cancel; alone it takes Cancel's place at the right edge.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(next_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addWidget(pages_, 1);
  layout->addLayout(buttons);
  connect(next_, &QPushButton::clicked, this, [this] { NextBtnClick(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
}

void TDeviceSetupFm::BuildInstallPage() {
  QWidget* page = NewPage(pages_, "InstallTabSt");
  installQuestion_ = WrappedLabel(page, "Label_Install");
  installYes_ = new QRadioButton(ToQString(setup::text::kYes), page);
  installYes_->setObjectName(QStringLiteral("RBtn_Install1"));
  installNo_ = new QRadioButton(ToQString(setup::text::kNo), page);
  installNo_->setObjectName(QStringLiteral("RBtn_Install2"));
  installNote_ = WrappedLabel(page, "Label_InstallNote");
  addQueue_ = new QPushButton(ToQString(setup::text::kAddQueueButton), page);
  addQueue_->setObjectName(QStringLiteral("AddQueueBtn"));
  addQueueResult_ = WrappedLabel(page, "Label_QueueAdded");
  QVBoxLayout* layout = LayoutOf(page);
  for (QWidget* w : {static_cast<QWidget*>(installQuestion_), static_cast<QWidget*>(installYes_),
                     static_cast<QWidget*>(installNo_), static_cast<QWidget*>(installNote_)})
    layout->addWidget(w);
  layout->addSpacing(12);
  layout->addWidget(addQueue_, 0, Qt::AlignLeft);
  layout->addWidget(addQueueResult_);
  layout->addStretch();
  connect(installYes_, &QRadioButton::toggled, this, [this](bool on) {
    if (!syncing_ && wizard_ != nullptr) wizard_->SetInstallYes(on);
  });
  connect(addQueue_, &QPushButton::clicked, this, [this] { AddQueueClick(); });
}

void TDeviceSetupFm::BuildCdRomPage() {
  QWidget* page = NewPage(pages_, "CDROMTabSt");
  cdNote_ = WrappedLabel(page, "Label_CDROM");
  QLabel* follow = WrappedLabel(page, "Label_CDROM2");
  follow->setText(ToQString(setup::text::kCdFollowNote));
  LayoutOf(page)->addWidget(cdNote_);
  LayoutOf(page)->addWidget(follow);
  LayoutOf(page)->addStretch();
}

void TDeviceSetupFm::BuildConnectPage() {
  QWidget* page = NewPage(pages_, "ConnectTabSt");
  printerLabel_ = WrappedLabel(page, "Label_Printer");
  connectNote_ = WrappedLabel(page, "Label_ConnectNote");
  supportScan_ = new QCheckBox(ToQString(setup::text::kSupportScan), page);
  supportScan_->setObjectName(QStringLiteral("CheckBox_SupportScan"));
  mfpScanLabel_ = WrappedLabel(page, "Label_MFPScan");
  mfpScanLabel_->setText(ToQString(setup::text::kChooseScanner));
  scanList_ = NewScannerList("ScanListView");
  QVBoxLayout* layout = LayoutOf(page);
  layout->addWidget(printerLabel_);
  layout->addWidget(connectNote_);
  layout->addWidget(supportScan_);
  layout->addWidget(mfpScanLabel_);
  layout->addWidget(scanList_, 1);
  layout->addStretch();
  connect(supportScan_, &QCheckBox::toggled, this, [this](bool on) {
    if (syncing_ || wizard_ == nullptr) return;
    wizard_->SetSupportScan(on);
    Sync();
  });
}

void TDeviceSetupFm::BuildConnectScannerPage() {
  QWidget* page = NewPage(pages_, "ConnectScannerTabSt");
  scannerLabel_ = WrappedLabel(page, "Label_Scanner");
  scannerConfirm_ = WrappedLabel(page, "Memo_ScannerConfirm");
  scanList3_ = NewScannerList("ScanListView3");
  LayoutOf(page)->addWidget(scannerLabel_);
  LayoutOf(page)->addWidget(scannerConfirm_);
  LayoutOf(page)->addWidget(scanList3_, 1);
  LayoutOf(page)->addStretch();
}

void TDeviceSetupFm::BuildAutoScanPage() {
  QWidget* page = NewPage(pages_, "AutoScanTabSt");
  scanList2_ = NewScannerList("ScanListView2");
  LayoutOf(page)->addWidget(scanList2_, 1);
}

void TDeviceSetupFm::BuildAutoPrintPage() {
  QWidget* page = NewPage(pages_, "AutoPrintTabSt");
  QLabel* note = WrappedLabel(page, "Label_AutoPrint");
  note->setText(ToQString(setup::text::kAutoPrintNote));
  printerList_ = NewPrinterList("PrinterListView");
  LayoutOf(page)->addWidget(note);
  LayoutOf(page)->addWidget(printerList_, 1);
}

void TDeviceSetupFm::BuildTroublePage() {
  QWidget* page = NewPage(pages_, "TroubleTabSt");
  QVBoxLayout* layout = LayoutOf(page);
  for (int i = 0; i < 3; ++i) {
    trouble_[i] = new QRadioButton(page);
    trouble_[i]->setObjectName(QStringLiteral("RBtn_Trouble%1").arg(i + 1));
    troublePanel_[i] = new QWidget(page);
    troublePanel_[i]->setObjectName(QStringLiteral("Panel_Trouble%1").arg(i + 1));
    new QVBoxLayout(troublePanel_[i]);
    layout->addWidget(trouble_[i]);
    connect(trouble_[i], &QRadioButton::toggled, this, [this, i](bool on) {
      if (!on || syncing_ || wizard_ == nullptr) return;
      wizard_->ChooseTroubleOption(i + 1);
      Sync();
    });
  }
  troubleHelp_ = WrappedLabel(troublePanel_[0], "Memo_Trouble1");
  troublePanel_[0]->layout()->addWidget(troubleHelp_);
  QLabel* autoHelp = WrappedLabel(troublePanel_[1], "Memo_Trouble2");
  autoHelp->setText(ToQString(setup::text::kTroubleAutoConnectHelp));
  printerList1_ = NewPrinterList("PrinterListView1");
  troublePanel_[1]->layout()->addWidget(autoHelp);
  troublePanel_[1]->layout()->addWidget(printerList1_);
  QLabel* scanHelp = WrappedLabel(troublePanel_[2], "Memo_Trouble3");
  scanHelp->setText(ToQString(setup::text::kTroubleScannerHelpChoose));
  scanList1_ = NewScannerList("ScanListView1");
  troublePanel_[2]->layout()->addWidget(scanHelp);
  troublePanel_[2]->layout()->addWidget(scanList1_);
  for (QWidget* panel : troublePanel_) layout->addWidget(panel, 1);
  troubleOk_ = new QPushButton(QStringLiteral("OK"), page);
  troubleOk_->setObjectName(QStringLiteral("OKBtn"));
  layout->addWidget(troubleOk_, 0, Qt::AlignRight);
  connect(troubleOk_, &QPushButton::clicked, this, [this] { OKBtnClick(); });
}

QTreeWidget* TDeviceSetupFm::NewPrinterList(const char* name) {
  auto* view = new QTreeWidget(this);
  view->setObjectName(QString::fromLatin1(name));
  view->setRootIsDecorated(false);
  view->setColumnCount(3);
  view->setHeaderLabels({QStringLiteral("Printer"), QStringLiteral("Port"), QString()});
  view->setColumnHidden(2, true);  // the mark, kept with the row
  view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  view->setMouseTracking(true);
  connect(view, &QTreeWidget::itemPressed, this, [this, view](QTreeWidgetItem* item, int) {
    if (wizard_ == nullptr) return;
    wizard_->ClickPrinterRow(static_cast<size_t>(view->indexOfTopLevelItem(item)));
    Sync();
  });
  return view;
}

QTreeWidget* TDeviceSetupFm::NewScannerList(const char* name) {
  auto* view = new QTreeWidget(this);
  view->setObjectName(QString::fromLatin1(name));
  view->setRootIsDecorated(false);
  view->setHeaderHidden(true);
  connect(view, &QTreeWidget::itemPressed, this, [this, view](QTreeWidgetItem* item, int) {
    if (wizard_ == nullptr) return;
    wizard_->ClickScannerRow(static_cast<size_t>(view->indexOfTopLevelItem(item)));
    Sync();
  });
  return view;
}

setup::RunEnd TDeviceSetupFm::Run(setup::SetupWizard& wizard) {
  Attach(wizard);
  exec();
  wizard_ = nullptr;
  if (wizard.end() == setup::RunEnd::Running) wizard.Cancel();
  return wizard.end();
}

void TDeviceSetupFm::Attach(setup::SetupWizard& wizard) {
  wizard_ = &wizard;
  addQueueResult_->clear();
  Sync();
}

void TDeviceSetupFm::reject() {
  if (wizard_ != nullptr && wizard_->end() == setup::RunEnd::Running) wizard_->Cancel();
  QDialog::reject();
}

void TDeviceSetupFm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  QWidget* owner = parentWidget();
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (owner == nullptr || screen == nullptr) return;
  move(PlaceBesideOwner(owner->frameGeometry(), frameGeometry().size(),
                        screen->availableGeometry()));
}

void TDeviceSetupFm::NextBtnClick() {
  if (wizard_ == nullptr) return;
  // Applying a printer choice stops and starts monitors: the busy cursor shows it.
  next_->setCursor(Qt::BusyCursor);
  wizard_->Next();
  next_->unsetCursor();
  AfterAction();
}

void TDeviceSetupFm::OKBtnClick() {
  if (wizard_ == nullptr) return;
  wizard_->TroubleOk();
  AfterAction();
}

void TDeviceSetupFm::AddQueueClick() {
  if (wizard_ == nullptr) return;
  if (const auto name = wizard_->AddPrintQueue())
    addQueueResult_->setText(ToQString(setup::text::kQueueAdded) + ToQString(*name));
  AfterAction();
}

void TDeviceSetupFm::AfterAction() {
  if (wizard_ == nullptr) return;
  switch (wizard_->end()) {
    case setup::RunEnd::Running: Sync(); break;
    case setup::RunEnd::Ok: done(QDialog::Accepted); break;
    case setup::RunEnd::Cancel: done(QDialog::Rejected); break;
  }
}

void TDeviceSetupFm::Sync() {
  if (wizard_ == nullptr) return;
  syncing_ = true;
  // The titles escape '&' by doubling it, as captions that underline a letter do.
  title_->setText(
      ToQString(wizard_->look().title).replace(QStringLiteral("&&"), QStringLiteral("&")));
  pages_->setCurrentIndex(static_cast<int>(wizard_->page()));
  SyncButtons();
  SyncPages();
  SyncTrouble();
  syncing_ = false;
}

void TDeviceSetupFm::SyncButtons() {
  switch (wizard_->look().mode) {
    case setup::ButtonMode::NextCancel:
    case setup::ButtonMode::Next: next_->setText(QStringLiteral("Next")); break;
    case setup::ButtonMode::Ok: next_->setText(QStringLiteral("OK")); break;
    case setup::ButtonMode::Close: next_->setText(QStringLiteral("Close")); break;
  }
  cancel_->setVisible(wizard_->look().mode == setup::ButtonMode::NextCancel);
}

void TDeviceSetupFm::SyncPages() {
  const setup::SetupWizard& w = *wizard_;
  const bool scanner = w.scannerLike();
  const QString device = ToQString(w.device().displayName);
  installQuestion_->setText(ToQString(scanner ? setup::text::kInstallQuestionScanner
                                              : setup::text::kInstallQuestionPrinter));
  installNote_->setText(
      ToQString(scanner ? setup::text::kInstallNoteScanner : setup::text::kInstallNotePrinter));
  (w.installYes() ? installYes_ : installNo_)->setChecked(true);
  addQueue_->setVisible(!scanner);
  cdNote_->setText(ToQString(scanner ? setup::text::kCdNoteScanner : setup::text::kCdNotePrinter));

  printerLabel_->setText(device);
  connectNote_->setText(
      ToQString(w.mfp() ? setup::text::kMfpInstallNote : setup::text::kPrinterInstallNote));
  connectNote_->setVisible(w.installing());
  supportScan_->setVisible(w.supportScanShown());
  supportScan_->setChecked(w.supportScanChecked());
  const bool connectList = w.page() == SetupPage::Connect && w.scannerListShown();
  mfpScanLabel_->setVisible(connectList && w.mfp());
  scanList_->setVisible(connectList);

  scannerLabel_->setText(device);
  if (w.installing()) {
    scannerConfirm_->setText(ToQString(setup::text::kScannerConfirmInstalling));
  } else {
    scannerConfirm_->setText(
        ToQString(w.olderWindows() ? setup::text::kChooseScanner : setup::text::kEndRecognize));
  }
  scanList3_->setVisible(w.page() == SetupPage::ConnectScanner && w.scannerListShown());

  for (QTreeWidget* view : {scanList_, scanList1_, scanList2_, scanList3_}) FillScannerView(view);
  FillPrinterView(printerList_);
  FillPrinterView(printerList1_);
}

void TDeviceSetupFm::SyncTrouble() {
  const setup::SetupWizard& w = *wizard_;
  const bool scanner = w.scannerLike();
  const bool unknown = w.unknownDevice();
  trouble_[0]->setText(ToQString(unknown   ? setup::text::kTroubleUnknownFirst
                                 : scanner ? setup::text::kTroubleScannerFirst
                                           : setup::text::kTroublePrinterFirst));
  trouble_[1]->setText(ToQString(setup::text::kTroubleAutoConnect));
  trouble_[2]->setText(ToQString(w.olderWindows() ? setup::text::kTroubleScannerOption
                                                  : setup::text::kTroubleRemoveScanner));
  troubleHelp_->setText(ToQString(unknown   ? setup::text::kTroubleUnknownHelp
                                  : scanner ? setup::text::kTroubleScannerHelp
                                            : setup::text::kTroublePrinterHelp));
  for (int i = 0; i < 3; ++i) {
    trouble_[i]->setVisible(w.troubleOptionShown(i + 1));
    trouble_[i]->setChecked(w.troubleOption() == i + 1);
    troublePanel_[i]->setVisible(w.troubleOption() == i + 1);
  }
  troubleOk_->setVisible(w.troubleOkShown());
}

// Rows are changed in place when the list keeps its length: a click arrives from inside the
// view's own mouse handling, which must not lose the item it pressed.
static QTreeWidgetItem* RowItem(QTreeWidget* view, int index) {
  if (QTreeWidgetItem* item = view->topLevelItem(index)) return item;
  return new QTreeWidgetItem(view);
}

void TDeviceSetupFm::FillPrinterView(QTreeWidget* view) {
  const auto& rows = wizard_->printerRows();
  const int count = static_cast<int>(rows.size());
  if (view->topLevelItemCount() != count) view->clear();
  for (int i = 0; i < count; ++i) {
    const setup::PrinterRow& row = rows[static_cast<size_t>(i)];
    QTreeWidgetItem* item = RowItem(view, i);
    item->setText(0, ToQString(row.name));
    item->setText(1, ToQString(row.port));
    item->setText(2, QString::number(row.mark));
    item->setIcon(0, StateImage(row.state));
    const QString tip = ToQString(setup::PrinterRowTip(row.mark));
    const QColor ink = row.state == RowState::Unavailable ? QColor(128, 128, 128)
                                                          : view->palette().color(QPalette::Text);
    for (int column = 0; column < 2; ++column) {
      item->setToolTip(column, tip);
      item->setForeground(column, ink);
    }
    item->setSelected(row.state == RowState::Checked);
  }
}

void TDeviceSetupFm::FillScannerView(QTreeWidget* view) {
  const auto& rows = wizard_->scannerRows();
  const int count = static_cast<int>(rows.size());
  if (view->topLevelItemCount() != count) view->clear();
  for (int i = 0; i < count; ++i) {
    const setup::ScannerRow& row = rows[static_cast<size_t>(i)];
    QTreeWidgetItem* item = RowItem(view, i);
    item->setText(0, ToQString(row.name));
    item->setIcon(0, StateImage(row.checked ? RowState::Checked : RowState::Unchecked));
    item->setSelected(row.checked);
  }
}

}  // namespace tessaro
