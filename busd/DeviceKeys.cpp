// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/DeviceKeys.h"

#include <cctype>

#include "base/AsciiText.h"
#include "busd/ReplyBuilder.h"
#include "busd/UsbInstance.h"
#include "platform/Registry.h"
#include "protocol/UsbLayout.h"

namespace tessaro::busd {

namespace {

constexpr const char* kEnumRoot = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const char* kRevision = "&Rev_0100";  // no device release number reaches a PC

// Setup classes and their GUIDs (a Driver value names the GUID, not the class).
struct SetupClass {
  const char* name;
  const char* guid;
};
constexpr SetupClass kUsb{"USB", "{36FC9E60-C465-11CF-8056-444553540000}"};
constexpr SetupClass kImage{"Image", "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"};
constexpr SetupClass kPrinter{"Printer", "{4D36E979-E325-11CE-BFC1-08002BE10318}"};
constexpr SetupClass kMedia{"MEDIA", "{4D36E96C-E325-11CE-BFC1-08002BE10318}"};
constexpr SetupClass kHid{"HIDClass", "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"};
constexpr SetupClass kDot4{"Dot4", "{48721B56-6795-11D2-B1A8-0080C72E74A2}"};
constexpr SetupClass kDot4Print{"Dot4Print", "{49CE6AC8-6F86-11D2-B1E5-0080C72E74A2}"};
// The classes a server's `driver-class` may give a device key.
constexpr const SetupClass* kNamedClasses[] = {&kUsb, &kImage, &kPrinter, &kMedia, &kHid};

enum class Role { Printer, Dot4Printer, Storage, Scanner, Audio, Hid, Hub, Other };

struct RoleTraits {
  SetupClass setupClass;
  const char* service;  // empty: no Service value
  const char* description;
};

RoleTraits TraitsOf(Role role) {
  switch (role) {
    case Role::Printer: return {kUsb, "usbprint", "USB Printing Support"};
    case Role::Dot4Printer: return {kUsb, "Dot4Usb", "IEEE 1284.4 over USB"};
    case Role::Storage: return {kUsb, "USBSTOR", "USB Mass Storage Device"};
    case Role::Scanner: return {kImage, "usbscan", "USB Scanner"};
    case Role::Audio: return {kMedia, "usbaudio", "USB Audio Device"};
    case Role::Hid: return {kHid, "HidUsb", "USB Input Device"};
    case Role::Hub: return {kUsb, "usbhub", "USB Hub"};
    default: return {kUsb, "", "USB Device"};
  }
}

std::string Hex2(uint8_t v) {
  const char* digits = "0123456789abcdef";
  return {digits[v >> 4], digits[v & 15]};
}

// Windows' compatible IDs of a function: class, subclass and protocol, then shorter.
std::vector<std::string> CompatibleIds(const char* kind, const wire::ClassTriple& t) {
  const std::string c = std::string("USB\\") + kind + "_" + Hex2(t.usbClass);
  const std::string s = c + "&SubClass_" + Hex2(t.subClass);
  return {s + "&Prot_" + Hex2(t.protocol), s, c};
}

std::string ParentIdPrefix(const std::string& keyPath) { return "7&" + HashText(keyPath) + "&0"; }

void AddSz(DeviceKey& key, const char* name, const std::string& text) {
  key.values.push_back({name, regtype::kSz, text});
}

void AddMulti(DeviceKey& key, const char* name, const std::vector<std::string>& strings) {
  key.values.push_back({name, regtype::kMultiSz, MultiStringData(strings)});
}

void SetClass(DeviceKey& key, const SetupClass& setupClass, const char* service,
              const char* description) {
  AddSz(key, "Class", setupClass.name);
  if (*service) AddSz(key, "Service", service);
  key.classGuid = setupClass.guid;
  key.driverDesc = description;
}

// Everything one device contributes, gathered while its keys are built.
class Builder {
 public:
  Builder(uint32_t serverIp, const wire::DeviceInfo& device)
      : device_(device), layout_(wire::ResolveUsbLayout(device.type, device.descriptors)),
        deviceName_(UsbDeviceName(device.vendorId, device.productId)),
        instance_(InstanceName(serverIp, device)) {
    scannerType_ = EqualsNoCase(device.type, "SCANNER") || EqualsNoCase(device.type, "MFP");
    if (const std::string* v = wire::FindDescriptor(device.descriptors, "sane-device"))
      saneDevice_ = *v;
    if (const std::string* v = wire::FindDescriptor(device.descriptors, "driver-class"))
      for (const SetupClass* c : kNamedClasses)
        if (EqualsNoCase(*v, c->name)) namedClass_ = c;
    hasScanner_ = RoleOf(layout_.deviceClass) == Role::Scanner && !layout_.composite();
    for (const auto& t : layout_.interfaces)
      hasScanner_ = hasScanner_ || RoleOf(t) == Role::Scanner;
  }

  DeviceRecord Build() {
    const std::string path = std::string(kEnumRoot) + "USB\\" + deviceName_ + "\\" + instance_;
    const std::string hardware = "USB\\" + deviceName_;
    if (layout_.composite())
      AddComposite(path, hardware);
    else
      AddFunction(path, {hardware + kRevision, hardware}, layout_.deviceClass, "", true);
    return {hardware + "\\" + instance_, std::move(keys_)};
  }

 private:
  Role RoleOf(const wire::ClassTriple& t) const {
    switch (t.usbClass) {
      case 0x07: return t.protocol == 0x03 ? Role::Dot4Printer : Role::Printer;
      case 0x08: return Role::Storage;
      case 0x06: return Role::Scanner;
      case 0xFF: return scannerType_ ? Role::Scanner : Role::Other;
      case 0x01: return Role::Audio;
      case 0x03: return Role::Hid;
      case 0x09: return Role::Hub;
      default: return Role::Other;
    }
  }

  void AddComposite(const std::string& path, const std::string& hardware) {
    const std::string prefix = ParentIdPrefix(path);
    DeviceKey parent{path, {}, {}, {}, {}};
    AddMulti(parent, "HardwareID", {hardware + kRevision, hardware});
    auto compatible = CompatibleIds("DevClass", layout_.deviceClass);
    compatible.push_back("USB\\COMPOSITE");
    AddMulti(parent, "CompatibleIDs", compatible);
    SetClass(parent, namedClass_ ? *namedClass_ : kUsb, "usbccgp", "USB Composite Device");
    AddSz(parent, "ParentIdPrefix", prefix);
    keys_.push_back(std::move(parent));
    for (size_t n = 0; n < layout_.interfaces.size(); ++n) {
      const std::string mi = "&MI_0" + std::to_string(n);
      const std::string child = std::string(kEnumRoot) + "USB\\" + deviceName_ + mi + "\\" +
                                prefix + "&000" + std::to_string(n);
      AddFunction(child, {hardware + kRevision + mi, hardware + mi}, layout_.interfaces[n], mi,
                  false);
    }
  }

  // One function's key; `mi` is "&MI_0n" for a composite device's interface, else empty.
  void AddFunction(const std::string& path, const std::vector<std::string>& hardwareIds,
                   const wire::ClassTriple& triple, const std::string& mi, bool deviceLevel) {
    const Role role = RoleOf(triple);
    DeviceKey key{path, {}, {}, {}, {}};
    AddMulti(key, "HardwareID", hardwareIds);
    AddMulti(key, "CompatibleIDs", CompatibleIds("Class", triple));
    RoleTraits traits = TraitsOf(role);
    if (deviceLevel && namedClass_ && role != Role::Scanner && role != Role::Dot4Printer)
      traits.setupClass = *namedClass_;
    if (role == Role::Dot4Printer && deviceLevel) traits = {kDot4, "Dot4", "IEEE 1284.4"};
    SetClass(key, traits.setupClass, traits.service, traits.description);
    if (role == Role::Scanner) key.stillImage = StillImage();
    const std::string prefix = ParentIdPrefix(path);
    if (role == Role::Dot4Printer) AddSz(key, "ParentIdPrefix", prefix);
    keys_.push_back(std::move(key));
    if (role != Role::Dot4Printer) return;
    if (deviceLevel) return AddDot4Functions(path, prefix, deviceName_);
    AddDot4OverUsb(prefix, deviceName_ + mi + "&DOT4");
  }

  // A 1284.4 interface of a composite device carries its own 1284.4 bus device.
  void AddDot4OverUsb(const std::string& interfacePrefix, const std::string& name) {
    const std::string path =
        std::string(kEnumRoot) + "DOT4USB\\" + name + "\\" + interfacePrefix + "&0000";
    const std::string prefix = ParentIdPrefix(path);
    DeviceKey key{path, {}, {}, {}, {}};
    AddMulti(key, "HardwareID", {"DOT4USB\\" + name});
    SetClass(key, kDot4, "Dot4", "IEEE 1284.4");
    AddSz(key, "ParentIdPrefix", prefix);
    keys_.push_back(std::move(key));
    AddDot4Functions(path, prefix, name);
  }

  // The functions a 1284.4 device offers: printing, and scanning for a multi-function device
  // or scanner that has no other scanner function.
  void AddDot4Functions(const std::string& ownerPath, const std::string& prefix,
                        const std::string& name) {
    std::vector<std::string> functions{"PRINT"};
    if (scannerType_ && !hasScanner_) functions.push_back("SCAN");
    for (const std::string& f : functions)
      keys_.push_back({ownerPath + "\\Device Parameters\\Functions\\" + f, {}, {}, {}, {}});
    for (size_t k = 0; k < functions.size(); ++k) {
      const std::string id = name + "&" + functions[k];
      DeviceKey key{
          std::string(kEnumRoot) + "DOT4\\" + id + "\\" + prefix + "&000" + std::to_string(k + 1),
          {},
          {},
          {},
          {}};
      AddMulti(key, "HardwareID", {"DOT4\\" + id});
      if (functions[k] == "PRINT") {
        SetClass(key, kDot4Print, "Dot4Prt", "IEEE 1284.4 Print Function");
      } else {
        SetClass(key, kImage, "Dot4Scan", "IEEE 1284.4 Scan Function");
        key.stillImage = StillImage();
      }
      keys_.push_back(std::move(key));
    }
  }

  StillImageEntry StillImage() const {
    std::string name = device_.manufacturer.substr(0, kMaxBusText);
    const std::string product = device_.product.substr(0, kMaxBusText);
    if (!name.empty() && !product.empty()) name += " ";
    name += product;
    if (name.empty()) name = "USB Scanner";
    // Our TWAIN source manager lists each scanner under its device's name.
    return {name, saneDevice_, name};
  }

  const wire::DeviceInfo& device_;
  wire::UsbLayout layout_;
  std::string deviceName_;
  std::string instance_;
  bool scannerType_ = false;
  bool hasScanner_ = false;
  std::string saneDevice_;
  const SetupClass* namedClass_ = nullptr;
  std::vector<DeviceKey> keys_;
};

}  // namespace

DeviceRecord DescribeDeviceRecord(uint32_t serverIp, const wire::DeviceInfo& device) {
  return Builder(serverIp, device).Build();
}

std::string MultiStringData(const std::vector<std::string>& strings) {
  std::string data;
  for (const std::string& s : strings) {
    data += s;
    data.push_back('\0');
  }
  data.push_back('\0');
  return data;
}

std::string DwordData(uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i)
    data[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return data;
}

}  // namespace tessaro::busd
