// SPDX-License-Identifier: GPL-2.0-or-later
// The registry as the core sees it: two roots, keys opened with an access level, string values
// written, string, DWORD and multi-string values read, enumeration and deletion. Result codes
// carry the Windows numbers so callers keep the rules they were written with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/WinError.h"

namespace tessaro {

enum class RegRoot { CurrentUser, LocalMachine };

// Access masks, as callers pass them.
namespace regaccess {
inline constexpr uint32_t kQueryValue = 0x0001;
inline constexpr uint32_t kSetValue = 0x0002;
inline constexpr uint32_t kCreateSubKey = 0x0004;
inline constexpr uint32_t kEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kRead = 0x20019;
inline constexpr uint32_t kWrite = 0x20006;
inline constexpr uint32_t kAllAccess = 0xF003F;
}  // namespace regaccess

// Result codes are Windows error codes (0 is success).
namespace regerr = winerr;

// Value types.
namespace regtype {
inline constexpr uint32_t kSz = 1;
inline constexpr uint32_t kExpandSz = 2;
inline constexpr uint32_t kBinary = 3;
inline constexpr uint32_t kDword = 4;
inline constexpr uint32_t kMultiSz = 7;
}  // namespace regtype

// An open key: which root, the key's path as stored (its own letter case), what it may do.
struct RegKey {
  RegRoot root = RegRoot::CurrentUser;
  std::string path;  // components joined by '\'; '' is the root itself
  bool canQuery = false;
  bool canWrite = false;
  bool valid = false;
};

struct RegValue {
  uint32_t type = 0;
  std::string data;  // raw bytes as stored
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens `path` below `root`. With `create`, missing keys (and every ancestor) are made; a key
  // that has to be written or created needs a hive this user may write (else kAccessDenied).
  // kFileNotFound when the key does not exist and may not be created.
  virtual uint32_t OpenKey(RegRoot root, std::string_view path, uint32_t access, bool create,
                           RegKey& out) = 0;
  // Opens (creating when `create`) a sub-key of an open key.
  uint32_t OpenSubKey(const RegKey& parent, std::string_view name, uint32_t access, bool create,
                      RegKey& out) {
    if (!parent.valid) return regerr::kInvalidHandle;
    const std::string path =
        parent.path.empty() ? std::string(name) : parent.path + "\\" + std::string(name);
    return OpenKey(parent.root, path, access, create, out);
  }

  virtual uint32_t QueryValue(const RegKey& key, std::string_view name, RegValue& out) = 0;
  virtual uint32_t SetValue(const RegKey& key, std::string_view name, uint32_t type,
                            std::string_view data) = 0;
  // Direct sub-key names: ascending with ASCII letters folded to upper case, then by bytes.
  virtual uint32_t EnumSubKeys(const RegKey& key, std::vector<std::string>& names) = 0;
  // Value names in the order they were first written.
  virtual uint32_t EnumValues(const RegKey& key, std::vector<std::string>& names) = 0;
  virtual uint32_t DeleteValue(const RegKey& key, std::string_view name) = 0;
  // Deletes the sub-key `name` of `key` with all its sub-keys and values.
  virtual uint32_t DeleteKey(const RegKey& key, std::string_view name) = 0;
};

// A reader with a fixed buffer of `bufferSize` bytes takes a value when its data plus the
// terminating NUL fit.
inline bool RegValueFits(const RegValue& value, std::size_t bufferSize) {
  return value.data.size() < bufferSize;
}

// Typed reads on top of QueryValue. A string read takes REG_SZ and REG_EXPAND_SZ, stopping at an
// embedded NUL; any other type gives kInvalidParameter and leaves `out` alone.
inline uint32_t RegQueryString(Registry& registry, const RegKey& key, std::string_view name,
                               std::string& out) {
  RegValue value;
  const uint32_t rc = registry.QueryValue(key, name, value);
  if (rc != regerr::kSuccess) return rc;
  if (value.type != regtype::kSz && value.type != regtype::kExpandSz) {
    return regerr::kInvalidParameter;
  }
  out = value.data.substr(0, value.data.find('\0'));
  return regerr::kSuccess;
}

inline uint32_t RegQueryDword(Registry& registry, const RegKey& key, std::string_view name,
                              uint32_t& out) {
  RegValue value;
  const uint32_t rc = registry.QueryValue(key, name, value);
  if (rc != regerr::kSuccess) return rc;
  if (value.type != regtype::kDword || value.data.size() != 4) return regerr::kInvalidParameter;
  out = 0;
  for (int i = 3; i >= 0; --i) out = (out << 8) | static_cast<uint8_t>(value.data[i]);
  return regerr::kSuccess;
}

// Every string of a REG_MULTI_SZ value, up to the empty string that ends the list; a value
// missing its final NULs still yields the strings it holds.
inline uint32_t RegQueryMultiString(Registry& registry, const RegKey& key, std::string_view name,
                                    std::vector<std::string>& out) {
  RegValue value;
  const uint32_t rc = registry.QueryValue(key, name, value);
  if (rc != regerr::kSuccess) return rc;
  if (value.type != regtype::kMultiSz) return regerr::kInvalidParameter;
  out.clear();
  std::size_t pos = 0;
  while (pos < value.data.size()) {
    const std::size_t nul = value.data.find('\0', pos);
    const std::size_t end = nul == std::string::npos ? value.data.size() : nul;
    if (end == pos) break;
    out.push_back(value.data.substr(pos, end - pos));
    pos = end + 1;
  }
  return regerr::kSuccess;
}

inline uint32_t RegSetString(Registry& registry, const RegKey& key, std::string_view name,
                             std::string_view text, bool expandable = false) {
  return registry.SetValue(key, name, expandable ? regtype::kExpandSz : regtype::kSz, text);
}

}  // namespace tessaro
