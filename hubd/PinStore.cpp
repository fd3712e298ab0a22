// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/PinStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/FileHandle.h"
#include "base/LogText.h"
#include "protocol/PcKey.h"

namespace tessaro::hubd {

namespace {

constexpr const char* kHeader =
    "# tessaro-hubd: the key each computer name is pinned to (key, space, name).\n"
    "# Remove a line, or put a new key in it, to let a replaced PC in; then send hubd SIGHUP.\n";

}  // namespace

PinStore::PinStore(std::string path, LogFn log) : path_(std::move(path)), log_(std::move(log)) {}

bool PinStore::Load(std::string& error) {
  if (path_.empty()) return true;
  std::ifstream in(path_);
  if (!in) {
    if (errno == ENOENT) {
      pins_.clear();
      return true;
    }
    error = "cannot read " + path_ + ": " + std::strerror(errno);
    return false;
  }
  std::map<std::string, wire::PublicKey> pins;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const auto space = line.find(' ');
    const auto key = space == std::string::npos
                         ? std::nullopt
                         : ParseHex<wire::kPublicKeySize>(std::string_view(line).substr(0, space));
    const auto name =
        key ? ParseLogText(std::string_view(line).substr(space + 1)) : std::optional<std::string>();
    if (!name || name->empty()) {
      if (log_) log_(path_ + ":" + std::to_string(number) + ": not a pin, skipped");
      continue;
    }
    pins[*name] = *key;
  }
  if (in.bad()) {
    error = "cannot read " + path_ + ": " + std::strerror(errno);
    return false;
  }
  pins_ = std::move(pins);
  return true;
}

PinStore::Verdict PinStore::Check(const std::string& name, const wire::PublicKey& key) {
  if (const auto it = pins_.find(name); it != pins_.end())
    return it->second == key ? Verdict::Match : Verdict::Mismatch;
  if (pins_.size() >= kMaxPins) return Verdict::Full;
  if (!path_.empty() && !Append(HexText(key) + " " + LogText(name) + "\n"))
    return Verdict::WriteFailed;
  pins_.emplace(name, key);
  return Verdict::Pinned;
}

bool PinStore::Append(const std::string& line) {
  UniqueFd fd(::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return false;
  std::string text;
  if (st.st_size == 0) {
    text = kHeader;
  } else {
    // A line cut short by a crash must not swallow the next pin.
    char last = '\n';
    if (::pread(fd.get(), &last, 1, st.st_size - 1) == 1 && last != '\n') text = "\n";
  }
  text += line;
  return WriteAll(fd.get(), text.data(), text.size()) && ::fdatasync(fd.get()) == 0;
}

}  // namespace tessaro::hubd
