// SPDX-License-Identifier: GPL-2.0-or-later
// The SANE data source's own user interface: source, mode and resolution of the scanner, then
// Scan or Cancel. Modal, as the scan window enables the source.
#pragma once

#include <QDialog>

#include "scanning/twain/TwainManager.h"

class QComboBox;
class QSpinBox;

namespace tessaro {

class TSourceDialog : public QDialog, public twain::SourceDialog {
 public:
  explicit TSourceDialog(QWidget* owner = nullptr);

  // Fills the controls from the device, runs the dialog and, on Scan, sets what was chosen.
  bool Run(const std::string& sourceName, ScannerDevice& device) override;

  QComboBox* sourceBox() const { return source_; }
  QComboBox* modeBox() const { return mode_; }
  QSpinBox* resolutionBox() const { return resolution_; }

 private:
  QComboBox* source_;
  QComboBox* mode_;
  QSpinBox* resolution_;
};

}  // namespace tessaro
