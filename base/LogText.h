// SPDX-License-Identifier: GPL-2.0-or-later
// Text written into a log line. Names come from peers (computer names, server names, device
// names); a newline or escape sequence in one must not start a line or colour the terminal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaro {

// `text` with every byte below 0x20, 0x7F and the backslash written as \xNN (two upper-case hex
// digits) or \\, so that one log line stays one line and the escapes read back unambiguously.
// Bytes 0x80 and above pass as they are: UTF-8 names stay readable.
std::string LogText(std::string_view text);
// The text LogText wrote; nullopt for a stray backslash or a \x without two hex digits.
std::optional<std::string> ParseLogText(std::string_view escaped);

}  // namespace tessaro
