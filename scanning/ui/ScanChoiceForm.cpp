// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/ui/ScanChoiceForm.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

namespace tessaro {

ScanChoiceBoxes BuildScanChoiceForm(QDialog& dialog) {
  dialog.setModal(true);
  const ScanChoiceBoxes boxes{new QComboBox(&dialog), new QComboBox(&dialog),
                              new QSpinBox(&dialog)};
  boxes.resolution->setSuffix(" dpi");
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton("Scan", QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QFormLayout(&dialog);
  layout->addRow("Source :", boxes.source);
  layout->addRow("Mode :", boxes.mode);
  layout->addRow("Resolution :", boxes.resolution);
  layout->addRow(buttons);
  return boxes;
}

}  // namespace tessaro
