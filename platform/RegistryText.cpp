// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/RegistryText.h"
#include "base/NumberText.h"

#include <charconv>

namespace tessaro {

namespace {

// The query-only read uses a fixed buffer of this size, its terminating NUL included.
constexpr std::size_t kQueryBufferBytes = 256;

}  // namespace

void RegReadText(Registry& registry, RegRoot root, std::string_view keyPath,
                 std::string_view valueName, std::string& text) {
  RegKey key;
  if (registry.OpenKey(root, keyPath, regaccess::kAllAccess, false, key) == regerr::kSuccess) {
    std::string read;
    const uint32_t rc = RegQueryString(registry, key, valueName, read);
    if (rc == regerr::kSuccess) {
      text = std::move(read);
    } else if (rc == regerr::kFileNotFound) {
      text.clear();
    }
    return;
  }
  if (registry.OpenKey(root, keyPath, regaccess::kQueryValue, false, key) != regerr::kSuccess) {
    return;
  }
  RegValue value;
  if (registry.QueryValue(key, valueName, value) != regerr::kSuccess) return;
  if (!RegValueFits(value, kQueryBufferBytes)) return;
  text = value.data.substr(0, value.data.find('\0'));
}

uint32_t RegWriteText(Registry& registry, RegRoot root, std::string_view keyPath,
                      std::string_view valueName, bool expandable, bool create,
                      std::string_view text) {
  RegKey key;
  const uint32_t full = registry.OpenKey(root, keyPath, regaccess::kAllAccess, create, key);
  if (full != regerr::kSuccess &&
      registry.OpenKey(root, keyPath, regaccess::kWrite, false, key) != regerr::kSuccess) {
    return full;
  }
  return RegSetString(registry, key, valueName, text, expandable);
}

std::optional<int32_t> ParseRegistryInt32(std::string_view text) {
  return ParseNumber<int32_t>(text, 10, PlusSign::Allowed);
}

}  // namespace tessaro
