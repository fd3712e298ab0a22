// SPDX-License-Identifier: GPL-2.0-or-later
// The web page's administrator password: kept only as libsodium's argon2id string (salt and
// cost in it), in a file of its own beside the pins file, readable by hubd's user alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaro::hubd {

inline constexpr size_t kMinAdminPassword = 8;
inline constexpr size_t kMaxAdminPassword = 256;  // its form field still fits a request's body

inline std::string AdminPasswordPath(const std::string& pinsPath) { return pinsPath + ".admin"; }

// Why `password` cannot be the administrator's; empty when it can.
std::string AdminPasswordProblem(std::string_view password);

// Hashes `password` and writes the hash to `path` whole (a temporary file renamed over it), mode
// 0600. Run as root, the file goes to the owner of its folder (hubd's state folder), so the
// service reads it. False with `error` set when it cannot.
bool StoreAdminPassword(const std::string& path, std::string_view password, std::string& error);

// The stored hash; nullopt when no password is set. A file that cannot be read or holds no hash
// is no password too, with `error` saying why.
std::optional<std::string> ReadAdminPasswordHash(const std::string& path, std::string& error);

bool AdminPasswordMatches(const std::string& hash, std::string_view password);

}  // namespace tessaro::hubd
