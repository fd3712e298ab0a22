// SPDX-License-Identifier: GPL-2.0-or-later
// The refresh cycle end to end: a real busd and device servers, the reader thread and the
// dispatch keep the client's rows in step as devices come, change hands and go.
#include <gtest/gtest.h>

#include "records/StateText.h"
#include "tests/integration/ClientStack.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

const HubSpec kHub{"127.0.0.2", "OFFICE-HUB", "00:1C:F0:AA:0B:01", PrinterAndStorage(), {}};

std::string Unnamed(int number) {
  return "[device " + std::to_string(number) +
         "]\ntype = UNKNOWN\nvendor-id = 2E12\nproduct-id = 19" + std::to_string(10 + number) +
         "\nmanufacturer =\nproduct =\nserial =\n\n";
}

std::vector<std::string> Captions(const DeviceListModel& model) {
  std::vector<std::string> out;
  for (size_t i = 0; i < model.rowCount(); ++i)
    out.push_back(model.row(i).deviceNumber + ":" + model.row(i).displayName);
  return out;
}

}  // namespace

TEST(ClientRefresh, RowsFollowTheDevicesOfAnAttachedServer) {
  Lab lab;
  lab.StartHub(kHub);
  auto& a = lab.StartPc("PC-A", {kHub.ip});
  auto& b = lab.StartPc("PC-B", {kHub.ip});
  ASSERT_TRUE(lab.WaitForServerState(a, kHub.ip, "1"));
  ASSERT_TRUE(lab.WaitForServerState(b, kHub.ip, "1"));
  ASSERT_TRUE(lab.AttachAll(b, {kHub.ip}));

  ClientStack client(a);
  client.StoreServer(kHub, true);
  client.Start();
  ASSERT_TRUE(client.cycle.RefreshServers());
  ASSERT_EQ(client.model.servers().size(), 1u);
  const ServerData& server = *client.model.servers()[0];
  EXPECT_TRUE(server.enabled);
  EXPECT_NE(server.handle, kInvalidBusHandle);
  EXPECT_EQ(server.displayName, "OFFICE-HUB - 127.0.0.2");
  EXPECT_EQ(server.mac, kHub.mac);
  ASSERT_TRUE(client.Until([&] { return client.model.rowCount() == 2; }));
  EXPECT_EQ(Captions(client.model),
            (std::vector<std::string>{"2:Keystone - Pocket Drive 32", "1:Lumen - Laser 2040"}));

  // New devices reach the rows through the device-list event alone.
  lab.EditHubDevices(kHub.ip, PrinterAndStorage() + "\n" + Unnamed(3) + Unnamed(4));
  ASSERT_TRUE(client.Until([&] { return client.model.rowCount() == 4; })) << a.busd->Output();
  EXPECT_EQ(client.Row("3")->displayName, "USB Device 1");
  EXPECT_EQ(client.Row("4")->displayName, "USB Device 2");
  EXPECT_EQ(client.Row("4")->type, "UNKNOWN");
  EXPECT_EQ(client.model.row(3).deviceNumber, "4") << "unknown devices sort last";

  // Another PC takes the printer and locks it.
  ASSERT_EQ(lab.Cli(b, {"link", kHub.ip, "1"}).exitCode, 0);
  ASSERT_EQ(lab.Cli(b, {"lock", kHub.ip, "1", "2", "60"}).exitCode, 0);
  ASSERT_TRUE(client.Until([&] { return client.Row("1")->stateText == statetext::UseBy("PC-B"); }));
  EXPECT_EQ(client.Row("1")->owner, "PC-B");
  EXPECT_EQ(client.Row("1")->lockKind, 2);

  // One unnamed device goes: the other keeps its number, the next one takes the freed one.
  lab.EditHubDevices(kHub.ip, PrinterAndStorage() + "\n" + Unnamed(4));
  ASSERT_TRUE(client.Until([&] { return client.model.rowCount() == 3; }));
  EXPECT_EQ(client.Row("4")->displayName, "USB Device 2");
  lab.EditHubDevices(kHub.ip, PrinterAndStorage() + "\n" + Unnamed(4) + Unnamed(6));
  ASSERT_TRUE(client.Until([&] { return client.Row("6") != nullptr; }));
  EXPECT_EQ(client.Row("6")->displayName, "USB Device 1");
  EXPECT_EQ(client.Row("4")->displayName, "USB Device 2");

  // Everything unplugged: no rows, the note panel shows.
  lab.EditHubDevices(kHub.ip, "");
  ASSERT_TRUE(client.Until([&] { return client.model.rowCount() == 0; }));
  EXPECT_EQ(client.window.notePanelVisible, true);

  client.Close();
  EXPECT_EQ(client.reader, nullptr);
}

TEST(ClientRefresh, RenamedServerIsDroppedAndAddedAgain) {
  Lab lab;
  lab.StartHub(kHub);
  auto& a = lab.StartPc("PC-A", {kHub.ip});
  ASSERT_TRUE(lab.WaitForServerState(a, kHub.ip, "1"));
  ClientStack client(a);
  client.StoreServer(kHub, true);
  client.Start();
  ASSERT_TRUE(client.cycle.RefreshServers());
  ASSERT_TRUE(client.Until([&] { return client.model.rowCount() == 2; }));

  // The server goes quiet: the server-list event takes it out with its rows.
  lab.StopHub(kHub.ip);
  ASSERT_TRUE(client.Until([&] { return client.model.servers().empty(); }));
  EXPECT_EQ(client.model.rowCount(), 0u);

  // It comes back under another name: a new server, enabled by the entry stored for its address
  // and MAC, attached, and listed with its devices.
  HubSpec renamed = kHub;
  renamed.name = "RECEPTION-HUB";
  lab.StartHub(renamed);
  ASSERT_TRUE(client.Until([&] {
    return client.model.servers().size() == 1 && client.model.rowCount() == 2;
  })) << a.busd->Output();
  const ServerData& server = *client.model.servers()[0];
  EXPECT_EQ(server.name, "RECEPTION-HUB");
  EXPECT_TRUE(server.enabled);
  EXPECT_EQ(client.model.row(0).serverName, "RECEPTION-HUB");
}
