// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/ReplyBuilder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/ByteOrder.h"

namespace tessaro::busd {

namespace {

constexpr size_t kListHeaderSize = 8;
constexpr size_t kEventRecordSize = 16;
constexpr size_t kUseRecordHeaderSize = 15;

std::string_view CutText(const std::string& text) {
  return std::string_view(text).substr(0, kMaxBusText);
}

void PutIp(std::vector<uint8_t>& out, size_t offset, uint32_t ipNetworkOrder) {
  std::memcpy(&out[offset], &ipNetworkOrder, 4);  // already in wire order in memory
}

void AppendIp(ByteWriter& w, uint32_t ipNetworkOrder) {
  uint8_t b[4];
  std::memcpy(b, &ipNetworkOrder, 4);
  w.Bytes(b);
}

void AppendRawText(ByteWriter& w, std::string_view text) {
  w.Bytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::vector<uint8_t> ServerEntryBytes(const ServerEntry& s) {
  const std::string_view name = CutText(s.name);
  ByteWriter w;
  AppendIp(w, s.ip);
  w.U32(static_cast<uint32_t>(s.state));
  w.Bytes(s.mac);
  w.U32(static_cast<uint32_t>(s.storageMode));
  w.U32(static_cast<uint32_t>(name.size() + 1));
  AppendRawText(w, name);
  w.U8(0);
  return w.Take();
}

std::vector<uint8_t> DeviceEntryBytes(const wire::DeviceInfo& d) {
  const std::string* texts[] = {&d.type, &d.owner, &d.manufacturer, &d.product, &d.serial};
  ByteWriter w;
  w.U8(d.number);
  w.U16(d.vendorId);
  w.U16(d.productId);
  w.U8(d.lockKind);
  w.U8(d.lockCount);
  for (const std::string* t : texts) w.U32(static_cast<uint32_t>(CutText(*t).size()));
  for (const std::string* t : texts) AppendRawText(w, CutText(*t));
  w.U8(0);  // no trailing blocks
  return w.Take();
}

// Appends whole entries while they fit `limit`; the count goes into byte 4.
template <typename Item, typename Encode>
std::vector<uint8_t> BuildList(const std::vector<Item>& items, size_t limit, Encode encode) {
  std::vector<uint8_t> out(kListHeaderSize, 0);
  out[0] = 1;
  uint8_t count = 0;
  for (const Item& item : items) {
    if (count == 127) break;  // the count is a signed byte on the client
    const std::vector<uint8_t> entry = encode(item);
    if (out.size() + entry.size() > limit) break;
    out.insert(out.end(), entry.begin(), entry.end());
    ++count;
  }
  out[4] = count;
  return out;
}

}  // namespace

std::vector<uint8_t> BuildServerList(const std::vector<ServerEntry>& servers) {
  return BuildList(servers, kServerListBufferSize, ServerEntryBytes);
}

std::vector<uint8_t> BuildDeviceList(const std::vector<wire::DeviceInfo>& devices) {
  return BuildList(devices, kDeviceListBufferSize, DeviceEntryBytes);
}

std::vector<uint8_t> BuildVersion() {
  std::vector<uint8_t> out(8, 0);
  out[0] = 1;
  out[4] = kVersionMajor;
  out[5] = kVersionMinor;
  out[6] = kVersionPatch;
  return out;
}

std::vector<uint8_t> BuildSpurAddress(uint32_t serverIp) {
  std::vector<uint8_t> out(8, 0);
  out[0] = 8;
  PutIp(out, 4, serverIp);
  return out;
}

std::vector<uint8_t> BuildEjectOutput(const wire::EjectReply& reply) {
  std::string_view name(reply.vetoName);
  name = name.substr(0, std::min(name.find('\0'), kVetoNameBufferSize - 1));
  ByteWriter w;
  w.U32(reply.vetoType);
  AppendRawText(w, name);
  w.U8(0);
  return w.Take();
}

std::vector<uint8_t> BuildEventRecord(EventKind kind, uint32_t serverIp) {
  std::vector<uint8_t> out(kEventRecordSize, 0);
  out[0] = static_cast<uint8_t>(kind);
  if (kind == EventKind::DeviceListChanged) PutIp(out, 9, serverIp);
  return out;
}

std::vector<uint8_t> BuildUseRequestedRecord(uint32_t serverIp, const wire::UseRequested& use) {
  const std::string_view name = CutText(use.requesterName);
  std::vector<uint8_t> out(kUseRecordHeaderSize + name.size(), 0);
  out[0] = static_cast<uint8_t>(EventKind::UseRequested);
  out[1] = use.subCode;
  out[2] = use.deviceNumber;
  PutIp(out, 3, serverIp);
  PutIp(out, 7, use.requesterIp);
  out[11] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), out.begin() + kUseRecordHeaderSize);
  return out;
}

}  // namespace tessaro::busd
