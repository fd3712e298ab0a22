// SPDX-License-Identifier: GPL-2.0-or-later
// Scan Now's TWAIN path: the data source whose product name is the device's stored TWAIN source
// name, found by walking the sources the manager lists.
#pragma once

#include <optional>
#include <string>

#include "scanning/twain/TwainScanner.h"

namespace tessaro {

// The first source whose ProductName equals `scanNameTwain` ignoring case; nullopt when none
// does (an empty name matches none).
std::optional<twain::TW_IDENTITY> FindTwainSource(twain::TTwainScanner& twain,
                                                  const std::string& scanNameTwain);

}  // namespace tessaro
