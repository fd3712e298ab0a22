// SPDX-License-Identifier: GPL-2.0-or-later
// The TWAIN component over SANE's test backend: each test device is a data source, and its
// options come from the source's dialog, here scripted.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/linux/SaneScannerSource.h"
#include "tests/scanning/twain/TwainFixture.h"
#include "tests/support/SaneTestBackend.h"

namespace tessaro::twain {
namespace {

using testing::EventLog;

// Sets the device's options as a user would in the source's own dialog, then starts.
class OptionsDialog : public SourceDialog {
 public:
  std::function<void(ScannerDevice&)> set;
  bool Run(const std::string&, ScannerDevice& device) override {
    if (set) set(device);
    return true;
  }
};

class TwainSaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(backend_.ok());
    manager_ = std::make_unique<TwainManager>(sane_, host_.windows.path().string());
    manager_->SetSourceDialog(&dialog_);
    TwainManager::Install(manager_.get());
  }
  void TearDown() override { TwainManager::Install(nullptr); }

  // One scan of test:0 with `options` set in the dialog; the events it raised.
  EventLog ScanWith(std::function<void(ScannerDevice&)> options) {
    dialog_.set = [options](ScannerDevice& device) {
      // 25 dpi keeps pages small; a page cut short still fills the backend's pipe.
      EXPECT_EQ(device.SetNumber(scan_option::kResolution, 25), ScanStatus::kGood);
      options(device);
    };
    EventLog log;
    TTwainScanner twain(host_);
    log.Attach(twain);
    twain.InitTWAIN();
    EXPECT_EQ(twain.Acquire(nullptr), TWRC_SUCCESS);
    for (int i = 0; i < 20 && twain.IsDataSourceOpen(); ++i) host_.Pump(1);
    EXPECT_FALSE(twain.IsDataSourceOpen());
    condition_ = twain.LastTransferCondition();
    return log;
  }

  testing::SaneTestBackend backend_;
  SaneScannerSource sane_;
  testing::FakeTwainHost host_;
  OptionsDialog dialog_;
  std::unique_ptr<TwainManager> manager_;
  TW_UINT16 condition_ = TWCC_SUCCESS;
};

TEST_F(TwainSaneTest, EveryTestDeviceIsADataSource) {
  TTwainScanner twain(host_);
  twain.InitTWAIN();
  TW_IDENTITY identity{};
  std::vector<std::string> names;
  for (TW_UINT16 msg = MSG_GETFIRST; twain.CallDataSourceManager(nullptr, DG_CONTROL, DAT_IDENTITY,
                                                                 msg, &identity) == TWRC_SUCCESS;
       msg = MSG_GETNEXT) {
    names.emplace_back(identity.ProductName);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"test:0", "test:1"}));
}

TEST_F(TwainSaneTest, AFlatbedColourPageArrivesAsA24BitDib) {
  const EventLog log = ScanWith([](ScannerDevice& device) {
    EXPECT_EQ(device.SetText(scan_option::kMode, "Color"), ScanStatus::kGood);
  });
  EXPECT_EQ(log.events, (std::vector<std::string>{"start", "ready"}));
  ASSERT_EQ(log.pages.size(), 1u);
  const auto& dib = log.pages[0];
  int32_t width = 0, height = 0;
  std::memcpy(&width, dib.data() + 4, 4);
  std::memcpy(&height, dib.data() + 8, 4);
  EXPECT_EQ(dib[14], 24);
  // 80 x 100 mm at 25 dpi.
  EXPECT_EQ(width, 78);
  EXPECT_EQ(height, 98);
  EXPECT_EQ(dib.size(), 40u + ((78u * 3 + 3) / 4 * 4) * 98);
}

TEST_F(TwainSaneTest, TheFeederRunsDryAfterItsTenSheets) {
  const EventLog log = ScanWith([](ScannerDevice& device) {
    EXPECT_EQ(device.SetText(scan_option::kSource, "Automatic Document Feeder"), ScanStatus::kGood);
  });
  EXPECT_EQ(log.pages.size(), 10u);
  std::vector<bool> lastOnly(10, false);
  lastOnly.back() = true;
  EXPECT_EQ(log.lastPageFlags, lastOnly);
  EXPECT_EQ(log.events.back(), "ready");
}

TEST_F(TwainSaneTest, AJammedOrCancelledPageEndsTheScanWithoutAPage) {
  const std::pair<const char*, TW_UINT16> cases[] = {{"SANE_STATUS_JAMMED", TWCC_PAPERJAM},
                                                     {"SANE_STATUS_CANCELLED", TWCC_SUCCESS},
                                                     {"SANE_STATUS_IO_ERROR", TWCC_BUMMER}};
  for (const auto& [status, condition] : cases) {
    SCOPED_TRACE(status);
    const EventLog log = ScanWith([status = status](ScannerDevice& device) {
      EXPECT_EQ(device.SetNumber(scan_option::kResolution, 300), ScanStatus::kGood);
      EXPECT_EQ(device.SetText("read-return-value", status), ScanStatus::kGood);
    });
    EXPECT_EQ(log.events, (std::vector<std::string>{"start", "ready", "cancel"}));
    EXPECT_EQ(log.nullPages, 1);
    EXPECT_EQ(condition_, condition);
  }
}

}  // namespace
}  // namespace tessaro::twain
