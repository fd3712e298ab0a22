// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/TwainPath.h"

#include <cstring>

#include "base/AsciiText.h"

namespace tessaro {

std::optional<twain::TW_IDENTITY> FindTwainSource(twain::TTwainScanner& twain,
                                                  const std::string& scanNameTwain) {
  using namespace twain;
  if (scanNameTwain.empty()) return std::nullopt;
  TW_IDENTITY identity{};
  for (TW_UINT16 msg = MSG_GETFIRST; twain.CallDataSourceManager(nullptr, DG_CONTROL, DAT_IDENTITY,
                                                                 msg, &identity) == TWRC_SUCCESS;
       msg = MSG_GETNEXT) {
    const std::string name(identity.ProductName,
                           strnlen(identity.ProductName, sizeof identity.ProductName));
    if (EqualsNoCase(name, scanNameTwain)) return identity;
    identity = {};
  }
  return std::nullopt;
}

}  // namespace tessaro
