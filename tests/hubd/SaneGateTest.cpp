// SPDX-License-Identifier: GPL-2.0-or-later
// Which PC's lock lets a SANE connection in: the gate's rule on its own, over device lists.
#include <gtest/gtest.h>

#include "hubd/SaneGate.h"

using namespace tessaro;
using namespace tessaro::hubd;

namespace {

wire::DeviceInfo Device(const char* type, const char* owner, uint8_t lockCount) {
  wire::DeviceInfo d;
  d.type = type;
  d.owner = owner;
  d.lockCount = lockCount;
  return d;
}

TEST(HubdSaneGate, OnlyALockOnAScannerFromThePeersAddressLetsItIn) {
  const struct {
    const char* what;
    std::vector<wire::DeviceInfo> devices;
    std::optional<std::string> holder;  // PC-A is the one attached from the peer's address
  } cases[] = {
      {"PC-A locks the scanner", {Device("SCANNER", "PC-A", 1)}, "PC-A"},
      {"an MFP is a scanner, in any letter case", {Device("mfp", "PC-A", 1)}, "PC-A"},
      {"linked without a lock", {Device("SCANNER", "PC-A", 0)}, std::nullopt},
      {"a lock on a printer", {Device("PRINTER", "PC-A", 1)}, std::nullopt},
      {"a lock on storage", {Device("MASS STORAGE", "PC-A", 1)}, std::nullopt},
      {"another PC locks the scanner", {Device("SCANNER", "PC-B", 1)}, std::nullopt},
      {"a free scanner", {Device("SCANNER", "", 0)}, std::nullopt},
      {"one of two scanners", {Device("SCANNER", "PC-B", 1), Device("MFP", "PC-A", 1)}, "PC-A"},
      {"no devices", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto holder =
        ScannerHolderAt(c.devices, [](const std::string& pc) { return pc == "PC-A"; });
    EXPECT_EQ(holder, c.holder) << c.what;
  }
}

}  // namespace
