// SPDX-License-Identifier: GPL-2.0-or-later
// How a step that can fail says so, everywhere no Windows error code is fixed: its value, or the
// text of its failure, ready for a log line or a message. Result<> when only success is told.
#pragma once

#include <string>
#include <tl/expected.hpp>

namespace tessaro {

template <typename T = void>
using Result = tl::expected<T, std::string>;

// The failure of a Result: `return Failure("no such file");`.
inline tl::unexpected<std::string> Failure(std::string text) {
  return tl::unexpected<std::string>(std::move(text));
}

}  // namespace tessaro
