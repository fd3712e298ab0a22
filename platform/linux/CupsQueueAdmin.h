// SPDX-License-Identifier: GPL-2.0-or-later
// Adding queues to CUPS over IPP (CUPS-Add-Modify-Printer), as lpadmin does.
#pragma once

#include <string>
#include <vector>

#include "platform/PrintQueueAdmin.h"

namespace tessaro {

// `wanted` turned into a queue name CUPS takes (see IsQueueName) that is none of `taken`:
// invalid characters become '_', and "_2", "_3", ... are added while the name is in use
// (compared without regard to case, as CUPS does).
std::string FreeQueueName(const std::string& wanted, const std::vector<std::string>& taken);

class CupsQueueAdmin : public PrintQueueAdmin {
 public:
  // `server`: a host name or the path of cupsd's socket; empty for libcups's own choice.
  explicit CupsQueueAdmin(std::string server = {});
  Result<std::string> AddQueue(const NewPrintQueue& queue) override;

 private:
  std::string server_;
};

}  // namespace tessaro
