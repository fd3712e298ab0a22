// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-hubd serving the USB devices of a umockdev testbed: PCs (busd and
// tessaro-cli) see each device with its facts, hot-plug reaches them, numbers outlast a restart,
// and a print job arrives byte for byte in the printer's usblp node. The test runs itself under
// umockdev's preload (UmockdevRun.h); the sanitizer build cannot, and skips.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "base/FileHandle.h"
#include "tests/TestPaths.h"
#include "tests/support/Lab.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/Process.h"
#include "tests/support/UmockdevRun.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const std::string kRoot = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
const HubSpec kServer{"127.0.0.2", "USB-HUB", "00:1C:F0:AA:0B:01", "usb = yes\n", {}};

std::string Fixture(const std::string& name) {
  return std::string(kFixturesDir) + "/usb/" + name + ".umockdev";
}

class UsbServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kUmockdevUsable)
      GTEST_SKIP() << "umockdev's LD_PRELOAD cannot run beside the sanitizer runtime";
    ASSERT_TRUE(UnderUmockdev()) << "the test could not run itself under " << kUmockdevPreload;
    testbed = umockdev_testbed_new();
    Add("root-hub");
  }

  void TearDown() override {
    lab.reset();  // every process that sees the testbed goes before it
    if (testbed) g_object_unref(testbed);
  }

  // Loads a description: umockdev sends an "add" for each of its entries, and for a device
  // plugged in while hubd runs, `port` gets the "bind" the kernel sends once its interfaces and
  // their drivers are in place.
  void Add(const std::string& name, const std::string& port = "") {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_file(testbed, Fixture(name).c_str(), &error))
        << (error ? error->message : name);
    if (!port.empty()) umockdev_testbed_uevent(testbed, (kRoot + "/" + port).c_str(), "bind");
  }

  // Pulls a device out the kernel's way: its usblp node and interfaces go, each with its uevent
  // (so a later one's finds the earlier ones gone from sysfs), it is unbound, then removed.
  // Children first: umockdev leaves a child's entries behind otherwise.
  void Remove(const std::string& port, int interfaces = 1, bool printer = false) {
    const std::string path = kRoot + "/" + port;
    std::vector<std::string> children;
    if (printer) children.push_back(path + "/" + port + ":1.0/usbmisc/lp0");
    for (int i = 0; i < interfaces; ++i)
      children.push_back(path + "/" + port + ":1." + std::to_string(i));
    for (const std::string& child : children) {
      umockdev_testbed_uevent(testbed, child.c_str(), "remove");
      umockdev_testbed_remove_device(testbed, child.c_str());
    }
    umockdev_testbed_uevent(testbed, path.c_str(), "unbind");
    umockdev_testbed_uevent(testbed, path.c_str(), "remove");
    umockdev_testbed_remove_device(testbed, path.c_str());
  }

  Process& StartHub() {
    Process& hub = lab->StartHub(kServer);
    EXPECT_TRUE(hub.WaitForOutput("offering the USB devices")) << hub.Output();
    return hub;
  }

  // "number type vendor product manufacturer/product serial" of each device a PC sees.
  std::vector<std::string> Rows(const Lab::Pc& pc) {
    std::vector<std::string> rows;
    for (const JsonLine& d : lab->Devices(pc, kServer.ip))
      rows.push_back(d.at("deviceNumber") + " " + d.at("type") + " " + d.at("vendorId") + ":" +
                     d.at("productId") + " " + d.at("product") + " [" + d.at("serial") + "]");
    return rows;
  }

  bool RowsBecome(const Lab::Pc& pc, const std::vector<std::string>& rows) {
    return Eventually([&] { return Rows(pc) == rows; }, std::chrono::seconds(20));
  }

  std::string NodePath() const {
    return std::string(umockdev_testbed_get_root_dir(testbed)) + "/dev/usb/lp0";
  }

  UMockdevTestbed* testbed = nullptr;
  std::unique_ptr<Lab> lab = std::make_unique<Lab>();
};

const std::string kPrinter = "1 PRINTER 04F9:0042 Laser 2040 [LW-1]";
const std::string kScanner = "2 SCANNER 04B8:0110 Flatbed 2 []";
const std::string kStorage = "3 MASS STORAGE 0781:5567 Stick 16 [4C530001]";
const std::string kMfp = "4 MFP 04B8:0890 All-in-One 3 [MFP-3003]";

TEST_F(UsbServer, PcsSeeDevicesComeAndGoWithNumbersThatOutlastARestart) {
  Add("printer");
  Add("hub-and-scanner");  // the hub itself is never offered
  Add("storage");
  Process* hub = &StartHub();
  auto& pc = lab->StartPc("PC-A", {kServer.ip});
  ASSERT_TRUE(lab->WaitForServerState(pc, kServer.ip, "1"));
  ASSERT_TRUE(lab->AttachAll(pc, {kServer.ip}));
  ASSERT_TRUE(RowsBecome(pc, {kPrinter, kScanner, kStorage})) << ::testing::PrintToString(Rows(pc));

  // A second PC on the wire counts what each hot-plug event sends it: one list.
  WireClient other(kServer.ip, 2005);
  ASSERT_TRUE(other.Hello("PC-B"));
  Add("mfp", "1-3");
  auto changed = other.Read();
  ASSERT_TRUE(changed);
  ASSERT_EQ(changed->type, wire::MsgType::DevicesChanged);
  EXPECT_EQ(wire::DecodeDeviceList(changed->payload)->size(), 4u);
  ASSERT_TRUE(RowsBecome(pc, {kPrinter, kScanner, kStorage, kMfp}));

  // Pulled out the kernel's way, functions first: the PCs' next list is the one without it.
  Remove("1-3", 3);
  changed = other.Read();
  ASSERT_TRUE(changed);
  EXPECT_EQ(wire::DecodeDeviceList(changed->payload)->size(), 3u) << hub->Output();
  ASSERT_TRUE(RowsBecome(pc, {kPrinter, kScanner, kStorage})) << ::testing::PrintToString(Rows(pc));

  // A restart forgets links and locks, not numbers: the MFP gets its 4 back when it returns.
  lab->StopHub(kServer.ip);
  hub = &StartHub();
  ASSERT_TRUE(RowsBecome(pc, {kPrinter, kScanner, kStorage}))
      << ::testing::PrintToString(Rows(pc));
  Add("mfp", "1-3");
  EXPECT_TRUE(RowsBecome(pc, {kPrinter, kScanner, kStorage, kMfp}))
      << ::testing::PrintToString(Rows(pc)) << hub->Output();
}

TEST_F(UsbServer, AStormOfHotPlugEventsLeavesHubdServingAndTheListRight) {
  Add("printer");
  Add("storage");
  StartHub();
  WireClient pc(kServer.ip, 2005);
  ASSERT_TRUE(pc.Hello("PC-A"));
  // 200 events in bursts: the stick flaps 100 times, ending plugged in. umockdev's event socket
  // holds 10 at most, so each burst of 8 waits for a Pong: an event sent before a Ping has been
  // taken by the time its Pong leaves, hubd's loop reading both in the same turn.
  const std::string stick = kRoot + "/1-4";
  std::optional<std::vector<wire::DeviceInfo>> last;
  uint32_t id = 10;
  const auto ping = [&] {
    const auto frames = pc.Call(wire::MsgType::Ping, ++id);
    if (frames.empty() || frames.back().type != wire::MsgType::Pong) return false;
    for (const auto& f : frames)
      if (f.type == wire::MsgType::DevicesChanged) last = wire::DecodeDeviceList(f.payload);
    return true;
  };
  for (int burst = 0; burst < 25; ++burst) {
    for (int i = 0; i < 4; ++i) {
      umockdev_testbed_uevent(testbed, stick.c_str(), "remove");
      umockdev_testbed_uevent(testbed, stick.c_str(), "bind");
    }
    ASSERT_TRUE(ping()) << "hubd stopped answering in burst " << burst;
  }
  Add("mfp", "1-3");  // its add events and bind: 6 more
  ASSERT_TRUE(ping());
  ASSERT_TRUE(last);
  std::vector<std::string> seen;
  for (const auto& d : *last) seen.push_back(std::to_string(d.number) + " " + d.type);
  EXPECT_EQ(seen, (std::vector<std::string>{"1 PRINTER", "2 MASS STORAGE", "3 MFP"}));
}

TEST_F(UsbServer, HostileStringsAreLoggedAndTheDeviceListedWithWhatCanBeKept) {
  Add("hostile");
  Process& hub = StartHub();
  EXPECT_TRUE(hub.WaitForOutput("USB device 1-5: its product string was unusable (control bytes "
                                "dropped, invalid UTF-8 made '?', cut to 126 bytes)"))
      << hub.Output();
  WireClient pc(kServer.ip, 2005);
  ASSERT_TRUE(pc.Hello("PC-A"));
  const auto reply = pc.Call(wire::MsgType::GetDevices, 5);
  ASSERT_FALSE(reply.empty());
  const auto list = wire::DecodeDeviceList(reply.back().payload);
  ASSERT_TRUE(list && list->size() == 1u);
  const wire::DeviceInfo& d = list->front();
  EXPECT_EQ(d.type, "UNKNOWN");
  EXPECT_EQ(d.manufacturer, "EvilCorp");
  EXPECT_EQ(d.product.substr(0, 15), "Scan[31mner ?? ");
  EXPECT_EQ(d.product.size(), 126u);
  EXPECT_EQ(d.serial, "") << "a serial of control bytes is none: the port keys the device";
  EXPECT_EQ(d.descriptors, (std::vector<std::pair<std::string, std::string>>{
                               {"class", "03/01/01"}}));
}

TEST_F(UsbServer, APrintJobArrivesByteForByteInThePrintersNode) {
  Add("printer");
  StartHub();
  auto& pc = lab->StartPc("PC-A", {kServer.ip});
  ASSERT_TRUE(lab->WaitForServerState(pc, kServer.ip, "1"));
  ASSERT_TRUE(lab->AttachAll(pc, {kServer.ip}));
  ASSERT_TRUE(RowsBecome(pc, {kPrinter}));
  ASSERT_EQ(lab->Cli(pc, {"link", kServer.ip, "1"}).exitCode, 0);
  WriteTextFile(NodePath(), "");  // the description's file starts with a byte of its own
  std::string data(300 * 1000, '\0');
  std::mt19937 random(7);
  for (char& c : data) c = static_cast<char>(random());
  const std::string job = lab->dir() / "job.bin";
  WriteTextFile(job, data);
  auto env = pc.Env();
  env["DEVICE_URI"] = "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW-1";
  Process backend(Lab::Binary("cups-backend/tessaro"), {"7", "alice", "report", "1", "", job}, env);
  ASSERT_TRUE(backend.Start());
  ASSERT_EQ(backend.WaitForExit(std::chrono::seconds(30)), 0) << backend.Output();
  EXPECT_TRUE(ReadTextFile(NodePath()) == data) << "the node holds "
                                                << ReadTextFile(NodePath()).size() << " bytes";
}

// A job sent through a private cupsd, the backend and busd; the printer is pulled out part-way
// and the job stays in CUPS, then arrives once, whole, when the printer is back.
TEST_F(UsbServer, AJobThroughCupsSurvivesThePrinterPulledOutAndPrintsOnceWhenBack) {
  Add("printer");
  Process& hub = StartHub();
  auto& pc = lab->StartPc("PC-A", {kServer.ip});
  ASSERT_TRUE(lab->WaitForServerState(pc, kServer.ip, "1"));
  ASSERT_TRUE(lab->AttachAll(pc, {kServer.ip}));
  ASSERT_TRUE(RowsBecome(pc, {kPrinter}));
  ASSERT_EQ(lab->Cli(pc, {"link", kServer.ip, "1"}).exitCode, 0);
  // First the printer takes data only as the test reads it: a FIFO in place of its node.
  ASSERT_EQ(::unlink(NodePath().c_str()), 0);
  ASSERT_EQ(::mkfifo(NodePath().c_str(), 0666), 0);
  UniqueFd paper(::open(NodePath().c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(paper.valid());

  PrivateCups cups("JobRetryInterval 1\nErrorPolicy retry-job\n",
                   "SetEnv TESSARO_RUNTIME_DIR " + pc.runtimeDir + "\n");
  ASSERT_TRUE(cups.Running());
  ASSERT_TRUE(cups.InstallBackend("tessaro", Lab::Binary("cups-backend/tessaro")));
  ASSERT_TRUE(cups.AddQueue("desk", "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW-1"));
  std::string job(1000 * 1000, '\0');
  std::mt19937 random(11);
  for (char& c : job) c = static_cast<char>(random());
  ASSERT_GT(cups.Submit("desk", job), 0);

  // Some of it is printed, then the printer goes with the rest of the job under way.
  size_t printed = 0;
  ASSERT_TRUE(Eventually([&] {
    char buffer[65536];
    const ssize_t n = ::read(paper.get(), buffer, sizeof buffer);
    if (n > 0) printed += static_cast<size_t>(n);
    return printed >= 100 * 1000;
  }, std::chrono::seconds(20))) << cups.QueueStatus("desk");
  Remove("1-1", 1, true);
  paper.Reset();
  ASSERT_TRUE(RowsBecome(pc, {}));
  EXPECT_TRUE(hub.WaitForOutput("print job on device 1 dropped")) << hub.Output();
  EXPECT_TRUE(Eventually([&] { return !cups.Tool("lpstat", {"-o", "desk"}).out.empty(); }))
      << "the job stays in CUPS";

  // Back again: plugged in (its node a plain file, emptied before the kernel binds it), linked
  // by the PC as its auto-connect would, and the job arrives once, whole.
  Add("printer");
  WriteTextFile(NodePath(), "");
  umockdev_testbed_uevent(testbed, (kRoot + "/1-1").c_str(), "bind");
  ASSERT_TRUE(RowsBecome(pc, {kPrinter}));
  ASSERT_EQ(lab->Cli(pc, {"link", kServer.ip, "1"}).exitCode, 0);
  ASSERT_TRUE(Eventually([&] { return ReadTextFile(NodePath()).size() >= job.size(); },
                         std::chrono::seconds(60)))
      << cups.QueueStatus("desk") << ReadTextFile(NodePath()).size();
  EXPECT_TRUE(Eventually([&] { return cups.Tool("lpstat", {"-o", "desk"}).out.empty(); },
                         std::chrono::seconds(20)))
      << "the job is done in CUPS";
  EXPECT_TRUE(ReadTextFile(NodePath()) == job)
      << "the node holds " << ReadTextFile(NodePath()).size() << " bytes, the job "
      << job.size();
}

}  // namespace
