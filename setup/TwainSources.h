// SPDX-License-Identifier: GPL-2.0-or-later
// The scanner lists' rows: the data sources of this program's TWAIN manager, when one is
// installed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tessaro::setup {

// At most this many sources are listed; any beyond are left out.
inline constexpr std::size_t kMaxListedSources = 64;

// The product names of the manager's data sources in its order; none without a manager.
std::vector<std::string> TwainSourceNames();

}  // namespace tessaro::setup
