// SPDX-License-Identifier: GPL-2.0-or-later
// The client's own settings under the application key: loaded once when the main form is made,
// the window placement saved when it really closes. The window comes in as plain values so that
// the rules run without a display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Product.h"
#include "platform/Registry.h"

namespace tessaro {

// Whether the new-version check starts switched on for a user who never chose: on, except in a
// distribution's build (TESSARO_UPDATE_CHECK=OFF), whose updates come from its package manager.
#ifndef TESSARO_UPDATE_CHECK_BY_DEFAULT
#define TESSARO_UPDATE_CHECK_BY_DEFAULT 1
#endif
inline constexpr bool kUpdateCheckByDefault = TESSARO_UPDATE_CHECK_BY_DEFAULT != 0;

// The main form as designed: its outer size, and the number the "MainForm WindowState" value
// holds for each state.
inline constexpr int32_t kDesignWidth = 289;
inline constexpr int32_t kDesignHeight = 351;
enum class WindowState : int32_t { Normal = 0, Minimized = 1, Maximized = 2 };

// The off-screen tops of a mini start; a placement there is never stored.
inline constexpr int32_t kMiniParkTop = 3000;
inline constexpr int32_t kMiniHiddenTop = 3001;

// The desktop minus the panels, in screen pixels.
struct WorkArea {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

enum class FormPositioning { ScreenCentre, Designed };

// The main window's placement as the form holds it.
struct MainWindowPlacement {
  int32_t width = kDesignWidth;
  int32_t height = kDesignHeight;
  int32_t top = 0;
  int32_t left = 0;
  WindowState state = WindowState::Normal;
  FormPositioning positioning = FormPositioning::ScreenCentre;
};

// What the load sets on the main form besides its placement.
struct MainFormSettings {
  bool NotifyDeviceDetect = true;
  bool NotifyNewVersion = true;
  int32_t NotifyCheckDays = 60;
  int32_t NotifyLastDate = 0;  // packed DOS date-time; 0 is "never"
  std::string ProductVersion;
  int32_t RestoreTop = 0;  // where a window parked by a mini start comes back to
  std::string ComputerName;
  std::string TrayOpenCaption;
  std::string TrayAboutCaption;
  std::string WindowCaption;
};

// Value names below AppRegistryKey.
namespace settingname {
inline constexpr const char* kWidth = "MainForm Width";
inline constexpr const char* kHeight = "MainForm Height";
inline constexpr const char* kTop = "MainForm Top";
inline constexpr const char* kLeft = "MainForm Left";
inline constexpr const char* kWindowState = "MainForm WindowState";
inline constexpr const char* kNotifyDeviceDetect = "Notify Device Detect";
inline constexpr const char* kNotifyNewVersion = "Notify New Version";
inline constexpr const char* kNotifyCheckDays = "Notify Check Days";
inline constexpr const char* kNotifyLastDate = "Notify Last Date";
inline constexpr const char* kAutoRunCheck = "AutoRun Check";
inline constexpr const char* kProductVersion = "Product Version";
}  // namespace settingname

// Reads every setting, puts missing or invalid ones back to their defaults in the user hive, and
// places the window: stored size, then centred in `workArea`, then the stored top and left.
// `applicationTitle` starts the window caption.
void LoadSettings(Registry& registry, std::string_view applicationTitle, const WorkArea& workArea,
                  MainWindowPlacement& window, MainFormSettings& settings);

// Stores the placement at close. A top parked off-screen (or not above 0) and the minimised state
// are not stored, so the next start uses the last real placement.
void SavePlacement(Registry& registry, const MainWindowPlacement& window);

}  // namespace tessaro
