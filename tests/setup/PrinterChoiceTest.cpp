// SPDX-License-Identifier: GPL-2.0-or-later
// Taking a printer choice: new, changed, unchanged, switched off, not recommended, taken over.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "setup/PrinterChoice.h"

namespace tessaro::setup {
namespace {

const std::vector<MakerSection> kMakers = {{"04B8", {"Laser"}}, {"03F0", {"Jet"}}};

struct Case {
  const char* name;
  int entryIndex;
  std::optional<CheckedRow> checked;
  bool userSaysOk;
  bool accepted;
  bool asked;
  int replacedIndex;
  int entryIndexAfter;
  bool enabled;
  size_t entriesAfter;
};

TEST(PrinterChoice, TakesOrRefusesEachKindOfChoice) {
  const CheckedRow laser{"Office Laser", "tessaro:/a"};
  const CheckedRow jet{"Hall Jet", "tessaro:/b"};
  const std::vector<Case> cases = {
      {"nothing checked, no entry", -1, std::nullopt, true, false, false, -1, -1, false, 2},
      {"nothing checked, own entry switches off", 0, std::nullopt, true, true, false, -1, 0, false,
       2},
      {"same printer again", 0, CheckedRow{"Old Laser", "x"}, true, false, false, -1, 0, false, 2},
      {"new recommended printer", -1, laser, false, true, false, -1, 2, true, 3},
      {"other maker's driver, user cancels", -1, jet, false, false, true, -1, -1, false, 2},
      {"other maker's driver, user goes on, takes it over", 0, jet, true, true, true, 1, 0, true,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ChoiceEntry> entries = {{"Old Laser", "tessaro:/o"}, {"Hall Jet", "tessaro:/b"}};
    ChoiceState state{&entries, c.entryIndex, -1, false};
    bool asked = false;
    const bool accepted =
        ApplyPrinterChoice(state, c.checked, kMakers, 0, [&](const std::string& q) {
          asked = true;
          EXPECT_EQ(q, kNotRecommendedQuestion);
          return c.userSaysOk;
        });
    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(state.replacedIndex, c.replacedIndex);
    EXPECT_EQ(state.entryIndex, c.entryIndexAfter);
    EXPECT_EQ(state.printerEnabled, c.enabled);
    ASSERT_EQ(entries.size(), c.entriesAfter);
    if (c.accepted && c.checked) {
      EXPECT_EQ(entries[static_cast<size_t>(state.entryIndex)].printerName, c.checked->name);
      EXPECT_EQ(entries[static_cast<size_t>(state.entryIndex)].printerPort, c.checked->port);
    }
  }
}

TEST(PrinterChoice, AMakerMissingFromTheTableIsNeverRecommended) {
  std::vector<ChoiceEntry> entries;
  ChoiceState state{&entries};
  int questions = 0;
  EXPECT_FALSE(ApplyPrinterChoice(state, CheckedRow{"Office Laser", "p"}, kMakers, -1,
                                  [&](const std::string&) { return ++questions, false; }));
  EXPECT_EQ(questions, 1);
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace tessaro::setup
