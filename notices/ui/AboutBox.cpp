// SPDX-License-Identifier: GPL-2.0-or-later
#include "notices/ui/AboutBox.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include "base/Product.h"
#include "platform/qt/QtText.h"

namespace tessaro {
namespace {

const QColor kPanelColour(204, 240, 255);

QPixmap ClosePicture(bool lit) {
  QPixmap picture(16, 16);
  picture.fill(lit ? QColor(220, 60, 60) : QColor(120, 140, 170));
  QPainter painter(&picture);
  painter.setPen(QPen(Qt::white, 2));
  painter.drawLine(4, 4, 11, 11);
  painter.drawLine(11, 4, 4, 11);
  return picture;
}

}  // namespace

TAboutBox::TAboutBox(NoticeBoard& board, Shell& shell, bool deleteWhenClosed)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint),
      board_(board), shell_(shell), deleteWhenClosed_(deleteWhenClosed), panel_(new QFrame(this)),
      caption_(new QLabel(QString::fromLatin1(ProductName), panel_)),
      labelVersion_(new QLabel(panel_)), imageClose_(new QLabel(panel_)) {
  setObjectName("TAboutBox");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(kNoticeWidth, kNoticeHeight);
  panel_->setObjectName("Panel1");
  panel_->setGeometry(0, 0, kNoticeWidth, kNoticeHeight);
  panel_->setAutoFillBackground(true);
  QPalette palette = panel_->palette();
  palette.setColor(QPalette::Window, kPanelColour);
  panel_->setPalette(palette);
  panel_->setFrameShape(QFrame::Box);  // the navy frame
  panel_->setStyleSheet("QFrame#Panel1 { background: rgb(204,240,255); border: 1px solid navy; }");
  QFont bold = caption_->font();
  bold.setBold(true);
  caption_->setFont(bold);
  caption_->setGeometry(32, 8, 154, 16);
  labelVersion_->setObjectName("Label_Version");
  labelVersion_->setStyleSheet("color: maroon;");
  labelVersion_->setWordWrap(true);
  labelVersion_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  labelVersion_->setGeometry(16, 32, 182, 68);
  imageClose_->setObjectName("Image_Close");
  imageClose_->setGeometry(187, 6, 16, 16);
  imageClose_->setPixmap(ClosePicture(false));
  imageClose_->setMouseTracking(true);
  for (QWidget* watched : {static_cast<QWidget*>(panel_), static_cast<QWidget*>(labelVersion_),
                           static_cast<QWidget*>(imageClose_)}) {
    watched->installEventFilter(this);
  }
  connect(&stepTimer_, &QTimer::timeout, this, [this] { Step(); });
  closeTimer_.setSingleShot(true);
  closeTimer_.setInterval(kNoticeRestMs);
  connect(&closeTimer_, &QTimer::timeout, this, [this] { Sink(); });
}

TAboutBox::~TAboutBox() { board_.taken.Release(slot_); }

void TAboutBox::ShowAboutNotice(const std::string& version) {
  Present(AboutNotice(version), board_.geometry.usableBottom);
}

void TAboutBox::ShowNewVersionNotice(const std::string& version, const std::string& address) {
  const NoticeContent content = NewVersionNotice(version, address);
  labelVersion_->move(labelVersion_->x() + 12, labelVersion_->y() + 16);
  Present(content, board_.geometry.usableBottom);
}

bool TAboutBox::ShowDeviceFoundNotice(const std::string& deviceName) {
  const int slot = board_.taken.Take();
  if (slot < 0) return false;
  slot_ = slot;
  Present(DeviceFoundNotice(deviceName), RestingLine(board_.geometry, slot));
  return true;
}

void TAboutBox::Present(const NoticeContent& content, int restingLine) {
  clickAddress_ = content.clickAddress;
  labelVersion_->setText(ToQString(content.text));
  if (content.narrow) {
    setFixedWidth(kNoticeWidth - kNarrowBy);
    panel_->setFixedWidth(kNoticeWidth - kNarrowBy);
    labelVersion_->resize(labelVersion_->width() - kNarrowBy, labelVersion_->height());
    imageClose_->move(imageClose_->x() - kNarrowBy, imageClose_->y());
  }
  restingLine_ = restingLine;
  move(NoticeLeft(board_.geometry, width()), restingLine_);
  imageClose_->setEnabled(false);
  panel_->setFixedHeight(0);
  phase_ = Phase::Rising;
  show();
  // Each 2-pixel step on its own timer tick: other notices and timers keep running meanwhile.
  stepTimer_.start(content.stepPauseMs);
}

void TAboutBox::Step() {
  if (phase_ == Phase::Rising) {
    panel_->setFixedHeight(std::min(panel_->height() + kNoticeStep, height()));
    move(x(), y() - kNoticeStep);
    if (restingLine_ - height() >= y()) {
      stepTimer_.stop();
      phase_ = Phase::Resting;
      imageClose_->setEnabled(true);
      closeTimer_.start();
    }
  } else if (phase_ == Phase::Sinking) {
    panel_->setFixedHeight(std::max(panel_->height() - kNoticeStep, 0));
    move(x(), y() + kNoticeStep);
    if (y() >= restingLine_) CloseNow();
  }
}

void TAboutBox::Sink() {
  if (phase_ != Phase::Resting) return;
  closeTimer_.stop();
  imageClose_->setEnabled(false);
  phase_ = Phase::Sinking;
  stepTimer_.start();
}

void TAboutBox::CloseNow() {
  if (phase_ == Phase::Closed) return;
  stepTimer_.stop();
  closeTimer_.stop();
  board_.taken.Release(slot_);
  slot_ = -1;
  phase_ = Phase::Closed;
  hide();
  if (onClosed) onClosed();
  if (deleteWhenClosed_) deleteLater();
}

void TAboutBox::NoticeClicked() {
  if (!clickAddress_.empty()) shell_.OpenUrl(clickAddress_);
}

void TAboutBox::SetCloseLit(bool lit) {
  if (lit == closeLit_) return;
  closeLit_ = lit;
  imageClose_->setPixmap(ClosePicture(lit));
}

void TAboutBox::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) NoticeClicked();
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == imageClose_) {
    if (event->type() == QEvent::MouseMove) {
      const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
      SetCloseLit(CloseHotArea(at.x(), at.y(), imageClose_->width(), imageClose_->height()));
    } else if (event->type() == QEvent::Leave) {
      SetCloseLit(false);
    } else if (event->type() == QEvent::MouseButtonPress && imageClose_->isEnabled()) {
      CloseNow();
      return true;
    }
  } else if (event->type() == QEvent::MouseButtonPress &&
             static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    NoticeClicked();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tessaro
