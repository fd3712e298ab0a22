// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliHelp.h"

#include <map>

namespace tessaro::cli {

namespace {

struct Help {
  const char* usage;
  const char* what;
};

const std::map<std::string, Help>& HelpTable() {
  static const std::map<std::string, Help> table = {
      {"trunk-version", {"trunk-version", "The version of the bus daemon's Trunk interface."}},
      {"servers", {"servers", "The device servers the bus daemon knows: address, name, state, MAC."}},
      {"spurs", {"spurs", "The Spur interfaces (one per attached server): address and path."}},
      {"attach",
       {"attach IP", "Attaches the bus daemon to the device server at IP, which opens its Spur."}},
      {"devices", {"devices IP", "The devices of the server at IP, with their owners and locks."}},
      {"spur-version", {"spur-version IP", "The version of the Spur interface at IP."}},
      {"link",
       {"link IP N",
        "Links device N of the server at IP to this PC. It fails when another PC holds the\n"
        "device (the message names it) or the server has no device N."}},
      {"unlink", {"unlink IP N", "Unlinks device N of the server at IP from this PC."}},
      {"lock",
       {"lock IP N KIND SECONDS", "Locks device N for KIND (a number) for SECONDS (0: no end)."}},
      {"unlock", {"unlock IP N KIND SECONDS", "Unlocks device N."}},
      {"request",
       {"request IP N", "Asks the PC that holds device N to let this PC use it."}},
      {"watch",
       {"watch [--count K]",
        "Prints each event record the bus daemon sends, until K records (or for ever)."}},
      {"list",
       {"list",
        "One refresh as the tray client makes it: the servers, then one line per device row,\n"
        "with the user's stored enables and auto-connect entries. Only enabled servers list\n"
        "their devices (tessaro-cli server enable IP)."}},
      {"server",
       {"server enable IP | server disable IP",
        "Stores whether the server at IP is enabled for this user, as the tray's server menu\n"
        "does: list, auto-print and monitor then see it so. Exit 4 when the bus daemon lists no\n"
        "server at IP."}},
      {"auto-print",
       {"auto-print add IP N QUEUE [--fax] | auto-print list | auto-print remove QUEUE",
        "The auto-connect entries: print jobs to QUEUE wait until device N of the server at IP\n"
        "can be had, and the client (or tessaro-cli monitor) then links it."}},
      {"monitor",
       {"monitor",
        "Runs the print monitors of the stored auto-connect entries without a window, until\n"
        "SIGTERM or SIGINT; one line per action."}},
      {"save-pages",
       {"save-pages jpg|bmp|pdf DPI COUNT TARGET [TEMPBASE]",
        "Saves the COUNT page files of a finished scan as the scan window does."}},
      {"scan",
       {"scan IP N FOLDER [--name NAME] [--format jpg|bmp|pdf] [--source flatbed|feeder]\n"
        "     [--resolution DPI] [--mode color|gray]",
        "Scan Now without windows: links and locks scanner N of the server at IP, scans into\n"
        "FOLDER (never replacing a file) and lets the scanner go."}},
  };
  return table;
}

}  // namespace

std::optional<std::string> CommandHelp(const std::string& command) {
  const auto it = HelpTable().find(command);
  if (it == HelpTable().end()) return std::nullopt;
  return "usage: tessaro-cli [--json] " + std::string(it->second.usage) + "\n\n" +
         it->second.what + "\n";
}

}  // namespace tessaro::cli
