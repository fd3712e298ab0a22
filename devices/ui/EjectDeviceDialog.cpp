// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/ui/EjectDeviceDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "base/Product.h"

namespace tessaro {

TEjectDeviceDlg::TEjectDeviceDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      label_(new QLabel(this)) {
  setObjectName(QStringLiteral("TEjectDeviceDlg"));
  setWindowTitle(QString::fromLatin1(ProductName));
  setModal(true);
  setFixedSize(463, 100);
  auto* image = new QLabel(this);
  image->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  image->move(8, 16);
  label_->setObjectName(QStringLiteral("Label1"));
  label_->setGeometry(56, 16, 393, 41);
  label_->setWordWrap(true);
  auto* disconnect = new QPushButton(QStringLiteral("Disconnect"), this);
  disconnect->setObjectName(QStringLiteral("OKBtn"));
  disconnect->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelBtn"));
  disconnect->setGeometry(463 - 2 * 88 - 16, 66, 88, 26);
  cancel->setGeometry(463 - 88 - 8, 66, 88, 26);
  QObject::connect(disconnect, &QPushButton::clicked, this, [this] { done(1); });
  QObject::connect(cancel, &QPushButton::clicked, this, [this] { done(2); });
}

int TEjectDeviceDlg::Run(const QString& text) {
  label_->setText(text);
  if (QWidget* owner = parentWidget()) {
    move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
  }
  const int result = exec();
  return result == 1 ? 1 : 2;  // the close box is Cancel
}

}  // namespace tessaro
