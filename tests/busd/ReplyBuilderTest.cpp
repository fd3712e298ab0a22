// SPDX-License-Identifier: GPL-2.0-or-later
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "busd/ReplyBuilder.h"

using namespace tessaro;
using namespace tessaro::busd;

namespace {

uint32_t Ip(const char* text) { return ::inet_addr(text); }

ServerEntry Server(const char* ip, std::string name, ServerState state = ServerState::Answering) {
  ServerEntry s;
  s.ip = Ip(ip);
  s.state = state;
  s.mac = {0x00, 0x1C, 0xF0, 0xAA, 0x0B, 0x3E};
  s.storageMode = 1;
  s.name = std::move(name);
  return s;
}

wire::DeviceInfo Device(uint8_t number, std::string product) {
  wire::DeviceInfo d;
  d.number = number;
  d.vendorId = 0x04F9;
  d.productId = 0x0123;
  d.lockKind = 2;
  d.lockCount = 1;
  d.type = "PRINTER";
  d.owner = "PC-A";
  d.manufacturer = "Maker";
  d.product = std::move(product);
  d.serial = "";
  d.descriptors = {{"class", "07/01/02"}};  // never reaches the bus buffer
  return d;
}

}  // namespace

TEST(ServerListReply, LaysOutEachEntryAfterTheHeader) {
  const auto out = BuildServerList(
      {Server("127.0.0.2", "HUB-ONE"), Server("10.1.2.3", "B", ServerState::Incompatible)});
  ASSERT_EQ(out.size(), 8u + (22 + 8) + (22 + 2));
  EXPECT_NE(out[0], 0);
  EXPECT_EQ(out[4], 2);
  const uint8_t* e = &out[8];
  EXPECT_EQ((std::vector<uint8_t>(e, e + 4)), (std::vector<uint8_t>{127, 0, 0, 2}));
  EXPECT_EQ(GetU32(e + 4), 1u);
  EXPECT_EQ((std::vector<uint8_t>(e + 8, e + 14)),
            (std::vector<uint8_t>{0x00, 0x1C, 0xF0, 0xAA, 0x0B, 0x3E}));
  EXPECT_EQ(GetU32(e + 14), 1u);
  EXPECT_EQ(GetU32(e + 18), 8u);  // seven letters and the NUL
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e + 22), 8), std::string("HUB-ONE\0", 8));
  const uint8_t* f = e + 30;
  EXPECT_EQ((std::vector<uint8_t>(f, f + 4)), (std::vector<uint8_t>{10, 1, 2, 3}));
  EXPECT_EQ(GetU32(f + 4), 2u);
  EXPECT_EQ(GetU32(f + 18), 2u);
  EXPECT_EQ(f[22], 'B');
  EXPECT_EQ(f[23], 0);
}

TEST(ServerListReply, CutsNamesTo63BytesAndKeepsOnlyWholeEntries) {
  // 63-byte names make 86-byte entries: 11 fit in 1016 bytes (946), a twelfth would not (1032).
  std::vector<ServerEntry> many;
  for (int i = 0; i < 20; ++i) many.push_back(Server("10.0.0.1", std::string(100, 'n')));
  const auto out = BuildServerList(many);
  EXPECT_EQ(out[4], 11);
  EXPECT_EQ(out.size(), 8u + 11 * 86);
  EXPECT_LE(out.size(), kServerListBufferSize);
  EXPECT_EQ(GetU32(&out[8 + 18]), 64u);
  EXPECT_EQ(out[8 + 22 + 63], 0);

  // An entry that ends exactly at byte 1024 still fits: 8 + 43 * 23 + 27 = 1024.
  std::vector<ServerEntry> exact(43, Server("10.0.0.1", ""));
  exact.push_back(Server("10.0.0.2", "abcd"));
  exact.push_back(Server("10.0.0.3", ""));
  const auto full = BuildServerList(exact);
  EXPECT_EQ(full[4], 44);
  EXPECT_EQ(full.size(), kServerListBufferSize);
}

TEST(ServerListReply, EmptyListIsValidWithCountZero) {
  const auto out = BuildServerList({});
  ASSERT_EQ(out.size(), 8u);
  EXPECT_NE(out[0], 0);
  EXPECT_EQ(out[4], 0);
}

TEST(DeviceListReply, LaysOutOneEntryByteByByte) {
  const auto out = BuildDeviceList({Device(5, "LaserOne")});
  const size_t textBytes = 7 + 4 + 5 + 8 + 0;
  ASSERT_EQ(out.size(), 8u + 27 + textBytes + 1);
  EXPECT_EQ(out[4], 1);
  const uint8_t* e = &out[8];
  EXPECT_EQ(e[0], 5);
  EXPECT_EQ(e[1], 0xF9);
  EXPECT_EQ(e[2], 0x04);
  EXPECT_EQ(GetU16(e + 3), 0x0123);
  EXPECT_EQ(e[5], 2);
  EXPECT_EQ(e[6], 1);
  const uint32_t lengths[] = {7, 4, 5, 8, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(GetU32(e + 7 + 4 * i), lengths[i]) << "text " << i;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e + 27), textBytes),
            "PRINTERPC-AMakerLaserOne");
  EXPECT_EQ(e[27 + textBytes], 0);  // no trailing blocks
}

TEST(DeviceListReply, CutsTextsTo63BytesAndKeepsOnlyWholeEntries) {
  auto big = Device(1, std::string(200, 'p'));
  big.manufacturer = std::string(64, 'm');
  const auto one = BuildDeviceList({big});
  EXPECT_EQ(GetU32(&one[8 + 15]), 63u);
  EXPECT_EQ(GetU32(&one[8 + 19]), 63u);
  const size_t entry = one.size() - 8;  // 27 + 7 + 4 + 63 + 63 + 0 + 1 = 165

  std::vector<wire::DeviceInfo> many(30, big);
  const auto out = BuildDeviceList(many);
  const size_t fit = (kDeviceListBufferSize - 8) / entry;
  EXPECT_EQ(out[4], fit);
  EXPECT_EQ(out.size(), 8 + fit * entry);
  EXPECT_LT(fit, many.size());

  // Twenty entries of 102 bytes end exactly at byte 2048; a twenty-first does not fit.
  auto exact = Device(1, std::string(63, 'p'));
  exact.owner = "";
  exact.manufacturer = "ABCD";
  exact.serial = "";
  std::vector<wire::DeviceInfo> twentyOne(21, exact);
  const auto full = BuildDeviceList(twentyOne);
  EXPECT_EQ(full[4], 20);
  EXPECT_EQ(full.size(), kDeviceListBufferSize);
}

TEST(VersionAndAddressReplies, HaveTheirFixedLayouts) {
  const auto v = BuildVersion();
  ASSERT_GE(v.size(), 7u);
  EXPECT_NE(v[0], 0);
  EXPECT_EQ(v[4], kVersionMajor);
  const auto a = BuildSpurAddress(Ip("192.168.7.9"));
  EXPECT_EQ(a, (std::vector<uint8_t>{8, 0, 0, 0, 192, 168, 7, 9}));
}

TEST(EventRecords, KindsOneToThreeAreSixteenBytes) {
  const auto one = BuildEventRecord(EventKind::DeviceListChanged, Ip("127.0.0.2"));
  EXPECT_EQ(one, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 127, 0, 0, 2, 0, 0, 0}));
  const auto two = BuildEventRecord(EventKind::ServerListChanged, Ip("127.0.0.2"));
  EXPECT_EQ(two, (std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(EventRecords, UseRequestedCarriesServerRequesterAndName) {
  wire::UseRequested use{1, 7, Ip("127.0.0.9"), "PC-B"};
  const auto r = BuildUseRequestedRecord(Ip("127.0.0.2"), use);
  EXPECT_EQ(r, (std::vector<uint8_t>{4, 1, 7, 127, 0, 0, 2, 127, 0, 0, 9, 4, 0, 0, 0, 'P', 'C', '-',
                                     'B'}));
  use.requesterName = std::string(80, 'x');
  const auto cut = BuildUseRequestedRecord(Ip("127.0.0.2"), use);
  EXPECT_EQ(cut.size(), 15u + 63);
  EXPECT_EQ(cut[11], 63);
}
