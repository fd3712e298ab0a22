// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/DeviceNumbers.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>

#include "base/AtomicFile.h"
#include "base/NumberText.h"

namespace tessaro::hubd {

namespace {
constexpr const char* kHeader =
    "# tessaro-hubd: the number each USB device keeps (number, space, vendor and product ID,\n"
    "# then its serial or, without one, its USB port). Written by hubd.\n";
}  // namespace

DeviceNumbers::DeviceNumbers(std::string path, LogFn log)
    : path_(std::move(path)), log_(std::move(log)) {}

bool DeviceNumbers::Load(std::string& error) {
  if (path_.empty()) return true;
  std::ifstream in(path_);
  if (!in) {
    if (errno == ENOENT) return numbers_.clear(), true;
    error = "cannot read " + path_ + ": " + std::strerror(errno);
    return false;
  }
  std::map<std::string, uint8_t> numbers;
  std::set<uint8_t> used;
  std::string line;
  for (size_t lineNumber = 1; std::getline(in, line); ++lineNumber) {
    if (line.empty() || line[0] == '#') continue;
    const auto space = line.find(' ');
    const auto number = space == std::string::npos
                            ? std::nullopt
                            : ParseNumberIn<uint8_t>(line.substr(0, space), 1, kMaxNumber);
    const std::string key = number ? line.substr(space + 1) : std::string();
    if (!number || key.empty() || !used.insert(*number).second || numbers.count(key)) {
      if (log_) log_(path_ + ":" + std::to_string(lineNumber) + ": not a device number, skipped");
      continue;
    }
    numbers[key] = *number;
  }
  if (in.bad()) {
    error = "cannot read " + path_ + ": " + std::strerror(errno);
    return false;
  }
  numbers_ = std::move(numbers);
  return true;
}

std::optional<uint8_t> DeviceNumbers::NumberFor(const std::string& key,
                                                const std::set<uint8_t>& reserved,
                                                const std::set<uint8_t>& present) {
  const auto known = numbers_.find(key);
  if (known != numbers_.end() && !reserved.count(known->second)) return known->second;
  std::map<uint8_t, std::string> holders;
  for (const auto& [k, n] : numbers_)
    if (k != key) holders[n] = k;
  std::optional<uint8_t> chosen;
  for (uint8_t n = 1; n <= kMaxNumber && !chosen; ++n)
    if (!reserved.count(n) && !holders.count(n)) chosen = n;
  // Every number is kept for some device: one that is not plugged in now gives its number up.
  for (uint8_t n = 1; n <= kMaxNumber && !chosen; ++n)
    if (!reserved.count(n) && !present.count(n)) chosen = n;
  if (!chosen) return std::nullopt;
  if (const auto holder = holders.find(*chosen); holder != holders.end())
    numbers_.erase(holder->second);
  numbers_[key] = *chosen;
  if (!Save() && log_) log_("cannot write " + path_ + "; device numbers may change at restart");
  return chosen;
}

bool DeviceNumbers::Save() {
  if (path_.empty()) return true;
  std::string text = kHeader;
  std::map<uint8_t, std::string> byNumber;
  for (const auto& [key, number] : numbers_) byNumber[number] = key;
  for (const auto& [number, key] : byNumber) text += std::to_string(number) + " " + key + "\n";
  PendingFile file(path_, 0644);
  return file.ok() &&
         file.Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())) &&
         file.Commit(true);
}

}  // namespace tessaro::hubd
