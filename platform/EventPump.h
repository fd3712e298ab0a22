// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace tessaro {

// The waits that must keep the interface alive ("process pending messages") call this between
// polls. Only the main thread calls it.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessPendingEvents() = 0;
};

}  // namespace tessaro
