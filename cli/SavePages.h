// SPDX-License-Identifier: GPL-2.0-or-later
// save-pages FORMAT DPI COUNT TARGET [TEMPBASE]: the saving of a finished scan, without a scanner.
#pragma once

#include <ostream>

#include "base/Result.h"
#include "cli/CliArgs.h"

namespace tessaro::cli {

// Checks the arguments of save-pages; fails with the usage error text.
Result<> CheckSavePagesArgs(const std::vector<std::string>& args);

// Runs the saving code of the scan window on the page files; messages go to `err`.
int RunSavePages(const CliCommand& command, std::ostream& out, std::ostream& err);

}  // namespace tessaro::cli
