// SPDX-License-Identifier: GPL-2.0-or-later
// The wizard's scanner list: filters and the stored choice.
#include <gtest/gtest.h>

#include "setup/ScannerChoiceList.h"

namespace tessaro::setup {
namespace {

const std::vector<MakerSection> kMakers = {{"04B8", {"Perfection"}}, {"03F0", {"ScanJet"}}};
const std::vector<std::string> kSources = {"Perfection 1250", "Office Network Scanner",
                                           "ScanJet 5300", "Test Flatbed", "Perfection 1250"};

std::vector<std::string> Names(const std::vector<ScannerRow>& rows) {
  std::vector<std::string> names;
  for (const ScannerRow& row : rows) names.push_back(row.name);
  return names;
}

TEST(ScannerChoiceList, FiltersSourcesAndChecksTheStoredChoice) {
  struct Case {
    const char* name;
    int makerIndex, scanIndex;
    std::vector<std::string> names;
    int checkedRow;
  };
  const std::vector<Case> cases = {
      {"own maker known, choice stored",
       0,
       1,
       {"Perfection 1250", "Test Flatbed", "Perfection 1250"},
       0},
      {"maker unknown keeps every local source",
       -1,
       1,
       {"Perfection 1250", "ScanJet 5300", "Test Flatbed", "Perfection 1250"},
       0},
      {"scanning through the client off",
       0,
       2,
       {"Perfection 1250", "Test Flatbed", "Perfection 1250"},
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto rows =
        FillScannerList(kSources, kMakers, c.makerIndex, c.scanIndex, "Perfection 1250");
    EXPECT_EQ(Names(rows), c.names);
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].checked, static_cast<int>(i) == c.checkedRow) << i;
    }
  }
}

}  // namespace
}  // namespace tessaro::setup
