// SPDX-License-Identifier: GPL-2.0-or-later
// A scanner that sends exactly what a test scripted: pages with their parameters and bytes, and
// the faults no real backend produces on demand (short pages, absurd parameters, a device gone
// in the middle of a page).
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ScannerSource.h"

namespace tessaro::testing {

struct FakePage {
  FrameParameters frame;
  std::vector<uint8_t> data;
  // Once `data` is sent, this ends the page (kEndOfFrame for a good one).
  ScanStatus end = ScanStatus::kEndOfFrame;
};

// Grey 8-bit page of width × lines with pixel (x, y) = x + y.
inline FakePage GreyPage(int32_t width, int32_t lines) {
  FakePage page;
  page.frame = {FrameFormat::kGray, true, width, width, lines, 8};
  for (int32_t y = 0; y < lines; ++y) {
    for (int32_t x = 0; x < width; ++x) page.data.push_back(static_cast<uint8_t>(x + y));
  }
  return page;
}

struct FakeScript {
  std::vector<FakePage> pages;  // a flatbed scans pages[0]; a feeder sends them in turn
  bool feeder = false;
  double resolution = 300;
  double maxResolution = 1e9;  // higher resolutions are brought down to this one
  int starts = 0;
  int cancels = 0;
};

class FakeDevice : public ScannerDevice {
 public:
  explicit FakeDevice(FakeScript& script) : script_(script) {}
  ScanStatus SetText(const std::string& option, const std::string& value) override {
    if (option != scan_option::kSource) return ScanStatus::kUnsupported;
    script_.feeder = value == "Automatic Document Feeder";
    return ScanStatus::kGood;
  }
  ScanStatus SetNumber(const std::string& option, double value) override {
    if (option != scan_option::kResolution) return ScanStatus::kUnsupported;
    script_.resolution = std::min(value, script_.maxResolution);
    return ScanStatus::kGood;
  }
  std::optional<std::string> GetText(const std::string& option) override {
    if (option != scan_option::kSource) return std::nullopt;
    return script_.feeder ? "Automatic Document Feeder" : "Flatbed";
  }
  std::optional<double> GetNumber(const std::string& option) override {
    if (option != scan_option::kResolution) return std::nullopt;
    return script_.resolution;
  }
  std::vector<std::string> Choices(const std::string&) override { return {}; }
  std::optional<NumberRange> Range(const std::string&) override { return std::nullopt; }
  ScanStatus Start() override {
    ++script_.starts;
    if (next_ >= script_.pages.size() || (!script_.feeder && next_ > 0)) {
      return ScanStatus::kNoDocuments;
    }
    current_ = next_++;
    sent_ = 0;
    return ScanStatus::kGood;
  }
  ScanStatus GetParameters(FrameParameters& parameters) override {
    const std::size_t page = current_.value_or(std::min(next_, script_.pages.size() - 1));
    parameters = script_.pages.at(page).frame;
    return ScanStatus::kGood;
  }
  ScanStatus Read(std::span<uint8_t> buffer, std::size_t& got) override {
    got = 0;
    if (!current_) return ScanStatus::kInvalid;
    const FakePage& page = script_.pages[*current_];
    if (sent_ == page.data.size()) return page.end;
    // Odd-sized pieces, as a network would cut them.
    got = std::min({buffer.size(), page.data.size() - sent_, std::size_t{37}});
    std::copy_n(page.data.begin() + static_cast<std::ptrdiff_t>(sent_), got, buffer.begin());
    sent_ += got;
    return ScanStatus::kGood;
  }
  void Cancel() override {
    ++script_.cancels;
    current_.reset();
    next_ = 0;
  }

 private:
  FakeScript& script_;
  std::size_t next_ = 0;
  std::optional<std::size_t> current_;
  std::size_t sent_ = 0;
};

class FakeScannerSource : public ScannerSource {
 public:
  std::map<std::string, FakeScript> scripts;  // by device name

  std::vector<ScannerDeviceInfo> Devices() override {
    std::vector<ScannerDeviceInfo> devices;
    for (const auto& [name, script] : scripts)
      devices.push_back({name, "Fake", "Scanner", "flatbed"});
    return devices;
  }
  std::unique_ptr<ScannerDevice> Open(const std::string& name, ScanStatus& status) override {
    const auto found = scripts.find(name);
    status = found == scripts.end() ? ScanStatus::kInvalid : ScanStatus::kGood;
    return found == scripts.end() ? nullptr : std::make_unique<FakeDevice>(found->second);
  }
};

}  // namespace tessaro::testing
