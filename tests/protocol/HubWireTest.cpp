// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "protocol/HubWire.h"

using namespace tessaro;
using namespace tessaro::wire;

TEST(HubWire, DeviceListRoundTrip) {
  DeviceInfo d;
  d.number = 3;
  d.vendorId = 0x04F9;
  d.productId = 0x0042;
  d.lockKind = 2;
  d.lockCount = 1;
  d.type = "PRINTER";
  d.owner = "PC-A";
  d.manufacturer = "Maker";
  d.product = "Laser 1";
  d.serial = "SN1";
  d.descriptors = {{"interface", "07/01/02"}};
  auto decoded = DecodeDeviceList(EncodeDeviceList({d, DeviceInfo{}}));
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ((*decoded)[0].owner, "PC-A");
  EXPECT_EQ((*decoded)[0].vendorId, 0x04F9);
  EXPECT_EQ((*decoded)[0].descriptors, d.descriptors);
  EXPECT_TRUE((*decoded)[1].type.empty());
}

TEST(HubWire, TruncatedOrPaddedPayloadsAreRejected) {
  const auto good = EncodeDeviceList({DeviceInfo{}});
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_FALSE(DecodeDeviceList({good.data(), n})) << "cut at " << n;
  auto padded = good;
  padded.push_back(0);
  EXPECT_FALSE(DecodeDeviceList(padded));
  // A count that promises more than the payload holds.
  std::vector<uint8_t> lying = {0x7F, 0x00};
  EXPECT_FALSE(DecodeDeviceList(lying));
  EXPECT_FALSE(DecodeDeviceCommand(MsgType::Lock, std::vector<uint8_t>{1, 2}));
  EXPECT_TRUE(DecodeDeviceCommand(MsgType::Link, std::vector<uint8_t>{1}));
}

TEST(HubWire, StreamDecoderSplitsFramesAndRefusesBadHeaders) {
  auto a = EncodeFrame({MsgType::Ping, 0, 7, {}});
  auto b = EncodeFrame({MsgType::Result, 0, 7, EncodeResult(31)});
  std::vector<uint8_t> both = a;
  both.insert(both.end(), b.begin(), b.end());
  FrameDecoder d;
  d.Feed(both);
  auto f1 = d.Next();
  auto f2 = d.Next();
  ASSERT_TRUE(f1 && f2);
  EXPECT_EQ(f1->type, MsgType::Ping);
  EXPECT_EQ(DecodeResult(f2->payload), 31u);
  EXPECT_FALSE(d.Next());

  auto huge = EncodeFrame({MsgType::Ping, 0, 1, {}});
  PutU32(&huge[12], kMaxPayload + 1);
  FrameDecoder bad;
  bad.Feed(huge);
  EXPECT_FALSE(bad.Next());
  EXPECT_TRUE(bad.broken());
  EXPECT_FALSE(DecodeDatagram(huge));
}
