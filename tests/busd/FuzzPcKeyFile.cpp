// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as this PC's key file: a file that is not a key is refused with a reason and
// left as it is; a key that reads, written down again, reads back as the same key.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/HexText.h"
#include "busd/PcKeyFile.h"
#include "tests/fuzz/ScratchFile.h"

using namespace tessaro;
using namespace tessaro::busd;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// One file for the whole run, written afresh (owner only) for each input.
const std::string& KeyPath() {
  static const tessaro::testing::ScratchFile file("/tmp/tessaro-fuzz-key.XXXXXX");
  return file.path();
}

void Write(const std::string& text) {
  std::ofstream out(KeyPath(), std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadAll() {
  std::ifstream in(KeyPath(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Write(text);
  ::chmod(KeyPath().c_str(), 0600);
  const KeyFileResult result = LoadOrMakeKey(KeyPath());
  Check(!result.made);
  if (!result.key) {
    Check(!result.error.empty());
    Check(ReadAll() == text);  // never replaced: servers pinned the key it held
    return 0;
  }
  Write("tessaro-pc-key 1\n" + HexText(result.key->seed()) + "\n");
  const KeyFileResult again = LoadOrMakeKey(KeyPath());
  Check(again.key && again.key->seed() == result.key->seed());
  return 0;
}
