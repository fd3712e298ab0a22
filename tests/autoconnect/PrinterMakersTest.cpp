// SPDX-License-Identifier: GPL-2.0-or-later
// The printer maker table and the INI reader under it, on fixture files.
#include <gtest/gtest.h>

#include <filesystem>

#include "autoconnect/PrinterMakers.h"
#include "base/IniFile.h"
#include "tests/TestPaths.h"
#include "tests/support/Process.h"

namespace tessaro {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;
const std::string kFixtures = std::string(testing::kFixturesDir) + "/autoconnect";

TEST(PrinterMakers, SectionsAndLinesKeepFileOrderWithoutEmptyValues) {
  const PrinterMakerTable table = ReadPrinterMakerFile(kFixtures + "/makers.ini");
  ASSERT_EQ(table.count(), 4u);
  // A section whose name repeats is read once, from its first place.
  EXPECT_EQ(table.sections[0].name, "Quillon");
  EXPECT_EQ(table.sections[0].lines,
            (Lines{{"Vid", "F1C3"}, {"K1", "Quillon"}, {"K3", "QL-"}, {"K4", "Q Series"}}));
  // An empty first line drops out, so the second line becomes the vendor-ID line.
  EXPECT_EQ(table.sections[1].name, "Blankfirst");
  EXPECT_EQ(table.sections[1].lines, (Lines{{"K1", "F2A7"}, {"K2", "Brant"}}));
  // A repeated key answers with its first value on every line it names.
  EXPECT_EQ(
      table.sections[2].lines,
      (Lines{{"Vid", "F3D0"}, {"K", "first"}, {"K", "first"}, {"k", "first"}, {"Other", "Orris"}}));
  EXPECT_EQ(table.sections[3].name, "Empty");
  EXPECT_TRUE(table.sections[3].lines.empty());
}

TEST(PrinterMakers, MissingEmptyOrOversizedFilesGiveAnEmptyTable) {
  testing::TempDir dir;
  testing::WriteTextFile(dir / "huge.ini",
                         "[A]\nVid=F1C3\n" + std::string(IniFile::kMaxFileSize, ';'));
  for (const std::string& path :
       {kFixtures + "/empty.ini", kFixtures + "/absent.ini", dir / "huge.ini", dir.path()}) {
    EXPECT_EQ(ReadPrinterMakerFile(path).count(), 0u) << path;
  }
  // A reload replaces what the table held; the file is looked for beside the program.
  PrinterMakerTable table = ReadPrinterMakerFile(kFixtures + "/makers.ini");
  ASSERT_NE(table.count(), 0u);
  LoadPrinterMakerTable(dir.path(), table);
  EXPECT_EQ(table.count(), 0u);
  std::filesystem::copy_file(kFixtures + "/makers.ini", dir / kPrinterMakerFileName);
  LoadPrinterMakerTable(dir.path(), table);
  EXPECT_EQ(table.count(), 4u);
}

TEST(PrinterMakers, ShippedTableGivesEveryMakerAVendorIdAndKeywords) {
  const PrinterMakerTable table =
      ReadPrinterMakerFile(std::string(testing::kResourcesDir) + "/" + kPrinterMakerFileName);
  ASSERT_GT(table.count(), 0u);
  for (const PrinterMakerSection& section : table.sections) {
    ASSERT_GE(section.lines.size(), 2u) << section.name;
    const std::string& vid = section.lines[0].second;
    EXPECT_EQ(vid.size(), 4u) << section.name;
    EXPECT_EQ(vid.find_first_not_of("0123456789ABCDEF"), std::string::npos) << section.name;
  }
}

TEST(IniFile, ParsesTheWindowsWay) {
  const IniFile ini = IniFile::Parse(
      "\xEF\xBB\xBF[One]\nKey=v1\nkey=v2\n; note=x\n[ Two ]\r\n a = ' quoted ' \r\n[Open\nx=1");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"One", "Two", "Open"}));
  EXPECT_EQ(ini.KeyNames("one"), (std::vector<std::string>{"Key", "key"}));
  EXPECT_EQ(ini.ReadString("ONE", "KEY"), "v1");
  EXPECT_EQ(ini.ReadString("Two", "a"), " quoted ");
  EXPECT_EQ(ini.ReadString("Open", "x"), "1");
  EXPECT_EQ(ini.ReadString("One", "note", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("Three", "Key", "fallback"), "fallback");
  EXPECT_TRUE(ini.KeyNames("Three").empty());
}

}  // namespace
}  // namespace tessaro
