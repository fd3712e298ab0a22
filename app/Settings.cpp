// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/Settings.h"

#include <algorithm>
#include <optional>

#include "base/ComputerName.h"
#include "platform/RegistryText.h"

namespace tessaro {

namespace {

constexpr int32_t kMinCheckDays = 60;
constexpr int32_t kMaxCheckDays = 365;

// Decimal text with an optional sign and nothing else, within 32 bits.
std::optional<int32_t> ParsePositive(std::string_view text) {
  const auto value = ParseRegistryInt32(text);
  if (!value || *value <= 0) return std::nullopt;
  return value;
}

std::string ReadUserText(Registry& registry, const char* name) {
  std::string text;
  RegReadText(registry, RegRoot::CurrentUser, AppRegistryKey, name, text);
  return text;
}

void WriteUserText(Registry& registry, const char* name, std::string_view text) {
  RegWriteText(registry, RegRoot::CurrentUser, AppRegistryKey, name, false, true, text);
}

void WriteUserNumber(Registry& registry, const char* name, int32_t value) {
  WriteUserText(registry, name, std::to_string(value));
}

bool IsStorableTop(int32_t top) { return top > 0 && top < kMiniParkTop; }

// Half the free room, rounded toward zero; a stored size larger than any screen must not wrap.
int32_t CentredOffset(int32_t low, int32_t high, int32_t size) {
  const int64_t offset = (int64_t{high} - low - size) / 2;
  return static_cast<int32_t>(std::clamp<int64_t>(offset, INT32_MIN, INT32_MAX));
}

// A stored size replaces the current one when positive; an empty text stores the current one.
void LoadSize(Registry& registry, const char* name, const std::string& text, int32_t& size) {
  if (text.empty()) {
    WriteUserNumber(registry, name, size);
  } else if (const auto value = ParsePositive(text)) {
    size = *value;
  }
}

// Anything but "0" switches the notice on, and is stored as "1".
bool LoadSwitch(Registry& registry, const char* name) {
  if (ReadUserText(registry, name) == "0") return false;
  WriteUserText(registry, name, "1");
  return true;
}

void LoadPlacement(Registry& registry, const WorkArea& workArea, MainWindowPlacement& window,
                   MainFormSettings& settings) {
  const std::string width = ReadUserText(registry, settingname::kWidth);
  const std::string height = ReadUserText(registry, settingname::kHeight);
  const std::string top = ReadUserText(registry, settingname::kTop);
  const std::string left = ReadUserText(registry, settingname::kLeft);
  const std::string state = ReadUserText(registry, settingname::kWindowState);

  LoadSize(registry, settingname::kWidth, width, window.width);
  LoadSize(registry, settingname::kHeight, height, window.height);

  // The work area's own offsets are left out: the window is centred as if it began at 0,0.
  window.top = CentredOffset(workArea.top, workArea.bottom, window.height);
  window.left = CentredOffset(workArea.left, workArea.right, window.width);
  settings.RestoreTop = window.top;

  if (top.empty()) {
    if (IsStorableTop(window.top)) WriteUserNumber(registry, settingname::kTop, window.top);
  } else if (const auto value = ParsePositive(top)) {
    settings.RestoreTop = *value;
    window.top = *value;
  }

  if (left.empty()) {
    WriteUserNumber(registry, settingname::kLeft, window.left);
  } else if (const auto value = ParsePositive(left)) {
    window.left = *value;
  }

  window.positioning = FormPositioning::Designed;

  if (state.empty()) {
    WriteUserNumber(registry, settingname::kWindowState, 0);
  } else if (const auto value = ParsePositive(state)) {
    // Only the states a window has; a hand-edited number beyond them is ignored.
    if (*value == static_cast<int32_t>(WindowState::Minimized) ||
        *value == static_cast<int32_t>(WindowState::Maximized)) {
      window.state = static_cast<WindowState>(*value);
    }
  }
}

void LoadNotifications(Registry& registry, MainFormSettings& settings) {
  // A value rewritten below gets the default, not what the form held before.
  settings.NotifyCheckDays = kMinCheckDays;
  settings.NotifyLastDate = 0;

  settings.NotifyDeviceDetect = LoadSwitch(registry, settingname::kNotifyDeviceDetect);
  settings.NotifyNewVersion = LoadSwitch(registry, settingname::kNotifyNewVersion);

  const auto days = ParseRegistryInt32(ReadUserText(registry, settingname::kNotifyCheckDays));
  if (days && *days >= kMinCheckDays && *days <= kMaxCheckDays) {
    settings.NotifyCheckDays = *days;
  } else {
    WriteUserNumber(registry, settingname::kNotifyCheckDays, settings.NotifyCheckDays);
  }

  if (const auto last = ParseRegistryInt32(ReadUserText(registry, settingname::kNotifyLastDate))) {
    settings.NotifyLastDate = *last;
  } else {
    WriteUserNumber(registry, settingname::kNotifyLastDate, settings.NotifyLastDate);
  }
}

}  // namespace

void LoadSettings(Registry& registry, std::string_view applicationTitle, const WorkArea& workArea,
                  MainWindowPlacement& window, MainFormSettings& settings) {
  settings.TrayOpenCaption = std::string("Open ") + ProductName;
  settings.TrayAboutCaption = std::string("About ") + ProductName;
  settings.WindowCaption = std::string(applicationTitle) + " " + ProductName;
  settings.ComputerName = ComputerName();

  settings.ProductVersion.clear();
  RegReadText(registry, RegRoot::LocalMachine, AppRegistryKey, settingname::kProductVersion,
              settings.ProductVersion);

  LoadPlacement(registry, workArea, window, settings);
  LoadNotifications(registry, settings);
}

void SavePlacement(Registry& registry, const MainWindowPlacement& window) {
  WriteUserNumber(registry, settingname::kWidth, window.width);
  WriteUserNumber(registry, settingname::kHeight, window.height);
  if (IsStorableTop(window.top)) WriteUserNumber(registry, settingname::kTop, window.top);
  WriteUserNumber(registry, settingname::kLeft, window.left);
  if (window.state != WindowState::Minimized) {
    WriteUserNumber(registry, settingname::kWindowState, static_cast<int32_t>(window.state));
  }
}

}  // namespace tessaro
