// SPDX-License-Identifier: GPL-2.0-or-later
// The update server's answer and how the client reads it: the published version, its date and
// the download sites, and the version rule that decides whether to tell the user.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

inline constexpr const char* kUpdateQueryPath = "/router/firmware/query.asp?model=CQXV_A1_Default";
inline constexpr const char* kDefaultUpdateServer = "http://www.corvana.com";
inline constexpr const char* kUpdateServerEnv = "TESSARO_UPDATE_URL";
inline constexpr const char* kUpdateServerSetting = "Update Server";

struct DownloadSite {
  std::string name;     // the element's local name, e.g. "Global"
  std::string address;  // its Firmware text; empty when it has none
};

struct UpdateReply {
  bool hasVersion = false;  // false when the reply names no version
  std::string major;        // decimal text without leading zeros
  std::string minor;
  std::string date;  // as published, e.g. 2008-07-10
  std::vector<DownloadSite> sites;

  std::string VersionText() const { return major + "." + minor; }
};

// nullopt for a reply that is no XML, has no Default element, or whose Major or Minor is no
// non-negative integer: the check failed, whatever the server meant.
std::optional<UpdateReply> ReadUpdateReply(std::string_view body);

// Versions compare as numbers part by part, so 1.10 is newer than 1.9; a missing part counts as
// 0 and anything published is newer than an unknown installed version.
bool VersionIsNewer(std::string_view latest, std::string_view installed);

// The address of the last site named exactly "Global"; empty when there is none.
std::string GlobalDownloadAddress(const std::vector<DownloadSite>& sites);

// "2008-07-10" shows as "2008/07/10": the first two hyphens become slashes.
std::string ReleaseDateText(std::string date);

// Only http and https addresses are handed to the browser: a reply must not start programs or
// open local files.
bool IsWebAddress(std::string_view address);

}  // namespace tessaro
