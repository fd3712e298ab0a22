// SPDX-License-Identifier: GPL-2.0-or-later
#include "driver/DriverClient.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "base/ByteOrder.h"
#include "base/Ipv4Text.h"
#include "protocol/BusFrame.h"

namespace tessaro {

namespace code = busipc::code;

namespace {
constexpr size_t kMaxInterfaceIndex = 64;  // enumeration looks at indexes 0 to 63
constexpr auto kServerListRetryDelay = std::chrono::milliseconds(1000);
constexpr uint32_t kLockRequestSize = 6;
}  // namespace

uint8_t DeviceNumberByte(const std::string& deviceNumber) {
  // strtol saturates where atol's overflow would be undefined; the low byte is what travels.
  const long value = std::strtol(deviceNumber.c_str(), nullptr, 10);
  return static_cast<uint8_t>(static_cast<unsigned long>(value) & 0xFF);
}

// A text that is no address travels as 255.255.255.255, which no server has.
void PutIpv4(uint8_t* out, const std::string& ip) {
  const uint32_t address = ParseIpv4(ip).value_or(0xFFFFFFFFu);
  std::memcpy(out, &address, 4);
}

IoResult DriverClient::Send(BusHandle handle, uint32_t code, std::vector<uint8_t>& buffer,
                            uint32_t inputLength) {
  const auto size = static_cast<uint32_t>(buffer.size());
  return bus_.Control(handle, code, buffer.data(), inputLength, buffer.data(), size);
}

bool DriverClient::Query(BusHandle handle, uint32_t code, std::vector<uint8_t>& buffer,
                         uint32_t& returned) {
  buffer.assign(kQueryBufferSize, 0);
  const IoResult r = Send(handle, code, buffer, kQueryBufferSize);
  returned = r.bytesReturned;
  return r.ok;
}

BusHandle DriverClient::OpenTrunk() {
  const auto paths = bus_.ListInterfaces(InterfaceClass::Trunk);
  if (!paths || paths->empty()) return kInvalidBusHandle;
  // Only the first interface is tried, as the enumeration stops at the first detail it gets.
  return bus_.Open(paths->front());
}

std::optional<std::vector<SpurInterface>> DriverClient::OpenSpurs() {
  const auto paths = bus_.ListInterfaces(InterfaceClass::Spur);
  if (!paths) return std::nullopt;
  std::vector<SpurInterface> spurs;
  for (size_t i = 0; i < paths->size() && i < kMaxInterfaceIndex; ++i) {
    SpurInterface spur;
    spur.handle = bus_.Open((*paths)[i]);
    if (spur.handle == kInvalidBusHandle) continue;
    spur.path = (*paths)[i];
    GetSpurAddress(spur.handle, spur.address);
    spurs.push_back(std::move(spur));
  }
  return spurs;
}

int DriverClient::GetServerList(BusHandle trunk, std::vector<ServerEntry>& servers) {
  std::vector<uint8_t> buffer;
  IoResult r;
  for (int attempt = 0; attempt < 2; ++attempt) {
    buffer.assign(kServerListBufferSize, 0);
    r = Send(trunk, code::kGetServerList, buffer, kServerListBufferSize);
    if (r.ok && buffer[0] != 0) break;
    clock_.Sleep(kServerListRetryDelay);
  }
  if (!r.ok) return -1;
  auto entries = ParseServerList(buffer, r.bytesReturned);
  if (!entries) return -1;
  servers = std::move(*entries);
  return static_cast<int>(servers.size());
}

bool DriverClient::AttachServer(BusHandle trunk, const std::string& ip) {
  std::vector<uint8_t> buffer(kQueryBufferSize, 0);
  PutIpv4(buffer.data(), ip);
  return Send(trunk, code::kAttachServer, buffer, 4).ok;
}

void DriverClient::WakeEventReader(BusHandle trunk) {
  std::vector<uint8_t> buffer(kQueryBufferSize, 0);
  Send(trunk, code::kWakeEventReader, buffer, kQueryBufferSize);
}

bool DriverClient::GetTrunkVersion(BusHandle trunk, std::string& version) {
  std::vector<uint8_t> buffer;
  uint32_t returned = 0;
  if (!Query(trunk, code::kGetTrunkVersion, buffer, returned)) return false;
  auto text = ParseVersion(buffer, returned);
  if (text) version = std::move(*text);
  return text.has_value();
}

bool DriverClient::GetSpurVersion(BusHandle spur, std::string& version) {
  std::vector<uint8_t> buffer;
  uint32_t returned = 0;
  if (!Query(spur, code::kGetSpurVersion, buffer, returned)) return false;
  auto text = ParseVersion(buffer, returned);
  if (text) version = std::move(*text);
  return text.has_value();
}

bool DriverClient::GetSpurAddress(BusHandle spur, std::string& address) {
  std::vector<uint8_t> buffer;
  uint32_t returned = 0;
  if (!Query(spur, code::kGetSpurAddress, buffer, returned)) return false;
  auto text = ParseSpurAddress(buffer, returned);
  if (text) address = std::move(*text);
  return text.has_value();
}

std::optional<std::vector<DeviceEntry>> DriverClient::GetDeviceList(BusHandle spur) {
  std::vector<uint8_t> buffer(kDeviceListBufferSize, 0);
  const IoResult r = Send(spur, code::kGetDeviceList, buffer, kDeviceListBufferSize);
  if (r.bytesReturned > kDeviceListBufferSize) return std::nullopt;
  if (!r.ok) return std::vector<DeviceEntry>{};
  return ParseDeviceList(buffer, r.bytesReturned);
}

IoResult DriverClient::WriteDeviceData(BusHandle spur, uint8_t deviceNumber,
                                       std::span<const uint8_t> data) {
  if (data.size() > kMaxDataPiece) return IoResult{false, buserr::kInvalidParameter, 0};
  std::vector<uint8_t> input{deviceNumber};
  input.insert(input.end(), data.begin(), data.end());
  return bus_.Control(spur, code::kWriteDeviceData, input.data(),
                      static_cast<uint32_t>(input.size()), nullptr, 0);
}

IoResult DriverClient::EndDeviceData(BusHandle spur, uint8_t deviceNumber) {
  return bus_.Control(spur, code::kEndDeviceData, &deviceNumber, 1, nullptr, 0);
}

bool DriverClient::LinkDevice(BusHandle spur, const std::string& deviceNumber) {
  std::vector<uint8_t> buffer{DeviceNumberByte(deviceNumber)};
  return Send(spur, code::kLinkDevice, buffer, 1).ok;
}

bool DriverClient::UnlinkDevice(BusHandle spur, const std::string& deviceNumber) {
  std::vector<uint8_t> buffer{DeviceNumberByte(deviceNumber)};
  return Send(spur, code::kUnlinkDevice, buffer, 1).ok;
}

bool DriverClient::SendLock(BusHandle spur, uint32_t code, const std::string& deviceNumber,
                            uint8_t kind, uint32_t seconds) {
  std::vector<uint8_t> buffer(kLockRequestSize, 0);
  buffer[0] = DeviceNumberByte(deviceNumber);
  PutU32(&buffer[1], seconds);
  buffer[5] = kind;
  return Send(spur, code, buffer, kLockRequestSize).ok;
}

bool DriverClient::LockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                              uint32_t seconds) {
  return SendLock(spur, code::kLockDevice, deviceNumber, static_cast<uint8_t>(kind), seconds);
}

bool DriverClient::UnlockDevice(BusHandle spur, const std::string& deviceNumber, LockKind kind,
                                uint32_t seconds) {
  return SendLock(spur, code::kUnlockDevice, deviceNumber, static_cast<uint8_t>(kind), seconds);
}

bool DriverClient::RequestToUseDevice(BusHandle spur, const std::string& deviceNumber, uint8_t kind,
                                      const std::string& ip) {
  std::vector<uint8_t> buffer(kLockRequestSize, 0);
  buffer[0] = DeviceNumberByte(deviceNumber);
  buffer[1] = kind;
  if (!ip.empty()) PutIpv4(&buffer[2], ip);
  return Send(spur, code::kRequestToUse, buffer, kLockRequestSize).ok;
}

}  // namespace tessaro
