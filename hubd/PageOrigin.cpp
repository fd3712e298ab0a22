// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/PageOrigin.h"

#include <unistd.h>

#include <climits>

#include "base/AsciiText.h"
#include "base/NumberText.h"

namespace tessaro::hubd {

bool PageOrigin::IsOwnName(std::string_view name) const {
  for (const std::string& own : names_)
    if (EqualsNoCase(name, own)) return true;
  return false;
}

bool PageOrigin::IsOwnHost(std::string_view host) const {
  const auto colon = host.rfind(':');
  if (colon == std::string_view::npos) return IsOwnName(host);
  const auto port = ParseNumber<uint16_t>(host.substr(colon + 1));
  return port && *port == port_ && IsOwnName(host.substr(0, colon));
}

bool PageOrigin::IsOwnOrigin(std::string_view origin) const {
  constexpr std::string_view kScheme = "http://";
  if (!StartsWithNoCase(origin, kScheme)) return false;
  const std::string_view host = origin.substr(kScheme.size());
  // Browsers leave the scheme's own port out of an origin, and only that one.
  return host.find(':') == std::string_view::npos ? port_ == 80 && IsOwnName(host)
                                                  : IsOwnHost(host);
}

std::vector<std::string> OwnPageNames(const std::string& address) {
  std::vector<std::string> names{address};
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
    names.emplace_back(host);
    if (names.back().find('.') == std::string::npos) names.push_back(names.back() + ".local");
  }
  return names;
}

}  // namespace tessaro::hubd
