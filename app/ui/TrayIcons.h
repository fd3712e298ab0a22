// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QIcon>

namespace tessaro {

// The two tray icons, drawn at 16 and 32 pixels: 0 normal (a blue server with a green link),
// 1 for no device listed or no network (the same server greyed, with a red bar).
QIcon TrayIcon(int index);

}  // namespace tessaro
