// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

// Little-endian stores and loads; the caller has checked the bounds.
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Appends little-endian fields to a growing buffer.
class ByteWriter {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v) {
    uint8_t b[2];
    PutU16(b, v);
    bytes_.insert(bytes_.end(), b, b + 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    PutU32(b, v);
    bytes_.insert(bytes_.end(), b, b + 4);
  }
  void Bytes(std::span<const uint8_t> b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
  // A text as a 16-bit length and its bytes (cut at 65535 bytes).
  void Text(std::string_view s) {
    const size_t n = s.size() > 0xFFFF ? 0xFFFF : s.size();
    U16(static_cast<uint16_t>(n));
    bytes_.insert(bytes_.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
  }
  std::vector<uint8_t>& bytes() { return bytes_; }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads little-endian fields with bounds checks: once a read runs past the end, every later read
// yields zero and ok() is false. Parsers check ok() once at the end.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
  uint8_t U8() { return Need(1) ? data_[pos_++] : 0; }
  uint16_t U16() {
    if (!Need(2)) return 0;
    const uint16_t v = GetU16(&data_[pos_]);
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    if (!Need(4)) return 0;
    const uint32_t v = GetU32(&data_[pos_]);
    pos_ += 4;
    return v;
  }
  std::span<const uint8_t> Bytes(size_t n) {
    if (!Need(n)) return {};
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  std::string Text() {
    const uint16_t n = U16();
    auto b = Bytes(n);
    return std::string(b.begin(), b.end());
  }
  bool ok() const { return ok_; }
  size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  bool AtEnd() const { return ok_ && pos_ == data_.size(); }

 private:
  bool Need(size_t n) {
    if (!ok_ || data_.size() - pos_ < n) {
      ok_ = false;
      return false;
    }
    return true;
  }
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace tessaro
