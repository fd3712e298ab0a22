// SPDX-License-Identifier: GPL-2.0-or-later
// Whether a text is one JSON document as RFC 8259 has it, in well-formed UTF-8: what a browser's
// strict parser takes. Written apart from the code that makes our JSON, so the two cannot share a
// mistake.
#pragma once

#include <cstddef>
#include <string_view>

namespace tessaro::testing {

class JsonCheck {
 public:
  static bool IsDocument(std::string_view text) {
    JsonCheck c(text);
    c.Space();
    if (!c.Value(0)) return false;
    c.Space();
    return c.pos_ == text.size();
  }

 private:
  static constexpr int kMaxDepth = 256;

  explicit JsonCheck(std::string_view text) : t_(text) {}

  bool AtEnd() const { return pos_ >= t_.size(); }
  unsigned char Peek() const { return AtEnd() ? 0 : static_cast<unsigned char>(t_[pos_]); }
  bool Take(char c) {
    if (AtEnd() || t_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  void Space() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
      ++pos_;
  }
  bool Word(std::string_view w) {
    if (t_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  bool Value(int depth) {
    if (depth > kMaxDepth) return false;
    switch (Peek()) {
      case '{': return Object(depth);
      case '[': return Array(depth);
      case '"': return String();
      case 't': return Word("true");
      case 'f': return Word("false");
      case 'n': return Word("null");
      default: return Number();
    }
  }

  bool Object(int depth) {
    Take('{');
    Space();
    if (Take('}')) return true;
    for (;;) {
      Space();
      if (Peek() != '"' || !String()) return false;
      Space();
      if (!Take(':')) return false;
      Space();
      if (!Value(depth + 1)) return false;
      Space();
      if (Take('}')) return true;
      if (!Take(',')) return false;
    }
  }

  bool Array(int depth) {
    Take('[');
    Space();
    if (Take(']')) return true;
    for (;;) {
      Space();
      if (!Value(depth + 1)) return false;
      Space();
      if (Take(']')) return true;
      if (!Take(',')) return false;
    }
  }

  bool Digits() {
    const size_t start = pos_;
    while (Peek() >= '0' && Peek() <= '9') ++pos_;
    return pos_ > start;
  }

  bool Number() {
    Take('-');
    if (Take('0')) {
      if (Peek() >= '0' && Peek() <= '9') return false;  // no leading zeros
    } else if (!Digits()) {
      return false;
    }
    if (Take('.') && !Digits()) return false;
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (!Take('+')) Take('-');
      if (!Digits()) return false;
    }
    return true;
  }

  static bool IsHex(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }

  bool String() {
    Take('"');
    for (;;) {
      if (AtEnd()) return false;
      const unsigned char c = Peek();
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        ++pos_;
        const unsigned char e = Peek();
        ++pos_;
        if (e == 'u') {
          for (int i = 0; i < 4; ++i, ++pos_)
            if (!IsHex(Peek())) return false;
        } else if (std::string_view("\"\\/bfnrt").find(static_cast<char>(e)) ==
                       std::string_view::npos ||
                   e == 0) {
          return false;
        }
        continue;
      }
      if (c < 0x80) {
        ++pos_;
        continue;
      }
      if (!Utf8Sequence()) return false;
    }
  }

  // One well-formed multi-byte UTF-8 sequence (RFC 3629, table 3-7 of the Unicode standard).
  bool Utf8Sequence() {
    const unsigned char lead = Peek();
    int more = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
    } else if (lead == 0xE0) {
      more = 2, low = 0xA0;
    } else if (lead == 0xED) {
      more = 2, high = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
      more = 2;
    } else if (lead == 0xF0) {
      more = 3, low = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
      more = 3;
    } else if (lead == 0xF4) {
      more = 3, high = 0x8F;
    } else {
      return false;
    }
    ++pos_;
    for (int i = 0; i < more; ++i, ++pos_) {
      const unsigned char b = Peek();
      if (AtEnd() || b < (i == 0 ? low : 0x80) || b > (i == 0 ? high : 0xBF)) return false;
    }
    return true;
  }

  std::string_view t_;
  size_t pos_ = 0;
};

}  // namespace tessaro::testing
