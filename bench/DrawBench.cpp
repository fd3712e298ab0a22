// SPDX-License-Identifier: GPL-2.0-or-later
// Painting 1000 device rows (line, caption, coloured state text, type image with overlay)
// against Qt's own item delegate painting the same captions, in the same run, off screen.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "devices/DeviceListModel.h"
#include "devices/MainWindowPort.h"
#include "devices/ui/DeviceListView.h"

namespace {

using namespace tessaro;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 1000;
constexpr int kRounds = 30;

std::unique_ptr<DeviceData> Row(int i) {
  static const char* types[] = {"MFP", "PRINTER", "MASS STORAGE", "SCANNER", "UNKNOWN"};
  static const char* states[] = {" - Waiting to Connect", " - Available for Use",
                                 " - Use By (PC-A)", " - Use By (PC-B)"};
  auto d = std::make_unique<DeviceData>();
  d->type = types[i % 5];
  d->manufacturer = "Maker " + std::to_string(i % 17);
  d->product = "Model " + std::to_string(i);
  d->displayName = d->manufacturer + " - " + d->product;
  d->stateText = states[i % 4];
  d->owner = i % 4 == 2 ? "PC-A" : (i % 4 == 3 ? "PC-B" : "");
  d->lockCount = i % 4 >= 2 ? 1 : 0;
  d->deviceNumber = std::to_string(i % 16 + 1);
  return d;
}

// Median time of painting every row once with `delegate`.
double MedianMs(QAbstractItemDelegate& delegate, QAbstractItemModel& model, QWidget& view) {
  QImage canvas(289, kRowHeight, QImage::Format_ARGB32_Premultiplied);
  std::vector<double> rounds;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    for (int row = 0; row < kRows; ++row) {
      canvas.fill(Qt::white);
      QPainter painter(&canvas);
      QStyleOptionViewItem option;
      option.initFrom(&view);
      option.rect = QRect(0, 0, 289, kRowHeight);
      option.widget = &view;
      delegate.paint(&painter, option, model.index(row, 0));
    }
    rounds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[rounds.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  NoWindow window;
  DeviceListModel rows(window);
  for (int i = 0; i < kRows; ++i) rows.AppendRow(Row(i));
  DeviceItemModel model(rows);
  DeviceListHooks hooks;
  hooks.computerName = [] { return std::string("PC-A"); };
  DeviceListView view(model, hooks);
  view.resize(289, 351);

  QStyledItemDelegate plain;
  const double reference = MedianMs(plain, model, view);
  const double ours = MedianMs(*view.itemDelegate(), model, view);
  std::printf("device rows painted: %d rows, median of %d rounds\n", kRows, kRounds);
  std::printf("  reference (Qt's delegate, caption only): %.2f ms\n", reference);
  std::printf("  our rows (line, texts, image, overlay):  %.2f ms\n", ours);
  std::printf("  ratio: %.2f\n", ours / reference);
  return 0;
}
