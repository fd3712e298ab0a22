// SPDX-License-Identifier: GPL-2.0-or-later
#include "setup/PrinterChoice.h"

#include <algorithm>

#include "base/AsciiText.h"

namespace tessaro::setup {
namespace {

bool Recommended(const std::string& name, const std::vector<MakerSection>& makers, int makerIndex) {
  if (makerIndex < 0 || makerIndex >= static_cast<int>(makers.size())) return false;
  const std::string upper = UpperAsciiText(name);
  const auto& keywords = makers[static_cast<size_t>(makerIndex)].keywords;
  return std::any_of(keywords.begin(), keywords.end(), [&](const std::string& keyword) {
    return !keyword.empty() && upper.find(UpperAsciiText(keyword)) != std::string::npos;
  });
}

int LastOtherNamed(const std::vector<ChoiceEntry>& entries, const std::string& name, int skip) {
  for (int i = static_cast<int>(entries.size()) - 1; i >= 0; --i) {
    if (i != skip && entries[static_cast<size_t>(i)].printerName == name) return i;
  }
  return -1;
}

}  // namespace

bool ApplyPrinterChoice(ChoiceState& state, const std::optional<CheckedRow>& checked,
                        const std::vector<MakerSection>& makers, int makerIndex,
                        const AskOkCancel& ask) {
  std::vector<ChoiceEntry>& entries = *state.entries;
  const bool hasEntry =
      state.entryIndex >= 0 && state.entryIndex < static_cast<int>(entries.size());
  if (!checked) {
    if (!hasEntry) return false;
    state.printerEnabled = false;  // auto-connect switched off for the device
    return true;
  }
  if (hasEntry && entries[static_cast<size_t>(state.entryIndex)].printerName == checked->name) {
    return false;  // nothing changed
  }
  if (!Recommended(checked->name, makers, makerIndex) && !ask(kNotRecommendedQuestion)) {
    return false;
  }
  state.replacedIndex = LastOtherNamed(entries, checked->name, hasEntry ? state.entryIndex : -1);
  if (!hasEntry) {
    entries.push_back({});
    state.entryIndex = static_cast<int>(entries.size()) - 1;
  }
  state.printerEnabled = true;
  entries[static_cast<size_t>(state.entryIndex)] = {checked->name, checked->port};
  return true;
}

}  // namespace tessaro::setup
