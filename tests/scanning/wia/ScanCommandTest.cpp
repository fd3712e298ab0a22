// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli scan end to end: a real busd as this PC, hubd as the device server and saned on the
// server's address with SANE's test backend behind it (its feeder always holds ten sheets). What
// the scan's files are called and hold, what happens to the device's link and lock, and what
// stays after the scan server or the device server goes in the middle of a run.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "scanning/pages/ImageFormats.h"
#include "tests/support/Lab.h"
#include "tests/support/PageFixtures.h"
#include "tests/support/SanedServer.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kServer[] = "127.0.0.3";
const std::string kDevices =
    "[device 1]\ntype = SCANNER\nvendor-id = 04b8\nproduct-id = 0110\nmanufacturer = Epsilon\n"
    "product = Flatbed 2\nserial = SC123\nclass = ff/ff/ff\ndriver-class = Image\n"
    "sane-device = test:0\n"
    "[device 2]\ntype = PRINTER\nvendor-id = 04f9\nproduct-id = 0042\nmanufacturer = Lumen\n"
    "product = Laser 2040\nserial = LW1\n";
const HubSpec kHub{kServer, "SCAN-HUB", "02:00:00:00:00:03", kDevices, {}};
const std::vector<std::string> kFeeder = {"--source", "feeder", "--resolution",
                                          "50",       "--mode", "gray"};
constexpr char kNotScanner[] = "The printer does not support scan function !!!";

std::vector<std::string> PageNames(const std::string& base, int pages) {
  std::vector<std::string> names = {base + ".jpg"};
  for (int i = 1; i < pages; ++i) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%03d", i);
    names.push_back(base + suffix + ".jpg");
  }
  return names;
}

class ScanCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lab_.StartHub(kHub);
    ASSERT_TRUE(saned_->Start()) << saned_->Output();
    // The command, run as a child, reaches the server's scanner through this folder.
    saned_->UseAsClient();
    pc_ = &lab_.StartPc("PC-A", {kServer});
    ASSERT_TRUE(lab_.WaitForServerState(*pc_, kServer, "1"));
    ASSERT_TRUE(lab_.AttachAll(*pc_, {kServer}));
  }
  // Windows records a device the first time it is connected: link it once and let it go.
  void ConnectOnce(const std::string& number) {
    ASSERT_EQ(lab_.Cli(*pc_, {"link", kServer, number}).exitCode, 0);
    ASSERT_EQ(lab_.Cli(*pc_, {"unlink", kServer, number}).exitCode, 0);
  }
  CommandResult Scan(const std::vector<std::string>& options, const std::string& number = "1") {
    std::vector<std::string> args = {"scan", kServer, number, folder_.path().string()};
    args.insert(args.end(), options.begin(), options.end());
    return lab_.Cli(*pc_, args);
  }
  std::string Device(const std::string& key) {
    for (const auto& d : lab_.Devices(*pc_, kServer))
      if (d.at("deviceNumber") == "1") return d.at(key);
    return "<gone>";
  }
  std::set<std::string> Files() const { return folder_.Names(); }
  // The scan command running in the background.
  std::unique_ptr<Process> StartScan(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"--json", "scan", kServer, "1", folder_.path().string()};
    args.insert(args.end(), options.begin(), options.end());
    auto scan = std::make_unique<Process>(Lab::Binary("cli/tessaro-cli"), args, pc_->Env());
    EXPECT_TRUE(scan->Start());
    return scan;
  }
  // The exit status of a background scan once it has ended by itself; -1 when it did not.
  static int ExitOf(Process& scan) {
    if (!Eventually([&] { return !scan.Running(); }, std::chrono::seconds(30))) return -1;
    const int status = scan.Stop();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Kills the scan server once the scan reads the next page's data: inside that page, never at
  // its start (SANE's net client itself breaks when its server goes while it starts a frame). On
  // a loaded machine more pages may be finished by then; the caller takes what is on disk.
  void KillInsideAPage(const Process& scan) {
    const uint64_t before = BytesRead(scan);
    uint64_t last = before;
    // Past the mark and still reading since the last look: a frame's data is flowing.
    EXPECT_TRUE(Eventually(
        [&] {
          const uint64_t now = BytesRead(scan);
          const bool flowing = now > last;
          last = now;
          return flowing && now > before + kIntoAPage;
        },
        std::chrono::seconds(20)));
    saned_->Kill();
  }
  // A third of a page of the slow feeder's colour pages.
  static constexpr uint64_t kIntoAPage = 256 * 1024;
  // What the process has read so far (SANE's net client reads its frames with read()).
  static uint64_t BytesRead(const Process& process) {
    std::istringstream io(ReadTextFile("/proc/" + std::to_string(process.pid()) + "/io"));
    for (std::string key; io >> key;) {
      uint64_t value = 0;
      io >> value;
      if (key == "rchar:") return value;
    }
    return 0;
  }
  // The scan server again, after a fault took it: pages come slowly when `slow`.
  void RestartSaned(bool slow) {
    saned_->Kill();
    saned_ = std::make_unique<SanedServer>(kServer);
    if (slow) saned_->SetReadDelay(40000);
    ASSERT_TRUE(saned_->Start()) << saned_->Output();
    saned_->UseAsClient();
  }

  Lab lab_;
  std::unique_ptr<SanedServer> saned_ = std::make_unique<SanedServer>(kServer);
  Lab::Pc* pc_ = nullptr;
  TempFolder folder_;
};

TEST_F(ScanCommandTest, TenFeederPagesBecomeTenJpegsAndASecondRunNeverReplacesThem) {
  ConnectOnce("1");
  const CommandResult first = Scan(kFeeder);
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  const auto names = PageNames("Picture", 10);
  std::vector<std::string> lines;
  for (const auto& name : names) lines.push_back(R"({"file":")" + (folder_ / name) + R"("})");
  lines.push_back(R"({"ok":true,"pages":10})");
  EXPECT_EQ(first.Lines(), lines);
  EXPECT_EQ(Files(), std::set<std::string>(names.begin(), names.end()));
  for (const auto& name : names) {
    const auto bytes = ReadBytes(folder_ / name);
    ASSERT_GE(bytes.size(), 4u) << name;
    EXPECT_EQ(bytes[0], 0xFF) << name;
    EXPECT_EQ(bytes[1], 0xD8) << name;
    EXPECT_EQ(GetJfifDensity(bytes), 50) << name;
  }
  // Scan Now leaves the device linked to this PC, without its scan lock.
  EXPECT_EQ(Device("owner"), "PC-A");
  EXPECT_EQ(Device("lockKind"), "0");

  const auto before = ReadBytes(folder_ / "Picture_004.jpg");
  const CommandResult second = Scan({"--resolution", "50", "--mode", "gray"});
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.Lines().front(), R"({"file":")" + (folder_ / "Picture 001.jpg") + R"("})");
  EXPECT_EQ(Files().size(), 11u);
  EXPECT_EQ(ReadBytes(folder_ / "Picture_004.jpg"), before);
}

TEST_F(ScanCommandTest, APdfGroupGathersTheFeederPagesIntoOneDocumentAndLeavesNothingElse) {
  ConnectOnce("1");
  std::vector<std::string> options = kFeeder;
  options.insert(options.end(), {"--format", "pdf", "--name", "Letters"});
  const CommandResult pdf = Scan(options);
  ASSERT_EQ(pdf.exitCode, 0) << pdf.err;
  EXPECT_EQ(pdf.Lines(),
            (std::vector<std::string>{R"({"file":")" + (folder_ / "Letters.pdf") + R"("})",
                                      R"({"ok":true,"pages":10})"}));
  EXPECT_EQ(Files(), std::set<std::string>{"Letters.pdf"});
  const auto info = RunCommand("/usr/bin/pdfinfo", {folder_ / "Letters.pdf"});
  EXPECT_TRUE(std::regex_search(info.out, std::regex(R"(Pages: +10\n)"))) << info.out;
}

TEST_F(ScanCommandTest, ANameThatCannotBeCheckedCountsAsTaken) {
  ConnectOnce("1");
  // A link to itself cannot be looked at: the group takes the next name instead of failing.
  fs::create_symlink("Letters.pdf", folder_ / "Letters.pdf");
  std::vector<std::string> options = {"--resolution", "50", "--mode", "gray"};
  options.insert(options.end(), {"--format", "pdf", "--name", "Letters"});
  const CommandResult pdf = Scan(options);
  ASSERT_EQ(pdf.exitCode, 0) << pdf.err;
  EXPECT_EQ(Files(), (std::set<std::string>{"Letters.pdf", "Letters 001.pdf"}));
  EXPECT_TRUE(fs::is_symlink(folder_ / "Letters.pdf"));
}

TEST_F(ScanCommandTest, ADeviceWindowsDoesNotKnowAsAScannerIsRefusedAndNotLinked) {
  // Never connected: the device database has no entry for the scanner yet.
  CommandResult never = Scan(kFeeder);
  EXPECT_EQ(never.exitCode, 1);
  EXPECT_NE(never.err.find(kNotScanner), std::string::npos) << never.err;
  EXPECT_EQ(Device("owner"), "");
  // A printer is known, but not as a scanner.
  ConnectOnce("2");
  CommandResult printer = Scan(kFeeder, "2");
  EXPECT_EQ(printer.exitCode, 1);
  EXPECT_NE(printer.err.find(kNotScanner), std::string::npos) << printer.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(ScanCommandTest, ADeviceAnotherPcHoldsIsNotScanned) {
  ConnectOnce("1");
  auto& other = lab_.StartPc("PC-B", {kServer});
  ASSERT_TRUE(lab_.WaitForServerState(other, kServer, "1"));
  ASSERT_TRUE(lab_.AttachAll(other, {kServer}));
  // PC-B connected it as the device menu's Connect does: linked and locked.
  ASSERT_EQ(lab_.Cli(other, {"link", kServer, "1"}).exitCode, 0);
  ASSERT_EQ(lab_.Cli(other, {"lock", kServer, "1", "2", "3600"}).exitCode, 0);
  const CommandResult held = Scan(kFeeder);
  EXPECT_EQ(held.exitCode, 1);
  EXPECT_NE(held.err.find("Connect device failed !"), std::string::npos) << held.err;
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(Device("owner"), "PC-B");
}

// Colour pages at 150 dpi with the backend's read delay take about half a second each.
const std::vector<std::string> kSlowFeeder = {"--source", "feeder", "--resolution",
                                              "150",      "--mode", "color"};

TEST_F(ScanCommandTest, TheScanServerGoneMidPageKeepsThePagesBeforeAndReleasesTheLock) {
  ConnectOnce("1");
  RestartSaned(true);
  auto scan = StartScan(kSlowFeeder);
  // The first page is on disk (as BMP until its JPEG takes its place): the second is under way.
  ASSERT_TRUE(Eventually(
      [&] { return Files().count("Picture.bmp") > 0 || Files().count("Picture.jpg") > 0; },
      std::chrono::seconds(20)))
      << scan->Output();
  KillInsideAPage(*scan);
  EXPECT_EQ(ExitOf(*scan), 1) << scan->Output();
  // The pages finished before are kept, and the broken one leaves nothing.
  const std::set<std::string> files = Files();
  ASSERT_FALSE(files.empty());
  const auto pages = PageNames("Picture", static_cast<int>(files.size()));
  EXPECT_EQ(files, std::set<std::string>(pages.begin(), pages.end())) << scan->Output();
  for (const auto& page : pages) EXPECT_EQ(GetJfifDensity(ReadBytes(folder_ / page)), 150);
  EXPECT_EQ(Device("owner"), "PC-A");
  EXPECT_EQ(Device("lockKind"), "0");
  // With the scan server back, the next Scan Now works.
  RestartSaned(false);
  const CommandResult next = Scan({"--resolution", "50", "--mode", "gray"});
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_TRUE(Files().count("Picture 001.jpg"));
}

TEST_F(ScanCommandTest, APdfRunThatBreaksOffStillMakesADocumentOfItsPages) {
  ConnectOnce("1");
  RestartSaned(true);
  std::vector<std::string> options = kSlowFeeder;
  options.insert(options.end(), {"--format", "pdf"});
  auto scan = StartScan(options);
  // The pages wait in a private folder inside the target folder until the document is made.
  const auto firstPageScanned = [&] {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder_.path(), ec))
      if (entry.path().filename() == "Picture.bmp") return true;
    return false;
  };
  ASSERT_TRUE(Eventually(firstPageScanned, std::chrono::seconds(20))) << scan->Output();
  KillInsideAPage(*scan);
  EXPECT_EQ(ExitOf(*scan), 1) << scan->Output();
  EXPECT_EQ(Files(), std::set<std::string>{"Picture.pdf"}) << scan->Output();
  const auto info = RunCommand("/usr/bin/pdfinfo", {folder_ / "Picture.pdf"});
  std::smatch pages;
  ASSERT_TRUE(std::regex_search(info.out, pages, std::regex(R"(Pages: +([0-9]+)\n)"))) << info.out;
  EXPECT_GE(std::stoi(pages[1]), 1) << info.out;
}

TEST_F(ScanCommandTest, TheDeviceServerGoneMidSessionLeavesThePageAndTheNextScanWorks) {
  ConnectOnce("1");
  RestartSaned(true);
  auto scan = StartScan({"--resolution", "150", "--mode", "color"});
  // Killed once the scan lock is in place: the scan itself goes on through the scan server.
  ASSERT_TRUE(Eventually([&] { return Device("lockKind") == "1"; }, std::chrono::seconds(10)));
  lab_.StopHub(kServer);
  EXPECT_EQ(ExitOf(*scan), 0) << scan->Output();
  EXPECT_EQ(Files(), std::set<std::string>{"Picture.jpg"});
  // The server comes back without the lock; the device can be had again.
  lab_.StartHub(kHub);
  ASSERT_TRUE(lab_.WaitForServerState(*pc_, kServer, "1"));
  ASSERT_TRUE(lab_.AttachAll(*pc_, {kServer}));
  RestartSaned(false);
  const CommandResult next = Scan({"--resolution", "50", "--mode", "gray"});
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_TRUE(Files().count("Picture 001.jpg"));
  EXPECT_EQ(Device("lockKind"), "0");
}

}  // namespace
}  // namespace tessaro::testing
