// SPDX-License-Identifier: GPL-2.0-or-later
// The application around the TWAIN component in tests: an emulated Windows folder, a message
// loop the test turns by hand, and a record of the component's events.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "scanning/twain/GlobalBlock.h"
#include "scanning/twain/TwainManager.h"
#include "scanning/twain/TwainScanner.h"
#include "tests/support/PageFixtures.h"

namespace tessaro::testing {

class FakeTwainHost : public twain::TwainHost {
 public:
  uint32_t MainWindowHandle() override { return 0x2A0; }
  std::string WindowsDirectory() override { return windows.path().string(); }
  twain::MessageHandler ReplaceMessageHandler(twain::MessageHandler handler) override {
    return std::exchange(handler_, std::move(handler));
  }
  int ScreenCursor() override { return cursor; }
  void SetScreenCursor(int value) override { cursor = value; }

  // Delivers `count` messages through the installed handler; how many the source took.
  int Pump(int count = 4) {
    int taken = 0;
    for (int i = 0; i < count && handler_; ++i) {
      bool handled = false;
      handler_(twain::AppMessage{MainWindowHandle(), 0x0113}, handled);
      taken += handled ? 1 : 0;
    }
    return taken;
  }
  bool HasHandler() const { return static_cast<bool>(handler_); }

  TempFolder windows;
  int cursor = 0;

 private:
  twain::MessageHandler handler_;
};

// What the component raised, in order, with each page's DIB taken over.
struct EventLog {
  std::vector<std::string> events;
  std::vector<std::vector<uint8_t>> pages;  // the DIB bytes of every non-null page
  std::vector<bool> lastPageFlags;          // IsLastPage at each OnScanReady
  int nullPages = 0;

  void Attach(twain::TTwainScanner& scanner) {
    scanner.OnScanStart = [this](twain::TTwainScanner&) { events.push_back("start"); };
    scanner.OnScanReady = [this](twain::TTwainScanner& sender) {
      events.push_back("ready");
      lastPageFlags.push_back(sender.IsLastPage());
      twain::TW_HANDLE page = sender.GetBmpHandle();
      if (page == nullptr) {
        ++nullPages;
        return;
      }
      const auto* bytes = static_cast<const uint8_t*>(twain::GlobalBlockLock(page));
      pages.emplace_back(bytes, bytes + twain::GlobalBlockSize(page));
      twain::GlobalBlockFree(page);
    };
    scanner.OnScanCancel = [this](twain::TTwainScanner&) { events.push_back("cancel"); };
    scanner.OnScanClose = [this](twain::TTwainScanner&) { events.push_back("close"); };
  }
};

}  // namespace tessaro::testing
