// SPDX-License-Identifier: GPL-2.0-or-later
// A printer with an output folder turns each job of its owner into one whole file; whatever cuts
// a job short leaves no file under a final name.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "hubd/Hub.h"
#include "hubd/Session.h"
#include "tests/hubd/Handshake.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using tessaro::testing::ReadTextFile;

using namespace tessaro;
using namespace tessaro::hubd;
using tessaro::testing::TestKeyFor;
using wire::MsgType;

namespace {

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.' || std::string(e->d_name).size() > 2) names.insert(e->d_name);
    ::closedir(d);
  }
  names.erase(".");
  names.erase("..");
  return names;
}

class PrintSinkTest : public ::testing::Test {
 public:
  HubConfig Config() const {
    HubConfig c;
    c.server.address = "127.0.0.2";
    c.server.port = 2005;
    const std::pair<const char*, std::string> devices[] = {
        {"PRINTER", folder}, {"MFP", folder}, {"PRINTER", ""}, {"MASS STORAGE", folder}};
    uint8_t n = 1;
    for (const auto& [type, output] : devices) {
      DeviceConfig d;
      d.number = n++;
      d.type = type;
      d.outputFolder = output;
      c.devices.push_back(d);
    }
    return c;
  }

  std::unique_ptr<Session> Pc(const std::string& name, std::vector<uint8_t> link = {1}) {
    auto s = std::make_unique<Session>(hub, 0x0500007F, name);
    hubd::testing::Greet(hub, *s, name, TestKeyFor(name));
    for (uint8_t n : link) Call(*s, MsgType::Link, {n});
    return s;
  }

  // The status of the Result a request got.
  static uint32_t Call(Session& s, MsgType type, std::vector<uint8_t> payload) {
    s.Receive(wire::EncodeFrame({type, 0, 9, std::move(payload)}));
    const auto frames = hubd::testing::TakeFrames(s);
    return frames.empty() ? 0xFFFFFFFF : wire::DecodeResult(frames.back().payload).value_or(0xFF);
  }
  static std::vector<uint8_t> Data(uint8_t number, const std::string& text) {
    std::vector<uint8_t> p{number};
    p.insert(p.end(), text.begin(), text.end());
    return p;
  }

  tessaro::testing::TempDir dir;
  const std::string folder = dir.path();
  tessaro::testing::FakeClock clock;
  std::vector<std::string> log;
  PinStore pins{"", nullptr};
  Hub hub{Config(), clock, wire::kVersionMajor, pins,
          [this](const std::string& l) { log.push_back(l); }};
};

}  // namespace

TEST_F(PrintSinkTest, EachJobBecomesOneWholeFileUnderTheNextFreeNumber) {
  tessaro::testing::WriteTextFile(folder + "/job-2-PC-A.prn", "an older job");
  auto a = Pc("PC-A", {1, 2});
  ASSERT_EQ(Call(*a, MsgType::WriteData, Data(1, "hello ")), 0u);
  ASSERT_EQ(Call(*a, MsgType::WriteData, Data(1, "world")), 0u);
  EXPECT_EQ(FilesIn(folder).size(), 2u) << "the job's file is hidden until it ends";
  ASSERT_EQ(Call(*a, MsgType::EndData, {1}), 0u);
  EXPECT_EQ(ReadTextFile(folder + "/job-1-PC-A.prn"), "hello world");
  ASSERT_EQ(Call(*a, MsgType::WriteData, Data(2, "mfp")), 0u);
  ASSERT_EQ(Call(*a, MsgType::EndData, {2}), 0u);
  ASSERT_EQ(Call(*a, MsgType::EndData, {1}), 0u) << "a job without data is an empty file";
  EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"job-1-PC-A.prn", "job-2-PC-A.prn",
                                                    "job-3-PC-A.prn", "job-4-PC-A.prn"}));
  EXPECT_EQ(ReadTextFile(folder + "/job-2-PC-A.prn"), "an older job") << "never replaced";
  EXPECT_EQ(ReadTextFile(folder + "/job-3-PC-A.prn"), "mfp");
  EXPECT_EQ(ReadTextFile(folder + "/job-4-PC-A.prn"), "");
}

TEST_F(PrintSinkTest, DataItCannotTakeIsRefusedAndWritesNothing) {
  auto a = Pc("PC-A", {1, 3, 4});
  auto b = Pc("PC-B", {});
  auto a2 = Pc("PC-A", {});  // the same PC on another connection
  ASSERT_EQ(Call(*a, MsgType::WriteData, Data(1, "first job")), 0u);
  const struct Case {
    const char* what;
    Session* from;
    MsgType type;
    std::vector<uint8_t> payload;
    uint32_t status;
  } cases[] = {
      {"from a PC that does not own it", b.get(), MsgType::WriteData, Data(1, "x"), 21},
      {"its end from that PC", b.get(), MsgType::EndData, {1}, 21},
      {"a second job while one is open", a2.get(), MsgType::WriteData, Data(1, "x"), 170},
      {"a printer without an output folder", a.get(), MsgType::WriteData, Data(3, "x"), 50},
      {"a device that is no printer", a.get(), MsgType::WriteData, Data(4, "x"), 50},
      {"no such device", a.get(), MsgType::WriteData, Data(99, "x"), 1168},
      {"an end of two bytes", a.get(), MsgType::EndData, {1, 0}, 87},
      {"no device number", a.get(), MsgType::WriteData, {}, 87},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Call(*c.from, c.type, c.payload), c.status);
  }
  ASSERT_EQ(Call(*a, MsgType::EndData, {1}), 0u);
  EXPECT_EQ(ReadTextFile(folder + "/job-1-PC-A.prn"), "first job")
      << "the open job was not disturbed";
  EXPECT_EQ(FilesIn(folder).size(), 1u);
}

TEST_F(PrintSinkTest, AJobCutShortLeavesNoFile) {
  const struct Case {
    const char* what;
    std::function<void(PrintSinkTest&, std::unique_ptr<Session>&)> cut;
  } cases[] = {
      {"the connection goes", [](PrintSinkTest&, std::unique_ptr<Session>& s) { s.reset(); }},
      {"the sender aborts it",
       [](PrintSinkTest&, std::unique_ptr<Session>& s) {
         EXPECT_EQ(Call(*s, MsgType::AbortData, {1}), 0u);
       }},
      {"the device is unlinked",
       [](PrintSinkTest&, std::unique_ptr<Session>& s) {
         EXPECT_EQ(Call(*s, MsgType::Unlink, {1}), 0u);
       }},
      {"another PC takes the device",
       [](PrintSinkTest& t, std::unique_ptr<Session>&) { t.Pc("PC-B"); }},
      {"a reload removes the device",
       [](PrintSinkTest& t, std::unique_ptr<Session>&) {
         HubConfig c = t.Config();
         c.devices.erase(c.devices.begin());
         t.hub.Reload(c);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto a = Pc("PC-A");
    ASSERT_EQ(Call(*a, MsgType::WriteData, Data(1, "half a job")), 0u);
    c.cut(*this, a);
    EXPECT_FALSE(hub.sink().HasJob(1)) << "the job is gone";
    EXPECT_TRUE(FilesIn(folder).empty()) << *FilesIn(folder).begin();
    hub.Reload(Config());
    if (a) {
      Call(*a, MsgType::Unlink, {1});
    }
  }
}

// A PC sends pieces without waiting for their Results, so pieces still on their way when the job
// was dropped must not open a new job with a gap: they, and the job's end, are refused until that
// end or an abort.
TEST_F(PrintSinkTest, PiecesAfterADroppedJobNeverStartAJobOfTheirOwn) {
  const struct Case {
    const char* what;
    MsgType closing;  // what ends the dropped job for its sender
    uint32_t closingStatus;
  } cases[] = {
      {"its end", MsgType::EndData, 21},
      {"an abort", MsgType::AbortData, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto a = Pc("PC-A");
    ASSERT_EQ(Call(*a, MsgType::WriteData, Data(1, "the first half ")), 0u);
    // Unlinked and linked again between two pieces: the device is this PC's once more.
    ASSERT_EQ(Call(*a, MsgType::Unlink, {1}), 0u);
    ASSERT_EQ(Call(*a, MsgType::Link, {1}), 0u);
    EXPECT_EQ(Call(*a, MsgType::WriteData, Data(1, "the second half")), 21u);
    EXPECT_EQ(Call(*a, c.closing, {1}), c.closingStatus);
    EXPECT_TRUE(FilesIn(folder).empty()) << *FilesIn(folder).begin();
    ASSERT_EQ(Call(*a, MsgType::WriteData, Data(1, "sent again whole")), 0u);
    ASSERT_EQ(Call(*a, MsgType::EndData, {1}), 0u);
    const auto files = FilesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadTextFile(folder + "/" + *files.begin()), "sent again whole");
    ::unlink((folder + "/" + *files.begin()).c_str());
    Call(*a, MsgType::Unlink, {1});
  }
}

TEST(PrintSink, LeftoversOfAKilledHubdGoAndNamesStayInTheirFolder) {
  tessaro::testing::TempDir dir;
  tessaro::testing::WriteTextFile(dir / ".tessaro-job-AbC123", "half");
  tessaro::testing::WriteTextFile(dir / "job-1-PC.prn", "whole");
  EXPECT_EQ(PrintSink::RemoveLeftovers(dir.path()), 1u);
  EXPECT_EQ(FilesIn(dir.path()), (std::set<std::string>{"job-1-PC.prn"}));
  EXPECT_EQ(PrintSink::FileNamePart("../..\\x\n"), ".._.._x_");
  EXPECT_EQ(PrintSink::FileNamePart(""), "_");
}
