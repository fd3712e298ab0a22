// SPDX-License-Identifier: GPL-2.0-or-later
// Adding a print queue for a device, so the user need not know the spooler's own tools.
#pragma once

#include <string>

#include "base/Result.h"

namespace tessaro {

struct NewPrintQueue {
  std::string wantedName;  // made a valid queue name that no queue has yet
  std::string deviceUri;
  std::string maker;  // what a driver offered by the system is looked up by
  std::string product;
  std::string info;  // the description the queue shows
};

class PrintQueueAdmin {
 public:
  virtual ~PrintQueueAdmin() = default;
  // Adds the queue, enabled and accepting jobs, with a driverless driver when the system offers
  // one for the maker and product and raw otherwise. Its name, or the failure in words.
  virtual Result<std::string> AddQueue(const NewPrintQueue& queue) = 0;
};

}  // namespace tessaro
