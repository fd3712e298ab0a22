// SPDX-License-Identifier: GPL-2.0-or-later
// The SANE scanner source against SANE's test backend, configured privately per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/linux/SaneScannerSource.h"
#include "tests/support/SaneTestBackend.h"

namespace tessaro {
namespace {

class SaneScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(backend_.ok());
    source_ = std::make_unique<SaneScannerSource>();
    ASSERT_TRUE(source_->ok());
  }

  // 10 dpi over 80 x 100 mm keeps a frame a few hundred bytes: for frames read to their end.
  std::unique_ptr<ScannerDevice> OpenSmall() { return OpenAt(10); }
  // A frame cut short must be larger than the test backend's pipe: its reader thread is then
  // blocked writing when the frame is cancelled. Cancelled on its way out instead, it can
  // deadlock inside the C library.
  std::unique_ptr<ScannerDevice> OpenLarge() { return OpenAt(300); }

  std::unique_ptr<ScannerDevice> OpenAt(int dpi) {
    ScanStatus status = ScanStatus::kIoError;
    auto device = source_->Open("test:0", status);
    EXPECT_EQ(status, ScanStatus::kGood);
    if (device) {
      EXPECT_EQ(device->SetNumber(scan_option::kResolution, dpi), ScanStatus::kGood);
    }
    return device;
  }

  // Reads the started frame to its end: the rows read and how it ended.
  static std::pair<int, ScanStatus> ReadFrame(ScannerDevice& device, int32_t bytesPerLine) {
    FrameRowReader reader(device, bytesPerLine);
    std::vector<uint8_t> row;
    int rows = 0;
    for (;;) {
      const ScanStatus status = reader.NextRow(row);
      if (status != ScanStatus::kGood) return {rows, status};
      ++rows;
    }
  }

  testing::SaneTestBackend backend_;
  std::unique_ptr<SaneScannerSource> source_;
};

TEST_F(SaneScannerTest, ListsTheConfiguredDevicesAndRefusesUnknownOnes) {
  std::vector<std::string> names;
  for (const auto& device : source_->Devices()) names.push_back(device.name);
  EXPECT_EQ(names, (std::vector<std::string>{"test:0", "test:1"}));

  ScanStatus status = ScanStatus::kGood;
  EXPECT_EQ(source_->Open("test:7", status), nullptr);
  EXPECT_NE(status, ScanStatus::kGood);
}

TEST_F(SaneScannerTest, SetsAndReadsOptionsByName) {
  auto device = OpenSmall();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->SetText(scan_option::kMode, "Color"), ScanStatus::kGood);
  EXPECT_EQ(device->GetText(scan_option::kMode), "Color");
  EXPECT_EQ(device->SetNumber(scan_option::kDepth, 16), ScanStatus::kGood);
  EXPECT_EQ(device->GetNumber(scan_option::kDepth), 16);
  // Resolution is fixed point in SANE, a whole number here.
  EXPECT_EQ(device->SetNumber(scan_option::kResolution, 150), ScanStatus::kGood);
  EXPECT_EQ(device->GetNumber(scan_option::kResolution), 150);
  const auto range = device->Range(scan_option::kResolution);
  ASSERT_TRUE(range);
  EXPECT_EQ(range->min, 1);
  EXPECT_EQ(range->max, 1200);
  EXPECT_EQ(device->SetNumber(scan_option::kBottomRightX, 50), ScanStatus::kGood);
  EXPECT_EQ(device->GetNumber(scan_option::kBottomRightX), 50);
  // Whole-number options reach past what a fixed-point one can hold.
  EXPECT_EQ(device->SetNumber("read-limit", 1), ScanStatus::kGood);
  EXPECT_EQ(device->SetNumber("read-limit-size", 65536), ScanStatus::kGood);
  EXPECT_EQ(device->GetNumber("read-limit-size"), 65536);
  EXPECT_EQ(device->SetNumber(scan_option::kResolution, 40000), ScanStatus::kInvalid);
  EXPECT_EQ(device->SetNumber("read-limit-size", 3e9), ScanStatus::kInvalid);

  const auto sources = device->Choices(scan_option::kSource);
  EXPECT_NE(std::find(sources.begin(), sources.end(), "Automatic Document Feeder"), sources.end());
  // Names the device does not have, and values of the wrong kind.
  EXPECT_EQ(device->SetText("no-such-option", "x"), ScanStatus::kUnsupported);
  EXPECT_EQ(device->SetNumber(scan_option::kMode, 3), ScanStatus::kUnsupported);
  EXPECT_EQ(device->GetNumber("no-such-option"), std::nullopt);
  EXPECT_NE(device->SetText(scan_option::kMode, "Infrared"), ScanStatus::kGood);
}

TEST_F(SaneScannerTest, ReadsAFrameInWholeRowsHoweverTheReadsAreCut) {
  auto device = OpenSmall();
  ASSERT_TRUE(device);
  ASSERT_EQ(device->SetText(scan_option::kMode, "Color"), ScanStatus::kGood);
  // Seven-byte reads never line up with a row.
  ASSERT_EQ(device->SetNumber("read-limit", 1), ScanStatus::kGood);
  ASSERT_EQ(device->SetNumber("read-limit-size", 7), ScanStatus::kGood);
  ASSERT_EQ(device->Start(), ScanStatus::kGood);
  FrameParameters parameters;
  ASSERT_EQ(device->GetParameters(parameters), ScanStatus::kGood);
  EXPECT_EQ(parameters.format, FrameFormat::kRgb);
  EXPECT_EQ(parameters.depth, 8);
  EXPECT_EQ(parameters.bytesPerLine, parameters.pixelsPerLine * 3);
  const auto [rows, end] = ReadFrame(*device, parameters.bytesPerLine);
  EXPECT_EQ(end, ScanStatus::kEndOfFrame);
  EXPECT_EQ(rows, parameters.lines);
}

TEST_F(SaneScannerTest, FeederRunsDryAfterItsPagesAndRefillsOnCancel) {
  auto device = OpenSmall();
  ASSERT_TRUE(device);
  ASSERT_EQ(device->SetText(scan_option::kSource, "Automatic Document Feeder"), ScanStatus::kGood);
  int pages = 0;
  ScanStatus started = ScanStatus::kGood;
  while ((started = device->Start()) == ScanStatus::kGood && pages < 20) {
    FrameParameters parameters;
    ASSERT_EQ(device->GetParameters(parameters), ScanStatus::kGood);
    EXPECT_EQ(ReadFrame(*device, parameters.bytesPerLine).second, ScanStatus::kEndOfFrame);
    ++pages;
  }
  EXPECT_EQ(started, ScanStatus::kNoDocuments);
  EXPECT_EQ(pages, 10);
  device->Cancel();
  EXPECT_EQ(device->Start(), ScanStatus::kGood);
}

TEST_F(SaneScannerTest, ReportsAJammedFeederWhileReading) {
  auto device = OpenLarge();
  ASSERT_TRUE(device);
  ASSERT_EQ(device->SetText(scan_option::kSource, "Automatic Document Feeder"), ScanStatus::kGood);
  ASSERT_EQ(device->SetText("read-return-value", "SANE_STATUS_JAMMED"), ScanStatus::kGood);
  ASSERT_EQ(device->Start(), ScanStatus::kGood);
  FrameParameters parameters;
  ASSERT_EQ(device->GetParameters(parameters), ScanStatus::kGood);
  EXPECT_EQ(ReadFrame(*device, parameters.bytesPerLine), std::make_pair(0, ScanStatus::kJammed));
}

TEST_F(SaneScannerTest, CancelEndsTheFrameAndAllowsANewOne) {
  auto device = OpenLarge();
  ASSERT_TRUE(device);
  ASSERT_EQ(device->Start(), ScanStatus::kGood);
  FrameParameters parameters;
  ASSERT_EQ(device->GetParameters(parameters), ScanStatus::kGood);
  FrameRowReader reader(*device, parameters.bytesPerLine);
  std::vector<uint8_t> row;
  ASSERT_EQ(reader.NextRow(row), ScanStatus::kGood);
  device->Cancel();
  EXPECT_EQ(reader.NextRow(row), ScanStatus::kCancelled);

  ASSERT_EQ(device->SetNumber(scan_option::kResolution, 10), ScanStatus::kGood);
  ASSERT_EQ(device->Start(), ScanStatus::kGood);
  ASSERT_EQ(device->GetParameters(parameters), ScanStatus::kGood);
  EXPECT_EQ(ReadFrame(*device, parameters.bytesPerLine),
            std::make_pair(parameters.lines, ScanStatus::kEndOfFrame));
}

TEST_F(SaneScannerTest, HandScannerFramesHaveNoLengthUntilTheyEnd) {
  auto device = OpenSmall();
  ASSERT_TRUE(device);
  ASSERT_EQ(device->SetNumber("hand-scanner", 1), ScanStatus::kGood);
  ASSERT_EQ(device->Start(), ScanStatus::kGood);
  FrameParameters parameters;
  ASSERT_EQ(device->GetParameters(parameters), ScanStatus::kGood);
  EXPECT_EQ(parameters.lines, -1);
  const auto [rows, end] = ReadFrame(*device, parameters.bytesPerLine);
  EXPECT_EQ(end, ScanStatus::kEndOfFrame);
  EXPECT_GT(rows, 0);
}

}  // namespace
}  // namespace tessaro
