// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/UsbDevices.h"

#include <algorithm>
#include <set>

#include "base/LogText.h"
#include "hubd/DeviceDescription.h"
#include "protocol/UsbLayout.h"

namespace tessaro::hubd {

namespace {

// A section's overrides: what it gives replaces what the device says.
void Override(DeviceConfig& d, const DeviceConfig& section) {
  for (auto [field, given] : {std::pair{&d.manufacturer, &section.manufacturer},
                              std::pair{&d.product, &section.product},
                              std::pair{&d.outputFolder, &section.outputFolder},
                              std::pair{&d.saneDevice, &section.saneDevice},
                              std::pair{&d.driverClass, &section.driverClass},
                              std::pair{&d.dot4, &section.dot4}})
    if (!given->empty()) *field = *given;
  d.ejectVeto = section.ejectVeto;
  d.ejectVetoName = section.ejectVetoName;
}

std::string Describe(const UsbDevice& d) {
  return "USB device " + LogText(d.port) + " (" + LogText(UsbDeviceKey(d)) + ")";
}

}  // namespace

std::string UsbNumbersPath(const std::string& pinsPath) {
  const std::string suffix = ".pins";
  const bool pins = pinsPath.size() > suffix.size() &&
                    pinsPath.compare(pinsPath.size() - suffix.size(), suffix.size(), suffix) == 0;
  return (pins ? pinsPath.substr(0, pinsPath.size() - suffix.size()) : pinsPath) + ".usb-numbers";
}

DeviceConfig DescribeUsbDevice(const UsbDevice& u, uint8_t number) {
  DeviceConfig d;
  d.number = number;
  d.type = UsbTypeWord(u);
  d.vendorId = u.vendorId;
  d.productId = u.productId;
  d.manufacturer = u.manufacturer;
  d.product = u.product;
  d.serial = u.serial;
  d.lpNode = u.lpNode;
  d.usb = true;
  // One function: its class is the device's; several: a composite device of those functions.
  if (u.interfaces.size() == 1) {
    d.usbClass = FormatClassTriple(u.interfaces.front());
  } else if (u.interfaces.empty()) {
    d.usbClass = FormatClassTriple(u.deviceClass);
  } else {
    const size_t count = std::min(u.interfaces.size(), wire::kMaxInterfaces);
    for (size_t i = 0; i < count; ++i)
      d.interfaces += (i ? "," : "") + FormatClassTriple(u.interfaces[i]);
  }
  return d;
}

const DeviceConfig* SectionFor(const std::vector<DeviceConfig>& sections, const UsbDevice& u) {
  const DeviceConfig* found = nullptr;
  for (const DeviceConfig& s : sections) {
    if (!s.usbPort.empty() && s.usbPort == u.port && !found) found = &s;
    if (!s.match || s.match->vendorId != u.vendorId || s.match->productId != u.productId) continue;
    if (s.match->serial && *s.match->serial == u.serial) return &s;
    if (!s.match->serial && !found) found = &s;
  }
  return found;
}

std::vector<DeviceConfig> MergeUsbDevices(const std::vector<DeviceConfig>& sections,
                                          const std::vector<UsbDevice>& devices,
                                          DeviceNumbers& numbers, const UsbLogFn& log) {
  std::vector<DeviceConfig> list;
  std::set<uint8_t> reserved, used;
  for (const DeviceConfig& s : sections) {
    reserved.insert(s.number);
    if (!s.NamesUsbDevice()) list.push_back(s), used.insert(s.number);
  }
  std::vector<const UsbDevice*> order;
  for (const UsbDevice& u : devices)
    if (!IsUsbHub(u)) order.push_back(&u);
  // By port: the same devices get the same numbers whatever order udev lists them in.
  std::sort(order.begin(), order.end(),
            [](const UsbDevice* a, const UsbDevice* b) { return a->sysPath < b->sysPath; });
  std::set<const DeviceConfig*> taken;
  std::vector<const UsbDevice*> unnamed;
  for (const UsbDevice* u : order) {
    const DeviceConfig* section = SectionFor(sections, *u);
    if (section && !taken.insert(section).second) {
      log(Describe(*u) + " matches [device " + std::to_string(section->number) +
          "] as another device does; it gets a number of its own");
      section = nullptr;
    }
    if (!section) {
      unnamed.push_back(u);
      continue;
    }
    if (section->hide) continue;
    DeviceConfig d = DescribeUsbDevice(*u, section->number);
    Override(d, *section);
    list.push_back(std::move(d));
    used.insert(section->number);
  }
  // Devices seen before first, so that a new one never takes a number a plugged-in one keeps.
  std::stable_partition(unnamed.begin(), unnamed.end(),
                        [&numbers](const UsbDevice* u) { return numbers.Knows(UsbDeviceKey(*u)); });
  for (const UsbDevice* u : unnamed) {
    const auto number = numbers.NumberFor(UsbDeviceKey(*u), reserved, used);
    if (!number || used.count(*number)) {
      log(Describe(*u) + " is left out: every device number is in use");
      continue;
    }
    list.push_back(DescribeUsbDevice(*u, *number));
    used.insert(*number);
  }
  std::sort(list.begin(), list.end(),
            [](const DeviceConfig& a, const DeviceConfig& b) { return a.number < b.number; });
  // Real devices' texts are bounded, but 127 of them with long ones would not fit one frame.
  while (!DeviceListFitsOneFrame(list)) {
    const auto last = std::find_if(list.rbegin(), list.rend(),
                                   [](const DeviceConfig& d) { return d.usb; });
    log("device " + std::to_string(last->number) + " is left out: the list would not fit a frame");
    list.erase(std::next(last).base());
  }
  return list;
}

}  // namespace tessaro::hubd
