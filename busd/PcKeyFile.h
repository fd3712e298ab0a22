// SPDX-License-Identifier: GPL-2.0-or-later
// This PC's key, kept in a file beside the machine hive and named after it ("<hive>.key"), so
// that every simulated PC with a hive of its own is an identity of its own. Made once (at install
// with `tessaro-busd --make-key`, else at busd's first start) and never replaced by busd: device
// servers pin it, and a new key would lock the PC out of every one of them.
#pragma once

#include <optional>
#include <string>

#include "base/Logger.h"
#include "protocol/PcKey.h"

namespace tessaro::busd {

std::string KeyPathFor(const std::string& machineHive);

struct KeyFileResult {
  std::optional<wire::PcKey> key;
  bool made = false;   // the file did not exist and was made now
  std::string notice;  // something busd set right, for the log (permissions tightened)
  std::string error;   // set when there is no key
};

// Reads the key, or makes it when the file does not exist. A file that is not a key (damaged,
// not a regular file, another user's) is an error and is left as it is.
KeyFileResult LoadOrMakeKey(const std::string& path);

struct Options;
// --make-key: makes the key of the machine hive in use unless it exists, prints "public key
// HEX" on standard output; the exit status.
int MakeKey(const Options& options, const Logger& log);
// --install, what an installation runs (the service does before each start): --make-key, then
// the product's version recorded in the machine hive, where the client reads it.
int Install(const Options& options, const Logger& log);

}  // namespace tessaro::busd
