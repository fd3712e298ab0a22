// SPDX-License-Identifier: GPL-2.0-or-later
#include "options/UpdateCheck.h"

#include <cstdlib>

#include "base/Product.h"
#include "platform/RegistryText.h"

namespace tessaro {

std::string UpdateQueryUrl(Registry& registry) {
  std::string server;
  if (const char* env = std::getenv(kUpdateServerEnv); env != nullptr) server = env;
  if (server.empty()) {
    RegReadText(registry, RegRoot::CurrentUser, AppRegistryKey, kUpdateServerSetting, server);
  }
  if (server.empty()) server = kDefaultUpdateServer;
  while (!server.empty() && server.back() == '/') server.pop_back();
  return server + kUpdateQueryPath;
}

void ShowConnectionFailed(UiPort& ui) {
  MessageRequest request;
  request.caption = ProductName;
  request.text = kConnectionFailedText;
  request.flags = mb::kTopMost | mb::kIconWarning;
  ui.ShowMessage(request);
}

std::optional<UpdateReply> FetchLatestVersion(HttpClient& http, const std::string& url,
                                              UiPort& ui, bool tellFailure) {
  HttpRequest request;
  request.url = url;
  request.headers = {{"Accept", "text/html, */*"},
                     {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"}};
  const HttpReply reply = http.Get(request);
  std::optional<UpdateReply> read;
  if (reply.ok) read = ReadUpdateReply(reply.body);
  if (!read && tellFailure) ShowConnectionFailed(ui);
  return read;
}

}  // namespace tessaro
