// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "driver/EventRecord.h"
#include "tests/support/DriverReplies.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

Bytes KindOne(std::array<uint8_t, 4> ip) {
  Bytes r(16, 0);
  r[0] = 1;
  std::copy(ip.begin(), ip.end(), r.begin() + 9);
  return r;
}

Bytes KindFour(uint8_t sub, uint8_t number, const std::string& name, uint8_t nameLength) {
  Bytes r{4, sub, number, 127, 0, 0, 2, 192, 168, 7, 9, nameLength, 0xEE, 0xEE, 0xEE};
  AppendText(r, name);
  return r;
}

}  // namespace

TEST(EventKindName, TableInKindOrder) {
  const char* expected[] = {"UPDATE_DEVICE_LIST", "UPDATE_BUS_LIST", "UPDATE_IP",
                            "OP_UBUS_REQUEST_TO_USE_DEVICE", "OP_UBUS_AUDIO_DATA"};
  for (int kind = 1; kind <= 5; ++kind) EXPECT_EQ(EventKindName(kind), expected[kind - 1]);
  EXPECT_TRUE(EventKindName(0).empty());
  EXPECT_TRUE(EventKindName(6).empty());
}

TEST(ParseEventRecord, KindOneCarriesTheServerAddress) {
  const auto e = ParseEventRecord(InBuffer(KindOne({127, 0, 0, 3}), 2048), 16);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, 1);
  EXPECT_EQ(e->serverIp, "127.0.0.3");
}

TEST(ParseEventRecord, KindFourFields) {
  const Bytes r = KindFour(1, 0x85, "ALICE-PC", 8);
  const auto e = ParseEventRecord(InBuffer(r, 2048), static_cast<int64_t>(r.size()));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, 4);
  EXPECT_EQ(e->subCode, 1);
  EXPECT_EQ(e->deviceNumber, -123);
  EXPECT_EQ(e->serverIp, "127.0.0.2");
  EXPECT_EQ(e->requesterIp, "192.168.7.9");
  EXPECT_EQ(e->requesterName, "ALICE-PC");
}

TEST(ParseEventRecord, SizesAndKinds) {
  const Bytes nameLies = KindFour(1, 2, "BOB", 63);  // claims 63 name bytes, 3 arrive
  struct Case {
    const char* what;
    Bytes buffer;
    int64_t count;
    std::optional<int> kind;
    std::string name = {};
  } cases[] = {
      {"a wake reads nothing", Bytes(2048, 0), 0, std::nullopt},
      {"negative count", InBuffer(KindOne({1, 2, 3, 4}), 2048), -5, std::nullopt},
      {"kind 1 too short for its address", InBuffer(KindOne({1, 2, 3, 4}), 2048), 12, std::nullopt},
      {"kind 4 too short for its header", InBuffer(KindFour(1, 2, "", 0), 2048), 14, std::nullopt},
      {"kind 4 name cut to the bytes received", InBuffer(nameLies, 2048),
       static_cast<int64_t>(nameLies.size()), 4, "BOB"},
      {"kind 2", InBuffer(Bytes{2}, 2048), 16, 2},
      {"kind 3", InBuffer(Bytes{3}, 2048), 16, 3},
      {"kind 5", InBuffer(Bytes{5}, 2048), 16, 5},
      {"unknown kind", InBuffer(Bytes{9}, 2048), 16, 9},
      {"count beyond the buffer", Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 1}, 5000, 1},
  };
  for (const auto& c : cases) {
    const auto e = ParseEventRecord(c.buffer, c.count);
    ASSERT_EQ(e.has_value(), c.kind.has_value()) << c.what;
    if (!e) continue;
    EXPECT_EQ(e->kind, *c.kind) << c.what;
    EXPECT_EQ(e->knownKind(), *c.kind >= 1 && *c.kind <= 5) << c.what;
    if (*c.kind == 4) {
      EXPECT_EQ(e->requesterName, c.name) << c.what;
    }
  }
}
