// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/FormShells.h"

namespace tessaro {

ShellDialog::ShellDialog(const char* objectName, const QString& title, QWidget* owner)
    : QDialog(owner) {
  setObjectName(QString::fromLatin1(objectName));
  setWindowTitle(title);
  setModal(true);
}

TDeviceSetupFm::TDeviceSetupFm(QWidget* owner)
    : ShellDialog("TDeviceSetupFm", QStringLiteral("Manage Device"), owner) {}
}  // namespace tessaro
