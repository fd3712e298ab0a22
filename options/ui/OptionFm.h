// SPDX-License-Identifier: GPL-2.0-or-later
// TOptionFm: the Advanced Options dialog. It only shows OptionsCore's form and hands it the
// user's events.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "options/OptionsCore.h"

namespace tessaro {

class TOptionFm : public QDialog {
 public:
  TOptionFm(OptionsCore& core, QWidget* owner);
  // Enables "Check for a new version now..." by the network rule while the dialog is open.
  void NetworkChanged(bool networkReady);
  // The next notice date moved while the dialog is open.
  void ShowNextNotification(const CivilDateTime& from);
  // FormShow with the network state, before every opening.
  void Prepare(bool networkReady);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Refresh();
  void TakeControls();

  OptionsCore& core_;
  int fullHeight_ = 0;
  QCheckBox* autoRun_;
  QCheckBox* notifyNewDevice_;
  QCheckBox* notifyNewVersion_;
  QLineEdit* checkDays_;
  QLabel* nextDate_;
  QPushButton* checkNow_;
  QLabel* latestVer_;
  QGroupBox* panelCheck_;
  QLabel* labelLv_;
  QLabel* labelLvDate_;
  QComboBox* comboSite_;
};

}  // namespace tessaro
