// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli COMMAND --help: each command's usage and what it does.
#pragma once

#include <optional>
#include <string>

namespace tessaro::cli {

// The help of `command`, or nullopt for a word that is no command.
std::optional<std::string> CommandHelp(const std::string& command);

}  // namespace tessaro::cli
