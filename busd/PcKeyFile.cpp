// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/PcKeyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/AtomicFile.h"
#include "base/FileHandle.h"
#include "base/Product.h"
#include "busd/Log.h"
#include "busd/Options.h"
#include "platform/RegistryText.h"
#include "platform/linux/SqliteRegistry.h"

namespace tessaro::busd {

namespace {

constexpr std::string_view kFirstLine = "tessaro-pc-key 1\n";
constexpr off_t kMaxFileSize = 4096;

std::string KeyFileText(const wire::PcKey& key) {
  return std::string(kFirstLine) + HexText(key.seed()) + "\n";
}

std::optional<wire::PcKey> ParseKeyFile(std::string_view text) {
  if (!text.starts_with(kFirstLine)) return std::nullopt;
  text.remove_prefix(kFirstLine.size());
  if (text.ends_with('\n')) text.remove_suffix(1);
  const auto seed = ParseHex<wire::kSeedSize>(text);
  if (!seed) return std::nullopt;
  return wire::PcKey::FromSeed(*seed);
}

KeyFileResult Load(const std::string& path, int fd) {
  KeyFileResult r;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    r.error = path + ": " + std::strerror(errno);
    return r;
  }
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size > kMaxFileSize) {
    r.error = path + " is not this user's key file; move it aside to make a new key";
    return r;
  }
  if ((st.st_mode & 077) != 0) {
    // Whoever reads the key can pose as this PC: only its owner may.
    if (::fchmod(fd, 0600) != 0) {
      r.error =
          path + " is readable by others and cannot be closed to them: " + std::strerror(errno);
      return r;
    }
    r.notice = path + " was readable by others; now only by its owner";
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  if (!ReadExact(fd, text.data(), text.size())) {
    r.error = path + ": cannot be read";
    return r;
  }
  r.key = ParseKeyFile(text);
  if (!r.key)
    r.error = path +
              " is damaged; move it aside to make a new key (servers must then "
              "be told to re-pin this PC)";
  return r;
}

}  // namespace

std::string KeyPathFor(const std::string& machineHive) { return machineHive + ".key"; }

KeyFileResult LoadOrMakeKey(const std::string& path) {
  // Two tries: another busd may make the file between our look and our commit.
  for (int attempt = 0; attempt < 2; ++attempt) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.valid()) return Load(path, fd.get());
    if (errno != ENOENT) return {std::nullopt, false, {}, path + ": " + std::strerror(errno)};
    const wire::PcKey key = wire::PcKey::Generate();
    PendingFile file(path, 0600);
    const std::string text = KeyFileText(key);
    if (!file.ok() || !file.Write({reinterpret_cast<const uint8_t*>(text.data()), text.size()})) {
      return {std::nullopt, false, {}, path + ": cannot be written: " + std::strerror(errno)};
    }
    if (file.Commit(false)) return {key, true, {}, {}};
  }
  return {std::nullopt, false, {}, path + ": cannot be made"};
}

int MakeKey(const Options& options, const Logger& log) {
  const std::string path = KeyPathFor(MachineHivePath(options));
  const KeyFileResult r = LoadOrMakeKey(path);
  if (!r.key) {
    log.Error(r.error);
    return 1;
  }
  if (!r.notice.empty()) log.Info(r.notice);
  if (r.made) log.Info("made this PC's key in " + path);
  std::printf("public key %s\n", HexText(r.key->publicKey()).c_str());
  return 0;
}

int Install(const Options& options, const Logger& log) {
  if (const int status = MakeKey(options, log); status != 0) return status;
  HivePaths hives;  // the machine hive only
  hives.machine = MachineHivePath(options);
  SqliteRegistry registry(hives);
  const uint32_t result = RegWriteText(registry, RegRoot::LocalMachine, AppRegistryKey,
                                       "Product Version", false, true, ProductVersion);
  if (result != 0) {
    log.Error("cannot record the installed version in " + hives.machine + " (error " +
              std::to_string(result) + ")");
    return 1;
  }
  log.Info(std::string("installed version ") + ProductVersion + " recorded in " + hives.machine);
  return 0;
}

}  // namespace tessaro::busd
