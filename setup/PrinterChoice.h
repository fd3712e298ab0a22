// SPDX-License-Identifier: GPL-2.0-or-later
// Taking the user's printer choice into the auto-connect list of its kind.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "setup/PrinterChoiceList.h"

namespace tessaro::setup {

inline constexpr const char* kNotRecommendedQuestion =
    "This driver is not be recommended. Do you want to continue?";

struct ChoiceEntry {
  std::string printerName;
  std::string printerPort;
};

struct ChoiceState {
  std::vector<ChoiceEntry>* entries = nullptr;  // the same-kind auto-connect list
  int entryIndex = -1;
  int replacedIndex = -1;
  bool printerEnabled = false;
};

struct CheckedRow {
  std::string name;
  std::string port;
};

// Asks the user an OK/Cancel question; true means OK.
using AskOkCancel = std::function<bool(const std::string& question)>;

// Returns whether the choice was taken. A new entry is appended for a device without one; the
// caller fills in its identity from the device at entryIndex.
bool ApplyPrinterChoice(ChoiceState& state, const std::optional<CheckedRow>& checked,
                        const std::vector<MakerSection>& makers, int makerIndex,
                        const AskOkCancel& ask);

}  // namespace tessaro::setup
