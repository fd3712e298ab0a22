// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/ui/DeviceImages.h"

#include <QPainter>
#include <QPainterPath>
#include <map>
#include <tuple>

namespace tessaro {
namespace {

const QColor kBody(0x5a, 0x64, 0x70);
const QColor kBodyLight(0x8c, 0x96, 0xa3);
const QColor kEdge(0x2b, 0x31, 0x38);
const QColor kPaper(0xfa, 0xfa, 0xf5);

// A transparent canvas of `size` logical pixels, painted on a grid of `grid` units.
class Canvas {
 public:
  Canvas(int size, int grid, qreal ratio)
      : pixmap_(static_cast<int>(size * ratio), static_cast<int>(size * ratio)) {
    pixmap_.setDevicePixelRatio(ratio);
    pixmap_.fill(Qt::transparent);
    painter_.begin(&pixmap_);
    painter_.setRenderHint(QPainter::Antialiasing);
    painter_.scale(static_cast<qreal>(size) / grid, static_cast<qreal>(size) / grid);
  }
  QPainter& p() { return painter_; }
  QPixmap Done() {
    painter_.end();
    return pixmap_;
  }

 private:
  QPixmap pixmap_;
  QPainter painter_;
};

void Box(QPainter& p, const QRectF& r, const QColor& fill, qreal radius = 2.5) {
  p.setPen(QPen(kEdge, 1.2));
  p.setBrush(fill);
  p.drawRoundedRect(r, radius, radius);
}

void DrawPrinter(QPainter& p, bool withScannerLid) {
  // Paper feeding in at the back, the body, the output slot and a sheet coming out.
  // A multifunction printer has a scanner lid where a printer takes its paper.
  p.setPen(QPen(kEdge, 1.0));
  p.setBrush(kPaper);
  if (!withScannerLid) p.drawRect(QRectF(14, 6, 20, 14));
  Box(p, QRectF(5, 17, 38, 18), kBody);
  if (withScannerLid) {
    Box(p, QRectF(3, 9, 42, 9), kBodyLight, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7f, 0xd4, 0xff));
    p.drawRect(QRectF(8, 12.5, 32, 2));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(kEdge);
  p.drawRect(QRectF(11, 29, 26, 2.5));
  p.setPen(QPen(kEdge, 1.0));
  p.setBrush(kPaper);
  p.drawRect(QRectF(13, 31, 22, 11));
  p.setPen(QPen(QColor(0x9a, 0xa4, 0xb0), 1.0));
  for (int line = 0; line < 3; ++line)
    p.drawLine(QPointF(16, 34.5 + line * 2.5), QPointF(31, 34.5 + line * 2.5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3c, 0xc8, 0x5a));
  p.drawEllipse(QPointF(38, 22), 1.6, 1.6);
}

void DrawScanner(QPainter& p) {
  Box(p, QRectF(4, 22, 40, 14), kBody);
  Box(p, QRectF(4, 16, 40, 7), kBodyLight, 1.5);  // the lid
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x7f, 0xd4, 0xff));
  p.drawRect(QRectF(8, 26, 32, 3));  // the light bar under the glass
  p.setBrush(QColor(0x3c, 0xc8, 0x5a));
  p.drawEllipse(QPointF(39, 32), 1.6, 1.6);
}

void DrawStorage(QPainter& p) {
  p.save();
  p.translate(24, 24);
  p.rotate(-35);
  Box(p, QRectF(-8, -6, 16, 24), kBody, 3);  // the stick
  p.setPen(QPen(kEdge, 1.0));
  p.setBrush(QColor(0xc8, 0xcc, 0xd2));
  p.drawRect(QRectF(-5.5, -16, 11, 10));  // its plug
  p.setBrush(kEdge);
  p.drawRect(QRectF(-3, -13, 2, 2));
  p.drawRect(QRectF(1, -13, 2, 2));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf0, 0xa0, 0x30));
  p.drawRoundedRect(QRectF(-4, 4, 8, 8), 1.5, 1.5);  // its label
  p.restore();
}

void DrawUnknown(QPainter& p) {
  Box(p, QRectF(9, 9, 30, 30), kBodyLight, 5);
  QFont font;
  font.setPixelSize(22);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(9, 9, 30, 30), Qt::AlignCenter, QStringLiteral("?"));
}

// A round badge with a white mark, in the lower right corner of a 48 grid.
void DrawBadge(QPainter& p, const QColor& colour, int mark) {
  const QPointF centre(37, 37);
  p.setPen(QPen(Qt::white, 1.5));
  p.setBrush(colour);
  p.drawEllipse(centre, 9.5, 9.5);
  QPen pen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  if (mark == 0) {  // a tick: in use here
    QPainterPath tick;
    tick.moveTo(32.5, 37.5);
    tick.lineTo(35.8, 40.8);
    tick.lineTo(41.5, 33.5);
    p.drawPath(tick);
  } else if (mark == 1) {  // a bar: held by another PC
    p.drawLine(QPointF(32.5, 37), QPointF(41.5, 37));
  } else {  // a plus: free to take
    p.drawLine(QPointF(33, 37), QPointF(41, 37));
    p.drawLine(QPointF(37, 33), QPointF(37, 41));
  }
}

void DrawPlug(QPainter& p, const QColor& colour, bool in) {
  // A plug moving towards (in) or away from a socket, on a 20 grid.
  p.setPen(QPen(kEdge, 1.0));
  p.setBrush(QColor(0xc8, 0xcc, 0xd2));
  p.drawRect(QRectF(2, 6, 5, 8));  // the socket
  const qreal x = in ? 7.5 : 10.5;
  p.setBrush(colour);
  p.drawRoundedRect(QRectF(x, 5.5, 7, 9), 1.5, 1.5);
  p.setPen(QPen(colour.darker(140), 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(x + 7, 10), QPointF(19, 10));
}

}  // namespace

QPixmap TypeImage(int index, qreal ratio) {
  Canvas canvas(48, 48, ratio);
  switch (index) {
    case 0: DrawPrinter(canvas.p(), true); break;
    case 1: DrawPrinter(canvas.p(), false); break;
    case 2: DrawStorage(canvas.p()); break;
    case 3: DrawScanner(canvas.p()); break;
    default: DrawUnknown(canvas.p()); break;
  }
  return canvas.Done();
}

QPixmap OverlayImage(int index, qreal ratio) {
  Canvas canvas(48, 48, ratio);
  static const QColor colours[kOverlayCount] = {QColor(0x00, 0x7e, 0x00), QColor(0xd0, 0x10, 0x10),
                                                QColor(0x10, 0x50, 0xd8)};
  if (index >= 0 && index < kOverlayCount) DrawBadge(canvas.p(), colours[index], index);
  return canvas.Done();
}

QPixmap TypeImageWithOverlay(int index, int overlay, qreal ratio) {
  QPixmap image = TypeImage(index, ratio);
  if (overlay >= 0 && overlay < kOverlayCount) {
    QPainter p(&image);
    p.drawPixmap(0, 0, OverlayImage(overlay, ratio));
  }
  return image;
}

const QPixmap& CachedTypeImage(int index, int overlay, qreal ratio) {
  static std::map<std::tuple<int, int, qreal>, QPixmap> cache;
  const auto key = std::make_tuple(index, overlay, ratio);
  auto found = cache.find(key);
  if (found == cache.end()) {
    found = cache.emplace(key, TypeImageWithOverlay(index, overlay, ratio)).first;
  }
  return found->second;
}

QPixmap MenuImage(int index, qreal ratio) {
  Canvas canvas(20, 20, ratio);
  QPainter& p = canvas.p();
  if (index == 0) {
    DrawPlug(p, QColor(0x2e, 0xa0, 0x43), true);
  } else if (index == 1) {
    DrawPlug(p, QColor(0xd0, 0x30, 0x30), false);
  } else if (index == 4) {  // a speech bubble: ask the holder
    p.setPen(QPen(QColor(0x10, 0x50, 0xd8).darker(130), 1.0));
    p.setBrush(QColor(0x10, 0x50, 0xd8));
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(1.5, 2.5, 17, 11), 3, 3);
    bubble.moveTo(5, 13);
    bubble.lineTo(4, 18);
    bubble.lineTo(9, 13);
    p.drawPath(bubble.simplified());
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int dot = 0; dot < 3; ++dot) p.drawPoint(QPointF(6 + dot * 4, 8));
  }
  return canvas.Done();
}

}  // namespace tessaro
