// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tessaro {

// The desktop shell: hands an address to the user's web browser.
class Shell {
 public:
  virtual ~Shell() = default;
  // Opens `url` without waiting for the browser. False when nothing could be started.
  // Implementations open http and https addresses only and refuse anything else.
  virtual bool OpenUrl(const std::string& url) = 0;
};

}  // namespace tessaro
