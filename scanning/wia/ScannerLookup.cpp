// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/wia/ScannerLookup.h"

#include <optional>

#include "base/AsciiText.h"

namespace tessaro {

namespace {

constexpr char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char kClassRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr int kInstanceLimit = 20;
constexpr int kInterfaceLimit = 10;
constexpr int kFunctionLimit = 10;
constexpr std::size_t kNameBuffer = 256;
constexpr std::size_t kStringBuffer = 256;
constexpr std::size_t kMultiStringBuffer = 1024;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool IsScannerService(const std::string& service) {
  return EqualsNoCase(service, "usbscan") || EqualsNoCase(service, "StillCam") ||
         EqualsNoCase(service, "Dot4Scan");
}

uint32_t StillImageFlag(uint32_t type) {
  switch (type) {
    case 1: return devclass::kScanner;
    case 2: return devclass::kCamera;
    case 3: return devclass::kVideo;
    default: return 0;
  }
}

// The first entry equal to a known compatible ID gives its bit; none gives nullopt.
std::optional<uint32_t> CompatibleIdFlag(const std::vector<std::string>& ids, uint32_t flags) {
  for (const std::string& id : ids) {
    if (EqualsNoCase(id, "USB\\COMPOSITE")) return devclass::kComposite;
    if (EqualsNoCase(id, "USB\\Class_07&SubClass_01&Prot_03")) return devclass::kDot4Printer;
    if (EqualsNoCase(id, "USB\\Class_07"))
      return (flags & devclass::kPrinter) ? devclass::kSecondPrinter : devclass::kPrinter;
    if (EqualsNoCase(id, "USB\\Class_08")) return devclass::kMassStorage;
    if (EqualsNoCase(id, "USB\\Class_01")) return devclass::kAudio;
    if (EqualsNoCase(id, "USB\\Class_03")) return devclass::kHid;
    if (EqualsNoCase(id, "USB\\Class_09")) return devclass::kHub;
  }
  return std::nullopt;
}

// Instance names under `base`: the last one containing `match`, or with `firstForZero` and a
// match of "0" the first one.
std::string PickInstance(HklmReader& hklm, const std::string& base, const std::string& match,
                         bool firstForZero) {
  std::string taken;
  for (int index = 0; index < kInstanceLimit; ++index) {
    const std::string name = hklm.EnumHklmSubKey(base, index);
    if (firstForZero && match == "0") {
      taken = name;
      break;
    }
    if (!name.empty() && Contains(name, match)) taken = name;
  }
  return taken.empty() ? std::string() : base + taken + "\\";
}

}  // namespace

bool HklmReader::Open(const std::string& keyPath, RegKey& key) {
  return registry_.OpenKey(RegRoot::LocalMachine, keyPath, regaccess::kQueryValue, false, key) ==
         regerr::kSuccess;
}

std::string HklmReader::EnumHklmSubKey(const std::string& keyPath, int index) {
  RegKey key;
  std::vector<std::string> names;
  if (index < 0 || !Open(keyPath, key) || registry_.EnumSubKeys(key, names) != regerr::kSuccess)
    return {};
  if (static_cast<std::size_t>(index) >= names.size()) return {};
  const std::string& name = names[static_cast<std::size_t>(index)];
  return name.size() < kNameBuffer ? name : std::string();
}

std::string HklmReader::ReadHklmString(const std::string& keyPath, const std::string& valueName) {
  RegKey key;
  RegValue value;
  if (!Open(keyPath, key) || registry_.QueryValue(key, valueName, value) != regerr::kSuccess)
    return {};
  if (!RegValueFits(value, kStringBuffer)) return {};
  return value.data.substr(0, value.data.find('\0'));
}

uint32_t HklmReader::ReadHklmDword(const std::string& keyPath, const std::string& valueName) {
  RegKey key;
  uint32_t value = 0;
  if (!Open(keyPath, key) || RegQueryDword(registry_, key, valueName, value) != regerr::kSuccess)
    return 0;
  return value;
}

std::vector<std::string> HklmReader::ReadHklmMultiString(const std::string& keyPath,
                                                         const std::string& valueName) {
  RegKey key;
  RegValue raw;
  std::vector<std::string> strings;
  if (!Open(keyPath, key) || registry_.QueryValue(key, valueName, raw) != regerr::kSuccess ||
      raw.data.size() > kMultiStringBuffer)
    return {};
  if (RegQueryMultiString(registry_, key, valueName, strings) != regerr::kSuccess) return {};
  return strings;
}

std::string FindUsbInstanceKey(HklmReader& hklm, const std::string& vendorId,
                               const std::string& productId, int interfaceNumber,
                               const std::string& matchText) {
  std::string base = std::string(kEnumRoot) + "USB\\Vid_" + vendorId + "&Pid_" + productId;
  if (interfaceNumber >= 0) {
    base += "&MI_0" + std::to_string(interfaceNumber) + "\\";
    return PickInstance(hklm, base, matchText, false);
  }
  base += "\\";
  for (int index = 0; index < kInstanceLimit; ++index) {
    const std::string name = hklm.EnumHklmSubKey(base, index);
    if (matchText == "0") return name.empty() ? std::string() : base + name + "\\";
    // A USB device with a serial number has its instance key named after it, case and all.
    if (!name.empty() && name == matchText) return base + name + "\\";
  }
  return {};
}

bool ClassifyDeviceKey(HklmReader& hklm, const std::string& instanceKey, uint32_t& flags) {
  const std::vector<std::string> ids = hklm.ReadHklmMultiString(instanceKey, "CompatibleIDs");
  if (ids.empty()) return false;
  const uint32_t incoming = flags;
  if (const auto bit = CompatibleIdFlag(ids, flags)) flags |= *bit;
  if (flags == incoming && EqualsNoCase(hklm.ReadHklmString(instanceKey, "Class"), "Image")) {
    if (IsScannerService(hklm.ReadHklmString(instanceKey, "Service")))
      flags |= devclass::kScanner;
    else
      flags |= StillImageFlag(ReadStillImageInfo(hklm, hklm.ReadHklmString(instanceKey, "Driver"),
                                                 StillImageOutputs{}));
  }
  if (flags == incoming) flags |= devclass::kUnclassified;
  return true;
}

uint32_t ReadStillImageInfo(HklmReader& hklm, const std::string& driverKey,
                            const StillImageOutputs& outputs) {
  if (driverKey.empty()) return 0;
  const std::string key = kClassRoot + driverKey;
  if (!EqualsNoCase(hklm.ReadHklmString(key, "SubClass"), "StillImage")) return 0;
  const uint32_t type = hklm.ReadHklmDword(key, "DeviceType");
  if (type == 1) {
    if (outputs.scannerName) *outputs.scannerName = hklm.ReadHklmString(key, "FriendlyName");
    if (outputs.twainDataSource)
      *outputs.twainDataSource = hklm.ReadHklmString(key + "\\DeviceData", "TwainDS");
    if (outputs.wiaDeviceId) *outputs.wiaDeviceId = hklm.ReadHklmString(key, "DeviceID");
  }
  return type;
}

std::string FindDot4InstanceKey(HklmReader& hklm, const std::string& enumerator,
                                const std::string& deviceName, const std::string& matchText) {
  return PickInstance(hklm, std::string(kEnumRoot) + enumerator + "\\" + deviceName + "\\",
                      matchText, true);
}

namespace {

// The IEEE 1284.4 functions of `deviceKey`: print functions add Printer, scan functions Scanner
// (and the scanner's names).
void WalkDot4Functions(HklmReader& hklm, const std::string& deviceKey, bool dot4UsbKey,
                       const StillImageOutputs& outputs, uint32_t& flags) {
  std::vector<std::string> functions;
  for (int index = 0; index < kFunctionLimit; ++index) {
    std::string name = hklm.EnumHklmSubKey(deviceKey + "Device Parameters\\Functions\\", index);
    if (name.empty()) break;
    functions.push_back(std::move(name));
  }
  const std::string prefix = hklm.ReadHklmString(deviceKey, "ParentIdPrefix");
  for (const std::string& hardwareId : hklm.ReadHklmMultiString(deviceKey, "HardwareID")) {
    const std::size_t cut = dot4UsbKey ? 8 : 4;
    const std::string stem = hardwareId.size() > cut ? hardwareId.substr(cut) : std::string();
    for (const std::string& function : functions) {
      const std::string key = FindDot4InstanceKey(hklm, "DOT4", stem + "&" + function, prefix);
      if (key.empty()) continue;
      const std::string setupClass = hklm.ReadHklmString(key, "Class");
      if (EqualsNoCase(setupClass, "Dot4Print")) {
        flags |= devclass::kPrinter;
      } else if (EqualsNoCase(setupClass, "Image")) {
        if (IsScannerService(hklm.ReadHklmString(key, "Service"))) flags |= devclass::kScanner;
        flags |=
            StillImageFlag(ReadStillImageInfo(hklm, hklm.ReadHklmString(key, "Driver"), outputs));
      }
    }
  }
}

}  // namespace

uint32_t LookupDeviceDrivers(Registry& machineHive, const std::string& vendorId,
                             const std::string& productId, const std::string& serial,
                             DeviceDriverInfo& info) {
  HklmReader hklm(machineHive);
  const StillImageOutputs outputs{&info.ScannerName, &info.TwainDataSource, &info.WiaDeviceId};
  std::string deviceKey = FindUsbInstanceKey(hklm, vendorId, productId, -1, serial);
  if (deviceKey.empty()) return 0;
  uint32_t flags = 0;
  ClassifyDeviceKey(hklm, deviceKey, flags);
  bool dot4UsbKey = false;
  if (flags & devclass::kPrinter) {
    // A printer needs nothing more.
  } else if (flags & devclass::kScanner) {
    ReadStillImageInfo(hklm, hklm.ReadHklmString(deviceKey, "Driver"), outputs);
  } else if (flags & devclass::kComposite) {
    const std::string prefix = hklm.ReadHklmString(deviceKey, "ParentIdPrefix");
    bool scannerRead = false;
    std::string dot4Key;
    for (int number = 0; number < kInterfaceLimit; ++number) {
      const std::string key = FindUsbInstanceKey(hklm, vendorId, productId, number, prefix);
      ClassifyDeviceKey(hklm, key, flags);
      if (!scannerRead && (flags & devclass::kScanner)) {
        scannerRead = true;
        ReadStillImageInfo(hklm, hklm.ReadHklmString(key, "Driver"), outputs);
      }
      if ((flags & devclass::kDot4Printer) && dot4Key.empty()) {
        if (EqualsNoCase(hklm.ReadHklmString(key, "Service"), "Dot4")) {
          dot4Key = key;
          continue;
        }
        const std::string childPrefix = hklm.ReadHklmString(key, "ParentIdPrefix");
        for (const std::string& id : hklm.ReadHklmMultiString(key, "HardwareID")) {
          const std::string name = (id.size() > 4 ? id.substr(4) : std::string()) + "&DOT4";
          dot4Key = FindDot4InstanceKey(hklm, "DOT4USB", name, childPrefix);
          if (!dot4Key.empty()) {
            dot4UsbKey = true;
            break;
          }
        }
      }
    }
    if (!dot4Key.empty()) deviceKey = dot4Key;
  }
  if (flags & devclass::kDot4Printer)
    WalkDot4Functions(hklm, deviceKey, dot4UsbKey, outputs, flags);
  return flags;
}

}  // namespace tessaro
