// SPDX-License-Identifier: GPL-2.0-or-later
// One update query, shared by the Options dialog's manual check and the periodic check.
#pragma once

#include <optional>
#include <string>

#include "options/UpdateReply.h"
#include "platform/HttpClient.h"
#include "platform/Registry.h"
#include "platform/UiPort.h"

namespace tessaro {

inline constexpr const char* kConnectionFailedText = "Connection failed, please try again.";

// The query's full address: the server from TESSARO_UPDATE_URL, else from the "Update Server"
// setting, else the maker's; then the fixed path and query.
std::string UpdateQueryUrl(Registry& registry);

// Shows the connection message, top-most with the exclamation icon.
void ShowConnectionFailed(UiPort& ui);

// GETs the query and reads the reply. On any failure (no connection, time-out, an error status,
// a reply that is cut short, too large or unreadable) the answer is nullopt, and the user sees
// the connection message when `tellFailure`. A reply without a version comes back with
// hasVersion false.
std::optional<UpdateReply> FetchLatestVersion(HttpClient& http, const std::string& url, UiPort& ui,
                                              bool tellFailure = true);

}  // namespace tessaro
