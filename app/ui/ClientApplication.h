// SPDX-License-Identifier: GPL-2.0-or-later
// The tray client's application object. An exception that escapes an event handler does not end
// the program: it is shown in a message box (caption the product name, text the exception's) and
// the program goes on.
#pragma once

#include <QApplication>
#include <string>

#include "platform/UiPort.h"

namespace tessaro {

class ClientApplication : public QApplication {
 public:
  ClientApplication(int& argc, char** argv);
  // The port that shows the box; without one the text goes to standard error.
  void SetUiPort(UiPort* ui) { ui_ = ui; }

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void Report(const std::string& text);

  UiPort* ui_ = nullptr;
};

}  // namespace tessaro
