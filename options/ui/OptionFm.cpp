// SPDX-License-Identifier: GPL-2.0-or-later
#include "options/ui/OptionFm.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "base/Product.h"
#include "platform/qt/QtText.h"

namespace tessaro {

TOptionFm::TOptionFm(OptionsCore& core, QWidget* owner)
    : QDialog(owner), core_(core),
      autoRun_(new QCheckBox(QStringLiteral("Run %1 when Windows starts").arg(ProductName))),
      notifyNewDevice_(new QCheckBox("Notify me if there are any new USB devices detected")),
      notifyNewVersion_(new QCheckBox("Notify me if there is a new version released")),
      checkDays_(new QLineEdit), nextDate_(new QLabel),
      checkNow_(new QPushButton("Check for a new version now...")),
      latestVer_(new QLabel("This version is the latest version.")),
      panelCheck_(new QGroupBox("Check latest version")), labelLv_(new QLabel),
      labelLvDate_(new QLabel), comboSite_(new QComboBox) {
  setObjectName("TOptionFm");
  setWindowTitle("OptionFm");
  auto* heading = new QLabel("Advance Options");
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  latestVer_->setFont(bold);
  checkDays_->setMaxLength(3);
  checkDays_->setObjectName("Edit_CheckDays");
  checkDays_->installEventFilter(this);

  auto* days = new QHBoxLayout;
  days->addWidget(new QLabel("Check for updates every : "));
  days->addWidget(checkDays_);
  days->addWidget(new QLabel("days (60 - 365 days)"));
  auto* next = new QHBoxLayout;
  next->addWidget(new QLabel("Next Notification : "));
  next->addWidget(nextDate_, 1);

  auto* download = new QPushButton("Download");
  auto* check = new QGridLayout(panelCheck_);
  check->addWidget(new QLabel("Latest Version : "), 0, 0);
  check->addWidget(labelLv_, 0, 1);
  check->addWidget(new QLabel("Latest Version Date : "), 1, 0);
  check->addWidget(labelLvDate_, 1, 1);
  check->addWidget(new QLabel("Available Download Site : "), 2, 0);
  check->addWidget(comboSite_, 2, 1);
  check->addWidget(download, 3, 1);
  panelCheck_->setFixedHeight(kCheckPanelHeight);

  auto* ok = new QPushButton("OK");
  auto* cancel = new QPushButton("Cancel");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  for (QWidget* w :
       std::initializer_list<QWidget*>{heading, autoRun_, notifyNewDevice_, notifyNewVersion_}) {
    layout->addWidget(w);
  }
  layout->addLayout(days);
  layout->addLayout(next);
  layout->addWidget(checkNow_);
  layout->addWidget(latestVer_);
  layout->addWidget(panelCheck_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  panelCheck_->show();
  fullHeight_ = sizeHint().height();

  connect(checkNow_, &QPushButton::clicked, this, [this] {
    TakeControls();
    checkNow_->setCursor(Qt::WaitCursor);
    core_.CheckNow();
    checkNow_->unsetCursor();
    Refresh();
  });
  connect(comboSite_, &QComboBox::activated, this, [this](int index) { core_.SiteChange(index); });
  connect(download, &QPushButton::clicked, this, [this] { core_.Download(); });
  connect(ok, &QPushButton::clicked, this, [this] {
    TakeControls();
    if (!core_.CheckDaysExit()) {
      Refresh();
      return;
    }
    if (core_.Ok()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TOptionFm::Prepare(bool networkReady) {
  core_.FormShow(networkReady);
  Refresh();
}

void TOptionFm::NetworkChanged(bool networkReady) {
  core_.NetworkChanged(networkReady);
  checkNow_->setEnabled(core_.Form().checkNowEnabled);
}

void TOptionFm::ShowNextNotification(const CivilDateTime& from) {
  core_.ShowNextNotification(from);
  nextDate_->setText(ToQString(core_.Form().nextDate));
}

void TOptionFm::TakeControls() {
  OptionsForm& controls = core_.Controls();
  controls.autoRun = autoRun_->isChecked();
  controls.notifyNewDevice = notifyNewDevice_->isChecked();
  controls.notifyNewVersion = notifyNewVersion_->isChecked();
  core_.CheckDaysChanged(ToStdString(checkDays_->text()));
}

void TOptionFm::Refresh() {
  const OptionsForm& form = core_.Form();
  autoRun_->setChecked(form.autoRun);
  notifyNewDevice_->setChecked(form.notifyNewDevice);
  notifyNewVersion_->setChecked(form.notifyNewVersion);
  checkDays_->setText(ToQString(form.checkDays));
  nextDate_->setText(ToQString(form.nextDate));
  checkNow_->setEnabled(form.checkNowEnabled);
  latestVer_->setVisible(form.latestVersionShown);
  panelCheck_->setVisible(form.checkPanelShown);
  labelLv_->setText(ToQString(form.latestVersion));
  labelLvDate_->setText(ToQString(form.latestVersionDate));
  comboSite_->clear();
  for (const std::string& name : form.siteNames) comboSite_->addItem(ToQString(name));
  comboSite_->setCurrentIndex(form.siteIndex);
}

bool TOptionFm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == checkDays_ && event->type() == QEvent::FocusOut) {
    core_.CheckDaysChanged(ToStdString(checkDays_->text()));
    if (!core_.CheckDaysExit()) checkDays_->setText(ToQString(core_.Form().checkDays));
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tessaro
