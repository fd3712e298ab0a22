// SPDX-License-Identifier: GPL-2.0-or-later
// A real printer at the server (umockdev, its usblp node a file), against references taken in
// the same run:
//  - data path: a 100 MB job from the backend through busd and hubd into the node, against `cat`
//    of the same file into the same node (goal: at most 1.2 times);
//  - hot-plug: a udev event until a PC holds the DevicesChanged it causes, plugging in and
//    pulling out 50 times each.
// It runs itself under umockdev's preload (UmockdevRun.h).
#include <umockdev.h>

#include <cstdio>
#include <random>

#include "bench/Stats.h"
#include "tests/TestPaths.h"
#include "tests/support/Lab.h"
#include "tests/support/Process.h"
#include "tests/support/UmockdevRun.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;
using namespace tessaro::bench;
using namespace std::chrono;

namespace {

constexpr size_t kBigJob = 100u * 1024 * 1024;
constexpr int kDataRounds = 3;
constexpr int kPlugRounds = 50;
const std::string kPrinter = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";

void Load(UMockdevTestbed* testbed, const std::string& name) {
  GError* error = nullptr;
  const std::string path = std::string(kFixturesDir) + "/usb/" + name + ".umockdev";
  if (!umockdev_testbed_add_from_file(testbed, path.c_str(), &error))
    throw std::runtime_error(error ? error->message : path);
}

nanoseconds Timed(Process& p) {
  const auto start = steady_clock::now();
  if (!p.Start() || p.WaitForExit(seconds(300)) != 0)
    throw std::runtime_error("a run failed: " + p.Output());
  return steady_clock::now() - start;
}

void DataPath(Lab& lab, const Lab::Pc& pc, const std::string& node) {
  std::printf("== data path: a %zu MB job into the printer's usblp node\n", kBigJob >> 20);
  std::string data(kBigJob, '\0');
  std::mt19937 random(5);
  for (char& c : data) c = static_cast<char>(random());
  const std::string job = lab.dir() / "job.bin";
  WriteTextFile(job, data);
  auto env = pc.Env();
  env["DEVICE_URI"] = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW-1";
  Samples ours, cat;
  for (int round = 0; round < kDataRounds; ++round) {
    WriteTextFile(node, "");
    Process backend(Lab::Binary("cups-backend/tessaro"), {"1", "bench", "job", "1", "", job},
                    env);
    ours.Add(Timed(backend));
    if (ReadTextFile(node).size() != kBigJob) throw std::runtime_error("the job did not arrive");
    WriteTextFile(node, "");
    Process reference("/bin/sh", {"-c", "cat '" + job + "' > '" + node + "'"});
    cat.Add(Timed(reference));
  }
  ours.Print("backend -> busd -> hubd -> node");
  cat.Print("cat -> node");
  PrintRatio("ours / cat (goal <= 1.2)", ours, cat);
}

void HotPlug(UMockdevTestbed* testbed) {
  std::printf("\n== hot-plug: udev event -> DevicesChanged at a PC\n");
  WireClient pc("127.0.0.2", 2005);
  if (!pc.Hello("BENCH-PC")) throw std::runtime_error("no Hello");
  Samples in, out;
  const auto next = [&pc] {
    const auto start = steady_clock::now();
    for (;;) {
      const auto f = pc.Read();
      if (!f) throw std::runtime_error("no DevicesChanged");
      if (f->type == wire::MsgType::DevicesChanged) return steady_clock::now() - start;
    }
  };
  for (int round = 0; round < kPlugRounds; ++round) {
    umockdev_testbed_uevent(testbed, kPrinter.c_str(), "remove");
    out.Add(next());
    umockdev_testbed_uevent(testbed, kPrinter.c_str(), "bind");
    in.Add(next());
  }
  in.Print("plugged in -> DevicesChanged");
  out.Print("pulled out -> DevicesChanged");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  if (!kUmockdevUsable || !UnderUmockdev()) {
    std::fprintf(stderr, "bench_usb: needs umockdev's preload (not in a sanitizer build)\n");
    return 1;
  }
  UMockdevTestbed* testbed = umockdev_testbed_new();
  int status = 0;
  try {
    Load(testbed, "root-hub");
    Load(testbed, "printer");
    Lab lab;
    lab.StartHub({"127.0.0.2", "USB-HUB", "00:1C:F0:AA:0B:01", "usb = yes\n", {}});
    auto& pc = lab.StartPc("BENCH", {"127.0.0.2"});
    if (!lab.WaitForServerState(pc, "127.0.0.2", "1") || !lab.AttachAll(pc, {"127.0.0.2"}) ||
        lab.Cli(pc, {"link", "127.0.0.2", "1"}).exitCode != 0)
      throw std::runtime_error("the PC cannot link the printer");
    const std::string node = std::string(umockdev_testbed_get_root_dir(testbed)) + "/dev/usb/lp0";
    if (only.empty() || only == "data") DataPath(lab, pc, node);
    if (only.empty() || only == "hotplug") HotPlug(testbed);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_usb: %s\n", e.what());
    status = 1;
  }
  g_object_unref(testbed);
  return status;
}
