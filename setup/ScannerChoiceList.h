// SPDX-License-Identifier: GPL-2.0-or-later
// The wizard's scanner list: the data sources the device may scan through, its choice checked.
#pragma once

#include <string>
#include <vector>

#include "setup/PrinterChoiceList.h"

namespace tessaro::setup {

struct ScannerRow {
  std::string name;
  bool checked = false;
};

// Drops network sources and other makers' sources; checks the stored choice when scanning
// through the client is on.
std::vector<ScannerRow> FillScannerList(const std::vector<std::string>& sources,
                                        const std::vector<MakerSection>& makers, int makerIndex,
                                        int scanIndex, const std::string& scanName);

}  // namespace tessaro::setup
