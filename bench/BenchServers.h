// SPDX-License-Identifier: GPL-2.0-or-later
// The servers a bus benchmark measures against: the demo's first device server and one busd
// told about it, each in a temporary folder of its own (its machine hive too, so nothing is
// written outside it), stopped when the object goes.
#pragma once

#include <stdexcept>
#include <string>

#include "tests/TestPaths.h"
#include "tests/support/Process.h"

namespace tessaro::bench {

inline std::string Binary(const char* relative) {
  return std::string(testing::kBinaryDir) + "/" + relative;
}

class BenchServers {
 public:
  BenchServers()
      : hub_(Binary("hubd/tessaro-hubd"),
             {"--config", std::string(testing::kFixturesDir) + "/demo/hub-one.conf", "--pins",
              dir_ / "hub-one.pins"}),
        busd_(Binary("busd/tessaro-busd"), {"--runtime-dir", runtime(), "--computer-name", "PC-A",
                                            "--group", "root", "--no-discovery", "--server",
                                            "127.0.0.2", "--machine-hive", dir_ / "machine.hive"}) {
    if (!hub_.Start() || !hub_.WaitForOutput("hubd: ready"))
      throw std::runtime_error(hub_.Output());
    if (!busd_.Start() || !busd_.WaitForOutput("busd: ready"))
      throw std::runtime_error(busd_.Output());
  }
  // busd's runtime folder, where the bus interfaces are.
  std::string runtime() const { return dir_ / "run"; }
  const testing::TempDir& dir() const { return dir_; }

 private:
  testing::TempDir dir_{"/tmp/tessaro-bench."};
  testing::Process hub_;
  testing::Process busd_;
};

}  // namespace tessaro::bench
