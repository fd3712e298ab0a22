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

class TNetScanFm : public ShellDialog {
 public:
  explicit TNetScanFm(QWidget* owner);
};
class TNetWIASaveFm : public ShellDialog {
 public:
  explicit TNetWIASaveFm(QWidget* owner);
};
class TNetWIASetFm : public ShellDialog {
 public:
  explicit TNetWIASetFm(QWidget* owner);
};
}  // namespace tessaro
