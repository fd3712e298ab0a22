// SPDX-License-Identifier: GPL-2.0-or-later
// The dialogs the program makes once at start and reuses. Those whose contents come later are
// plain titled dialogs for now; each gets its own file when it is filled.
#pragma once

#include <QDialog>

class QLabel;

namespace tessaro {

class ShellDialog : public QDialog {
 public:
  ShellDialog(const char* objectName, const QString& title, QWidget* owner);
};

class TDeviceSetupFm : public ShellDialog {
 public:
  explicit TDeviceSetupFm(QWidget* owner);
};
class TOptionFm : public ShellDialog {
 public:
  explicit TOptionFm(QWidget* owner);
};
class TAboutBox : public ShellDialog {
 public:
  explicit TAboutBox(QWidget* owner);
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
// Asks whether a storage device the system could not stop is released all the same.
class TEjectDeviceDlg : public QDialog {
 public:
  explicit TEjectDeviceDlg(QWidget* owner);
  // Shows `text` modally, centred on the owner: 1 for "Disconnect", 2 for "Cancel" or a close.
  int Run(const QString& text);
  QLabel* label() const { return label_; }

 private:
  QLabel* label_;
};

}  // namespace tessaro
