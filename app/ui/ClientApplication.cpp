// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ui/ClientApplication.h"

#include <cstdio>
#include <exception>

#include "base/Product.h"

namespace tessaro {

ClientApplication::ClientApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ClientApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Report(e.what());
  }
  return false;
}

// The box is shown once the event has been delivered: a reader handing over a record waits for
// that delivery and must not wait for the user too.
void ClientApplication::Report(const std::string& text) {
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        if (ui_ == nullptr) {
          std::fprintf(stderr, "tessaro-utility: %s\n", text.c_str());
          return;
        }
        MessageRequest message;
        message.caption = ProductName;
        message.text = text;
        message.flags = mb::kIconError;
        ui_->ShowMessage(message);
      },
      Qt::QueuedConnection);
}

}  // namespace tessaro
