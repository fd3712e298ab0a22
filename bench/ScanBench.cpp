// SPDX-License-Identifier: GPL-2.0-or-later
// Scan window benchmark: a 10-page feeder run at 300 dpi colour from SANE's test backend, saved
// as JPG through the window's logic (from the Scan click to the last file on disk), against
// `scanimage --batch` writing the same pages as PNM with no conversion, from the same source in
// the same run. Each figure is the median of a few alternating repetitions; the ratio is ours /
// reference. Two sources: the test backend as fast as it goes, where the run is all disk and
// compression, and the backend slowed by its read limit and delay (about 35 MB/s here, still
// many times faster than a real feeder at 300 dpi), where scanning takes its share as it does at
// a real scanner. The goal applies to the paced source.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "bench/Stats.h"
#include "bench/TimedRun.h"
#include "platform/linux/SaneScannerSource.h"
#include "scanning/twain/NetScanCore.h"
#include "tests/scanning/twain/TwainFixture.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/SaneTestBackend.h"
#include "tests/support/ScriptedUi.h"

using namespace tessaro;
using namespace tessaro::twain;
namespace fs = std::filesystem;

namespace {

constexpr int kPages = 10;
constexpr int kRounds = 3;
constexpr char kFeeder[] = "Automatic Document Feeder";
constexpr char kPicture[] = "Color pattern";
constexpr int kPaceBytes = 25600;
constexpr int kPaceUs = 2000;

class FeederDialog : public SourceDialog {
 public:
  explicit FeederDialog(bool paced) : paced_(paced) {}
  bool Run(const std::string&, ScannerDevice& device) override {
    bool set = device.SetText(scan_option::kSource, kFeeder) == ScanStatus::kGood &&
               device.SetText(scan_option::kMode, "Color") == ScanStatus::kGood &&
               device.SetNumber(scan_option::kResolution, 300) == ScanStatus::kGood &&
               device.SetText("test-picture", kPicture) == ScanStatus::kGood;
    // The test backend keeps option values for the life of the process, so both ways are set.
    set = set && device.SetNumber("read-limit", paced_ ? 1 : 0) == ScanStatus::kGood &&
          device.SetNumber("read-delay", paced_ ? 1 : 0) == ScanStatus::kGood;
    if (paced_) {
      set = set && device.SetNumber("read-limit-size", kPaceBytes) == ScanStatus::kGood &&
            device.SetNumber("read-delay-duration", kPaceUs) == ScanStatus::kGood;
    }
    if (!set) std::fprintf(stderr, "the test backend refused an option\n");
    return set;
  }

 private:
  bool paced_;
};

class NoView : public NetScanView {
 public:
  std::optional<Picture> LoadPreview(const std::string&) override { return Picture{1, 1, 24}; }
  void ClearPreview() override {}
  void ShowNote(const std::string&) override {}
  void ShowPageLabel(int32_t, const std::string&) override {}
  void ShowIndex(int32_t, int32_t) override {}
  void ShowPictureTexts(const PictureTexts&) override {}
  void SetInputEnabled(bool) override {}
  void SetNavigationEnabled(bool) override {}
  void SetBusyCursor(bool) override {}
  void ShowSavingWindow(bool) override {}
  void SetSaveProgress(int32_t, int32_t) override {}
  void CloseWindow() override {}
};

class NoLock : public ScanLockPort {
 public:
  bool LockDevice(int, const std::string&, uint32_t) override { return true; }
  bool UnlockDevice(int, const std::string&) override { return true; }
};

// One run of the window: the time from the Scan click until its last file is on disk.
std::chrono::nanoseconds WindowRun(ScannerSource& scanners, const fs::path& folder, bool paced) {
  testing::FakeTwainHost host;
  FeederDialog dialog(paced);
  TwainManager manager(scanners, host.windows.path().string());
  manager.SetSourceDialog(&dialog);
  TwainManager::Install(&manager);
  TTwainScanner twain(host);
  twain.SetShowUI(true);
  twain.InitTWAIN();
  NoView view;
  testing::ScriptedUi ui;
  testing::ManualMainThread main;
  NoLock lock;
  testing::TempFolder documents;
  TNetScanCore core(twain, view, ui, main, lock, documents / "Picture");
  core.SetSession({3, "1", "PC1", "PC1", true});

  const auto start = std::chrono::steady_clock::now();
  core.ScanBtnClick("Page", 0, folder.string() + "/");
  while (twain.IsDataSourceOpen()) host.Pump(1);
  while (core.SaveFileTimerRunning()) {
    main.DrainWithin(std::chrono::milliseconds(1));
    core.SaveFileTimerTimer();
  }
  const auto took = std::chrono::steady_clock::now() - start;
  TwainManager::Install(nullptr);
  return took;
}

size_t FileCount(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

std::vector<std::string> ScanimageArgs(const std::string& folder, bool paced) {
  std::vector<std::string> args = {
      "-d",           "test:0",       "--source",
      kFeeder,        "--mode",       "Color",
      "--resolution", "300",          "--test-picture",
      kPicture,       "--format=pnm", "--batch=" + folder + "/page%d.pnm"};
  if (paced) {
    args.insert(args.end(), {"--read-limit=yes", "--read-limit-size", std::to_string(kPaceBytes),
                             "--read-delay=yes", "--read-delay-duration", std::to_string(kPaceUs)});
  }
  return args;
}

// Alternating runs of both; false when either did not write its ten pages.
bool Compare(ScannerSource& scanners, bool paced, const std::string& label) {
  bench::Samples ours, reference;
  for (int round = 0; round < kRounds; ++round) {
    testing::TempFolder window, batch;
    ours.Add(WindowRun(scanners, window.path(), paced));
    bench::RunOptions quiet;
    quiet.stderrPath = batch / "scanimage.log";
    const auto run =
        bench::TimedRun("/usr/bin/scanimage", ScanimageArgs(batch.path().string(), paced), quiet);
    reference.Add(run.wall);
    const size_t batchPages = FileCount(batch.path()) - 1;  // less its log
    if (FileCount(window.path()) != kPages || batchPages != kPages) {
      std::fprintf(stderr, "expected %d pages from each, got %zu and %zu (scanimage exit %d)\n",
                   kPages, FileCount(window.path()), batchPages, run.exitCode);
      return false;
    }
  }
  ours.Print("scan window to JPG, " + label);
  reference.Print("scanimage --batch to PNM, " + label);
  bench::PrintRatio("window / scanimage, " + label + " (goal <= 1.2)", ours, reference);
  return true;
}

}  // namespace

int main() {
  testing::SaneTestBackend backend(1);
  if (!backend.ok()) return 1;
  SaneScannerSource scanners;
  std::printf("10 feeder pages at 300 dpi colour from SANE's test backend\n");
  if (!Compare(scanners, false, "unpaced")) return 1;
  if (!Compare(scanners, true, "paced")) return 1;
  return 0;
}
