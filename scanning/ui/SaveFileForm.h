// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>

class QLabel;
class QGroupBox;
class QProgressBar;

namespace tessaro {

// The "please wait" window of a save: fixed size, centred on its owner, hourglass cursor.
// Shown without waiting; the scan window closes it when the saving thread has ended.
class TSaveFileFm : public QDialog {
 public:
  explicit TSaveFileFm(QWidget* owner = nullptr);

  // Shows the window centred on its owner (or where the system puts it without one).
  void ShowCentred();

  QGroupBox* frame() const { return frame_; }
  QLabel* message() const { return message_; }
  QProgressBar* progress() const { return progress_; }

 private:
  QGroupBox* frame_;
  QLabel* message_;
  QProgressBar* progress_;
};

}  // namespace tessaro
