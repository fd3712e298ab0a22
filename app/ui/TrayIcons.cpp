// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/TrayIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tessaro {
namespace {

// Drawn on a 16-unit grid and scaled, so both sizes come from one drawing.
QPixmap DrawTrayIcon(int index, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  const bool normal = index == 0;
  const QColor body = normal ? QColor(0x1f, 0x5f, 0xbf) : QColor(0x80, 0x80, 0x80);
  const QColor edge = normal ? QColor(0x0b, 0x2f, 0x6b) : QColor(0x48, 0x48, 0x48);

  // The server box.
  p.setPen(QPen(edge, 1.0));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(1.5, 3.5, 13, 7), 1.5, 1.5);
  // Its ports.
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(3.5 + i * 3.0, 6.0, 2.0, 2.0));
  // The link below it.
  p.setPen(QPen(normal ? QColor(0x2e, 0xa0, 0x43) : QColor(0xa0, 0xa0, 0xa0), 1.6, Qt::SolidLine,
                Qt::RoundCap));
  p.drawLine(QPointF(8, 10.5), QPointF(8, 14.5));
  p.drawLine(QPointF(4, 14.5), QPointF(12, 14.5));
  if (!normal) {
    p.setPen(QPen(QColor(0xd0, 0x20, 0x20), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 1.5), QPointF(13, 12.5));
  }
  return pixmap;
}

}  // namespace

QIcon TrayIcon(int index) {
  QIcon icon;
  icon.addPixmap(DrawTrayIcon(index, 16));
  icon.addPixmap(DrawTrayIcon(index, 32));
  return icon;
}

}  // namespace tessaro
