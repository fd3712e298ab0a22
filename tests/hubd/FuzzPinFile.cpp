// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as hubd's pins file, as an administrator's editor may leave it, and a name made
// of arbitrary bytes pinned on top of it: the file reads without harm, and whatever name hubd
// writes down reads back after a restart as pinned to the same key.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "hubd/PinStore.h"
#include "tests/fuzz/ScratchFile.h"

using namespace tessaro;
using namespace tessaro::hubd;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// One file for the whole run, written afresh for each input.
const std::string& PinsPath() {
  static const tessaro::testing::ScratchFile file("/tmp/tessaro-fuzz-pins.XXXXXX");
  return file.path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte says how long the name is; the name follows, then the file.
  const size_t nameLength = size == 0 ? 0 : std::min<size_t>(data[0] % 40, size - 1);
  const std::string name(reinterpret_cast<const char*>(data) + (size ? 1 : 0), nameLength);
  const size_t fileStart = size == 0 ? 0 : 1 + nameLength;
  {
    std::ofstream out(PinsPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data) + fileStart,
              static_cast<std::streamsize>(size - fileStart));
  }
  std::string error;
  PinStore pins(PinsPath(), nullptr);
  Check(pins.Load(error));
  wire::PublicKey key{};
  key.fill(static_cast<uint8_t>(size));
  if (name.empty() || pins.Knows(name)) return 0;
  if (pins.Check(name, key) != PinStore::Verdict::Pinned) return 0;
  PinStore restarted(PinsPath(), nullptr);
  Check(restarted.Load(error));
  Check(restarted.Knows(name));
  Check(restarted.Check(name, key) == PinStore::Verdict::Match);
  return 0;
}
