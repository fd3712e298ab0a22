// SPDX-License-Identifier: GPL-2.0-or-later
// The command line: tessaro-cli [--json] COMMAND [ARGS]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaro::cli {

struct CliCommand {
  bool json = false;
  std::string name;
  std::vector<std::string> args;       // checked for count and form
  std::optional<uint64_t> watchCount;  // watch --count K
};

struct ParsedArgs {
  std::optional<CliCommand> command;  // nullopt: a usage error (or help)
  bool help = false;
  std::string helpCommand;  // COMMAND --help: that command's help; "" for the whole usage
  std::string error;        // the usage error
};

ParsedArgs ParseCliArgs(const std::vector<std::string>& args);
std::string UsageText();

// Numbers of the command line; nullopt for anything that is not one in range.
std::optional<int64_t> ParseInteger(const std::string& text, int64_t min, int64_t max);

}  // namespace tessaro::cli
