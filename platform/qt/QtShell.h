// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDesktopServices>
#include <QUrl>

#include "platform/Shell.h"
#include "platform/qt/QtText.h"

namespace tessaro {

// The user's browser, for http and https addresses only.
class QtShell : public Shell {
 public:
  bool OpenUrl(const std::string& url) override {
    const QUrl address(ToQString(url), QUrl::StrictMode);
    if (!address.isValid() || (address.scheme() != "http" && address.scheme() != "https")) {
      return false;
    }
    return QDesktopServices::openUrl(address);
  }
};

}  // namespace tessaro
