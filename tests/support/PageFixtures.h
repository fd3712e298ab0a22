// SPDX-License-Identifier: GPL-2.0-or-later
// Small page files made in the test: bitmaps of every layout the reader meets, and file helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tessaro::testing {

struct BmpSpec {
  int32_t width = 8;
  int32_t height = 6;
  uint16_t bitCount = 24;    // 1, 8, 24 or 32 here
  bool topDown = false;      // stored with a negative height
  bool greyPalette = false;  // for 1 and 8 bits: grey levels, else a colour ramp
};

// The colour of pixel (x, y), counted from the top-left, that MakeBmp paints: red at the top,
// blue at the bottom, so a flipped page shows.
uint8_t ExpectedRed(int32_t x, int32_t y, int32_t width, int32_t height);
uint8_t ExpectedBlue(int32_t x, int32_t y, int32_t width, int32_t height);

std::vector<uint8_t> MakeBmp(const BmpSpec& spec);

// Little-endian field access into a bitmap buffer.
uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t at);
void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
void PutU16(std::vector<uint8_t>& bytes, size_t at, uint16_t value);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A fresh folder removed with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  // The names of the files in it, hidden ones included.
  std::set<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

// Runs `body` in a forked child process and gives the text it returned, or nullopt when the child
// had not finished within `limit` (it is then killed) or died. A regression that blocks for ever
// (a page file that is a FIFO) so fails its test instead of stopping the whole suite.
std::optional<std::string> RunBounded(const std::function<std::string()>& body,
                                      std::chrono::milliseconds limit);

}  // namespace tessaro::testing
