// SPDX-License-Identifier: GPL-2.0-or-later
// The daemons' command lines, read one way: "--name VALUE" pairs and bare switches in any order,
// each handed on as it is read; the first failure ends the reading.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/Result.h"

namespace tessaro {

// Takes one option; `value` is empty for a switch. Fails with the text for the usage line.
using ApplyOption = std::function<Result<>(const std::string& name, const std::string& value)>;

// `args` without the program name. The options named in `switches` take no value; every other
// one takes the argument after it, and fails with "option 'NAME' needs a value" when none is left.
Result<> ReadOptions(const std::vector<std::string>& args, const std::set<std::string>& switches,
                     const ApplyOption& apply);

}  // namespace tessaro
