// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/AdminPassword.h"

#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "base/AtomicFile.h"

namespace tessaro::hubd {

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string AdminPasswordProblem(std::string_view password) {
  if (password.size() < kMinAdminPassword)
    return "the password is too short: at least " + std::to_string(kMinAdminPassword) + " bytes";
  if (password.size() > kMaxAdminPassword)
    return "the password is too long: at most " + std::to_string(kMaxAdminPassword) + " bytes";
  return {};
}

bool StoreAdminPassword(const std::string& path, std::string_view password, std::string& error) {
  if (error = AdminPasswordProblem(password); !error.empty()) return false;
  if (sodium_init() < 0) {
    error = "libsodium cannot be initialised";
    return false;
  }
  char hash[crypto_pwhash_STRBYTES];
  // The interactive cost: a login is checked on hubd's own loop, so it must stay short.
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    error = "not enough memory to hash the password";
    return false;
  }
  const std::string line = std::string(hash) + "\n";
  PendingFile file(path, 0600);
  struct stat folder {};
  const bool giveToFolderOwner =
      ::geteuid() == 0 && ::stat(FolderOf(path).c_str(), &folder) == 0 && folder.st_uid != 0;
  if (!file.ok() || !file.Write({reinterpret_cast<const uint8_t*>(line.data()), line.size()}) ||
      (giveToFolderOwner && !file.SetOwner(folder.st_uid, folder.st_gid)) || !file.Commit(true) ||
      !SyncFolderOf(path)) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::optional<std::string> ReadAdminPasswordHash(const std::string& path, std::string& error) {
  error.clear();
  std::ifstream in(path);
  if (!in) {
    if (errno != ENOENT) error = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string hash;
  std::getline(in, hash);
  if (hash.rfind(crypto_pwhash_argon2id_STRPREFIX, 0) != 0 ||
      hash.size() >= crypto_pwhash_STRBYTES) {
    error = path + " holds no argon2id password hash";
    return std::nullopt;
  }
  return hash;
}

bool AdminPasswordMatches(const std::string& hash, std::string_view password) {
  return sodium_init() >= 0 && password.size() <= kMaxAdminPassword &&
         crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace tessaro::hubd
