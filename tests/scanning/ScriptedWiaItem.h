// SPDX-License-Identifier: GPL-2.0-or-later
// A WIA item with a scripted feeder for the session's and the forms' tests: it writes small BMP
// pages, runs dry after `sheets` pages, fails at `failAtPage`, and reports progress at 0, 50 and
// 99 percent of each page (`onPage` runs at 50).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "scanning/wia/WiaDevice.h"
#include "tests/scanning/PageFixtures.h"

namespace tessaro::testing {

// A scanner whose feeder holds `sheets` pages (a flatbed always has one).
class ScriptedItem : public wia::WiaItem {
 public:
  wia::HResult EnumFormats(std::vector<wia::ImageFormat>& formats) override {
    formats = {wia::ImageFormat::Bmp};
    if (offersJpeg) formats.push_back(wia::ImageFormat::Jpeg);
    return enumResult;
  }
  void WriteFormat(wia::ImageFormat f) override {
    if (f == wia::ImageFormat::Bmp || offersJpeg) format = f;
  }
  std::optional<wia::ImageFormat> ReadFormat() override { return format; }
  int32_t ReadResolution() override { return 150; }
  std::optional<uint32_t> DocumentHandlingSelect() override { return select; }
  uint32_t DocumentHandlingStatus() override { return wia::kFeedReady; }
  wia::HResult GetData(const std::string& file, wia::WiaDataCallback& callback) override {
    requested.push_back(std::filesystem::path(file).filename().string());
    const int page = static_cast<int>(requested.size());
    if (page == failAtPage) return wia::kErrorDeviceCommunication;
    if (page > sheets) return wia::kErrorPaperEmpty;
    for (int percent : {0, 50, 99}) {
      if (percent == 50 && onPage) onPage(page);
      if (callback.BandedDataCallback(wia::kMsgStatus, 0, percent) == wia::kFalse)
        return wia::kFalse;
    }
    const auto bytes = MakeBmp({.width = 16, .height = 12});
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return wia::kFail;
    const bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return ok ? wia::kOk : wia::kFail;
  }

  int sheets = 3;
  bool offersJpeg = false;
  int failAtPage = 0;
  uint32_t select = wia::kFeeder;
  wia::HResult enumResult = wia::kOk;
  std::optional<wia::ImageFormat> format;
  std::vector<std::string> requested;
  std::function<void(int page)> onPage;
};

}  // namespace tessaro::testing
