// SPDX-License-Identifier: GPL-2.0-or-later
// A WIA item with a scripted feeder for the session's and the forms' tests: it writes small BMP
// pages, runs dry after `sheets` pages, fails at `failAtPage`, and reports progress at 0, 50 and
// 99 percent of each page (`onPage` runs at 50). And a transfer view that records what it shows.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scanning/wia/WiaDevice.h"
#include "scanning/wia/WiaTransfer.h"
#include "tests/support/PageFixtures.h"

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

// The transfer dialog without a window: the last file name and cancel label, the messages, whether
// "< Back" was offered (unset until the run is over), and each progress report to `onProgress`.
class RecordingView : public wia::WiaTransferView {
 public:
  void SetLocation(const std::string&) override {}
  void SetFileName(const std::string& name) override { fileName = name; }
  void SetScanProgress(int32_t percent, const std::string&) override {
    if (onProgress) onProgress(percent);
  }
  void ShowPreview(const std::string&) override {}
  void ShowCancelLabel(const std::string& text) override { cancelLabel = text; }
  void SetSaveProgress(int32_t, int32_t) override {}
  void Finished(bool back) override { backEnabled = back; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ProcessPendingEvents() override {}

  std::string fileName;
  std::string cancelLabel;
  std::optional<bool> backEnabled;
  std::vector<std::string> messages;
  std::function<void(int32_t percent)> onProgress;
};

}  // namespace tessaro::testing
