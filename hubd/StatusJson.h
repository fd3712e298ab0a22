// SPDX-License-Identifier: GPL-2.0-or-later
// What the server's web page shows, as JSON: the server, its devices and the PCs attached.
#pragma once

#include <string>

namespace tessaro::hubd {

class Hub;

// `admin`: whether the asker may act on devices (the page then shows its buttons);
// `adminPasswordSet`: whether anyone could (the page then offers to log in).
std::string StatusJson(const Hub& hub, bool admin, bool adminPasswordSet);

}  // namespace tessaro::hubd
