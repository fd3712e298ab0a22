// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/PageFixtures.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tessaro::testing {

uint8_t ExpectedRed(int32_t x, int32_t y, int32_t width, int32_t height) {
  (void)x;
  (void)width;
  return y < height / 2 ? 230 : 20;
}

uint8_t ExpectedBlue(int32_t x, int32_t y, int32_t width, int32_t height) {
  (void)x;
  (void)width;
  return y < height / 2 ? 20 : 230;
}

uint32_t GetU32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b.at(at)) | (static_cast<uint32_t>(b.at(at + 1)) << 8) |
         (static_cast<uint32_t>(b.at(at + 2)) << 16) | (static_cast<uint32_t>(b.at(at + 3)) << 24);
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b.at(at) = static_cast<uint8_t>(v);
  b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}

std::vector<uint8_t> MakeBmp(const BmpSpec& spec) {
  const size_t stride = (static_cast<size_t>(spec.width) * spec.bitCount + 31) / 32 * 4;
  const size_t paletteEntries = spec.bitCount <= 8 ? (size_t{1} << spec.bitCount) : 0;
  const size_t pixelOffset = 54 + paletteEntries * 4;
  std::vector<uint8_t> b(pixelOffset + stride * static_cast<size_t>(spec.height), 0);
  b[0] = 'B';
  b[1] = 'M';
  PutU32(b, 2, static_cast<uint32_t>(b.size()));
  PutU32(b, 10, static_cast<uint32_t>(pixelOffset));
  PutU32(b, 14, 40);
  PutU32(b, 18, static_cast<uint32_t>(spec.width));
  PutU32(b, 22, static_cast<uint32_t>(spec.topDown ? -spec.height : spec.height));
  PutU16(b, 26, 1);
  PutU16(b, 28, spec.bitCount);
  PutU32(b, 34, static_cast<uint32_t>(stride * static_cast<size_t>(spec.height)));
  // Palette: index 0 dark, the last index light; a colour ramp leans red or blue.
  for (size_t i = 0; i < paletteEntries; ++i) {
    const auto level = static_cast<uint8_t>(paletteEntries == 2 ? (i ? 230 : 20) : i);
    const size_t at = 54 + i * 4;
    b[at] = spec.greyPalette ? level : static_cast<uint8_t>(255 - level);  // blue
    b[at + 1] = level;                                                     // green
    b[at + 2] = level;                                                     // red
  }
  for (int32_t y = 0; y < spec.height; ++y) {
    const int32_t stored = spec.topDown ? y : spec.height - 1 - y;
    uint8_t* row = b.data() + pixelOffset + static_cast<size_t>(stored) * stride;
    for (int32_t x = 0; x < spec.width; ++x) {
      const uint8_t red = ExpectedRed(x, y, spec.width, spec.height);
      const uint8_t blue = ExpectedBlue(x, y, spec.width, spec.height);
      const auto ux = static_cast<size_t>(x);
      if (spec.bitCount == 24 || spec.bitCount == 32) {
        const size_t at = ux * (spec.bitCount / 8);
        row[at] = blue;
        row[at + 1] = 100;
        row[at + 2] = red;
      } else if (spec.bitCount == 8) {
        row[ux] = red;  // the palette index is the red level
      } else if (spec.bitCount == 1 && red > 128) {
        row[ux / 8] = static_cast<uint8_t>(row[ux / 8] | (0x80 >> (ux % 8)));
      }
    }
  }
  return b;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-scan-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::set<std::string> TempFolder::Names() const {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::optional<std::string> RunBounded(const std::function<std::string()>& body,
                                      std::chrono::milliseconds limit) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::close(ends[0]);
    int code = 0;
    try {
      const std::string text = body();
      for (size_t at = 0; at < text.size();) {
        const ssize_t n = ::write(ends[1], text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          code = 3;
          break;
        }
        at += static_cast<size_t>(n);
      }
    } catch (...) {
      code = 2;
    }
    ::_exit(code);  // no test teardown, no destructors of the parent's objects
  }
  ::close(ends[1]);
  std::string text;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{ends[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[4096];
    const ssize_t n = ::read(ends[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ended = true;  // the child closed its end: it is exiting
      break;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(ends[0]);
  if (!ended) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

}  // namespace tessaro::testing
