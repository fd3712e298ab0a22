// SPDX-License-Identifier: GPL-2.0-or-later
#include "protocol/HubWire.h"

#include <algorithm>

#include "base/ByteOrder.h"

namespace tessaro::wire {

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
  std::vector<uint8_t> out(kHeaderSize + frame.payload.size());
  PutU32(&out[0], kMagic);
  PutU16(&out[4], static_cast<uint16_t>(frame.type));
  PutU16(&out[6], frame.flags);
  PutU32(&out[8], frame.id);
  PutU32(&out[12], static_cast<uint32_t>(frame.payload.size()));
  std::copy(frame.payload.begin(), frame.payload.end(), out.begin() + kHeaderSize);
  return out;
}

namespace {

// Checks a header; returns the payload length, or nullopt when the header is malformed.
std::optional<uint32_t> CheckHeader(const uint8_t* h) {
  const uint32_t len = GetU32(h + 12);
  if (GetU32(h) != kMagic || GetU16(h + 6) != 0 || len > kMaxPayload) return std::nullopt;
  return len;
}

Frame MakeFrame(const uint8_t* h, uint32_t len) {
  Frame f;
  f.type = static_cast<MsgType>(GetU16(h + 4));
  f.id = GetU32(h + 8);
  f.payload.assign(h + kHeaderSize, h + kHeaderSize + len);
  return f;
}

}  // namespace

void FrameDecoder::Feed(std::span<const uint8_t> bytes) {
  if (broken_) return;
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<Frame> FrameDecoder::Next() {
  if (broken_ || buffer_.size() - start_ < kHeaderSize) return std::nullopt;
  const uint8_t* h = buffer_.data() + start_;
  const auto len = CheckHeader(h);
  if (!len) {
    broken_ = true;
    buffer_.clear();
    start_ = 0;
    return std::nullopt;
  }
  if (buffer_.size() - start_ < kHeaderSize + *len) return std::nullopt;
  Frame f = MakeFrame(h, *len);
  start_ += kHeaderSize + *len;
  if (start_ > 65536) {  // compact now and then instead of after every frame
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  return f;
}

std::optional<Frame> DecodeDatagram(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  const auto len = CheckHeader(bytes.data());
  if (!len || bytes.size() != kHeaderSize + *len) return std::nullopt;
  return MakeFrame(bytes.data(), *len);
}

std::vector<uint8_t> EncodeVersionProbe(const VersionProbe& v) {
  ByteWriter w;
  w.U16(v.major);
  w.U16(v.minor);
  return w.Take();
}

std::optional<VersionProbe> DecodeVersionProbe(std::span<const uint8_t> p) {
  ByteReader r(p);
  VersionProbe v;
  v.major = r.U16();
  v.minor = r.U16();
  if (!r.AtEnd()) return std::nullopt;
  return v;
}

std::vector<uint8_t> EncodeServerInfo(const ServerInfo& s) {
  ByteWriter w;
  w.U16(s.major);
  w.U16(s.minor);
  w.U16(s.tcpPort);
  w.Bytes(s.mac);
  w.U32(static_cast<uint32_t>(s.storageMode));
  w.Text(s.name);
  return w.Take();
}

std::optional<ServerInfo> DecodeServerInfo(std::span<const uint8_t> p) {
  ByteReader r(p);
  ServerInfo s;
  s.major = r.U16();
  s.minor = r.U16();
  s.tcpPort = r.U16();
  auto mac = r.Bytes(6);
  if (mac.size() == 6) std::copy(mac.begin(), mac.end(), s.mac.begin());
  s.storageMode = static_cast<int32_t>(r.U32());
  s.name = r.Text();
  if (!r.AtEnd()) return std::nullopt;
  return s;
}

std::vector<uint8_t> EncodeHello(const Hello& h) {
  ByteWriter w;
  w.U16(h.major);
  w.U16(h.minor);
  w.Text(h.computerName);
  return w.Take();
}

std::optional<Hello> DecodeHello(std::span<const uint8_t> p) {
  ByteReader r(p);
  Hello h;
  h.major = r.U16();
  h.minor = r.U16();
  h.computerName = r.Text();
  if (!r.AtEnd()) return std::nullopt;
  return h;
}

std::vector<uint8_t> EncodeChallenge(const Challenge& c) {
  ByteWriter w;
  w.U16(c.major);
  w.U16(c.minor);
  w.Bytes(c.nonce);
  return w.Take();
}

std::optional<Challenge> DecodeChallenge(std::span<const uint8_t> p) {
  ByteReader r(p);
  Challenge c;
  c.major = r.U16();
  c.minor = r.U16();
  const auto nonce = r.Bytes(kNonceSize);
  if (!r.AtEnd() || nonce.size() != kNonceSize) return std::nullopt;
  std::copy(nonce.begin(), nonce.end(), c.nonce.begin());
  return c;
}

std::vector<uint8_t> EncodeProof(const Proof& p) {
  ByteWriter w;
  w.Bytes(p.publicKey);
  w.Bytes(p.signature);
  return w.Take();
}

std::optional<Proof> DecodeProof(std::span<const uint8_t> p) {
  if (p.size() != kPublicKeySize + kSignatureSize) return std::nullopt;
  Proof proof;
  std::copy_n(p.begin(), kPublicKeySize, proof.publicKey.begin());
  std::copy_n(p.begin() + kPublicKeySize, kSignatureSize, proof.signature.begin());
  return proof;
}

std::vector<uint8_t> EncodeDeviceList(const std::vector<DeviceInfo>& devices) {
  ByteWriter w;
  const size_t count = std::min(devices.size(), kMaxDevices);
  w.U16(static_cast<uint16_t>(count));
  for (size_t i = 0; i < count; ++i) {
    const DeviceInfo& d = devices[i];
    w.U8(d.number);
    w.U16(d.vendorId);
    w.U16(d.productId);
    w.U8(d.lockKind);
    w.U8(d.lockCount);
    for (const std::string* t : {&d.type, &d.owner, &d.manufacturer, &d.product, &d.serial})
      w.Text(*t);
    const size_t n = std::min(d.descriptors.size(), kMaxDescriptors);
    w.U16(static_cast<uint16_t>(n));
    for (size_t k = 0; k < n; ++k) {
      w.Text(d.descriptors[k].first);
      w.Text(d.descriptors[k].second);
    }
  }
  return w.Take();
}

std::optional<std::vector<DeviceInfo>> DecodeDeviceList(std::span<const uint8_t> p) {
  ByteReader r(p);
  const uint16_t count = r.U16();
  if (count > kMaxDevices) return std::nullopt;
  std::vector<DeviceInfo> devices;
  devices.reserve(count);
  for (uint16_t i = 0; i < count && r.ok(); ++i) {
    DeviceInfo d;
    d.number = r.U8();
    d.vendorId = r.U16();
    d.productId = r.U16();
    d.lockKind = r.U8();
    d.lockCount = r.U8();
    for (std::string* t : {&d.type, &d.owner, &d.manufacturer, &d.product, &d.serial})
      *t = r.Text();
    const uint16_t n = r.U16();
    if (n > kMaxDescriptors) return std::nullopt;
    for (uint16_t k = 0; k < n && r.ok(); ++k) {
      std::string key = r.Text();
      std::string value = r.Text();
      d.descriptors.emplace_back(std::move(key), std::move(value));
    }
    devices.push_back(std::move(d));
  }
  if (!r.AtEnd()) return std::nullopt;
  return devices;
}

namespace {
bool HasSixBytes(MsgType t) {
  return t == MsgType::Lock || t == MsgType::Unlock || t == MsgType::RequestToUse;
}
}  // namespace

std::vector<uint8_t> EncodeDeviceCommand(MsgType type, const DeviceCommand& c) {
  ByteWriter w;
  w.U8(c.number);
  if (HasSixBytes(type)) {
    w.U8(c.kind);
    w.U32(c.value);
  }
  return w.Take();
}

std::optional<DeviceCommand> DecodeDeviceCommand(MsgType type, std::span<const uint8_t> p) {
  ByteReader r(p);
  DeviceCommand c;
  c.number = r.U8();
  if (HasSixBytes(type)) {
    c.kind = r.U8();
    c.value = r.U32();
  }
  if (!r.AtEnd()) return std::nullopt;
  return c;
}

std::vector<uint8_t> EncodeResult(uint32_t status) {
  ByteWriter w;
  w.U32(status);
  return w.Take();
}

std::optional<uint32_t> DecodeResult(std::span<const uint8_t> p) {
  ByteReader r(p);
  const uint32_t s = r.U32();
  if (!r.AtEnd()) return std::nullopt;
  return s;
}

std::vector<uint8_t> EncodeUseRequested(const UseRequested& u) {
  ByteWriter w;
  w.U8(u.subCode);
  w.U8(u.deviceNumber);
  w.U32(u.requesterIp);
  w.Text(u.requesterName);
  return w.Take();
}

std::optional<UseRequested> DecodeUseRequested(std::span<const uint8_t> p) {
  ByteReader r(p);
  UseRequested u;
  u.subCode = r.U8();
  u.deviceNumber = r.U8();
  u.requesterIp = r.U32();
  u.requesterName = r.Text();
  if (!r.AtEnd()) return std::nullopt;
  return u;
}

std::vector<uint8_t> EncodeEjectReply(const EjectReply& e) {
  ByteWriter w;
  w.U32(e.vetoType);
  w.Text(e.vetoName);
  return w.Take();
}

std::optional<EjectReply> DecodeEjectReply(std::span<const uint8_t> p) {
  ByteReader r(p);
  EjectReply e;
  e.vetoType = r.U32();
  e.vetoName = r.Text();
  if (!r.AtEnd()) return std::nullopt;
  return e;
}

std::vector<uint8_t> EncodeSetEjectVeto(const SetEjectVeto& v) {
  ByteWriter w;
  w.U8(v.number);
  w.U32(v.vetoType);
  w.Text(v.vetoName);
  return w.Take();
}

std::optional<SetEjectVeto> DecodeSetEjectVeto(std::span<const uint8_t> p) {
  ByteReader r(p);
  SetEjectVeto v;
  v.number = r.U8();
  v.vetoType = r.U32();
  v.vetoName = r.Text();
  if (!r.AtEnd() || v.vetoName.size() > kMaxVetoName) return std::nullopt;
  return v;
}

std::vector<uint8_t> EncodeWriteData(uint8_t number, std::span<const uint8_t> data) {
  ByteWriter w;
  w.U8(number);
  w.Bytes(data);
  return w.Take();
}

std::optional<std::pair<uint8_t, std::vector<uint8_t>>> DecodeWriteData(
    std::span<const uint8_t> p) {
  if (p.empty()) return std::nullopt;
  return std::make_pair(p[0], std::vector<uint8_t>(p.begin() + 1, p.end()));
}

}  // namespace tessaro::wire
