// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/ui/DeviceListView.h"

#include <QAction>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

#include "devices/RowLook.h"
#include "devices/ui/DeviceImages.h"
#include "platform/qt/QtText.h"

namespace tessaro {
namespace {

QColor ToQColor(const Rgb& rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

}  // namespace

// ---- DeviceItemModel ----

DeviceItemModel::DeviceItemModel(DeviceListModel& rows, QObject* parent)
    : QAbstractListModel(parent), rows_(rows) {
  rows_.AddListener(this);
}

DeviceItemModel::~DeviceItemModel() { rows_.RemoveListener(this); }

int DeviceItemModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.rowCount());
}

QVariant DeviceItemModel::data(const QModelIndex& index, int role) const {
  const DeviceData* device = Device(index);
  if (device == nullptr) return {};
  if (role == Qt::DisplayRole) return ToQString(device->displayName);
  if (role == Qt::ToolTipRole) return ToQString(device->displayName + device->stateText);
  return {};
}

const DeviceData* DeviceItemModel::Device(const QModelIndex& index) const {
  if (!index.isValid() || index.row() < 0 || static_cast<size_t>(index.row()) >= rows_.rowCount())
    return nullptr;
  return &rows_.row(static_cast<size_t>(index.row()));
}

void DeviceItemModel::RowAboutToBeInserted(size_t index) {
  beginInsertRows({}, static_cast<int>(index), static_cast<int>(index));
}
void DeviceItemModel::RowInserted(size_t) { endInsertRows(); }
void DeviceItemModel::RowAboutToBeRemoved(size_t index) {
  beginRemoveRows({}, static_cast<int>(index), static_cast<int>(index));
}
void DeviceItemModel::RowRemoved(size_t) { endRemoveRows(); }
void DeviceItemModel::RowChanged(size_t index) {
  const QModelIndex changed = createIndex(static_cast<int>(index), 0);
  emit dataChanged(changed, changed);
}
void DeviceItemModel::RowsAboutToBeSorted() { emit layoutAboutToBeChanged(); }

// Selection and the current row follow their rows to their new places.
void DeviceItemModel::RowsSorted(const std::vector<size_t>& newIndexOf) {
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  for (const QModelIndex& old : before) {
    const auto row = static_cast<size_t>(old.row());
    after.append(row < newIndexOf.size() ? createIndex(static_cast<int>(newIndexOf[row]), 0)
                                         : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

// ---- DeviceRowDelegate ----

DeviceRowDelegate::DeviceRowDelegate(std::function<std::string()> computerName, QObject* parent)
    : QStyledItemDelegate(parent), computerName_(std::move(computerName)) {}

QSize DeviceRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {option.rect.width(), kRowHeight};
}

void DeviceRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  const auto* model = static_cast<const DeviceItemModel*>(index.model());
  const DeviceData* device = model->Device(index);
  const QRect r = option.rect;
  const int listWidth = option.widget != nullptr ? option.widget->width() : r.right() + 1;
  painter->save();
  painter->fillRect(QRect(r.left(), r.top() + r.height() - 1, listWidth - r.left(), 1),
                    ToQColor(rowcolour::kSeparator));
  if (device != nullptr) {
    const RowLook look = LookOfRow(*device, computerName_());
    using namespace rowgeometry;
    painter->setFont(option.font);
    painter->setPen(ToQColor(rowcolour::kCaption));
    painter->drawText(QRect(r.left() + kTextLeft, r.top() + kCaptionTop,
                            listWidth - r.left() - kTextLeft, kCaptionBottom - kCaptionTop),
                      Qt::AlignLeft | Qt::AlignTop, ToQString(look.caption));
    painter->setPen(ToQColor(look.stateColour));
    painter->drawText(QRect(r.left() + kTextLeft, r.top() + kStateTop,
                            listWidth - r.left() - kTextLeft, r.height() - 1 - kStateTop),
                      Qt::AlignLeft | Qt::AlignTop, ToQString(look.stateText));
    const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(r.left() + kImageLeft, r.top(),
                        CachedTypeImage(look.imageIndex, look.overlayIndex, ratio));
  }
  painter->restore();
}

// ---- DeviceListView ----

DeviceListView::DeviceListView(DeviceItemModel& model, DeviceListHooks hooks, QWidget* parent)
    : QListView(parent), model_(model), hooks_(std::move(hooks)), menu_(new QMenu(this)) {
  setObjectName(QStringLiteral("ListView"));
  setModel(&model_);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setUniformItemSizes(true);
  setMouseTracking(true);
  setItemDelegate(new DeviceRowDelegate(hooks_.computerName, this));
  menu_->setObjectName(QStringLiteral("PopupMenu_ForDevice"));
  QObject::connect(menu_, &QMenu::aboutToShow, this, [this] {
    measured_ = menu_->sizeHint();  // the widest item and the items' heights, as laid out
    if (hooks_.bringToFront) hooks_.bringToFront();
  });
  QObject::connect(menu_, &QMenu::aboutToHide, this, [this] { timerPopupEnter_.stop(); });

  timerClick_.setInterval(300);
  timerMouseEnter_.setInterval(1000);
  timerPopupEnter_.setInterval(1000);
  QObject::connect(&timerClick_, &QTimer::timeout, this, [this] { Timer_ClickTimer(); });
  QObject::connect(&timerMouseEnter_, &QTimer::timeout, this, [this] { Timer_MouseEnterTimer(); });
  QObject::connect(&timerPopupEnter_, &QTimer::timeout, this, [this] { Timer_PopupEnterTimer(); });
  QObject::connect(&model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                   [this](const QModelIndex&, int first, int last) {
                     for (int row = first; row <= last; ++row)
                       ForgetHoverRow(static_cast<size_t>(row));
                   });
}

int DeviceListView::RowAt(int y) const {
  const QModelIndex index = indexAt(QPoint(48, y));
  return index.isValid() ? index.row() : -1;
}

void DeviceListView::ForgetHoverRow(size_t index) {
  if (hoverRow_ == static_cast<int>(index)) hoverRow_ = -1;
}

void DeviceListView::BuildMenu(size_t row) {
  menu_->clear();
  const std::vector<DeviceMenuItem> items =
      hooks_.prepareMenu ? hooks_.prepareMenu(row) : std::vector<DeviceMenuItem>{};
  const DeviceData* device = &model_.rows().row(row);
  for (const DeviceMenuItem& item : items) {
    if (!item.visible) continue;
    if (item.caption == "-") {
      menu_->addSeparator()->setObjectName(ToQString(item.name));
      continue;
    }
    QAction* action = menu_->addAction(ToQString(item.caption));
    action->setObjectName(ToQString(item.name));
    action->setEnabled(item.enabled);
    if (item.imageIndex >= 0)
      action->setIcon(QIcon(MenuImage(item.imageIndex, devicePixelRatioF())));
    const DeviceCommand command = item.command;
    // The row may move or go while the menu is open: find it again when the command runs.
    QObject::connect(action, &QAction::triggered, this, [this, command, device] {
      const auto index = model_.rows().IndexOf(device);
      if (index && hooks_.runCommand) hooks_.runCommand(command, *index);
    });
  }
}

void DeviceListView::PopupDeviceMenu(const QPoint& screenPoint) {
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return;
  BuildMenu(static_cast<size_t>(current.row()));
  if (!menu_->isEmpty()) menu_->popup(screenPoint);
}

void DeviceListView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
  clickPoint_ = {};
  const int row = RowAt(event->position().toPoint().y());
  if (row >= 0) {
    setCurrentIndex(model_.index(row));
    clickPoint_ = QCursor::pos();
  }
  if (event->button() == Qt::RightButton) {
    timerMouseEnter_.stop();
    if (row >= 0) PopupDeviceMenu(QCursor::pos());
  }
}

void DeviceListView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (suppressClick_) {  // the release that ends a double click is not a click
    suppressClick_ = false;
    return;
  }
  timerClick_.start();
  timerMouseEnter_.stop();
}

void DeviceListView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  timerClick_.stop();
  timerMouseEnter_.stop();
  suppressClick_ = true;
  const int row = RowAt(event->position().toPoint().y());
  if (row >= 0) {
    setCurrentIndex(model_.index(row));
    if (hooks_.quickScan) hooks_.quickScan(static_cast<size_t>(row));
  }
}

void DeviceListView::mouseMoveEvent(QMouseEvent* event) {
  viewport()->unsetCursor();
  const int row = RowAt(event->position().toPoint().y());
  const QPoint cursor = QCursor::pos();
  if (row >= 0 && cursor != hoverPoint_) {
    hoverPoint_ = cursor;
    hoverRow_ = row;
    timerMouseEnter_.start();
  }
}

void DeviceListView::Timer_ClickTimer() {
  timerClick_.stop();
  if (clickPoint_.x() > 0 && clickPoint_.y() > 0) PopupDeviceMenu(clickPoint_);
}

// The cursor rested on a row for a second: its menu opens there.
void DeviceListView::Timer_MouseEnterTimer() {
  timerMouseEnter_.stop();
  if (hoverRow_ < 0 || QCursor::pos() != hoverPoint_) return;
  timerPopupEnter_.start();
  setCurrentIndex(model_.index(hoverRow_));
  PopupDeviceMenu(QCursor::pos());
}

// The menu a hover opened closes once the cursor has left it.
void DeviceListView::Timer_PopupEnterTimer() {
  if (QRect(hoverPoint_, measured_).contains(QCursor::pos())) return;
  timerPopupEnter_.stop();
  menu_->close();
}

}  // namespace tessaro
