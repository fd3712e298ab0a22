// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/ui/SourceDialog.h"

#include <QComboBox>
#include <QSpinBox>
#include <cmath>

#include "platform/qt/QtText.h"
#include "scanning/ui/ScanChoiceForm.h"

namespace tessaro {
namespace {

void FillChoices(QComboBox* box, ScannerDevice& device, const char* option) {
  box->clear();
  for (const auto& choice : device.Choices(option)) box->addItem(ToQString(choice));
  if (const auto current = device.GetText(option)) {
    box->setCurrentText(ToQString(*current));
  }
  box->setEnabled(box->count() > 1);
}

}  // namespace

TSourceDialog::TSourceDialog(QWidget* owner) : QDialog(owner) {
  const ScanChoiceBoxes boxes = BuildScanChoiceForm(*this);
  source_ = boxes.source;
  mode_ = boxes.mode;
  resolution_ = boxes.resolution;
}

bool TSourceDialog::Run(const std::string& sourceName, ScannerDevice& device) {
  setWindowTitle(ToQString(sourceName));
  FillChoices(source_, device, scan_option::kSource);
  FillChoices(mode_, device, scan_option::kMode);
  const auto range = device.Range(scan_option::kResolution);
  resolution_->setRange(range ? static_cast<int>(std::ceil(range->min)) : 1,
                        range ? static_cast<int>(range->max) : 9600);
  resolution_->setValue(static_cast<int>(device.GetNumber(scan_option::kResolution).value_or(300)));
  if (exec() != QDialog::Accepted) return false;
  if (source_->count() > 0)
    device.SetText(scan_option::kSource, ToStdString(source_->currentText()));
  if (mode_->count() > 0) device.SetText(scan_option::kMode, ToStdString(mode_->currentText()));
  device.SetNumber(scan_option::kResolution, resolution_->value());
  return true;
}

}  // namespace tessaro
