// SPDX-License-Identifier: GPL-2.0-or-later
// The backend `tessaro` run as CUPS runs it, against a real busd and hubd: it waits while the
// printer is not linked to this PC, then the job arrives whole in one file at the server; it
// lists the printers; a fault part-way asks CUPS to send the job again and leaves no file.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <sstream>

#include "base/FileHandle.h"
#include "tests/support/Lab.h"
#include "tests/support/Process.h"

using tessaro::testing::ReadTextFile;

using namespace tessaro::testing;
using tessaro::UniqueFd;
using tessaro::WriteAll;

namespace {

const std::string kUri = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-00731";

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(output.c_str(), 0755);
    std::string devices = PrinterAndStorage();
    const auto at = devices.find("serial = LW2040-00731\n");
    devices.insert(at, "output-folder = " + output + "\n");
    lab.StartHub({"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", devices, {}});
    pc = &lab.StartPc("PC-A", {"127.0.0.2"});
    ASSERT_TRUE(lab.WaitForServerState(*pc, "127.0.0.2", "1"));
  }

  // The backend as CUPS starts it for one job held in `jobFile`.
  std::unique_ptr<Process> Job(const std::string& jobFile, const std::string& uri = kUri) {
    auto env = pc->Env();
    env["DEVICE_URI"] = uri;
    auto p = std::make_unique<Process>(
        Lab::Binary("cups-backend/tessaro"),
        std::vector<std::string>{"7", "alice", "report", "1", "", jobFile}, env);
    EXPECT_TRUE(p->Start());
    return p;
  }

  std::string WriteJob(size_t bytes) {
    std::string data(bytes, '\0');
    std::mt19937 random(7);
    for (char& c : data) c = static_cast<char>(random());
    const std::string path = lab.dir() / "job.bin";
    WriteTextFile(path, data);
    return path;
  }

  Lab lab;
  Lab::Pc* pc = nullptr;
  const std::string output = lab.dir() / "prints";
};

}  // namespace

TEST_F(Backend, WaitsUntilThePrinterIsLinkedThenTheJobArrivesWhole) {
  const std::string job = WriteJob(300 * 1000);  // five pieces
  auto backend = Job(job);
  ASSERT_TRUE(backend->WaitForOutput("STATE: +connecting-to-device")) << backend->Output();
  ASSERT_TRUE(backend->WaitForOutput("INFO: waiting: the printer is not connected"));
  EXPECT_TRUE(FilesIn(output).empty());
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  ASSERT_EQ(backend->WaitForExit(std::chrono::seconds(20)), 0) << backend->Output();
  EXPECT_TRUE(backend->WaitForOutput("STATE: -connecting-to-device"));
  ASSERT_EQ(FilesIn(output), std::vector<std::string>{"job-1-PC-A.prn"});
  EXPECT_EQ(ReadTextFile(output + "/job-1-PC-A.prn"), ReadTextFile(job));
  // Another job, now that the printer is linked, goes at once; an empty one is a file too.
  WriteTextFile(lab.dir() / "empty.bin", "");
  EXPECT_EQ(Job(lab.dir() / "empty.bin")->WaitForExit(std::chrono::seconds(20)), 0);
  EXPECT_EQ(ReadTextFile(output + "/job-2-PC-A.prn"), "");
}

TEST_F(Backend, ListsThePrintersOfEveryServer) {
  Process discovery(Lab::Binary("cups-backend/tessaro"), {}, pc->Env());
  ASSERT_TRUE(discovery.Start());
  ASSERT_EQ(discovery.WaitForExit(std::chrono::seconds(20)), 0);
  EXPECT_EQ(discovery.Output(), "direct " + kUri +
                                    " \"Lumen Laser 2040\" \"Lumen Laser 2040 on OFFICE-HUB\" "
                                    "\"MFG:Lumen;MDL:Laser 2040;CLS:PRINTER;\" \"\"\n");
}

TEST_F(Backend, BadUrisStopTheQueueAndWriteNothing) {
  const std::string job = WriteJob(10);
  for (const char* uri : {"tessaro://00-1C-F0-AA-0B-01/04F9",
                          "tessaro://00-1C-F0-AA-0B-01/04F9/"
                          "0042?serial=%G0"}) {
    SCOPED_TRACE(uri);
    auto backend = Job(job, uri);
    EXPECT_EQ(backend->WaitForExit(), 4);
    EXPECT_TRUE(backend->WaitForOutput("ERROR: bad device URI"));
  }
  // A storage device takes no print jobs: the queue stops too.
  ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2"}));
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "2"}).exitCode, 0);
  auto storage = Job(job, "tessaro://00-1C-F0-AA-0B-01/2E10/5567");
  EXPECT_EQ(storage->WaitForExit(), 4) << storage->Output();
  EXPECT_TRUE(FilesIn(output).empty());
}

TEST_F(Backend, ServerGonePartWayAsksForTheJobAgainAndLeavesNoFile) {
  ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2"}));
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  const std::string job = WriteJob(64 * 1024 * 1024);
  auto backend = Job(job);
  ASSERT_TRUE(backend->WaitForOutput("INFO: printing", std::chrono::seconds(20)));
  lab.StopHub("127.0.0.2");
  EXPECT_EQ(backend->WaitForExit(std::chrono::seconds(30)), 6) << backend->Output();
  for (const std::string& name : FilesIn(output))
    EXPECT_EQ(name.rfind("job-", 0), std::string::npos) << name;
}

// The device unlinked and linked again while a job's pieces are under way: the pieces after the
// gap must not become a job of their own. The backend asks CUPS to send the job again, and the
// job sent again is the one file.
TEST_F(Backend, ADeviceUnlinkedAndLinkedAgainMidJobLeavesNoJobWithAGap) {
  ASSERT_TRUE(lab.AttachAll(*pc, {"127.0.0.2"}));
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  const std::string whole = ReadTextFile(WriteJob(2 * 1024 * 1024));
  const std::string fifo = lab.dir() / "job.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::signal(SIGPIPE, SIG_IGN);  // a backend that ends early must fail the test, not end it
  auto backend = Job(fifo);
  UniqueFd writer(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));  // waits for the backend
  ASSERT_TRUE(writer.valid());
  const size_t half = whole.size() / 2;
  ASSERT_TRUE(WriteAll(writer.get(), whole.data(), half));
  // Every whole piece of the first half is down at the server before the device changes hands.
  const off_t taken = static_cast<off_t>(half / 65535 * 65535);
  ASSERT_TRUE(Eventually([&] {
    const auto files = FilesIn(output);
    struct stat st {};
    return files.size() == 1 && ::stat((output + "/" + files[0]).c_str(), &st) == 0 &&
           st.st_size == taken;
  })) << backend->Output();
  ASSERT_EQ(lab.Cli(*pc, {"unlink", "127.0.0.2", "1"}).exitCode, 0);
  ASSERT_EQ(lab.Cli(*pc, {"link", "127.0.0.2", "1"}).exitCode, 0);
  // The backend may give up before it has read all of it.
  WriteAll(writer.get(), whole.data() + half, whole.size() - half);
  writer.Reset();
  EXPECT_EQ(backend->WaitForExit(std::chrono::seconds(30)), 6) << backend->Output();
  EXPECT_TRUE(FilesIn(output).empty()) << FilesIn(output).front();

  WriteTextFile(lab.dir() / "again.bin", whole);
  EXPECT_EQ(Job(lab.dir() / "again.bin")->WaitForExit(std::chrono::seconds(30)), 0);
  ASSERT_EQ(FilesIn(output), std::vector<std::string>{"job-1-PC-A.prn"});
  EXPECT_TRUE(ReadTextFile(output + "/job-1-PC-A.prn") == whole) << "the job as it was sent";
}

// A second host announcing the server's MAC: the backend sends to neither, and says why.
TEST_F(Backend, TwoServersClaimingOneMacGetNoJob) {
  lab.StartHub({"127.0.0.3", "IMPOSTOR", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}});
  auto& both = lab.StartPc("PC-B", {"127.0.0.2", "127.0.0.3"});
  ASSERT_TRUE(lab.WaitForServerState(both, "127.0.0.3", "1"));
  ASSERT_TRUE(lab.WaitForServerState(both, "127.0.0.2", "1"));
  auto env = both.Env();
  env["DEVICE_URI"] = kUri;
  Process backend(Lab::Binary("cups-backend/tessaro"),
                  {"8", "bob", "report", "1", "", WriteJob(10)}, env);
  ASSERT_TRUE(backend.Start());
  ASSERT_TRUE(backend.WaitForOutput("STATE: +connecting-to-device")) << backend.Output();
  ASSERT_TRUE(backend.WaitForOutput("all claim 00-1C-F0-AA-0B-01; not choosing one"))
      << backend.Output();
  EXPECT_NE(backend.Output().find("127.0.0.2"), std::string::npos) << backend.Output();
  EXPECT_NE(backend.Output().find("127.0.0.3"), std::string::npos) << backend.Output();
  EXPECT_TRUE(FilesIn(output).empty());
}
