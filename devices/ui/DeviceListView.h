// SPDX-License-Identifier: GPL-2.0-or-later
// The device list on screen: a Qt item model over the core's rows, a delegate that paints each
// row as RowLook says, and the list view's mouse handling (click menu, double-click quick scan,
// the hover timers that open and close the device menu).
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "devices/DeviceListModel.h"
#include "devices/DeviceMenu.h"

namespace tessaro {

inline constexpr int kRowHeight = 50;

// Follows the core's rows; DisplayRole is the caption.
class DeviceItemModel : public QAbstractListModel, public DeviceListListener {
 public:
  explicit DeviceItemModel(DeviceListModel& rows, QObject* parent = nullptr);
  ~DeviceItemModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  const DeviceData* Device(const QModelIndex& index) const;
  DeviceListModel& rows() const { return rows_; }

  void RowAboutToBeInserted(size_t index) override;
  void RowInserted(size_t index) override;
  void RowAboutToBeRemoved(size_t index) override;
  void RowRemoved(size_t index) override;
  void RowChanged(size_t index) override;
  void RowsAboutToBeSorted() override;
  void RowsSorted(const std::vector<size_t>& newIndexOf) override;

 private:
  DeviceListModel& rows_;
};

// Paints one row: the silver line under it, the caption, the state text in its colour and the
// type image with its overlay.
class DeviceRowDelegate : public QStyledItemDelegate {
 public:
  DeviceRowDelegate(std::function<std::string()> computerName, QObject* parent = nullptr);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  std::function<std::string()> computerName_;
};

// What the list asks of the main window.
struct DeviceListHooks {
  // This PC's name, for the state colours.
  std::function<std::string()> computerName;
  // The device menu's items for a row (PrepareDeviceMenu).
  std::function<std::vector<DeviceMenuItem>(size_t row)> prepareMenu;
  // A menu command chosen for a row.
  std::function<void(DeviceCommand, size_t row)> runCommand;
  // A double click on a row (the quick scan decides whether anything runs).
  std::function<void(size_t row)> quickScan;
  // Brings the main window to the front when a menu opens.
  std::function<void()> bringToFront;
};

class DeviceListView : public QListView {
 public:
  DeviceListView(DeviceItemModel& model, DeviceListHooks hooks, QWidget* parent = nullptr);

  // The device menu for the selected row, at a screen point.
  void PopupDeviceMenu(const QPoint& screenPoint);
  // Forgets the hover row (it is going away).
  void ForgetHoverRow(size_t index);
  QMenu* deviceMenu() const { return menu_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  // Rows are hit-tested at x = 48, whatever the cursor's x.
  int RowAt(int y) const;
  void BuildMenu(size_t row);
  void Timer_ClickTimer();
  void Timer_MouseEnterTimer();
  void Timer_PopupEnterTimer();

  DeviceItemModel& model_;
  DeviceListHooks hooks_;
  QMenu* menu_;
  QPoint clickPoint_;
  QPoint hoverPoint_;
  int hoverRow_ = -1;
  bool suppressClick_ = false;
  QSize measured_;
  QTimer timerClick_;
  QTimer timerMouseEnter_;
  QTimer timerPopupEnter_;
};

}  // namespace tessaro
