// SPDX-License-Identifier: GPL-2.0-or-later
// Finding servers by broadcast, between two network namespaces joined by a veth pair: the test's
// own namespace plays the PC, a second one the device server's network. Nothing leaves the host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/Lab.h"

using namespace tessaro::testing;

namespace {

std::string NetNsOf(const std::string& pid) {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/" + pid + "/ns/net", ec).string();
}

// A second network namespace, kept alive by a sleeping process, with one end of a veth pair.
class ServerNetwork {
 public:
  ServerNetwork() : holder_("/usr/bin/unshare", {"-n", "sleep", "600"}) {}

  bool Create() {
    if (!holder_.Start()) return false;
    pid_ = std::to_string(holder_.pid());
    const std::string mine = NetNsOf("self");
    if (!Eventually([&] { return NetNsOf(pid_) != mine && !NetNsOf(pid_).empty(); })) return false;
    return Ip({"link", "add", "tvpc", "type", "veth", "peer", "name", "tvsrv"}) &&
           Ip({"link", "set", "tvsrv", "netns", pid_}) &&
           Ip({"addr", "add", "10.203.0.1/24", "brd", "+", "dev", "tvpc"}) &&
           Ip({"link", "set", "tvpc", "up"}) && Inside({"ip", "link", "set", "lo", "up"}) &&
           Inside({"ip", "addr", "add", "10.203.0.2/24", "brd", "+", "dev", "tvsrv"}) &&
           Inside({"ip", "link", "set", "tvsrv", "up"});
  }

  // A command line that runs `argv` inside the server's namespace.
  std::vector<std::string> InsideArgs(const std::vector<std::string>& argv) const {
    std::vector<std::string> all = {"-t", pid_, "-n", "--"};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
  }

 private:
  static bool Ip(const std::vector<std::string>& args) {
    const auto r = RunCommand("/usr/sbin/ip", args);
    if (r.exitCode != 0) ADD_FAILURE() << "ip failed: " << r.err;
    return r.exitCode == 0;
  }
  bool Inside(const std::vector<std::string>& argv) const {
    const auto r = RunCommand("/usr/bin/nsenter", InsideArgs(argv));
    if (r.exitCode != 0) ADD_FAILURE() << "nsenter failed: " << r.err;
    return r.exitCode == 0;
  }
  Process holder_;
  std::string pid_;
};

}  // namespace

TEST(Discovery, ServerOnAnotherNetworkIsFoundByBroadcastAndAgainAfterItReturns) {
  ServerNetwork net;
  ASSERT_TRUE(net.Create());
  Lab lab;
  const std::string config = lab.dir() / "far-hub.conf";
  WriteTextFile(config, std::string("[server]\nname = FAR-HUB\naddress = 10.203.0.2\n"
                                    "mac = 00:1C:F0:AA:0B:07\n\n") +
                            PrinterAndStorage());
  auto startHub = [&] {
    auto hub = std::make_unique<Process>(
        "/usr/bin/nsenter", net.InsideArgs({Lab::Binary("hubd/tessaro-hubd"), "--config", config}));
    EXPECT_TRUE(hub->Start() && hub->WaitForOutput("hubd: ready")) << hub->Output();
    return hub;
  };
  auto hub = startHub();

  auto& pc = lab.StartPc("PC-A", {}, {"--drop-after", "2"});
  ASSERT_TRUE(lab.WaitForServerState(pc, "10.203.0.2", "1", std::chrono::seconds(20)))
      << pc.busd->Output();
  const auto servers = lab.CliJson(pc, {"servers"});
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].at("name"), "FAR-HUB");
  ASSERT_TRUE(lab.AttachAll(pc, {"10.203.0.2"}));
  EXPECT_EQ(lab.Devices(pc, "10.203.0.2").size(), 2u);

  hub.reset();
  EXPECT_TRUE(lab.WaitForServerState(pc, "10.203.0.2", "", std::chrono::seconds(20)));
  hub = startHub();
  EXPECT_TRUE(lab.WaitForServerState(pc, "10.203.0.2", "1", std::chrono::seconds(20)))
      << "a server that comes back is found again";
}
