// SPDX-License-Identifier: GPL-2.0-or-later
// The scan window's logic against a device server's scanner across the network: hubd serves the
// scanner, saned on the server's address serves its SANE device, and this PC scans it through
// SANE's net backend, as a real PC would.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <regex>

#include "platform/linux/SaneScannerSource.h"
#include "scanning/twain/NetScanCore.h"
#include "tests/scanning/twain/TwainFixture.h"
#include "tests/support/Command.h"
#include "tests/support/Lab.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/SanedServer.h"
#include "tests/support/ScriptedUi.h"

namespace tessaro::twain {
namespace {

constexpr char kServer[] = "127.0.0.3";

class FeederDialog : public SourceDialog {
 public:
  bool Run(const std::string&, ScannerDevice& device) override {
    device.SetText(scan_option::kSource, "Automatic Document Feeder");
    device.SetNumber(scan_option::kResolution, 50);
    if (slow) {
      // The backend waits after each pipe's worth of data: colour pages of some size take about
      // half a second each, so that the server can go in the middle of one.
      EXPECT_EQ(device.SetText(scan_option::kMode, "Color"), ScanStatus::kGood);
      EXPECT_EQ(device.SetNumber(scan_option::kResolution, 150), ScanStatus::kGood);
      EXPECT_EQ(device.SetNumber("read-delay", 1), ScanStatus::kGood);
      EXPECT_EQ(device.SetNumber("read-delay-duration", 40000), ScanStatus::kGood);
    }
    return true;
  }
  bool slow = false;
};

class QuietView : public NetScanView {
 public:
  std::optional<Picture> LoadPreview(const std::string&) override { return Picture{1, 1, 24}; }
  void ClearPreview() override {}
  void ShowNote(const std::string& text) override { note = text; }
  void ShowPageLabel(int32_t page, const std::string&) override {
    if (onPage) onPage(page);
  }
  void ShowIndex(int32_t, int32_t) override {}
  void ShowPictureTexts(const PictureTexts&) override {}
  void SetInputEnabled(bool) override {}
  void SetNavigationEnabled(bool) override {}
  void SetBusyCursor(bool) override {}
  void ShowSavingWindow(bool) override {}
  void SetSaveProgress(int32_t, int32_t) override {}
  void CloseWindow() override {}
  std::string note;
  std::function<void(int32_t)> onPage;  // as each page arrives, within the transfer loop
};

class NoLock : public ScanLockPort {
 public:
  bool LockDevice(int, const std::string&, uint32_t) override { return true; }
  bool UnlockDevice(int, const std::string&) override { return true; }
};

// The order in which names appeared in and left a folder.
class FolderEvents {
 public:
  FolderEvents() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  void Watch(const std::filesystem::path& folder) {
    inotify_add_watch(fd_, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE);
  }
  ~FolderEvents() { close(fd_); }
  // "+name" when a file was completed under that name, "-name" when it went.
  std::vector<std::string> Read() {
    alignas(inotify_event) char buffer[65536];
    ssize_t got;
    while ((got = read(fd_, buffer, sizeof buffer)) > 0) {
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->len > 0) {
          events_.push_back(((event->mask & IN_DELETE) ? "-" : "+") + std::string(event->name));
        }
        at += sizeof(inotify_event) + event->len;
      }
    }
    return events_;
  }

 private:
  int fd_;
  std::vector<std::string> events_;
};

class ScanOverNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lab_.StartHub({kServer,
                   "Scan Hub",
                   "02:00:00:00:00:03",
                   "[device 1]\ntype = SCANNER\nvendor-id = 04b8\nproduct-id = 0110\n"
                   "product = Flatbed 2\nclass = ff/ff/ff\ndriver-class = Image\n"
                   "sane-device = test:0\n",
                   {}});
    ASSERT_TRUE(saned_.Start()) << saned_.Output();
    saned_.UseAsClient();
    sane_ = std::make_unique<SaneScannerSource>();
    manager_ = std::make_unique<TwainManager>(*sane_, host_.windows.path().string());
    manager_->SetSourceDialog(&dialog_);
    TwainManager::Install(manager_.get());
    twain_.SetShowUI(true);
    twain_.InitTWAIN();
    core_.SetSession({3, "1", "PC1", "PC1", true});
  }
  void TearDown() override { TwainManager::Install(nullptr); }

  void Scan(const std::string& name, int format) {
    core_.ScanBtnClick(name, format, folder_.path().string() + "/");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (twain_.IsDataSourceOpen() && std::chrono::steady_clock::now() < deadline) host_.Pump(1);
    while (core_.SaveFileTimerRunning() && std::chrono::steady_clock::now() < deadline) {
      main_.DrainWithin(std::chrono::milliseconds(20));
      core_.SaveFileTimerTimer();
    }
  }

  testing::Lab lab_;
  testing::SanedServer saned_{kServer};
  testing::TempFolder folder_;
  testing::TempFolder documents_;
  testing::FakeTwainHost host_;
  FeederDialog dialog_;
  std::unique_ptr<SaneScannerSource> sane_;
  std::unique_ptr<TwainManager> manager_;
  TTwainScanner twain_{host_};
  QuietView view_;
  testing::ScriptedUi ui_;
  testing::ManualMainThread main_;
  NoLock lock_;
  TNetScanCore core_{twain_, view_, ui_, main_, lock_, documents_ / "Picture"};
};

// pdfinfo's page sizes, in points.
std::vector<std::pair<double, double>> PdfPageSizes(const std::string& file) {
  const auto info = testing::RunCommand("/usr/bin/pdfinfo", {"-f", "1", "-l", "100", file});
  std::vector<std::pair<double, double>> sizes;
  const std::regex size(R"(Page +\d+ size: +([\d.]+) x ([\d.]+) pts)");
  for (const auto& line : info.Lines()) {
    std::smatch match;
    if (std::regex_search(line, match, size))
      sizes.emplace_back(std::stod(match[1]), std::stod(match[2]));
  }
  return sizes;
}

TEST_F(ScanOverNetworkTest, AFeederRunBecomesOnePdfAndItsPageFilesGoOnlyAfterIt) {
  FolderEvents events;
  events.Watch(folder_.path());
  events.Watch(documents_.path());
  Scan("Scan", 2);
  EXPECT_EQ(folder_.Names(), (std::set<std::string>{"Scan.pdf"}));
  // The test backend's feeder holds ten sheets; the intermediate JPEGs stay for the preview.
  const std::set<std::string> previews = {
      "Picture.jpg",   "Picture_2.jpg", "Picture_3.jpg", "Picture_4.jpg", "Picture_5.jpg",
      "Picture_6.jpg", "Picture_7.jpg", "Picture_8.jpg", "Picture_9.jpg", "Picture_10.jpg"};
  EXPECT_EQ(documents_.Names(), previews);
  // 80 x 100 mm at 50 dpi is 157 x 196 pixels, and one pixel is one point.
  const auto sizes = PdfPageSizes(folder_ / "Scan.pdf");
  EXPECT_EQ(sizes, (std::vector<std::pair<double, double>>(10, {157.0, 196.0}))) << view_.note;
  const auto order = events.Read();
  const auto pdf = std::find(order.begin(), order.end(), "+Scan.pdf");
  ASSERT_NE(pdf, order.end());
  std::set<std::string> pagesGone;
  for (auto at = order.begin(); at != order.end(); ++at) {
    if (!at->starts_with("-")) continue;
    EXPECT_GT(at, pdf) << *at << " went before the document was on disk";
    pagesGone.insert(at->substr(1));
  }
  EXPECT_EQ(pagesGone.size(), 10u);
  for (const auto& name : pagesGone) EXPECT_TRUE(name.ends_with(".bmp")) << name;
}

TEST_F(ScanOverNetworkTest, AServerGoneMidPageKeepsThePagesBeforeIt) {
  dialog_.slow = true;
  bool killed = false;
  view_.onPage = [&](int32_t page) {
    if (page != 1 || killed) return;
    saned_.Kill();
    killed = true;
  };
  Scan("Cut", 0);
  ASSERT_TRUE(killed);
  EXPECT_FALSE(twain_.IsDataSourceOpen());
  // The page before the fault is saved as the group asked; the one cut off is not written at
  // all, and the user is told why the run stopped.
  EXPECT_EQ(folder_.Names(), (std::set<std::string>{"Cut.jpg"}));
  ASSERT_EQ(ui_.messages().size(), 1u) << view_.note;
  EXPECT_TRUE(ui_.messages()[0].text.starts_with("The scan stopped before its last page: "))
      << ui_.messages()[0].text;
  // The window is usable again.
  EXPECT_FALSE(core_.SaveFileTimerRunning());
  EXPECT_TRUE(core_.TimeoutTimerRunning());
}

}  // namespace
}  // namespace tessaro::twain
