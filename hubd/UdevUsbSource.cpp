// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/UdevUsbSource.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/LogText.h"
#include "base/NumberText.h"

namespace tessaro::hubd {

namespace {

const char* Or(const char* text, const char* fallback) { return text ? text : fallback; }

std::string_view Trimmed(const char* text) {
  std::string_view s = Or(text, "");
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
  return s;
}

template <typename T>
T Number(udev_device* d, const char* attribute, int base) {
  return ParseNumber<T>(Trimmed(udev_device_get_sysattr_value(d, attribute)), base).value_or(0);
}

UsbClassTriple Triple(udev_device* d, const char* cls, const char* subclass, const char* protocol) {
  return {Number<uint8_t>(d, cls, 16), Number<uint8_t>(d, subclass, 16),
          Number<uint8_t>(d, protocol, 16)};
}

bool IsUsbDevice(udev_device* d) {
  return std::strcmp(Or(udev_device_get_subsystem(d), ""), "usb") == 0 &&
         std::strcmp(Or(udev_device_get_devtype(d), ""), "usb_device") == 0;
}

// The interfaces of `device`, by interface number.
std::vector<UsbClassTriple> Interfaces(udev* u, udev_device* device) {
  std::vector<std::pair<int, UsbClassTriple>> found;
  udev_enumerate* e = udev_enumerate_new(u);
  udev_enumerate_add_match_parent(e, device);
  udev_enumerate_add_match_subsystem(e, "usb");
  udev_enumerate_add_match_property(e, "DEVTYPE", "usb_interface");
  udev_enumerate_scan_devices(e);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device* i = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
    if (!i) continue;
    found.emplace_back(Number<int>(i, "bInterfaceNumber", 16),
                       Triple(i, "bInterfaceClass", "bInterfaceSubClass", "bInterfaceProtocol"));
    udev_device_unref(i);
  }
  udev_enumerate_unref(e);
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<UsbClassTriple> out;
  for (const auto& f : found) out.push_back(f.second);
  return out;
}

}  // namespace

UdevUsbSource::UdevUsbSource(LogFn log) : log_(std::move(log)) {}

UdevUsbSource::~UdevUsbSource() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

bool UdevUsbSource::Start(std::string& error) {
  udev_ = udev_new();
  if (udev_) monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usbmisc", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    error = std::string("cannot follow udev: ") + std::strerror(errno);
    return false;
  }
  // Room for a burst of events; where the system allows less, an overflow is caught in Update.
  udev_monitor_set_receive_buffer_size(monitor_, kReceiveBuffer);
  // The monitor first, then the list: a device plugged in between is seen twice, never missed.
  Rescan();
  return true;
}

void UdevUsbSource::Rescan() {
  devices_.clear();
  settling_.clear();
  udev_enumerate* e = udev_enumerate_new(udev_);
  udev_enumerate_add_match_subsystem(e, "usb");
  udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device");
  udev_enumerate_scan_devices(e);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (!d) continue;
    if (IsUsbDevice(d)) ReadDevice(d, devices_);  // listed as present: bound already
    udev_device_unref(d);
  }
  udev_enumerate_unref(e);
}

int UdevUsbSource::fd() const { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }

bool UdevUsbSource::Update() {
  if (!monitor_) return false;
  const auto before = devices_;
  for (int i = 0; i < kEventsPerUpdate; ++i) {
    errno = 0;
    udev_device* d = udev_monitor_receive_device(monitor_);
    if (!d && errno == ENOBUFS) {
      // More events came than the socket holds: some are lost, so the list is taken anew.
      log_("udev events were lost in a burst; listing the USB devices again");
      Rescan();
      continue;
    }
    if (!d) break;
    const std::string action = Or(udev_device_get_action(d), "");
    const std::string subsystem = Or(udev_device_get_subsystem(d), "");
    const std::string path = Or(udev_device_get_syspath(d), "");
    if (IsUsbDevice(d)) {
      OnDeviceEvent(d, action, path);
    } else if (UsbDevice* owner = OwnerOf(path)) {
      // An interface or a usblp node came: its device's facts changed. One that goes changes
      // nothing PCs see (its device's remove follows), save that jobs no longer find the node.
      if (action == "remove") {
        if (subsystem == "usbmisc") owner->lpNode.clear();
      } else if (action != "unbind") {
        if (udev_device* device = udev_device_new_from_syspath(udev_, owner->sysPath.c_str())) {
          ReadDevice(device, devices_.count(owner->sysPath) ? devices_ : settling_);
          udev_device_unref(device);
        }
      }
    }
    udev_device_unref(d);
  }
  return devices_ != before;
}

std::vector<UsbDevice> UdevUsbSource::Devices() const {
  std::vector<UsbDevice> out;
  for (const auto& [path, device] : devices_) out.push_back(device);
  return out;
}

std::string UdevUsbSource::Text(udev_device* d, const char* attribute) const {
  const char* raw = udev_device_get_sysattr_value(d, attribute);
  if (!raw) return {};
  std::string why;
  std::string kept = SanitizeUsbText(raw, why);
  if (!why.empty())
    log_("USB device " + LogText(Or(udev_device_get_sysname(d), "?")) + ": its " + attribute +
         " string was unusable (" + why + "); kept \"" + LogText(kept) + "\"");
  return kept;
}

void UdevUsbSource::OnDeviceEvent(udev_device* d, const std::string& action,
                                  const std::string& path) {
  if (action == "remove") {
    devices_.erase(path);
    settling_.erase(path);
  } else if (action == "unbind") {
    // Its interfaces are going, and its remove follows: PCs hear of that alone.
  } else if (action == "bind" || devices_.count(path)) {
    // Bound: its interfaces and their drivers' nodes are in place, so PCs hear of it once.
    settling_.erase(path);
    ReadDevice(d, devices_);
  } else if (action == "add") {
    ReadDevice(d, settling_);
  }
}

void UdevUsbSource::ReadDevice(udev_device* d, std::map<std::string, UsbDevice>& into) {
  UsbDevice device;
  device.sysPath = Or(udev_device_get_syspath(d), "");
  std::string why;
  device.port = SanitizeUsbText(Or(udev_device_get_sysname(d), ""), why);
  device.vendorId = Number<uint16_t>(d, "idVendor", 16);
  device.productId = Number<uint16_t>(d, "idProduct", 16);
  device.busNumber = Number<uint8_t>(d, "busnum", 10);
  device.deviceNumber = Number<uint8_t>(d, "devnum", 10);
  device.manufacturer = Text(d, "manufacturer");
  device.product = Text(d, "product");
  device.serial = Text(d, "serial");
  device.deviceClass = Triple(d, "bDeviceClass", "bDeviceSubClass", "bDeviceProtocol");
  device.interfaces = Interfaces(udev_, d);
  device.lpNode = PrinterNode(d);
  into[device.sysPath] = std::move(device);
}

UsbDevice* UdevUsbSource::OwnerOf(const std::string& path) {
  // By path: a child that is gone has no sysfs entry left to find its parent through.
  for (auto* devices : {&devices_, &settling_})
    for (auto& [devicePath, device] : *devices)
      if (path.size() > devicePath.size() && path.compare(0, devicePath.size(), devicePath) == 0 &&
          path[devicePath.size()] == '/')
        return &device;
  return nullptr;
}

std::string UdevUsbSource::PrinterNode(udev_device* device) const {
  std::string node;
  udev_enumerate* e = udev_enumerate_new(udev_);
  udev_enumerate_add_match_parent(e, device);
  udev_enumerate_add_match_subsystem(e, "usbmisc");  // it holds other class drivers' nodes too
  udev_enumerate_add_match_sysname(e, "lp*");
  udev_enumerate_scan_devices(e);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (!d) continue;
    if (node.empty()) node = Or(udev_device_get_devnode(d), "");
    udev_device_unref(d);
  }
  udev_enumerate_unref(e);
  return node;
}

}  // namespace tessaro::hubd
