// SPDX-License-Identifier: GPL-2.0-or-later
// The number each real USB device keeps: the lowest free one the first time it is seen, the same
// one after unplugging, restarts and reboots. Kept in a text file beside the pins, one line a
// device: the number, a space, and the device's key (UsbDeviceKey). The file is rewritten whole
// and atomically whenever a device gets a number, so a crash leaves the old file or the new one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace tessaro::hubd {

class DeviceNumbers {
 public:
  using LogFn = std::function<void(const std::string&)>;
  static constexpr uint8_t kMaxNumber = 127;

  // An empty path keeps the numbers in memory only.
  DeviceNumbers(std::string path, LogFn log);

  // Reads the file; a missing one is no numbers. Lines that do not read are logged and skipped.
  // False with `error` when it exists but cannot be read.
  bool Load(std::string& error);
  // The number of the device with `key`. Numbers in `reserved` (the config's own) are never
  // given. A device seen before keeps its number unless the config took it since; a new one
  // gets the lowest number no other device holds, or when none is left the lowest held by a
  // device not in `present` (unplugged). nullopt when every number is in use now.
  std::optional<uint8_t> NumberFor(const std::string& key, const std::set<uint8_t>& reserved,
                                   const std::set<uint8_t>& present);
  bool Knows(const std::string& key) const { return numbers_.count(key) != 0; }
  const std::string& path() const { return path_; }

 private:
  bool Save();

  std::string path_;
  LogFn log_;
  std::map<std::string, uint8_t> numbers_;  // by key
};

}  // namespace tessaro::hubd
