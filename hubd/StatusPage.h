// SPDX-License-Identifier: GPL-2.0-or-later
// The server's web page: a document, its style sheet and its script, which polls status.json.
// Script and style are files of their own, never inline, so that the page's Content-Security-
// Policy can forbid every inline script: a name a PC chose that slipped past the escaping would
// still run nothing.
#pragma once

#include <string>

namespace tessaro::hubd {

const std::string& StatusPageHtml();
const std::string& StatusPageStyle();
const std::string& StatusPageScript();

}  // namespace tessaro::hubd
