// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <span>
#include <tuple>

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

namespace {

// Field by field, so that a field the decoder forgets shows.
bool Same(const VersionProbe& a, const VersionProbe& b) {
  return std::tie(a.major, a.minor) == std::tie(b.major, b.minor);
}
bool Same(const ServerInfo& a, const ServerInfo& b) {
  return std::tie(a.major, a.minor, a.tcpPort, a.mac, a.storageMode, a.name) ==
         std::tie(b.major, b.minor, b.tcpPort, b.mac, b.storageMode, b.name);
}
bool Same(const Hello& a, const Hello& b) {
  return std::tie(a.major, a.minor, a.computerName) == std::tie(b.major, b.minor, b.computerName);
}
bool Same(const Challenge& a, const Challenge& b) {
  return std::tie(a.major, a.minor, a.nonce) == std::tie(b.major, b.minor, b.nonce);
}
bool Same(const Proof& a, const Proof& b) {
  return std::tie(a.publicKey, a.signature) == std::tie(b.publicKey, b.signature);
}
bool Same(const DeviceInfo& a, const DeviceInfo& b) {
  return std::tie(a.number, a.vendorId, a.productId, a.lockKind, a.lockCount, a.type, a.owner,
                  a.manufacturer, a.product, a.serial, a.descriptors) ==
         std::tie(b.number, b.vendorId, b.productId, b.lockKind, b.lockCount, b.type, b.owner,
                  b.manufacturer, b.product, b.serial, b.descriptors);
}
bool Same(const std::vector<DeviceInfo>& a, const std::vector<DeviceInfo>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const auto& x, const auto& y) { return Same(x, y); });
}
bool Same(const DeviceCommand& a, const DeviceCommand& b) {
  return std::tie(a.number, a.kind, a.value) == std::tie(b.number, b.kind, b.value);
}
bool Same(const UseRequested& a, const UseRequested& b) {
  return std::tie(a.subCode, a.deviceNumber, a.requesterIp, a.requesterName) ==
         std::tie(b.subCode, b.deviceNumber, b.requesterIp, b.requesterName);
}
bool Same(const EjectReply& a, const EjectReply& b) {
  return std::tie(a.vetoType, a.vetoName) == std::tie(b.vetoType, b.vetoName);
}
bool Same(const SetEjectVeto& a, const SetEjectVeto& b) {
  return std::tie(a.number, a.vetoType, a.vetoName) == std::tie(b.number, b.vetoType, b.vetoName);
}
template <typename T>
bool Same(const T& a, const T& b) {
  return a == b;
}

struct WireCase {
  const char* label;
  MsgType type;
  std::vector<uint8_t> payload;
  // Decodes a payload: true when it gives back the value the payload was made from.
  std::function<bool(std::span<const uint8_t>)> decodesBack;
  bool exactLength = true;  // every shorter or longer payload is refused
};

template <typename T, typename Encode, typename Decode>
WireCase Typed(const char* label, MsgType type, T value, Encode encode, Decode decode,
               bool exactLength = true) {
  const std::vector<uint8_t> payload = encode(value);
  return {label, type, payload,
          [value, decode](std::span<const uint8_t> p) {
            const auto decoded = decode(p);
            return decoded.has_value() && Same(*decoded, value);
          },
          exactLength};
}

WireCase Empty(const char* label, MsgType type) {
  return {label, type, {}, [](std::span<const uint8_t> p) { return p.empty(); }, true};
}

template <typename T>
std::vector<uint8_t> Bytes(const T& array) {
  return {array.begin(), array.end()};
}

std::vector<WireCase> EveryMessage() {
  const std::string highBytes = "Caf\xE9 \x01\x7F\xFF";
  ServerInfo server{1, 7, 2006, {0x00, 0x1C, 0xF0, 0xAA, 0x0B, 0x3E}, -2, "OFFICE-" + highBytes};
  Challenge challenge;
  for (size_t i = 0; i < challenge.nonce.size(); ++i) challenge.nonce[i] = uint8_t(i * 7 + 1);
  Proof proof;
  for (size_t i = 0; i < proof.publicKey.size(); ++i) proof.publicKey[i] = uint8_t(0xA0 + i);
  for (size_t i = 0; i < proof.signature.size(); ++i) proof.signature[i] = uint8_t(255 - i);
  DeviceInfo printer{3, 0x04F9, 0x0042, 2, 1, "PRINTER", "PC-A", "Lumen", "Laser " + highBytes,
                     "SN1", {{"interface", "07/01/02"}, {"", ""}}};
  const std::vector<DeviceInfo> devices = {printer, DeviceInfo{}};
  const auto command = [](MsgType type) {
    return [type](const DeviceCommand& c) { return EncodeDeviceCommand(type, c); };
  };
  const auto decodeCommand = [](MsgType type) {
    return [type](std::span<const uint8_t> p) { return DecodeDeviceCommand(type, p); };
  };
  const auto byNumber = [&](const char* label, MsgType type) {
    return Typed(label, type, DeviceCommand{9, 0, 0}, command(type), decodeCommand(type));
  };
  const auto withValue = [&](const char* label, MsgType type, DeviceCommand c) {
    return Typed(label, type, c, command(type), decodeCommand(type));
  };
  const auto writeData = [](const std::pair<uint8_t, std::vector<uint8_t>>& d) {
    return EncodeWriteData(d.first, d.second);
  };
  return {
      Typed("Discover", MsgType::Discover, VersionProbe{3, 65535}, EncodeVersionProbe,
            DecodeVersionProbe),
      Typed("DiscoverReply", MsgType::DiscoverReply, server, EncodeServerInfo, DecodeServerInfo),
      Typed("Hello", MsgType::Hello, Hello{1, 2, "PC-" + highBytes}, EncodeHello, DecodeHello),
      Typed("HelloReply", MsgType::HelloReply, ServerInfo{}, EncodeServerInfo, DecodeServerInfo),
      Typed("Challenge", MsgType::Challenge, challenge, EncodeChallenge, DecodeChallenge),
      Typed("Proof", MsgType::Proof, proof, EncodeProof, DecodeProof),
      Empty("Ping", MsgType::Ping),
      Empty("Pong", MsgType::Pong),
      Empty("GetDevices", MsgType::GetDevices),
      Typed("DeviceList", MsgType::DeviceList, devices, EncodeDeviceList, DecodeDeviceList),
      Typed("DevicesChanged (no devices)", MsgType::DevicesChanged, std::vector<DeviceInfo>{},
            EncodeDeviceList, DecodeDeviceList),
      byNumber("Link", MsgType::Link),
      byNumber("Unlink", MsgType::Unlink),
      withValue("Lock", MsgType::Lock, {4, 2, 3600}),
      withValue("Unlock", MsgType::Unlock, {4, 1, 0xFFFFFFFF}),
      withValue("RequestToUse", MsgType::RequestToUse, {127, 1, 0x0A00000A}),
      Typed("Result", MsgType::Result, uint32_t{995}, EncodeResult, DecodeResult),
      Typed("UseRequested", MsgType::UseRequested, UseRequested{1, 7, 0x0900000A, highBytes},
            EncodeUseRequested, DecodeUseRequested),
      byNumber("Eject", MsgType::Eject),
      Typed("EjectReply", MsgType::EjectReply, EjectReply{3, "Explorer " + highBytes},
            EncodeEjectReply, DecodeEjectReply),
      Typed("SetEjectVeto (the longest name)", MsgType::SetEjectVeto,
            SetEjectVeto{2, 5, std::string(kMaxVetoName, 'v')}, EncodeSetEjectVeto,
            DecodeSetEjectVeto),
      // Any tail is the job's data, so a cut payload is a shorter piece, not a broken one.
      Typed("WriteData", MsgType::WriteData,
            std::pair<uint8_t, std::vector<uint8_t>>{1, Bytes(highBytes)}, writeData,
            DecodeWriteData, false),
      byNumber("EndData", MsgType::EndData),
      byNumber("AbortData", MsgType::AbortData),
  };
}

}  // namespace

// Every message of the hub wire, in a frame through the stream decoder (fed a byte at a time)
// and as a datagram, comes back as it was sent; a payload cut short or padded is refused.
TEST(HubWire, EveryMessageRoundTrips) {
  const auto cases = EveryMessage();
  std::set<MsgType> types;
  for (const WireCase& c : cases) {
    SCOPED_TRACE(c.label);
    types.insert(c.type);
    ASSERT_TRUE(c.decodesBack(c.payload));
    const Frame sent{c.type, 0, 0x01020304, c.payload};
    const std::vector<uint8_t> bytes = EncodeFrame(sent);
    FrameDecoder stream;
    std::optional<Frame> received;
    for (uint8_t byte : bytes) {
      EXPECT_FALSE(received) << "a frame before its last byte";
      stream.Feed(std::span<const uint8_t>(&byte, 1));
      received = stream.Next();
    }
    ASSERT_TRUE(received);
    EXPECT_EQ(received->type, c.type);
    EXPECT_EQ(received->id, sent.id);
    EXPECT_TRUE(c.decodesBack(received->payload));
    const auto datagram = DecodeDatagram(bytes);
    ASSERT_TRUE(datagram);
    EXPECT_TRUE(c.decodesBack(datagram->payload));
    if (!c.exactLength) continue;
    for (size_t n = 0; n < c.payload.size(); ++n)
      EXPECT_FALSE(c.decodesBack({c.payload.data(), n})) << "cut at " << n;
    std::vector<uint8_t> padded = c.payload;
    padded.push_back(0);
    EXPECT_FALSE(c.decodesBack(padded)) << "padded";
  }
  EXPECT_EQ(types.size(), 24u) << "one case per message type";
}
