// SPDX-License-Identifier: GPL-2.0-or-later
// The saving thread end to end on small pages: files, messages and call-backs, in order.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "scanning/pages/ImageFormats.h"
#include "scanning/pages/JpegCodec.h"
#include "scanning/pages/SaveScanningThread.h"
#include "tests/support/Command.h"
#include "tests/support/ManualMainThread.h"
#include "tests/support/PageFixtures.h"
#include "tests/support/ScriptedUi.h"

using namespace tessaro;
using namespace tessaro::testing;
namespace fs = std::filesystem;

namespace {

// The scan window's side: records what the saving calls, and on which thread.
class RecordingHost : public ScanSaveHost {
 public:
  RecordingHost(std::string target, std::string tempBase, const MainThread& main)
      : target_(std::move(target)), tempBase_(std::move(tempBase)), main_(main) {}
  std::string TargetFileName() const override { return target_; }
  std::string PdfTempBase() const override { return tempBase_; }
  void SetPdfPagesPending(std::vector<std::string> createdFiles) override {
    Record("pending");
    previews = std::move(createdFiles);
  }
  void EnableNavigation() override { Record("navigation"); }
  void SaveCompleted(bool anyFailed) override {
    Record("completed");
    errorAtCompletion = anyFailed;
  }
  std::vector<std::string> calls;
  std::vector<std::string> previews;  // as the last PDF run reported them
  bool offMainThread = false;
  bool errorAtCompletion = false;

 private:
  void Record(const char* what) {
    calls.emplace_back(what);
    offMainThread = offMainThread || !main_.IsMainThread();
  }
  std::string target_, tempBase_;
  const MainThread& main_;
};

struct RunResult {
  std::vector<std::string> calls;
  std::vector<std::string> messages;
  bool saveError = false;
  std::vector<std::string> previews;
};

RunResult Save(const std::string& target, const std::string& tempBase, int32_t pages, int32_t dpi,
               SaveOptions options = {}) {
  ManualMainThread main;
  ScriptedUi ui;
  RecordingHost host(target, tempBase, main);
  bool failed = false;
  {
    TSaveScanningThread saving(host, main, ui, SaveRun{pages, dpi, 24}, options);
    saving.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!saving.Finished() && std::chrono::steady_clock::now() < deadline) {
      main.DrainWithin(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(saving.Finished());
    failed = saving.Failed();
  }
  EXPECT_FALSE(host.offMainThread);
  EXPECT_EQ(host.errorAtCompletion, failed);
  RunResult r{host.calls, {}, failed, host.previews};
  for (const auto& m : ui.messages()) {
    EXPECT_EQ(m.caption, "Tessaro Utility");
    r.messages.push_back(m.text);
  }
  return r;
}

void WritePages(const TempFolder& dir, const std::string& base, const std::vector<BmpSpec>& pages) {
  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string name = i == 0 ? base + ".bmp" : base + "_" + std::to_string(i + 1) + ".bmp";
    WriteBytes(dir / name, MakeBmp(pages[i]));
  }
}

const std::vector<BmpSpec> kThreePages = {{.width = 40, .height = 30},
                                          {.width = 50, .height = 20, .topDown = true},
                                          {.width = 30, .height = 60, .bitCount = 8}};

TEST(SaveScanningTest, BmpRunStampsEveryPageInPlace) {
  TempFolder dir;
  WritePages(dir, "Picture", kThreePages);
  const auto r = Save(dir / "Picture.bmp", "", 3, 200);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Picture.bmp", "Picture_2.bmp", "Picture_3.bmp"}));
  for (size_t i = 0; i < 3; ++i) {
    const std::string name = i == 0 ? "Picture.bmp" : "Picture_" + std::to_string(i + 1) + ".bmp";
    auto bytes = ReadBytes(dir / name);
    EXPECT_EQ(GetU32(bytes, 38), 7874u) << name;
    EXPECT_EQ(GetU32(bytes, 42), 7874u) << name;
    PutU32(bytes, 38, 0);
    PutU32(bytes, 42, 0);
    EXPECT_EQ(bytes, MakeBmp(kThreePages[i])) << name;
  }
  EXPECT_TRUE(r.messages.empty());
  EXPECT_FALSE(r.saveError);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"navigation", "completed"}));
}

TEST(SaveScanningTest, JpgRunLeavesJpegsWithTheirDensityAndNoBitmaps) {
  TempFolder dir;
  WritePages(dir, "Picture", kThreePages);
  const auto r = Save(dir / "Picture.JPG", "", 3, 300);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Picture.jpg", "Picture_2.jpg", "Picture_3.jpg"}));
  for (size_t i = 0; i < 3; ++i) {
    const std::string name = i == 0 ? "Picture.jpg" : "Picture_" + std::to_string(i + 1) + ".jpg";
    const auto bytes = ReadBytes(dir / name);
    const auto at = FindJfif(bytes);
    ASSERT_TRUE(at) << name;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(*at) + 7,
                                   bytes.begin() + static_cast<long>(*at) + 12),
              (std::vector<uint8_t>{1, 0x01, 0x2C, 0x01, 0x2C}))
        << name;
    const auto decoded = DecodeJpegScaled(bytes, 1);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, kThreePages[i].width);
    EXPECT_EQ(decoded->height, kThreePages[i].height);
  }
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.calls, (std::vector<std::string>{"navigation", "completed"}));
}

TEST(SaveScanningTest, OnePageJpgLeavesExactlyOneFileAndNoNavigation) {
  TempFolder dir;
  WritePages(dir, "Picture", {{.width = 24, .height = 16}});
  const auto r = Save(dir / "Picture.jpg", "", 1, 150);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Picture.jpg"}));
  EXPECT_EQ(ReadJfifDensity(dir / "Picture.jpg"), 150);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"completed"}));
}

// pdfinfo's page count and media boxes, one "W x H" per page.
std::pair<int, std::vector<std::string>> PdfPages(const std::string& pdf) {
  const auto info = RunCommand("/usr/bin/pdfinfo", {"-f", "1", "-l", "3", "-box", pdf});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  int pages = -1;
  std::vector<std::string> boxes;
  const std::regex pagesLine(R"(Pages:\s+(\d+))");
  const std::regex boxLine(R"(MediaBox:\s+0\.00\s+0\.00\s+([\d.]+)\s+([\d.]+))");
  std::smatch m;
  for (const auto& line : info.Lines()) {
    if (std::regex_search(line, m, pagesLine)) pages = std::stoi(m[1]);
    if (std::regex_search(line, m, boxLine)) boxes.push_back(m[1].str() + " x " + m[2].str());
  }
  return {pages, boxes};
}

bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

TEST(SaveScanningTest, PdfRunMakesOnePagePerScanAtOnePointPerPixel) {
  TempFolder docs, target;
  WritePages(docs, "Picture", kThreePages);
  const auto r = Save(target / "Scan.pdf", docs / "Picture", 3, 300);
  EXPECT_EQ(target.Names(), (std::set<std::string>{"Scan.pdf"}));
  // The intermediate JPEGs stay for the preview, and the window is told of each; the bitmaps go.
  EXPECT_EQ(docs.Names(), (std::set<std::string>{"Picture.jpg", "Picture_2.jpg", "Picture_3.jpg"}));
  EXPECT_EQ(r.previews, (std::vector<std::string>{docs / "Picture.jpg", docs / "Picture_2.jpg",
                                                  docs / "Picture_3.jpg"}));
  const auto [pages, boxes] = PdfPages(target / "Scan.pdf");
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(boxes, (std::vector<std::string>{"40.00 x 30.00", "50.00 x 20.00", "30.00 x 60.00"}));
  // Each page's JPEG is embedded byte for byte, not decoded and encoded again.
  const auto pdf = ReadBytes(target / "Scan.pdf");
  for (const char* jpeg : {"Picture.jpg", "Picture_2.jpg", "Picture_3.jpg"}) {
    EXPECT_TRUE(Contains(pdf, ReadBytes(docs / jpeg))) << jpeg;
    EXPECT_EQ(ReadJfifDensity(docs / jpeg), 300);
  }
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.calls, (std::vector<std::string>{"pending", "navigation", "completed"}));
}

TEST(SaveScanningTest, PdfRunKeepsEveryPageOfALongScan) {
  TempFolder docs, target;
  std::vector<BmpSpec> pages(125, BmpSpec{.width = 8, .height = 8});
  WritePages(docs, "P", pages);
  const auto r = Save(target / "Long.pdf", docs / "P", 125, 100);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(PdfPages(target / "Long.pdf").first, 125);
}

TEST(SaveScanningTest, APageTooWideForAPdfPageStopsTheDocument) {
  TempFolder dir;
  WritePages(dir, "P",
             {{.width = 8, .height = 8}, {.width = 14401, .height = 1}, {.width = 8, .height = 8}});
  const auto r = Save(dir / "Wide.pdf", dir / "P", 3, 300);
  EXPECT_EQ(r.messages,
            (std::vector<std::string>{std::string(kSaveErrorText) + (dir / "P_2.jpg")}));
  // No document, so every page keeps its BMP; each page that became a JPEG has its preview.
  EXPECT_EQ(dir.Names(),
            (std::set<std::string>{"P.bmp", "P_2.bmp", "P_3.bmp", "P.jpg", "P_2.jpg", "P_3.jpg"}));
  EXPECT_EQ(r.calls, (std::vector<std::string>{"pending", "completed"}));
}

TEST(SaveScanningTest, AnyOtherExtensionWritesNothingButStillCallsBack) {
  TempFolder dir;
  WritePages(dir, "Picture", {{}, {}});
  const auto before = ReadBytes(dir / "Picture.bmp");
  const auto r = Save(dir / "Picture.tif", "", 2, 300);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Picture.bmp", "Picture_2.bmp"}));
  EXPECT_EQ(ReadBytes(dir / "Picture.bmp"), before);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"navigation", "completed"}));
}

// How a page of a fixture run is spoiled.
enum class Fault { None, Missing, NotBmp, Truncated, Compressed, Absurd };

void WriteSpoiled(const std::string& path, Fault fault) {
  auto bytes = MakeBmp({.width = 16, .height = 12});
  switch (fault) {
    case Fault::None: break;
    case Fault::Missing: return;
    case Fault::NotBmp: bytes.assign(200, 'x'); break;
    case Fault::Truncated: bytes.resize(bytes.size() / 2); break;
    case Fault::Compressed: PutU32(bytes, 30, 1); break;
    case Fault::Absurd:
      PutU32(bytes, 18, 40000);
      PutU32(bytes, 22, 40000);
      break;
  }
  WriteBytes(path, bytes);
}

TEST(SaveScanningTest, FailedPagesAreReportedInOrderAndTheRestStillSaved) {
  struct Case {
    const char* name;
    const char* ext;
    std::vector<Fault> pages;
    std::vector<std::string> messages;  // names relative to the folder
    std::set<std::string> files;        // what the folder holds afterwards
  };
  const Case cases[] = {
      {"bmp, second page missing",
       ".bmp",
       {Fault::None, Fault::Missing, Fault::None},
       {"P_2.bmp"},
       {"P.bmp", "P_3.bmp"}},
      {"bmp, first page not a bitmap",
       ".bmp",
       {Fault::NotBmp, Fault::None},
       {"P.bmp"},
       {"P.bmp", "P_2.bmp"}},
      {"jpg, truncated",
       ".jpg",
       {Fault::None, Fault::Truncated, Fault::None},
       {"P_2.jpg"},
       {"P.jpg", "P_2.bmp", "P_3.jpg"}},
      {"jpg, compressed and absurd",
       ".jpg",
       {Fault::Compressed, Fault::None, Fault::Absurd},
       {"P.jpg", "P_3.jpg"},
       {"P.bmp", "P_2.jpg", "P_3.bmp"}},
      {"jpg, not a bitmap and missing",
       ".jpg",
       {Fault::None, Fault::NotBmp, Fault::None, Fault::None, Fault::Missing, Fault::None},
       {"P_2.jpg", "P_5.jpg"},
       {"P.jpg", "P_2.bmp", "P_3.jpg", "P_4.jpg", "P_6.jpg"}},
      {"pdf, second page truncated",
       ".pdf",
       {Fault::None, Fault::Truncated, Fault::None},
       {"P_2.jpg"},
       {"P.bmp", "P_2.bmp", "P_3.bmp", "P.jpg", "P_3.jpg"}},
      {"pdf, first page missing",
       ".pdf",
       {Fault::Missing, Fault::None},
       {"P.jpg"},
       {"P_2.bmp", "P_2.jpg"}},
  };
  for (const auto& c : cases) {
    for (const unsigned workers : {1u, 2u}) {
      TempFolder dir;
      for (size_t i = 0; i < c.pages.size(); ++i) {
        WriteSpoiled(dir / (i == 0 ? "P.bmp" : "P_" + std::to_string(i + 1) + ".bmp"), c.pages[i]);
      }
      const std::string target = dir / (std::string("Out") + c.ext);
      const auto r =
          Save(c.ext == std::string(".pdf") ? target : dir / (std::string("P") + c.ext), dir / "P",
               static_cast<int32_t>(c.pages.size()), 300, SaveOptions{.workers = workers});
      std::vector<std::string> expected;
      for (const auto& m : c.messages) expected.push_back(std::string(kSaveErrorText) + (dir / m));
      EXPECT_EQ(r.messages, expected) << c.name << ", workers " << workers;
      EXPECT_TRUE(r.saveError) << c.name;
      // The document of a failed PDF run is not written, so its pages all keep their BMPs.
      EXPECT_EQ(dir.Names(), c.files) << c.name << ", workers " << workers;
      const std::vector<std::string> calls = c.ext == std::string(".pdf")
                                                 ? std::vector<std::string>{"pending", "completed"}
                                                 : std::vector<std::string>{"completed"};
      EXPECT_EQ(r.calls, calls) << c.name;
    }
  }
}

TEST(SaveScanningTest, PagesAreCompressedOnlyAFewAheadOfTheOneBeingSaved) {
  // The first page is missing, and its message waits for the main thread, which the test holds
  // back: meanwhile the one converting thread may compress two more pages (each waiting in its
  // hidden temporary file) and no further, however many pages the run has.
  TempFolder dir;
  for (int k = 2; k <= 20; ++k) {
    WriteSpoiled(dir / ("P_" + std::to_string(k) + ".bmp"), Fault::None);
  }
  ManualMainThread main;
  ScriptedUi ui;
  RecordingHost host(dir / "P.jpg", "", main);
  const auto pending = [&] {
    const auto names = dir.Names();
    return std::count_if(names.begin(), names.end(), [](const auto& n) { return n[0] == '.'; });
  };
  TSaveScanningThread saving(host, main, ui, SaveRun{20, 300, 24}, SaveOptions{.workers = 1});
  saving.Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (pending() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Small pages take microseconds each: a thread not held back would be through them by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(pending(), 2);
  while (!saving.Finished() && std::chrono::steady_clock::now() < deadline) {
    main.DrainWithin(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(saving.Finished());
  EXPECT_EQ(pending(), 0);
  EXPECT_EQ(dir.Names().size(), 19u);  // P_2.jpg to P_20.jpg
  EXPECT_EQ(ui.messages().size(), 1u);
}

TEST(SaveScanningTest, ExistingFinalFilesAreReplacedOnlyWhenAsked) {
  TempFolder dir;
  const std::vector<uint8_t> mine{'m', 'i', 'n', 'e'};
  WritePages(dir, "P", {{}, {}});
  WriteBytes(dir / "P_2.jpg", mine);
  auto r = Save(dir / "P.jpg", "", 2, 300);
  EXPECT_EQ(r.messages,
            (std::vector<std::string>{std::string(kSaveErrorText) + (dir / "P_2.jpg")}));
  EXPECT_EQ(ReadBytes(dir / "P_2.jpg"), mine);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"P.jpg", "P_2.bmp", "P_2.jpg"}));

  WritePages(dir, "P", {{}});
  r = Save(dir / "P.jpg", "", 2, 300, SaveOptions{.replaceExisting = true});
  EXPECT_FALSE(r.saveError);  // cleared by the new run, then nothing failed
  EXPECT_EQ(ReadJfifDensity(dir / "P_2.jpg"), 300);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"P.jpg", "P_2.jpg"}));

  TempFolder docs;
  WritePages(docs, "T", {{}});
  WriteBytes(dir / "Doc.pdf", mine);
  r = Save(dir / "Doc.pdf", docs / "T", 1, 300);
  EXPECT_EQ(r.messages,
            (std::vector<std::string>{std::string(kSaveErrorText) + (dir / "Doc.pdf")}));
  EXPECT_EQ(ReadBytes(dir / "Doc.pdf"), mine);
  // Its page is in no document, so its BMP stays beside the preview.
  EXPECT_EQ(docs.Names(), (std::set<std::string>{"T.bmp", "T.jpg"}));
  EXPECT_EQ(r.calls, (std::vector<std::string>{"pending", "completed"}));
  // No temporary file is left behind beside the target.
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Doc.pdf", "P.jpg", "P_2.jpg"}));
}

std::string Message(const std::string& file) { return std::string(kSaveErrorText) + file; }

TEST(SaveScanningTest, PdfBitmapsGoOnlyOnceTheDocumentHoldingTheirPagesIsOnDisk) {
  // A page fails, so no document is written: every BMP stays, the later pages' too, beside the
  // previews of the pages that converted.
  for (const unsigned workers : {1u, 2u}) {
    TempFolder docs, target;
    WriteSpoiled(docs / "P.bmp", Fault::None);
    WriteSpoiled(docs / "P_2.bmp", Fault::Truncated);
    WriteSpoiled(docs / "P_3.bmp", Fault::None);
    const auto first = ReadBytes(docs / "P.bmp");
    const auto third = ReadBytes(docs / "P_3.bmp");
    const auto r = Save(target / "Scan.pdf", docs / "P", 3, 300, SaveOptions{.workers = workers});
    EXPECT_EQ(r.messages, (std::vector<std::string>{Message(docs / "P_2.jpg")}));
    EXPECT_TRUE(target.Names().empty());
    EXPECT_EQ(docs.Names(),
              (std::set<std::string>{"P.bmp", "P_2.bmp", "P_3.bmp", "P.jpg", "P_3.jpg"}))
        << "workers " << workers;
    EXPECT_EQ(ReadBytes(docs / "P.bmp"), first);
    EXPECT_EQ(ReadBytes(docs / "P_3.bmp"), third);
  }
  // Every page converts but the document cannot be written: its target exists, or its folder
  // does not. No page is on disk in a document, so every BMP stays.
  for (const char* name : {"Scan.pdf", "missing/Scan.pdf"}) {
    TempFolder docs, target;
    WritePages(docs, "P", kThreePages);
    const std::vector<uint8_t> mine{'m', 'i', 'n', 'e'};
    WriteBytes(target / "Scan.pdf", mine);
    const auto r = Save(target / name, docs / "P", 3, 300);
    EXPECT_EQ(r.messages, (std::vector<std::string>{Message(target / name)}));
    EXPECT_EQ(ReadBytes(target / "Scan.pdf"), mine);
    EXPECT_EQ(target.Names(), (std::set<std::string>{"Scan.pdf"})) << name;
    EXPECT_EQ(docs.Names(),
              (std::set<std::string>{"P.bmp", "P_2.bmp", "P_3.bmp", "P.jpg", "P_2.jpg", "P_3.jpg"}))
        << name;
    for (size_t i = 0; i < 3; ++i) {
      const std::string page = i == 0 ? "P.bmp" : "P_" + std::to_string(i + 1) + ".bmp";
      EXPECT_EQ(ReadBytes(docs / page), MakeBmp(kThreePages[i])) << name << ", " << page;
    }
  }
}

TEST(SaveScanningTest, APdfRunPutsPreviewsOnlyUnderFreeNamesAndReportsExactlyThose) {
  // save-pages pdf X.pdf: the temporary base is the target's base, so files of the user's own sit
  // where the first three pages' previews would be named: a photo of another page (a JPEG the
  // document must not take instead of page 1), a note, and a link to nowhere (which must not be
  // followed to make its target). Pages 4 and 5 have free names.
  const std::vector<BmpSpec> pages = {{.width = 40, .height = 30},
                                      {.width = 50, .height = 20, .topDown = true},
                                      {.width = 30, .height = 60, .bitCount = 8},
                                      {.width = 24, .height = 16},
                                      {.width = 16, .height = 12, .bitCount = 32}};
  JpegEncoder encoder;
  const auto encoded = [&](const BmpSpec& layout) {
    return encoder.Encode(std::get<BmpImage>(ParseBmp(MakeBmp(layout))), 300);
  };
  const std::vector<uint8_t> photo = encoded({.width = 12, .height = 12});
  const std::vector<uint8_t> note{'n', 'o', 't', 'e'};
  const auto name = [](int32_t k, const char* ext) {
    return k == 1 ? std::string("X") + ext : "X_" + std::to_string(k) + ext;
  };
  struct Case {
    const char* what;
    int32_t failing;                // the page cut short, 0 for none
    std::vector<int32_t> previews;  // the pages that get one
  };
  const Case cases[] = {
      {"every page good", 0, {4, 5}},
      {"a page with a free name fails", 4, {5}},
      {"a page with a taken name fails", 2, {4, 5}},
  };
  for (const auto& c : cases) {
    for (const unsigned workers : {1u, 2u}) {
      const std::string what = c.what + (", workers " + std::to_string(workers));
      TempFolder dir;
      WritePages(dir, "X", pages);
      if (c.failing != 0) WriteSpoiled(dir / name(c.failing, ".bmp"), Fault::Truncated);
      WriteBytes(dir / "X.jpg", photo);
      WriteBytes(dir / "X_2.jpg", note);
      fs::create_symlink(dir / "nowhere.jpg", dir / "X_3.jpg");

      const auto r = Save(dir / "X.pdf", dir / "X", 5, 300, SaveOptions{.workers = workers});
      EXPECT_EQ(ReadBytes(dir / "X.jpg"), photo) << what;
      EXPECT_EQ(ReadBytes(dir / "X_2.jpg"), note) << what;
      EXPECT_TRUE(fs::is_symlink(dir / "X_3.jpg")) << what;
      std::set<std::string> files{"X.jpg", "X_2.jpg", "X_3.jpg"};  // no "nowhere.jpg"
      // The window is told of exactly the previews there are, each the page's own JPEG.
      std::vector<std::string> previews;
      for (const int32_t k : c.previews) {
        previews.push_back(dir / name(k, ".jpg"));
        files.insert(name(k, ".jpg"));
        EXPECT_EQ(ReadBytes(dir / name(k, ".jpg")), encoded(pages[static_cast<size_t>(k - 1)]))
            << what << ", page " << k;
      }
      EXPECT_EQ(r.previews, previews) << what;
      if (c.failing != 0) {
        EXPECT_EQ(r.messages, (std::vector<std::string>{Message(dir / name(c.failing, ".jpg"))}))
            << what;
        for (int32_t k = 1; k <= 5; ++k) files.insert(name(k, ".bmp"));
        EXPECT_EQ(r.calls, (std::vector<std::string>{"pending", "completed"})) << what;
      } else {
        EXPECT_TRUE(r.messages.empty()) << what;
        files.insert("X.pdf");
        // Every page, the ones without a preview included, is in the document as this run
        // made it; the user's photo is not.
        const auto pdf = ReadBytes(dir / "X.pdf");
        for (const auto& layout : pages) {
          EXPECT_TRUE(Contains(pdf, encoded(layout))) << what << ", " << layout.width << " wide";
        }
        EXPECT_FALSE(Contains(pdf, photo)) << what;
        EXPECT_EQ(PdfPages(dir / "X.pdf").first, 5) << what;
        EXPECT_EQ(r.calls, (std::vector<std::string>{"pending", "navigation", "completed"}))
            << what;
      }
      // Nothing else is left behind: no hidden temporary file, nothing made through the link.
      EXPECT_EQ(dir.Names(), files) << what;
    }
  }
}

// What stands where page 2 of a run should be a bitmap.
enum class Odd { Fifo, Folder, Device };

TEST(SaveScanningTest, APageThatIsNoRegularFileFailsThatPageWithoutBlocking) {
  struct Case {
    const char* ext;
    const char* message;          // the name in the failure message
    std::set<std::string> files;  // what the folder holds afterwards
  };
  const Case cases[] = {
      {".jpg", "P_2.jpg", {"P.jpg", "P_2.bmp", "P_3.jpg"}},
      {".pdf", "P_2.jpg", {"P.bmp", "P_2.bmp", "P_3.bmp", "P.jpg", "P_3.jpg"}},
      {".bmp", "P_2.bmp", {"P.bmp", "P_2.bmp", "P_3.bmp"}},
  };
  for (const auto& c : cases) {
    for (const Odd odd : {Odd::Fifo, Odd::Folder, Odd::Device}) {
      TempFolder dir;
      WriteSpoiled(dir / "P.bmp", Fault::None);
      WriteSpoiled(dir / "P_3.bmp", Fault::None);
      const std::string page2 = dir / "P_2.bmp";
      switch (odd) {
        case Odd::Fifo: ASSERT_EQ(::mkfifo(page2.c_str(), 0600), 0); break;
        case Odd::Folder: fs::create_directory(page2); break;
        case Odd::Device: fs::create_symlink("/dev/zero", page2); break;
      }
      const bool pdf = c.ext == std::string(".pdf");
      const std::string target = pdf ? dir / "Out.pdf" : dir / (std::string("P") + c.ext);
      // In a child with a time limit: a save that blocks on the FIFO fails here, it does not
      // stop the suite.
      const auto messages = RunBounded(
          [&] {
            const auto r = Save(target, dir / "P", 3, 300, SaveOptions{.workers = 2});
            std::string text;
            for (const auto& m : r.messages) text += m + "\n";
            return text;
          },
          std::chrono::seconds(10));
      const std::string what = c.ext + (", kind " + std::to_string(static_cast<int>(odd)));
      ASSERT_TRUE(messages) << "the save blocked (or died): " << what;
      EXPECT_EQ(*messages, Message(dir / c.message) + "\n") << what;
      EXPECT_EQ(dir.Names(), c.files) << what;
      if (odd == Odd::Fifo) {
        EXPECT_TRUE(fs::is_fifo(page2)) << what;
      }
      if (odd == Odd::Device) {
        EXPECT_TRUE(fs::is_symlink(page2)) << what;
      }
    }
  }
}

}  // namespace
