// SPDX-License-Identifier: GPL-2.0-or-later
// The pins file: what hubd writes reads back after a restart, what an administrator edits is
// taken on reload, and what cannot be kept is not pinned.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "hubd/PinStore.h"
#include "protocol/PcKey.h"
#include "tests/support/Process.h"

using tessaro::testing::ReadTextFile;

using namespace tessaro;
using namespace tessaro::hubd;
using Verdict = PinStore::Verdict;

namespace {

wire::PublicKey KeyOf(uint8_t b) {
  wire::PublicKey k;
  k.fill(b);
  return k;
}

std::unique_ptr<PinStore> LoadFrom(const std::string& path, std::vector<std::string>& log) {
  auto store = std::make_unique<PinStore>(path, [&log](const std::string& l) { log.push_back(l); });
  std::string error;
  EXPECT_TRUE(store->Load(error)) << error;
  return store;
}

}  // namespace

TEST(PinStore, PinsOutlastARestartWhateverTheNames) {
  tessaro::testing::TempDir dir;
  const std::string path = dir / "hub.conf.pins";
  const std::string names[] = {"PC-A",        "two words", "back\\slash",
                               "line\nbreak", "\x1b[31m",  "caf\xc3\xa9"};
  std::vector<std::string> log;
  {
    auto pins = LoadFrom(path, log);  // no file yet: no pins
    for (size_t i = 0; i < std::size(names); ++i)
      EXPECT_EQ(pins->Check(names[i], KeyOf(static_cast<uint8_t>(i))), Verdict::Pinned) << i;
    EXPECT_EQ(pins->Check("PC-A", KeyOf(0)), Verdict::Match);
  }
  auto again = LoadFrom(path, log);
  EXPECT_EQ(again->size(), std::size(names));
  for (size_t i = 0; i < std::size(names); ++i) {
    EXPECT_EQ(again->Check(names[i], KeyOf(static_cast<uint8_t>(i))), Verdict::Match) << i;
    EXPECT_EQ(again->Check(names[i], KeyOf(99)), Verdict::Mismatch) << i;
  }
  EXPECT_TRUE(log.empty()) << log.front();
  // One line a name, whatever bytes it holds, and only the owner writes the file.
  const std::string text = ReadTextFile(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::size(names) + 2) << text;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(PinStore, AnAdministratorsEditsCountAfterAReload) {
  tessaro::testing::TempDir dir;
  const std::string path = dir / "pins";
  std::vector<std::string> log;
  auto pins = LoadFrom(path, log);
  ASSERT_EQ(pins->Check("OLD-PC", KeyOf(1)), Verdict::Pinned);
  ASSERT_EQ(pins->Check("KEPT", KeyOf(2)), Verdict::Pinned);
  // The OLD-PC line goes; a later line for KEPT names a new key; garbage is skipped.
  tessaro::testing::WriteTextFile(
      path, "# edited\n" + HexText(KeyOf(2)) + " KEPT\n" + HexText(KeyOf(3)) + " KEPT\n" +
                "not a pin\n" + HexText(KeyOf(4)).substr(2) + " SHORT\n" + HexText(KeyOf(5)) +
                " bad\\escape\n" + HexText(KeyOf(6)) + " \n");
  std::string error;
  ASSERT_TRUE(pins->Load(error)) << error;
  EXPECT_EQ(pins->Check("KEPT", KeyOf(3)), Verdict::Match);
  EXPECT_EQ(pins->Check("KEPT", KeyOf(2)), Verdict::Mismatch);
  EXPECT_EQ(pins->Check("OLD-PC", KeyOf(7)), Verdict::Pinned) << "a replaced PC pins its new key";
  EXPECT_EQ(pins->Check("SHORT", KeyOf(8)), Verdict::Pinned);
  EXPECT_EQ(log.size(), 4u) << "one line per skipped line";
}

TEST(PinStore, ALineCutByACrashDoesNotSwallowTheNextPin) {
  tessaro::testing::TempDir dir;
  const std::string path = dir / "pins";
  tessaro::testing::WriteTextFile(path, HexText(KeyOf(1)) + " PC-A\n" + "0123abc");
  std::vector<std::string> log;
  auto pins = LoadFrom(path, log);
  EXPECT_EQ(log.size(), 1u);
  ASSERT_EQ(pins->Check("PC-B", KeyOf(2)), Verdict::Pinned);
  auto again = LoadFrom(path, log);
  EXPECT_EQ(again->Check("PC-A", KeyOf(1)), Verdict::Match);
  EXPECT_EQ(again->Check("PC-B", KeyOf(2)), Verdict::Match);
}

TEST(PinStore, WhatCannotBeKeptIsNotPinned) {
  tessaro::testing::TempDir dir;
  std::vector<std::string> log;
  // A folder that does not exist: the pin cannot be written, so it is not made.
  auto unwritable = LoadFrom(dir / "missing/pins", log);
  EXPECT_EQ(unwritable->Check("PC-A", KeyOf(1)), Verdict::WriteFailed);
  EXPECT_EQ(unwritable->Check("PC-A", KeyOf(2)), Verdict::WriteFailed) << "nothing was pinned";
  // A full store takes no new names but still knows its own.
  PinStore memory("", nullptr);
  for (size_t i = 0; i < PinStore::kMaxPins; ++i)
    ASSERT_EQ(memory.Check("PC-" + std::to_string(i), KeyOf(1)), Verdict::Pinned);
  EXPECT_EQ(memory.Check("ONE-MORE", KeyOf(1)), Verdict::Full);
  EXPECT_EQ(memory.Check("PC-7", KeyOf(1)), Verdict::Match);
  EXPECT_EQ(memory.Check("PC-7", KeyOf(2)), Verdict::Mismatch);
  // A pins file that is a folder cannot be read: hubd will not start on it.
  ::mkdir((dir / "folder").c_str(), 0755);
  PinStore folder(dir / "folder", nullptr);
  std::string error;
  EXPECT_FALSE(folder.Load(error));
  EXPECT_NE(error.find("folder"), std::string::npos) << error;
}
