// SPDX-License-Identifier: GPL-2.0-or-later
// tessaro-cli save-pages as scripts run it: no bus needed, files, output and exit status.
#include <gtest/gtest.h>

#include "tests/TestPaths.h"
#include "tests/support/Command.h"
#include "tests/support/PageFixtures.h"

using namespace tessaro::testing;

namespace {

// No busd anywhere: saving pages must not need one.
CommandResult SavePages(const std::vector<std::string>& args) {
  return RunCommand(std::string(kBinaryDir) + "/cli/tessaro-cli", args,
                    {{"TESSARO_RUNTIME_DIR", "/nonexistent/tessaro-runtime"}});
}

void WritePages(const TempFolder& dir, const std::string& base, int pages) {
  for (int k = 1; k <= pages; ++k) {
    const std::string name = k == 1 ? base + ".bmp" : base + "_" + std::to_string(k) + ".bmp";
    WriteBytes(dir / name, MakeBmp({.width = 20 + k, .height = 10}));
  }
}

TEST(SavePagesCliTest, JpgRunPrintsOkAndPageCount) {
  TempFolder dir;
  WritePages(dir, "Picture", 3);
  const auto r = SavePages({"--json", "save-pages", "jpg", "300", "3", dir / "Picture.jpg"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.Lines().size(), 1u);
  const auto json = ParseFlatJson(r.Lines()[0]);
  EXPECT_EQ(json.at("ok"), "true");
  EXPECT_EQ(json.at("pages"), "3");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Picture.jpg", "Picture_2.jpg", "Picture_3.jpg"}));
}

TEST(SavePagesCliTest, PdfTemporaryBaseDefaultsToTheTargetBase) {
  TempFolder dir, docs;
  WritePages(dir, "Doc", 2);
  auto r = SavePages({"save-pages", "pdf", "200", "2", dir / "Doc.pdf"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Doc.pdf"}));

  WritePages(docs, "Picture", 2);
  r = SavePages({"--json", "save-pages", "pdf", "200", "2", dir / "Other.pdf", docs / "Picture"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(docs.Names().empty());
  EXPECT_TRUE(dir.Names().contains("Other.pdf"));
}

TEST(SavePagesCliTest, PdfRunKeepsEveryBitmapUntilTheDocumentIsWritten) {
  // Three pages, the second cut short: no document, so no page may lose its BMP.
  TempFolder dir;
  WritePages(dir, "P", 3);
  auto second = ReadBytes(dir / "P_2.bmp");
  second.resize(second.size() / 2);
  WriteBytes(dir / "P_2.bmp", second);
  const auto r = SavePages({"save-pages", "pdf", "300", "3", dir / "P.pdf"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Can't save file : " + (dir / "P_2.jpg") + "\n");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"P.bmp", "P_2.bmp", "P_3.bmp"}));
}

TEST(SavePagesCliTest, PdfRunLeavesTheUsersJpegsAloneAndNoPreviewBehind) {
  // The command shows no previews: the intermediate JPEGs it made go when it ends, while the
  // user's files under the names of the first two stay as they were.
  const std::vector<uint8_t> photo{0xFF, 0xD8, 'm', 'i', 'n', 'e'};
  const std::vector<uint8_t> note{'n', 'o', 't', 'e'};
  for (const bool pageFails : {false, true}) {
    TempFolder dir;
    WritePages(dir, "X", 4);
    if (pageFails) {
      auto third = ReadBytes(dir / "X_3.bmp");
      third.resize(third.size() / 2);
      WriteBytes(dir / "X_3.bmp", third);
    }
    WriteBytes(dir / "X.jpg", photo);
    WriteBytes(dir / "X_2.jpg", note);
    const auto r = SavePages({"save-pages", "pdf", "300", "4", dir / "X.pdf"});
    EXPECT_EQ(ReadBytes(dir / "X.jpg"), photo) << pageFails;
    EXPECT_EQ(ReadBytes(dir / "X_2.jpg"), note) << pageFails;
    if (pageFails) {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err, "Can't save file : " + (dir / "X_3.jpg") + "\n");
      EXPECT_EQ(dir.Names(), (std::set<std::string>{"X.bmp", "X_2.bmp", "X_3.bmp", "X_4.bmp",
                                                    "X.jpg", "X_2.jpg"}));
    } else {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(dir.Names(), (std::set<std::string>{"X.pdf", "X.jpg", "X_2.jpg"}));
    }
  }
}

TEST(SavePagesCliTest, AFailedPageGivesItsMessageAndExitOne) {
  TempFolder dir;
  WritePages(dir, "P", 1);  // page 2 is missing
  const auto r = SavePages({"--json", "save-pages", "bmp", "300", "2", dir / "P.bmp"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Can't save file : " + (dir / "P_2.bmp") + "\n");
  EXPECT_EQ(GetU32(ReadBytes(dir / "P.bmp"), 38), 11811u);
}

TEST(SavePagesCliTest, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"save-pages"},
      {"save-pages", "jpg", "300", "1"},
      {"save-pages", "png", "300", "1", "/tmp/a.png"},
      {"save-pages", "JPG", "300", "1", "/tmp/a.jpg"},
      {"save-pages", "jpg", "0", "1", "/tmp/a.jpg"},
      {"save-pages", "jpg", "65536", "1", "/tmp/a.jpg"},
      {"save-pages", "jpg", "300", "0", "/tmp/a.jpg"},
      {"save-pages", "jpg", "300", "two", "/tmp/a.jpg"},
      {"save-pages", "jpg", "300", "1", "/tmp/a.pdf"},
      {"save-pages", "pdf", "300", "1", "/tmp/a"},
      {"save-pages", "pdf", "300", "1", "/tmp/a.pdf", "/tmp/t", "extra"},
  };
  for (const auto& args : cases) {
    const auto r = SavePages(args);
    EXPECT_EQ(r.exitCode, 2) << args.size() << " " << args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
  }
}

}  // namespace
