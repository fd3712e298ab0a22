// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliFormat.h"

#include "cli/JsonLine.h"
#include "records/Records.h"

namespace tessaro::cli {

std::string FormatVersion(const std::string& version, bool json) {
  return json ? JsonLine().Text("version", version).str() : version;
}

std::string FormatOk(bool ok, bool json) {
  return json ? JsonLine().Bool("ok", ok).str() : (ok ? "ok" : "failed");
}

std::string FormatServer(const ServerEntry& s, bool json) {
  if (json) {
    return JsonLine()
        .Text("ip", s.ip)
        .Text("name", s.name)
        .Text("state", s.state)
        .Text("mac", s.mac)
        .Number("storageMode", s.storageMode)
        .str();
  }
  return s.ip + "  " + s.name + "  state " + s.state + "  mac " + s.mac + "  storage mode " +
         std::to_string(s.storageMode);
}

std::string FormatSpur(const SpurInterface& spur, bool json) {
  if (json) return JsonLine().Text("address", spur.address).Text("path", spur.path).str();
  return (spur.address.empty() ? std::string("(no address)") : spur.address) + "  " + spur.path;
}

std::string FormatDevice(const DeviceEntry& d, bool json) {
  const std::string number = std::to_string(d.deviceNumber);
  if (json) {
    return JsonLine()
        .Text("deviceNumber", number)
        .Text("vendorId", d.vendorId)
        .Text("productId", d.productId)
        .Number("lockKind", d.lockKind)
        .Number("lockCount", d.lockCount)
        .Text("type", d.type)
        .Text("owner", d.owner)
        .Text("manufacturer", d.manufacturer)
        .Text("product", d.product)
        .Text("serial", d.serial)
        .str();
  }
  std::string line = "#" + number + "  " + d.vendorId + ":" + d.productId + "  " + d.type + "  " +
                     DeviceDisplayName(d.manufacturer, d.product);
  if (!d.serial.empty()) line += "  serial " + d.serial;
  line += d.owner.empty() ? std::string("  free") : "  owner " + d.owner;
  if (d.lockCount != 0) line += "  locked (kind " + std::to_string(d.lockKind) + ")";
  return line;
}

namespace {

std::string EventJson(const EventRecord& e) {
  JsonLine line;
  line.Number("kind", e.kind);
  if (!e.knownKind()) return line.str();
  line.Text("name", EventKindName(e.kind));
  if (e.kind == kEventUpdateDeviceList) line.Text("ip", e.serverIp);
  if (e.kind == kEventRequestToUse) {
    line.Number("subCode", e.subCode)
        .Text("deviceNumber", std::to_string(e.deviceNumber))
        .Text("ip", e.serverIp)
        .Text("requesterIp", e.requesterIp)
        .Text("requesterName", e.requesterName);
  }
  return line.str();
}

std::string EventText(const EventRecord& e) {
  if (!e.knownKind()) return "event of unknown kind " + std::to_string(e.kind);
  std::string line(EventKindName(e.kind));
  if (e.kind == kEventUpdateDeviceList) line += "  server " + e.serverIp;
  if (e.kind == kEventRequestToUse) {
    line += "  sub-code " + std::to_string(e.subCode) + "  device #" +
            std::to_string(e.deviceNumber) + " on " + e.serverIp + "  wanted by " +
            e.requesterName + " (" + e.requesterIp + ")";
  }
  return line;
}

}  // namespace

std::string FormatEvent(const EventRecord& event, bool json) {
  return json ? EventJson(event) : EventText(event);
}

}  // namespace tessaro::cli
