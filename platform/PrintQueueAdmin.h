// SPDX-License-Identifier: GPL-2.0-or-later
// Adding a print queue for a device, so the user need not know the spooler's own tools.
#pragma once

#include <optional>
#include <string>

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
  // one for the maker and product and raw otherwise. Its name, or nullopt with `error` in words.
  virtual std::optional<std::string> AddQueue(const NewPrintQueue& queue, std::string& error) = 0;
};

}  // namespace tessaro
