// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/ui/SaveFileForm.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "platform/qt/QtText.h"
#include "scanning/pages/SaveFileTexts.h"

namespace tessaro {

TSaveFileFm::TSaveFileFm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      frame_(new QGroupBox(ToQString(kSaveFileTitle), this)),
      message_(new QLabel(ToQString(kSaveFileText), frame_)), progress_(new QProgressBar(frame_)) {
  setWindowTitle(ToQString(kSaveFileCaption));
  setModal(false);
  setCursor(Qt::WaitCursor);
  message_->setAlignment(Qt::AlignCenter);
  progress_->setRange(0, kSaveFileProgressMax);
  progress_->setValue(0);
  auto* inner = new QVBoxLayout(frame_);
  inner->addWidget(message_);
  inner->addWidget(progress_);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(frame_);
  setFixedSize(320, 120);
}

void TSaveFileFm::ShowCentred() {
  if (QWidget* owner = parentWidget()) {
    const QRect area = owner->frameGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  show();
}

}  // namespace tessaro
