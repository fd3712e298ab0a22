// SPDX-License-Identifier: GPL-2.0-or-later
// What the device database (the machine hive busd fills) says a device on a server is to this PC,
// and under which names its scanner is known: read-only walks of HKEY_LOCAL_MACHINE, bounded by
// fixed limits (20 instances, 10 interfaces, 10 functions).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace tessaro {

struct DeviceDriverInfo {
  std::string ScannerName;      // FriendlyName of the still-image device
  std::string TwainDataSource;  // its TWAIN data source name
  std::string WiaDeviceId;      // its device ID, which opens it on the WIA path
};

// DeviceClassFlags bits.
namespace devclass {
inline constexpr uint32_t kAudio = 0x1;
inline constexpr uint32_t kHid = 0x2;
inline constexpr uint32_t kPrinter = 0x4;
inline constexpr uint32_t kMassStorage = 0x8;
inline constexpr uint32_t kHub = 0x10;
inline constexpr uint32_t kScanner = 0x20;
inline constexpr uint32_t kCamera = 0x40;
inline constexpr uint32_t kVideo = 0x80;
inline constexpr uint32_t kComposite = 0x400;
inline constexpr uint32_t kDot4Printer = 0x800;
inline constexpr uint32_t kSecondPrinter = 0x4000;
inline constexpr uint32_t kUnclassified = 0x10000000;
}  // namespace devclass

// The four reads the lookup makes of HKEY_LOCAL_MACHINE, each opening and closing its key with
// query rights; anything missing, or longer than the fixed buffers, reads as empty or 0.
class HklmReader {
 public:
  explicit HklmReader(Registry& registry) : registry_(registry) {}
  std::string EnumHklmSubKey(const std::string& keyPath, int index);
  std::string ReadHklmString(const std::string& keyPath, const std::string& valueName);
  uint32_t ReadHklmDword(const std::string& keyPath, const std::string& valueName);
  std::vector<std::string> ReadHklmMultiString(const std::string& keyPath,
                                               const std::string& valueName);

 private:
  bool Open(const std::string& keyPath, RegKey& key);
  Registry& registry_;
};

// The scanner's names; null members are not wanted.
struct StillImageOutputs {
  std::string* scannerName = nullptr;
  std::string* twainDataSource = nullptr;
  std::string* wiaDeviceId = nullptr;
};

std::string FindUsbInstanceKey(HklmReader& hklm, const std::string& vendorId,
                               const std::string& productId, int interfaceNumber,
                               const std::string& matchText);
bool ClassifyDeviceKey(HklmReader& hklm, const std::string& instanceKey, uint32_t& flags);
uint32_t ReadStillImageInfo(HklmReader& hklm, const std::string& driverKey,
                            const StillImageOutputs& outputs);
std::string FindDot4InstanceKey(HklmReader& hklm, const std::string& enumerator,
                                const std::string& deviceName, const std::string& matchText);

// The device's class flags, 0 when its instance key is not found; `info` gets the scanner's
// names when one is found.
uint32_t LookupDeviceDrivers(Registry& machineHive, const std::string& vendorId,
                             const std::string& productId, const std::string& serial,
                             DeviceDriverInfo& info);

}  // namespace tessaro
