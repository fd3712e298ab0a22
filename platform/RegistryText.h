// SPDX-License-Identifier: GPL-2.0-or-later
// The two helpers every application setting passes through. Neither prints anything: a value
// that cannot be read leaves the caller's text alone; a write answers its result code, and the
// caller decides whether a refused write is worth telling (a limited user and the machine hive
// is expected).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Registry.h"

namespace tessaro {

// Reads a string value into `text`. With full access to the key: a missing value gives empty
// text, a value of another type leaves `text` as it was. When full access is refused (a limited
// user and the machine hive), the key is opened for query only and the value's bytes up to the
// first NUL are taken whatever its type, if they fit a 256-byte buffer.
void RegReadText(Registry& registry, RegRoot root, std::string_view keyPath,
                 std::string_view valueName, std::string& text);

// Writes `text` as REG_SZ (REG_EXPAND_SZ when `expandable`), creating the key path when
// `create`. When full access is refused, an existing key is tried once more for writing only.
// kSuccess, or the result code of the open or the write that failed.
uint32_t RegWriteText(Registry& registry, RegRoot root, std::string_view keyPath,
                      std::string_view valueName, bool expandable, bool create,
                      std::string_view text);

// A number stored as registry text: decimal digits with an optional sign, within 32 bits;
// anything else (spaces, hex, overflow) is no number.
std::optional<int32_t> ParseRegistryInt32(std::string_view text);

}  // namespace tessaro
