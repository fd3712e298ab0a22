// SPDX-License-Identifier: GPL-2.0-or-later
// Which Host and Origin headers name the server's own web page. A browser sends the name it
// reached the page by, so a request that came through any other name (a domain an attacker
// points at this server's address, a DNS rebinding) or was sent by a page from another origin is
// told apart from the page's own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro::hubd {

class PageOrigin {
 public:
  // `names`: the server's own address as text and its host names; `port`: the page's port.
  PageOrigin(std::vector<std::string> names, uint16_t port)
      : names_(std::move(names)), port_(port) {}

  // "NAME" or "NAME:PORT" with one of the server's names (letters in any case) and its port.
  bool IsOwnHost(std::string_view host) const;
  // "http://NAME" (for port 80) or "http://NAME:PORT", as a browser sends it for the page.
  bool IsOwnOrigin(std::string_view origin) const;

 private:
  bool IsOwnName(std::string_view name) const;

  std::vector<std::string> names_;
  uint16_t port_;
};

// The names the page answers to: `address` and the machine's host name (with ".local" when it
// has no dot, as mDNS names it).
std::vector<std::string> OwnPageNames(const std::string& address);

}  // namespace tessaro::hubd
