// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/FormShells.h"

namespace tessaro {

ShellDialog::ShellDialog(const char* objectName, const QString& title, QWidget* owner)
    : QDialog(owner) {
  setObjectName(QString::fromLatin1(objectName));
  setWindowTitle(title);
  setModal(true);
}

TNetScanFm::TNetScanFm(QWidget* owner) : ShellDialog("TNetScanFm", QStringLiteral("Scan"), owner) {}
TNetWIASaveFm::TNetWIASaveFm(QWidget* owner)
    : ShellDialog("TNetWIASaveFm", QStringLiteral("Save"), owner) {}
TNetWIASetFm::TNetWIASetFm(QWidget* owner)
    : ShellDialog("TNetWIASetFm", QStringLiteral("Scan Settings"), owner) {}
}  // namespace tessaro
