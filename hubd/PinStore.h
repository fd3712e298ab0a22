// SPDX-License-Identifier: GPL-2.0-or-later
// The public key each computer name first came with. A PC that says Hello under a pinned name
// must prove it holds that key; the first PC to use a name pins its own. The pins live in a text
// file that outlasts restarts, one line a name:
//   <64 hex digits of the key> <the name, control bytes and the backslash escaped as in logs>
// hubd only ever appends to it, so an administrator may edit it (remove a PC's line to let a
// replaced PC pin its new key, or put the new key in place) and then send SIGHUP.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "protocol/HubWire.h"

namespace tessaro::hubd {

class PinStore {
 public:
  // A bound on what a flood of made-up names can make hubd keep and write.
  static constexpr size_t kMaxPins = 4096;

  enum class Verdict {
    Match,        // the name was pinned to this key
    Pinned,       // a new name: pinned to this key now, and written down
    Mismatch,     // the name is pinned to another key
    Full,         // a new name, but kMaxPins are pinned
    WriteFailed,  // a new name whose pin could not be written: not pinned
  };

  using LogFn = std::function<void(const std::string&)>;

  // An empty path keeps the pins in memory only (for tests and fuzzing).
  PinStore(std::string path, LogFn log);

  // Reads the file, in place of what was pinned before; a missing file is no pins. Lines that do
  // not read are logged and skipped; a later line for a name wins. False with `error` set when
  // the file exists but cannot be read (the pins held stay as they were).
  bool Load(std::string& error);
  Verdict Check(const std::string& name, const wire::PublicKey& key);
  bool Knows(const std::string& name) const { return pins_.count(name) != 0; }
  const std::string& path() const { return path_; }
  size_t size() const { return pins_.size(); }

 private:
  bool Append(const std::string& line);

  std::string path_;
  LogFn log_;
  std::map<std::string, wire::PublicKey> pins_;
};

}  // namespace tessaro::hubd
