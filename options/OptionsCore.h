// SPDX-License-Identifier: GPL-2.0-or-later
// The Options dialog without its window: what each control shows, the days edit's refusal, OK
// writing through the settings store, and the manual new-version check. TOptionFm shows `Form()`
// and hands its events here.
#pragma once

#include <string>
#include <vector>

#include "options/NewVersionCheck.h"
#include "platform/Shell.h"

namespace tessaro {

inline constexpr const char* kCheckDaysRefusedText = "Please input the 60 - 365 integer.";
inline constexpr const char* kLatestVersionText = "This version is the latest version.";
// The check panel's height; without it the dialog is this much shorter, less 20.
inline constexpr int kCheckPanelHeight = 132;

struct OptionsForm {
  bool autoRun = true;
  bool notifyNewDevice = true;
  bool notifyNewVersion = true;
  std::string checkDays;
  std::string nextDate;
  bool checkNowEnabled = false;
  bool latestVersionShown = false;  // "This version is the latest version."
  bool checkPanelShown = false;
  std::string latestVersion;
  std::string latestVersionDate;
  std::vector<std::string> siteNames;
  std::vector<std::string> siteAddresses;
  int siteIndex = -1;
};

class OptionsCore {
 public:
  OptionsCore(UpdateServices services, Shell& shell, VersionTimer& timer, NotifySettings& settings,
              std::string queryUrl);

  const OptionsForm& Form() const { return form_; }
  // The check boxes, as the user sets them.
  OptionsForm& Controls() { return form_; }
  // The dialog's height for its full design height: shorter while the check panel is hidden.
  int DialogHeight(int fullHeight) const;

  void FormShow(bool networkReady);
  void NetworkChanged(bool networkReady) { form_.checkNowEnabled = networkReady; }
  void CheckDaysChanged(const std::string& text) { form_.checkDays = text; }
  // Focus leaves the days edit: a number outside 60..365 is refused with a message and the text
  // before the change returns. False when refused.
  bool CheckDaysExit();
  // Writes the four settings. False (nothing written) while the days text is no valid number,
  // so a stored value is never one the next start would throw away.
  bool Ok();
  void ShowNextNotification(const CivilDateTime& from);
  void CheckNow();
  void SiteChange(int index);
  void Download();

 private:
  UpdateServices services_;
  Shell& shell_;
  VersionTimer& timer_;
  NotifySettings& settings_;
  std::string queryUrl_;
  OptionsForm form_;
  std::string acceptedCheckDays_;
};

}  // namespace tessaro
