// SPDX-License-Identifier: GPL-2.0-or-later
// The reply parsers against crafted buffers, including replies that lie about their sizes.
#include <gtest/gtest.h>

#include "driver/ReplyParsers.h"
#include "tests/support/DriverReplies.h"

using namespace tessaro;
using namespace tessaro::testing;

namespace {

std::vector<std::string> Names(const std::vector<ServerEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

}  // namespace

TEST(ParseServerList, ReadsEveryFieldOfAnEntry) {
  ServerFields s;
  s.state = 0xFE;        // signed: -2
  s.storageMode = 0x80;  // signed: -128
  const Bytes reply = ServerListReply({s});
  const auto entries = ParseServerList(InBuffer(reply, 1024), static_cast<uint32_t>(reply.size()));
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  const ServerEntry& e = (*entries)[0];
  EXPECT_EQ(e.ip, "192.168.1.20");
  EXPECT_EQ(e.name, "Office");
  EXPECT_EQ(e.state, "-2");
  EXPECT_EQ(e.mac, "00:1C:F0:AA:0B:3E");
  EXPECT_EQ(e.storageMode, -128);
}

TEST(ParseServerList, CountsLengthsAndSizes) {
  ServerFields nulName;
  nulName.name = std::string("ABCDEFGH\0", 9);  // length field 9: eight letters and a NUL
  ServerFields bigField;
  bigField.name = "Lab";
  bigField.lengthField = 0xFFFFFF03;  // only the first byte counts
  ServerFields negative;
  negative.lengthField = 0x80;  // -128
  ServerFields a, b, third;
  a.name = "A", b.name = "B", third.name = "C";

  struct Case {
    const char* what;
    Bytes reply;
    std::optional<uint32_t> returned;  // the reply's size when unset
    std::optional<std::vector<std::string>> names;
  } cases[] = {
      {"byte 0 zero fails", ListReply(0, 1, {ServerEntryBytes(a)}), {}, std::nullopt},
      {"returned size beyond the buffer fails", ServerListReply({a}), 1025, std::nullopt},
      {"count 0 gives none",
       ListReply(1, 0, {ServerEntryBytes(a)}),
       {},
       std::vector<std::string>{}},
      {"negative count gives none",
       ListReply(1, 0xFF, {ServerEntryBytes(a)}),
       {},
       std::vector<std::string>{}},
      {"name ends at its NUL",
       ServerListReply({nulName}),
       {},
       std::vector<std::string>{"ABCDEFGH"}},
      {"first byte of the length only",
       ServerListReply({bigField}),
       {},
       std::vector<std::string>{"Lab"}},
      {"negative name length ends the walk",
       ServerListReply({a, negative, b}),
       {},
       std::vector<std::string>{"A"}},
      {"count larger than the entries",
       ListReply(1, 5, {ServerEntryBytes(a), ServerEntryBytes(b)}),
       {},
       std::vector<std::string>{"A", "B"}},
      {"entry passing the returned size is dropped", ServerListReply({a, b, third}),
       8 + 23 * 2 + 22, std::vector<std::string>{"A", "B"}},
      {"reply shorter than its header", ServerListReply({a}), 4, std::vector<std::string>{}},
  };
  for (const auto& c : cases) {
    const uint32_t returned = c.returned.value_or(static_cast<uint32_t>(c.reply.size()));
    const auto entries = ParseServerList(InBuffer(c.reply, 1024), returned);
    ASSERT_EQ(entries.has_value(), c.names.has_value()) << c.what;
    if (entries) {
      EXPECT_EQ(Names(*entries), *c.names) << c.what;
    }
  }
}

TEST(ParseServerList, NeverReadsPastTheReturnedBytes) {
  ServerFields s;
  s.name = "Name";
  const Bytes reply = ServerListReply({s});
  // The buffer holds the whole entry, but the driver said it returned one byte less.
  const auto entries =
      ParseServerList(InBuffer(reply, 1024), static_cast<uint32_t>(reply.size() - 1));
  ASSERT_TRUE(entries);
  EXPECT_TRUE(entries->empty());
  // A buffer exactly as long as the reply, with a count that claims more.
  Bytes exact = reply;
  exact[4] = 100;
  const auto fromExact = ParseServerList(exact, static_cast<uint32_t>(exact.size()));
  ASSERT_TRUE(fromExact);
  EXPECT_EQ(fromExact->size(), 1u);
}

TEST(ParseServerList, StopsAtSixtyFourEntries) {
  std::vector<ServerFields> many(70);
  for (auto& s : many) s.name = "";
  Bytes reply = ServerListReply(many);
  reply[4] = 100;
  const auto entries = ParseServerList(reply, static_cast<uint32_t>(reply.size()));
  ASSERT_TRUE(entries);
  EXPECT_EQ(entries->size(), 64u);
}

TEST(ParseDeviceList, ReadsEveryFieldOfAnEntry) {
  DeviceFields d;
  d.number = 0x81;  // signed: -127
  d.vendorId = 0x04F9;
  d.productId = 0xAB12;
  d.lockKind = 2;
  d.lockCount = 1;
  d.texts = {"MASS STORAGE", "OFFICE-PC", "Lumenco", "LZ-2040", "SER1"};
  const Bytes reply = DeviceListReply({d});
  // Vendor ID bytes 0xF9 0x04 at offset 1 of the entry.
  ASSERT_EQ(reply[9], 0xF9);
  ASSERT_EQ(reply[10], 0x04);
  const auto list = ParseDeviceList(InBuffer(reply, 2048), static_cast<uint32_t>(reply.size()));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 1u);
  const DeviceEntry& e = (*list)[0];
  EXPECT_EQ(e.deviceNumber, -127);
  EXPECT_EQ(e.vendorId, "04F9");
  EXPECT_EQ(e.productId, "AB12");
  EXPECT_EQ(e.lockKind, 2);
  EXPECT_EQ(e.lockCount, 1);
  EXPECT_EQ(e.type, "MASS STORAGE");
  EXPECT_EQ(e.owner, "OFFICE-PC");
  EXPECT_EQ(e.manufacturer, "Lumenco");
  EXPECT_EQ(e.product, "LZ-2040");
  EXPECT_EQ(e.serial, "SER1");
}

TEST(ParseDeviceList, TextsAreCutAndTheWalkStaysAligned) {
  DeviceFields longText;
  longText.texts[2] = std::string(70, 'M');
  longText.texts[3] = std::string("AB\0CD", 5);
  DeviceFields next;
  next.number = 9;
  next.texts[2] = "After";
  const Bytes reply = DeviceListReply({longText, next});
  const auto list = ParseDeviceList(InBuffer(reply, 2048), static_cast<uint32_t>(reply.size()));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0].manufacturer, std::string(63, 'M'));
  EXPECT_EQ((*list)[0].product, "AB");
  EXPECT_EQ((*list)[0].serial, "SER1");
  EXPECT_EQ((*list)[1].deviceNumber, 9);
  EXPECT_EQ((*list)[1].manufacturer, "After");
}

TEST(ParseDeviceList, TrailingBlocksAreSkipped) {
  DeviceFields withBlocks;
  withBlocks.trailing = {2};
  for (int i = 0; i < 2; ++i) {
    Append(withBlocks.trailing, Len32(3));
    Append(withBlocks.trailing, Len32(2));
    AppendText(withBlocks.trailing, "xyzuv");
  }
  DeviceFields next;
  next.number = 4;
  const Bytes reply = DeviceListReply({withBlocks, next});
  const auto list = ParseDeviceList(InBuffer(reply, 2048), static_cast<uint32_t>(reply.size()));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[1].deviceNumber, 4);
  EXPECT_EQ((*list)[1].type, "PRINTER");
}

TEST(ParseDeviceList, LyingCountsAndLengths) {
  DeviceFields good;
  DeviceFields negativeText;
  negativeText.lengthFields[1] = 0xFF;  // -1
  DeviceFields hugeText;
  hugeText.lengthFields[4] = 0x7F;  // 127 bytes the buffer's end cannot hold
  DeviceFields negativeBlock;
  negativeBlock.trailing = {1};
  Append(negativeBlock.trailing, Len32(0x90));
  Append(negativeBlock.trailing, Len32(0));
  DeviceFields firstByteOnly;
  firstByteOnly.texts[0] = "MFP";
  firstByteOnly.lengthFields[0] = 0xFFFFFF03;

  struct Case {
    const char* what;
    Bytes reply;
    size_t bufferSize;
    size_t expected;
  } cases[] = {
      {"count 0", ListReply(1, 0, {DeviceEntryBytes(good)}), 2048, 0},
      {"negative count", ListReply(1, 0x80, {DeviceEntryBytes(good)}), 2048, 0},
      {"negative text length ends the walk", DeviceListReply({good, negativeText, good}), 2048, 1},
      {"negative block length ends the walk", DeviceListReply({good, negativeBlock, good}), 2048,
       1},
      {"first byte of a length only", DeviceListReply({firstByteOnly}), 2048, 1},
      {"entry past the buffer's end", DeviceListReply({good, hugeText}),
       DeviceListReply({good, hugeText}).size(), 1},
      {"header only", ListReply(1, 3, {}), 8, 0},
      {"shorter than the header", Bytes{1, 0, 0, 0, 5}, 5, 0},
  };
  for (const auto& c : cases) {
    const Bytes buffer = InBuffer(c.reply, c.bufferSize);
    const auto list = ParseDeviceList(buffer, static_cast<uint32_t>(c.reply.size()));
    ASSERT_TRUE(list) << c.what;
    EXPECT_EQ(list->size(), c.expected) << c.what;
  }
}

TEST(ParseDeviceList, ZeroFilledBufferBoundsACountThatClaimsTooMuch) {
  // Within the zero-filled 2048-byte buffer every 28 bytes read as an empty record; the walk
  // ends at the buffer's end, not at the count.
  const Bytes reply = ListReply(1, 127, {});
  const auto list = ParseDeviceList(InBuffer(reply, 2048), 8);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->size(), (2048u - 8u) / 28u);
  // And a longer buffer is still read only up to 2048 bytes.
  const auto fromLonger = ParseDeviceList(InBuffer(reply, 4096), 8);
  ASSERT_TRUE(fromLonger);
  EXPECT_EQ(fromLonger->size(), list->size());
}

TEST(ParseDeviceList, ReplyLongerThanTheBufferGivesNoResult) {
  const Bytes reply = DeviceListReply({DeviceFields{}});
  EXPECT_FALSE(ParseDeviceList(InBuffer(reply, 2048), 2049));
  EXPECT_TRUE(ParseDeviceList(InBuffer(reply, 2048), 2048));
}

TEST(ParseVersion, Cases) {
  struct Case {
    const char* what;
    Bytes reply;
    uint32_t returned;
    std::optional<std::string> expected;
  } cases[] = {
      {"plain", VersionReply(1, 0, 12), 8, "1.0.12"},
      {"signed parts", VersionReply(0xFF, 0x80, 127), 8, "-1.-128.127"},
      {"exactly the parts", VersionReply(2, 3, 4), 7, "2.3.4"},
      {"byte 0 zero", Bytes{0, 0, 0, 0, 1, 2, 3}, 7, std::nullopt},
      {"longer than 64", VersionReply(1, 0, 12), 65, std::nullopt},
      {"too short for the parts", VersionReply(1, 0, 12), 6, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseVersion(InBuffer(c.reply, 64), c.returned), c.expected) << c.what;
  }
  EXPECT_FALSE(ParseVersion(Bytes{1, 0, 0}, 7)) << "buffer shorter than the claimed size";
}

TEST(ParseSpurAddress, Cases) {
  struct Case {
    const char* what;
    Bytes reply;
    uint32_t returned;
    std::optional<std::string> expected;
  } cases[] = {
      {"plain", AddressReply({10, 0, 0, 5}), 8, "10.0.0.5"},
      {"longer declared length", Bytes{20, 0, 0, 0, 127, 0, 0, 2}, 20, "127.0.0.2"},
      {"byte 0 zero", Bytes{0, 0, 0, 0, 10, 0, 0, 5}, 8, std::nullopt},
      {"declared length without an address", Bytes{4, 0, 0, 0, 10, 0, 0, 5}, 8, std::nullopt},
      {"negative declared length", Bytes{0x88, 0, 0, 0, 10, 0, 0, 5}, 8, std::nullopt},
      {"returned too short", AddressReply({10, 0, 0, 5}), 7, std::nullopt},
      {"longer than 64", AddressReply({10, 0, 0, 5}), 65, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseSpurAddress(InBuffer(c.reply, 64), c.returned), c.expected) << c.what;
  }
}

TEST(DriverTexts, Forms) {
  const uint8_t mac[6] = {0x00, 0x1c, 0xf0, 0xaa, 0x0b, 0x3e};
  EXPECT_EQ(MacText(mac), "00:1C:F0:AA:0B:3E");
  const uint8_t ip[4] = {255, 0, 10, 1};
  EXPECT_EQ(IpText(ip), "255.0.10.1");
  EXPECT_EQ(UsbIdText(0x04F9), "04F9");
  EXPECT_EQ(UsbIdText(0xabcd), "ABCD");
}
