// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/ScannerChoiceList.h"

#include <algorithm>

#include "base/AsciiText.h"

namespace tessaro::setup {
namespace {

bool OtherMakers(const std::string& upperName, const std::vector<MakerSection>& makers, int own) {
  for (size_t i = 0; i < makers.size(); ++i) {
    if (static_cast<int>(i) == own) continue;
    for (const std::string& keyword : makers[i].keywords) {
      if (!keyword.empty() && upperName.find(UpperAsciiText(keyword)) != std::string::npos)
        return true;
    }
  }
  return false;
}

}  // namespace

std::vector<ScannerRow> FillScannerList(const std::vector<std::string>& sources,
                                        const std::vector<MakerSection>& makers, int makerIndex,
                                        int scanIndex, const std::string& scanName) {
  std::vector<ScannerRow> rows;
  for (const std::string& source : sources) {
    const std::string upper = UpperAsciiText(source);
    if (upper.find("NETWORK SCANNER") != std::string::npos) continue;
    if (makerIndex >= 0 && OtherMakers(upper, makers, makerIndex)) continue;
    rows.push_back({source, false});
  }
  if (scanIndex == 1 && !scanName.empty()) {
    auto it = std::find_if(rows.begin(), rows.end(),
                           [&](const ScannerRow& row) { return row.name == scanName; });
    if (it != rows.end()) it->checked = true;
  }
  return rows;
}

}  // namespace tessaro::setup
