// SPDX-License-Identifier: GPL-2.0-or-later
// The seed corpora replayed in every build: `tessaro-fuzz-replay TARGET FOLDER` feeds each file of
// FOLDER, in name order, to TARGET's entry point, as libFuzzer would. A crash or a broken check
// found once, and kept as a seed, stays found without the fuzz build.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tessaro-fuzz-replay TARGET FOLDER\n");
    return 2;
  }
  const tessaro::testing::FuzzTarget* target = nullptr;
  for (const auto& t : tessaro::testing::FuzzTargets())
    if (std::strcmp(t.name, argv[1]) == 0) target = &t;
  if (target == nullptr) {
    std::fprintf(stderr, "tessaro-fuzz-replay: no target %s\n", argv[1]);
    return 2;
  }
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(argv[2], ec))
    if (entry.is_regular_file()) files.push_back(entry.path());
  if (ec || files.empty()) {
    std::fprintf(stderr, "tessaro-fuzz-replay: no seeds in %s\n", argv[2]);
    return 1;
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    // Said first, so that a crash shows which seed it was.
    std::printf("%s %s (%zu bytes)\n", target->name, file.filename().c_str(), bytes.size());
    std::fflush(stdout);
    // A fresh copy, so that reading past its end shows under the sanitizers; never a null
    // pointer, as libFuzzer gives none.
    std::vector<uint8_t> copy(bytes);
    uint8_t none = 0;
    target->entry(copy.empty() ? &none : copy.data(), copy.size());
  }
  return 0;
}
