// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/TwainSources.h"

#include <cstring>

#include "scanning/twain/TwainManager.h"

namespace tessaro::setup {

std::vector<std::string> TwainSourceNames() {
  using namespace twain;
  std::vector<std::string> names;
  const DsmEntryProc entry = LoadTwainModule();
  if (entry == nullptr) return names;
  TW_IDENTITY app{};
  std::strncpy(app.ProductName, "Device Setup", sizeof app.ProductName - 1);
  TW_UINT32 parent = 0;
  // The scan window may hold the manager open already; then it is used as it is.
  const bool opened =
      entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent) == TWRC_SUCCESS;
  TW_IDENTITY source{};
  TW_UINT16 msg = MSG_GETFIRST;
  while (names.size() < kMaxListedSources &&
         entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, msg, &source) == TWRC_SUCCESS) {
    names.emplace_back(source.ProductName, strnlen(source.ProductName, sizeof source.ProductName));
    msg = MSG_GETNEXT;
  }
  if (opened) entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
  return names;
}

}  // namespace tessaro::setup
