// SPDX-License-Identifier: GPL-2.0-or-later
// `tessaro-cli scan` of 10 feeder pages at 300 dpi colour to JPG, through busd, hubd and saned on
// the device server's address, against `scanimage --batch` over the same network device writing
// PNM with no conversion, in the same run. Everything the command does counts: finding the
// device, the lookup, the link and lock, the scan, the JPEG conversion and the unlock. Runs
// inside a network namespace of its own (run.sh).
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "bench/Stats.h"
#include "bench/TimedRun.h"
#include "tests/support/Lab.h"
#include "tests/support/PageFixtures.h"
#include "tests/support/SanedServer.h"

using namespace tessaro;
namespace fs = std::filesystem;

namespace {

constexpr char kServer[] = "127.0.0.3";
constexpr int kPages = 10;
constexpr int kRounds = 3;
const testing::HubSpec kHub{
    kServer,
    "SCAN-HUB",
    "02:00:00:00:00:03",
    "[device 1]\ntype = SCANNER\nvendor-id = 04b8\nproduct-id = 0110\nmanufacturer = Epsilon\n"
    "product = Flatbed 2\nserial = SC123\nclass = ff/ff/ff\ndriver-class = Image\n"
    "sane-device = test:0\n",
    {}};

size_t FileCount(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

}  // namespace

int main() {
  testing::Lab lab;
  testing::SanedServer saned(kServer, 1);
  lab.StartHub(kHub);
  if (!saned.Start()) {
    std::fprintf(stderr, "saned did not start: %s\n", saned.Output().c_str());
    return 1;
  }
  saned.UseAsClient();
  auto& pc = lab.StartPc("PC-A", {kServer});
  if (!lab.WaitForServerState(pc, kServer, "1") || !lab.AttachAll(pc, {kServer})) return 1;
  // The commands run below are this PC's, and the device is known once it has been connected.
  for (const auto& [name, value] : pc.Env()) setenv(name.c_str(), value.c_str(), 1);
  if (lab.Cli(pc, {"link", kServer, "1"}).exitCode != 0 ||
      lab.Cli(pc, {"unlink", kServer, "1"}).exitCode != 0)
    return 1;

  const std::string cli = testing::Lab::Binary("cli/tessaro-cli");
  bench::Samples ours, reference;
  for (int round = 0; round < kRounds; ++round) {
    testing::TempFolder scanFolder, batch;
    bench::RunOptions quiet;
    quiet.stderrPath = lab.dir() / ("scan-" + std::to_string(round) + ".log");
    const auto scan = bench::TimedRun(cli,
                                      {"scan", kServer, "1", scanFolder.path().string(), "--source",
                                       "feeder", "--resolution", "300", "--mode", "color"},
                                      quiet);
    ours.Add(scan.wall);
    quiet.stderrPath = lab.dir() / "scanimage.log";
    const auto run =
        bench::TimedRun("/usr/bin/scanimage",
                        {"-d", saned.NetDeviceName("test:0"), "--source",
                         "Automatic Document Feeder", "--mode", "Color", "--resolution", "300",
                         "--format=pnm", "--batch=" + batch.path().string() + "/page%d.pnm"},
                        quiet);
    reference.Add(run.wall);
    if (FileCount(scanFolder.path()) != kPages || FileCount(batch.path()) != kPages) {
      std::fprintf(stderr, "expected %d pages from each, got %zu (exit %d) and %zu (exit %d)\n",
                   kPages, FileCount(scanFolder.path()), scan.exitCode, FileCount(batch.path()),
                   run.exitCode);
      return 1;
    }
  }
  std::printf("10 feeder pages at 300 dpi colour through saned on the device server\n");
  ours.Print("tessaro-cli scan to JPG");
  reference.Print("scanimage --batch to PNM");
  bench::PrintRatio("tessaro-cli / scanimage (goal <= 1.3)", ours, reference);
  return 0;
}
