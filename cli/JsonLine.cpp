// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/JsonLine.h"

namespace tessaro::cli {

namespace {
void AppendUnicodeEscape(std::string& out, uint8_t byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\u00";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}
}  // namespace

std::string JsonEscape(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      AppendUnicodeEscape(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

void JsonLine::Key(std::string_view key) {
  if (!body_.empty()) body_ += ',';
  body_ += '"';
  body_ += JsonEscape(key);
  body_ += "\":";
}

JsonLine& JsonLine::Text(std::string_view key, std::string_view value) {
  Key(key);
  body_ += '"';
  body_ += JsonEscape(value);
  body_ += '"';
  return *this;
}

JsonLine& JsonLine::Number(std::string_view key, int64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

}  // namespace tessaro::cli
