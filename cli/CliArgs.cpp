// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliArgs.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "base/NumberText.h"
#include "cli/CliAutoPrint.h"
#include "cli/CliHelp.h"
#include "cli/CliScan.h"
#include "cli/CliServer.h"
#include "cli/SavePages.h"

namespace tessaro::cli {

namespace {

constexpr int64_t kByteMax = 255;
constexpr int64_t kSecondsMax = 0xFFFFFFFF;

// What each argument of a command must be.
enum class Arg { Ip, DeviceNumber, Kind, Seconds };

const std::map<std::string, std::vector<Arg>>& CommandTable() {
  static const std::map<std::string, std::vector<Arg>> table = {
      {"trunk-version", {}},
      {"servers", {}},
      {"spurs", {}},
      {"attach", {Arg::Ip}},
      {"devices", {Arg::Ip}},
      {"spur-version", {Arg::Ip}},
      {"link", {Arg::Ip, Arg::DeviceNumber}},
      {"unlink", {Arg::Ip, Arg::DeviceNumber}},
      {"lock", {Arg::Ip, Arg::DeviceNumber, Arg::Kind, Arg::Seconds}},
      {"unlock", {Arg::Ip, Arg::DeviceNumber, Arg::Kind, Arg::Seconds}},
      {"request", {Arg::Ip, Arg::DeviceNumber}},
      {"list", {}},
      {"monitor", {}},
  };
  return table;
}

bool ArgValid(Arg kind, const std::string& text) {
  switch (kind) {
    case Arg::Ip: return !text.empty();
    case Arg::DeviceNumber: return ParseInteger(text, -128, kByteMax).has_value();
    case Arg::Kind: return ParseInteger(text, 0, kByteMax).has_value();
    case Arg::Seconds: return ParseInteger(text, 0, kSecondsMax).has_value();
  }
  return false;
}

ParsedArgs UsageError(std::string message) {
  ParsedArgs p;
  p.error = std::move(message);
  return p;
}

ParsedArgs ParseWatch(CliCommand command, const std::vector<std::string>& rest) {
  if (rest.empty()) return ParsedArgs{std::move(command), false, {}, {}};
  if (rest.size() != 2 || rest[0] != "--count") return UsageError("usage: watch [--count K]");
  const auto k = ParseInteger(rest[1], 0, INT64_MAX);
  if (!k) return UsageError("watch: --count needs a number of records");
  command.watchCount = static_cast<uint64_t>(*k);
  return ParsedArgs{std::move(command), false, {}, {}};
}

}  // namespace

std::optional<int64_t> ParseInteger(const std::string& text, int64_t min, int64_t max) {
  return ParseNumberIn<int64_t>(text, min, max, PlusSign::Allowed);
}

ParsedArgs ParseCliArgs(const std::vector<std::string>& args) {
  CliCommand command;
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    if (args[i] == "--json") {
      command.json = true;
    } else if (args[i] == "--help" || args[i] == "-h") {
      ParsedArgs p;
      p.help = true;
      return p;
    } else {
      return UsageError("unknown option " + args[i]);
    }
  }
  if (i == args.size()) return UsageError("no command given");
  command.name = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                      args.end());
  if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
    if (!CommandHelp(command.name)) return UsageError("unknown command " + command.name);
    ParsedArgs p;
    p.help = true;
    p.helpCommand = command.name;
    return p;
  }
  if (command.name == "watch") return ParseWatch(std::move(command), rest);
  if (command.name == "server") {
    const std::string problem = CheckServerArgs(rest);
    if (!problem.empty()) return UsageError(problem);
    command.args = rest;
    return ParsedArgs{std::move(command), false, {}, {}};
  }
  if (command.name == "save-pages") {
    if (const auto checked = CheckSavePagesArgs(rest); !checked) return UsageError(checked.error());
    command.args = rest;
    return ParsedArgs{std::move(command), false, {}, {}};
  }
  if (command.name == "scan") {
    if (const auto checked = ParseScanArgs(rest); !checked) return UsageError(checked.error());
    command.args = rest;
    return ParsedArgs{std::move(command), false, {}, {}};
  }
  if (command.name == "auto-print") {
    if (const auto checked = CheckAutoPrintArgs(rest); !checked) return UsageError(checked.error());
    command.args = rest;
    return ParsedArgs{std::move(command), false, {}, {}};
  }
  const auto it = CommandTable().find(command.name);
  if (it == CommandTable().end()) return UsageError("unknown command " + command.name);
  if (rest.size() != it->second.size())
    return UsageError("wrong number of arguments for " + command.name);
  for (size_t a = 0; a < rest.size(); ++a) {
    if (!ArgValid(it->second[a], rest[a])) {
      return UsageError(command.name + ": bad argument \"" + rest[a] + "\"");
    }
  }
  command.args = rest;
  return ParsedArgs{std::move(command), false, {}, {}};
}

std::string UsageText() {
  return "usage: tessaro-cli [--json] COMMAND [ARGS]\n"
         "commands:\n"
         "  trunk-version | servers | spurs\n"
         "  attach IP | devices IP | spur-version IP\n"
         "  link IP N | unlink IP N | request IP N\n"
         "  lock IP N KIND SECONDS | unlock IP N KIND SECONDS\n"
         "  watch [--count K]\n"
         "  list | monitor\n"
         "  server enable IP | server disable IP\n"
         "  auto-print add IP N QUEUE [--fax] | auto-print list | auto-print remove QUEUE\n"
         "  save-pages jpg|bmp|pdf DPI COUNT TARGET [TEMPBASE]\n"
         "  scan IP N FOLDER [--name NAME] [--format jpg|bmp|pdf] [--source flatbed|feeder]\n"
         "       [--resolution DPI] [--mode color|gray]\n"
         "tessaro-cli COMMAND --help describes one command.\n";
}

}  // namespace tessaro::cli
