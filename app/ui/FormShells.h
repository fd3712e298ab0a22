// SPDX-License-Identifier: GPL-2.0-or-later
// The dialogs the program makes once at start and reuses. Those whose contents come later are
// plain titled dialogs for now.
#pragma once

#include <QDialog>

namespace tessaro {

class ShellDialog : public QDialog {
 public:
  ShellDialog(const char* objectName, const QString& title, QWidget* owner);
};

class TDeviceSetupFm : public ShellDialog {
 public:
  explicit TDeviceSetupFm(QWidget* owner);
};
}  // namespace tessaro
