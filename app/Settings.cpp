// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/Settings.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "base/ComputerName.h"
#include "platform/RegistryText.h"

namespace tessaro {

namespace {

// The user hive for one load or save. The client runs on after a refused write (each value is
// tried on its own), and says once that its settings were not kept.
struct Store {
  explicit Store(Registry& r) : registry(r) {}
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store() {
    if (failure != regerr::kSuccess) {
      std::fprintf(stderr, "tessaro: settings could not be saved to the user hive (error %u)\n",
                   static_cast<unsigned>(failure));
    }
  }
  Registry& registry;
  uint32_t failure = regerr::kSuccess;  // of the first write that failed
};

constexpr int32_t kMinCheckDays = 60;
constexpr int32_t kMaxCheckDays = 365;

// Decimal text with an optional sign and nothing else, within 32 bits.
std::optional<int32_t> ParsePositive(std::string_view text) {
  const auto value = ParseRegistryInt32(text);
  if (!value || *value <= 0) return std::nullopt;
  return value;
}

std::string ReadUserText(Store& store, const char* name) {
  std::string text;
  RegReadText(store.registry, RegRoot::CurrentUser, AppRegistryKey, name, text);
  return text;
}

void WriteUserText(Store& store, const char* name, std::string_view text) {
  const uint32_t rc =
      RegWriteText(store.registry, RegRoot::CurrentUser, AppRegistryKey, name, false, true, text);
  if (rc != regerr::kSuccess && store.failure == regerr::kSuccess) store.failure = rc;
}

void WriteUserNumber(Store& store, const char* name, int32_t value) {
  WriteUserText(store, name, std::to_string(value));
}

bool IsStorableTop(int32_t top) { return top > 0 && top < kMiniParkTop; }

// Half the free room, rounded toward zero; a stored size larger than any screen must not wrap.
int32_t CentredOffset(int32_t low, int32_t high, int32_t size) {
  const int64_t offset = (int64_t{high} - low - size) / 2;
  return static_cast<int32_t>(std::clamp<int64_t>(offset, INT32_MIN, INT32_MAX));
}

// A stored size replaces the current one when positive; an empty text stores the current one.
void LoadSize(Store& store, const char* name, const std::string& text, int32_t& size) {
  if (text.empty()) {
    WriteUserNumber(store, name, size);
  } else if (const auto value = ParsePositive(text)) {
    size = *value;
  }
}

// Anything but "0" switches the notice on, and is stored as "1"; a missing value is stored as
// `byDefault`.
bool LoadSwitch(Store& store, const char* name, bool byDefault = true) {
  const std::string text = ReadUserText(store, name);
  if (text == "0") return false;
  const bool on = !text.empty() || byDefault;
  WriteUserText(store, name, on ? "1" : "0");
  return on;
}

void LoadPlacement(Store& store, const WorkArea& workArea, MainWindowPlacement& window,
                   MainFormSettings& settings) {
  const std::string width = ReadUserText(store, settingname::kWidth);
  const std::string height = ReadUserText(store, settingname::kHeight);
  const std::string top = ReadUserText(store, settingname::kTop);
  const std::string left = ReadUserText(store, settingname::kLeft);
  const std::string state = ReadUserText(store, settingname::kWindowState);

  LoadSize(store, settingname::kWidth, width, window.width);
  LoadSize(store, settingname::kHeight, height, window.height);

  // The work area's own offsets are left out: the window is centred as if it began at 0,0.
  window.top = CentredOffset(workArea.top, workArea.bottom, window.height);
  window.left = CentredOffset(workArea.left, workArea.right, window.width);
  settings.RestoreTop = window.top;

  if (top.empty()) {
    if (IsStorableTop(window.top)) WriteUserNumber(store, settingname::kTop, window.top);
  } else if (const auto value = ParsePositive(top)) {
    settings.RestoreTop = *value;
    window.top = *value;
  }

  if (left.empty()) {
    WriteUserNumber(store, settingname::kLeft, window.left);
  } else if (const auto value = ParsePositive(left)) {
    window.left = *value;
  }

  window.positioning = FormPositioning::Designed;

  if (state.empty()) {
    WriteUserNumber(store, settingname::kWindowState, 0);
  } else if (const auto value = ParsePositive(state)) {
    // Only the states a window has; a hand-edited number beyond them is ignored.
    if (*value == static_cast<int32_t>(WindowState::Minimized) ||
        *value == static_cast<int32_t>(WindowState::Maximized)) {
      window.state = static_cast<WindowState>(*value);
    }
  }
}

void LoadNotifications(Store& store, MainFormSettings& settings) {
  // A value rewritten below gets the default, not what the form held before.
  settings.NotifyCheckDays = kMinCheckDays;
  settings.NotifyLastDate = 0;

  settings.NotifyDeviceDetect = LoadSwitch(store, settingname::kNotifyDeviceDetect);
  settings.NotifyNewVersion =
      LoadSwitch(store, settingname::kNotifyNewVersion, kUpdateCheckByDefault);

  const auto days = ParseRegistryInt32(ReadUserText(store, settingname::kNotifyCheckDays));
  if (days && *days >= kMinCheckDays && *days <= kMaxCheckDays) {
    settings.NotifyCheckDays = *days;
  } else {
    WriteUserNumber(store, settingname::kNotifyCheckDays, settings.NotifyCheckDays);
  }

  if (const auto last = ParseRegistryInt32(ReadUserText(store, settingname::kNotifyLastDate))) {
    settings.NotifyLastDate = *last;
  } else {
    WriteUserNumber(store, settingname::kNotifyLastDate, settings.NotifyLastDate);
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

  Store store(registry);
  LoadPlacement(store, workArea, window, settings);
  LoadNotifications(store, settings);
}

void SavePlacement(Registry& registry, const MainWindowPlacement& window) {
  Store store(registry);
  WriteUserNumber(store, settingname::kWidth, window.width);
  WriteUserNumber(store, settingname::kHeight, window.height);
  if (IsStorableTop(window.top)) WriteUserNumber(store, settingname::kTop, window.top);
  WriteUserNumber(store, settingname::kLeft, window.left);
  if (window.state != WindowState::Minimized) {
    WriteUserNumber(store, settingname::kWindowState, static_cast<int32_t>(window.state));
  }
}

}  // namespace tessaro
