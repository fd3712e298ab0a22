// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/OptionReader.h"

namespace tessaro {

Result<> ReadOptions(const std::vector<std::string>& args, const std::set<std::string>& switches,
                     const ApplyOption& apply) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    Result<> applied;
    if (switches.count(name) != 0) {
      applied = apply(name, {});
    } else if (i + 1 >= args.size()) {
      return Failure("option '" + name + "' needs a value");
    } else {
      applied = apply(name, args[++i]);
    }
    if (!applied) return applied;
  }
  return {};
}

}  // namespace tessaro
