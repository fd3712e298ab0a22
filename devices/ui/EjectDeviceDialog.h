// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>

class QLabel;

namespace tessaro {

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
