// SPDX-License-Identifier: GPL-2.0-or-later
// Scanners as the scan paths see them: the devices there are, their options by name, and frames
// read row by row. The Linux implementation speaks SANE (platform/linux/SaneScannerSource.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessaro {

// Every answer a scanner gives; kEndOfFrame closes a frame that arrived whole.
enum class ScanStatus {
  kGood,
  kUnsupported,
  kCancelled,
  kDeviceBusy,
  kInvalid,
  kEndOfFrame,
  kJammed,
  kNoDocuments,
  kCoverOpen,
  kIoError,
  kNoMemory,
  kAccessDenied,
  // The frame ended before the rows its parameters announced had arrived.
  kShortFrame,
};

// A short English text for messages.
const char* ScanStatusText(ScanStatus status);

struct ScannerDeviceInfo {
  std::string name;  // what Open takes, e.g. "test:0" or "net:127.0.0.3:test:0"
  std::string vendor;
  std::string model;
  std::string type;
};

enum class FrameFormat { kGray, kRgb, kRed, kGreen, kBlue };

struct FrameParameters {
  FrameFormat format = FrameFormat::kGray;
  bool lastFrame = true;
  int32_t bytesPerLine = 0;
  int32_t pixelsPerLine = 0;
  int32_t lines = 0;  // -1 when the length is unknown until the frame ends
  int32_t depth = 0;  // bits per sample
};

struct NumberRange {
  double min = 0;
  double max = 0;
  double step = 0;  // 0 when any value between is allowed
};

// One open scanner. Numbers are plain values whatever the option's own type (whole numbers or
// fixed point); geometry is in millimetres, resolution in dots per inch.
class ScannerDevice {
 public:
  virtual ~ScannerDevice() = default;

  virtual ScanStatus SetText(const std::string& option, const std::string& value) = 0;
  virtual ScanStatus SetNumber(const std::string& option, double value) = 0;
  virtual std::optional<std::string> GetText(const std::string& option) = 0;
  virtual std::optional<double> GetNumber(const std::string& option) = 0;
  // The values a text option takes, and the range of a numeric one (nullopt when it has none).
  virtual std::vector<std::string> Choices(const std::string& option) = 0;
  virtual std::optional<NumberRange> Range(const std::string& option) = 0;

  // Starts the next frame (the next sheet for a feeder: kNoDocuments once it is empty).
  virtual ScanStatus Start() = 0;
  // Before Start an estimate, after it the frame's own.
  virtual ScanStatus GetParameters(FrameParameters& parameters) = 0;
  // Up to buffer.size() bytes of the frame; kEndOfFrame with `got` 0 when it is over.
  virtual ScanStatus Read(std::span<uint8_t> buffer, std::size_t& got) = 0;
  // Ends the frame or the batch; the device is ready for a new Start afterwards.
  virtual void Cancel() = 0;
};

class ScannerSource {
 public:
  virtual ~ScannerSource() = default;
  virtual std::vector<ScannerDeviceInfo> Devices() = 0;
  // nullptr with the reason in `status` when the device cannot be opened.
  virtual std::unique_ptr<ScannerDevice> Open(const std::string& name, ScanStatus& status) = 0;
};

// Option names shared by the scan paths.
namespace scan_option {
inline constexpr char kSource[] = "source";
inline constexpr char kMode[] = "mode";
inline constexpr char kDepth[] = "depth";
inline constexpr char kResolution[] = "resolution";
inline constexpr char kTopLeftX[] = "tl-x";
inline constexpr char kTopLeftY[] = "tl-y";
inline constexpr char kBottomRightX[] = "br-x";
inline constexpr char kBottomRightY[] = "br-y";
}  // namespace scan_option

// Reads a started frame one row at a time, however the device cuts its reads.
class FrameRowReader {
 public:
  FrameRowReader(ScannerDevice& device, int32_t bytesPerLine);
  // The next row into `row` (bytesPerLine bytes): kGood, kEndOfFrame when the frame ended on a
  // row boundary, kShortFrame when it ended inside a row, or the device's failure.
  ScanStatus NextRow(std::vector<uint8_t>& row);

 private:
  ScannerDevice& device_;
  std::size_t bytesPerLine_;
};

}  // namespace tessaro
