// SPDX-License-Identifier: GPL-2.0-or-later
// --help and --version, answered the same way by every program.
#pragma once

#include <cstdio>
#include <string_view>

#include "base/Product.h"

namespace tessaro {

// True when the first argument asks for the usage (--help, -h) or the version (--version);
// the answer is then on standard output and the program ends with status 0.
inline bool AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* usage) {
  if (argc < 2) return false;
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h") {
    std::fputs(usage, stdout);
    return true;
  }
  if (first == "--version") {
    std::printf("%s %s\n", program, ProductVersion);
    return true;
  }
  return false;
}

}  // namespace tessaro
