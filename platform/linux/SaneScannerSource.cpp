// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/SaneScannerSource.h"

#include <sane/sane.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tessaro {
namespace {

// SANE's net backend writes to its socket without MSG_NOSIGNAL: a scan server that goes away
// mid-page would end the whole program with SIGPIPE instead of failing the page. A handler the
// program installed itself is left alone.
void IgnoreBrokenPipes() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
  }
}

// SANE starts once per process and stops when the process ends: some backends list no device
// after a stop and a second start in the same process.
bool StartSaneOnce() {
  static const bool started = [] {
    IgnoreBrokenPipes();
    SANE_Int version = 0;
    if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) return false;
    std::atexit(sane_exit);
    return true;
  }();
  return started;
}

ScanStatus FromSane(SANE_Status status) {
  switch (status) {
    case SANE_STATUS_GOOD: return ScanStatus::kGood;
    case SANE_STATUS_UNSUPPORTED: return ScanStatus::kUnsupported;
    case SANE_STATUS_CANCELLED: return ScanStatus::kCancelled;
    case SANE_STATUS_DEVICE_BUSY: return ScanStatus::kDeviceBusy;
    case SANE_STATUS_INVAL: return ScanStatus::kInvalid;
    case SANE_STATUS_EOF: return ScanStatus::kEndOfFrame;
    case SANE_STATUS_JAMMED: return ScanStatus::kJammed;
    case SANE_STATUS_NO_DOCS: return ScanStatus::kNoDocuments;
    case SANE_STATUS_COVER_OPEN: return ScanStatus::kCoverOpen;
    case SANE_STATUS_IO_ERROR: return ScanStatus::kIoError;
    case SANE_STATUS_NO_MEM: return ScanStatus::kNoMemory;
    case SANE_STATUS_ACCESS_DENIED: return ScanStatus::kAccessDenied;
  }
  // A backend newer than these headers: treat the unknown answer as a device failure.
  return ScanStatus::kIoError;
}

FrameFormat FromSane(SANE_Frame frame) {
  switch (frame) {
    case SANE_FRAME_GRAY: return FrameFormat::kGray;
    case SANE_FRAME_RGB: return FrameFormat::kRgb;
    case SANE_FRAME_RED: return FrameFormat::kRed;
    case SANE_FRAME_GREEN: return FrameFormat::kGreen;
    case SANE_FRAME_BLUE: return FrameFormat::kBlue;
  }
  return FrameFormat::kGray;
}

double ToNumber(const SANE_Option_Descriptor& option, SANE_Word word) {
  return option.type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

SANE_Word FromNumber(const SANE_Option_Descriptor& option, double value) {
  if (option.type == SANE_TYPE_FIXED) return SANE_FIX(value);
  return static_cast<SANE_Word>(std::lround(value));
}

// A fixed-point word holds 16 integer bits, a whole-number word 31.
double LargestNumber(const SANE_Option_Descriptor& option) {
  return option.type == SANE_TYPE_FIXED ? 32767.0 : 2147483647.0;
}

bool IsNumeric(const SANE_Option_Descriptor& option) {
  return option.type == SANE_TYPE_INT || option.type == SANE_TYPE_FIXED ||
         option.type == SANE_TYPE_BOOL;
}

class SaneDevice : public ScannerDevice {
 public:
  explicit SaneDevice(SANE_Handle handle) : handle_(handle) {}
  ~SaneDevice() override {
    sane_cancel(handle_);
    sane_close(handle_);
  }

  ScanStatus SetText(const std::string& name, const std::string& value) override {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = Find(name, index);
    if (option == nullptr || option->type != SANE_TYPE_STRING) return ScanStatus::kUnsupported;
    if (!SANE_OPTION_IS_SETTABLE(option->cap) || !SANE_OPTION_IS_ACTIVE(option->cap)) {
      return ScanStatus::kUnsupported;
    }
    if (value.size() + 1 > static_cast<std::size_t>(option->size)) return ScanStatus::kInvalid;
    std::vector<char> buffer(static_cast<std::size_t>(option->size), '\0');
    std::memcpy(buffer.data(), value.data(), value.size());
    return FromSane(
        sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, buffer.data(), nullptr));
  }

  ScanStatus SetNumber(const std::string& name, double value) override {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = Find(name, index);
    if (option == nullptr || !IsNumeric(*option)) return ScanStatus::kUnsupported;
    if (!SANE_OPTION_IS_SETTABLE(option->cap) || !SANE_OPTION_IS_ACTIVE(option->cap)) {
      return ScanStatus::kUnsupported;
    }
    if (!std::isfinite(value) || std::fabs(value) > LargestNumber(*option)) {
      return ScanStatus::kInvalid;
    }
    std::vector<SANE_Word> words(WordCount(*option), FromNumber(*option, value));
    return FromSane(
        sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, words.data(), nullptr));
  }

  std::optional<std::string> GetText(const std::string& name) override {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = Find(name, index);
    if (option == nullptr || option->type != SANE_TYPE_STRING || option->size <= 0) {
      return std::nullopt;
    }
    std::vector<char> buffer(static_cast<std::size_t>(option->size) + 1, '\0');
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) !=
        SANE_STATUS_GOOD) {
      return std::nullopt;
    }
    return std::string(buffer.data());
  }

  std::optional<double> GetNumber(const std::string& name) override {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = Find(name, index);
    if (option == nullptr || !IsNumeric(*option) || !SANE_OPTION_IS_ACTIVE(option->cap)) {
      return std::nullopt;
    }
    std::vector<SANE_Word> words(WordCount(*option), 0);
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, words.data(), nullptr) !=
        SANE_STATUS_GOOD) {
      return std::nullopt;
    }
    return ToNumber(*option, words[0]);
  }

  std::vector<std::string> Choices(const std::string& name) override {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = Find(name, index);
    std::vector<std::string> choices;
    if (option == nullptr || option->constraint_type != SANE_CONSTRAINT_STRING_LIST) {
      return choices;
    }
    for (const SANE_String_Const* item = option->constraint.string_list; *item != nullptr; ++item) {
      choices.emplace_back(*item);
    }
    return choices;
  }

  std::optional<NumberRange> Range(const std::string& name) override {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* option = Find(name, index);
    if (option == nullptr || !IsNumeric(*option)) return std::nullopt;
    if (option->constraint_type == SANE_CONSTRAINT_RANGE) {
      const SANE_Range& range = *option->constraint.range;
      return NumberRange{ToNumber(*option, range.min), ToNumber(*option, range.max),
                         ToNumber(*option, range.quant)};
    }
    if (option->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
      const SANE_Word* list = option->constraint.word_list;
      if (list[0] < 1) return std::nullopt;
      NumberRange range{ToNumber(*option, list[1]), ToNumber(*option, list[1]), 0};
      for (SANE_Word i = 2; i <= list[0]; ++i) {
        range.min = std::min(range.min, ToNumber(*option, list[i]));
        range.max = std::max(range.max, ToNumber(*option, list[i]));
      }
      return range;
    }
    return std::nullopt;
  }

  ScanStatus Start() override { return Noted(FromSane(sane_start(handle_))); }

  ScanStatus GetParameters(FrameParameters& parameters) override {
    SANE_Parameters sane{};
    const SANE_Status status = sane_get_parameters(handle_, &sane);
    if (status != SANE_STATUS_GOOD) return Noted(FromSane(status));
    parameters.format = FromSane(sane.format);
    parameters.lastFrame = sane.last_frame != 0;
    parameters.bytesPerLine = sane.bytes_per_line;
    parameters.pixelsPerLine = sane.pixels_per_line;
    parameters.lines = sane.lines;
    parameters.depth = sane.depth;
    return ScanStatus::kGood;
  }

  ScanStatus Read(std::span<uint8_t> buffer, std::size_t& got) override {
    got = 0;
    SANE_Int length = 0;
    const auto wanted = static_cast<SANE_Int>(std::min<std::size_t>(buffer.size(), 1 << 20));
    const SANE_Status status = sane_read(handle_, buffer.data(), wanted, &length);
    if (status == SANE_STATUS_IO_ERROR) gone_ = true;
    if (status == SANE_STATUS_GOOD && length > 0 && length <= wanted) {
      got = static_cast<std::size_t>(length);
    }
    return FromSane(status);
  }

  void Cancel() override { sane_cancel(handle_); }

 private:
  // After an I/O error the device (or the server it is reached through) is taken as gone. Its
  // options are no longer asked: SANE's net client, asked over a dead connection, frees memory
  // that is not its own.
  ScanStatus Noted(ScanStatus status) {
    if (status == ScanStatus::kIoError) gone_ = true;
    return status;
  }

  const SANE_Option_Descriptor* Find(const std::string& name, SANE_Int& index) {
    if (gone_) return nullptr;
    // Option 0 is the number of options; the list can change when other options are set.
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* option = sane_get_option_descriptor(handle_, i);
      if (option == nullptr) return nullptr;
      if (option->name != nullptr && name == option->name) {
        index = i;
        return option;
      }
    }
  }

  static std::size_t WordCount(const SANE_Option_Descriptor& option) {
    const auto count =
        static_cast<std::size_t>(std::max<SANE_Int>(option.size, 0)) / sizeof(SANE_Word);
    return std::max<std::size_t>(count, 1);
  }

  SANE_Handle handle_;
  bool gone_ = false;
};

}  // namespace

SaneScannerSource::SaneScannerSource() : ok_(StartSaneOnce()) {}

SaneScannerSource::~SaneScannerSource() = default;

std::vector<ScannerDeviceInfo> SaneScannerSource::Devices() {
  std::vector<ScannerDeviceInfo> devices;
  const SANE_Device** list = nullptr;
  if (!ok_ || sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) {
    return devices;
  }
  auto text = [](SANE_String_Const value) { return std::string(value != nullptr ? value : ""); };
  for (const SANE_Device** device = list; *device != nullptr; ++device) {
    devices.push_back({text((*device)->name), text((*device)->vendor), text((*device)->model),
                       text((*device)->type)});
  }
  return devices;
}

std::unique_ptr<ScannerDevice> SaneScannerSource::Open(const std::string& name,
                                                       ScanStatus& status) {
  if (!ok_) {
    status = ScanStatus::kIoError;
    return nullptr;
  }
  SANE_Handle handle = nullptr;
  const SANE_Status opened = sane_open(name.c_str(), &handle);
  status = FromSane(opened);
  if (opened != SANE_STATUS_GOOD || handle == nullptr) {
    if (status == ScanStatus::kGood) status = ScanStatus::kIoError;
    return nullptr;
  }
  return std::make_unique<SaneDevice>(handle);
}

}  // namespace tessaro
