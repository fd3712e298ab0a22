// SPDX-License-Identifier: GPL-2.0-or-later
// How often the notification reader asks cupsd for the events of the watched queues.
#pragma once

#include <chrono>

namespace tessaro {

struct CupsNotificationTiming {
  std::chrono::milliseconds poll{200};         // between two readings without wake-ups
  std::chrono::milliseconds pushedPoll{1000};  // between two readings while cupsd wakes us
};

}  // namespace tessaro
