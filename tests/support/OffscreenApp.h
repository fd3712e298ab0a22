// SPDX-License-Identifier: GPL-2.0-or-later
// The one QApplication of a test program that shows forms without a display.
#pragma once

#include <QApplication>

namespace tessaro::testing {

inline QApplication& OffscreenApp() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

}  // namespace tessaro::testing
