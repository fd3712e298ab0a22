// SPDX-License-Identifier: GPL-2.0-or-later
// The form both scan paths ask before a scan: source, mode and resolution, then Scan or Cancel.
// The dialogs fill the boxes from their own device and read back what was chosen.
#pragma once

#include <QDialog>

class QComboBox;
class QSpinBox;

namespace tessaro {

struct ScanChoiceBoxes {
  QComboBox* source;
  QComboBox* mode;
  QSpinBox* resolution;
};

// Lays the three boxes and the two buttons out in `dialog`, which Scan accepts and Cancel rejects.
ScanChoiceBoxes BuildScanChoiceForm(QDialog& dialog);

}  // namespace tessaro
