// SPDX-License-Identifier: GPL-2.0-or-later
// The USB devices udev knows, followed through a udev monitor. Facts are read from sysfs when a
// device is added (and again when its interfaces or its usblp node come), so a remove needs
// nothing of a sysfs entry that is already gone. A device plugged in is offered once it is bound
// (the kernel's "bind" follows its interfaces and their drivers), so that PCs hear of it once,
// whole, rather than once per interface.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "hubd/UsbSource.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace tessaro::hubd {

class UdevUsbSource : public UsbSource {
 public:
  using LogFn = std::function<void(const std::string&)>;

  // Hot-plug events taken per Update: a storm cannot hold up hubd's loop; the rest wait a turn.
  static constexpr int kEventsPerUpdate = 256;
  static constexpr int kReceiveBuffer = 4 * 1024 * 1024;

  explicit UdevUsbSource(LogFn log);
  ~UdevUsbSource() override;
  UdevUsbSource(const UdevUsbSource&) = delete;
  UdevUsbSource& operator=(const UdevUsbSource&) = delete;

  // Opens udev and its monitor, then lists what is plugged in; false with `error` on failure.
  bool Start(std::string& error);
  int fd() const override;
  bool Update() override;
  std::vector<UsbDevice> Devices() const override;

 private:
  // Lists every device plugged in now, in place of what was known.
  void Rescan();
  void OnDeviceEvent(udev_device* device, const std::string& action, const std::string& path);
  void ReadDevice(udev_device* device, std::map<std::string, UsbDevice>& into);
  // The device a child (interface, usblp node) at `path` belongs to; nullptr for none.
  UsbDevice* OwnerOf(const std::string& path);
  std::string PrinterNode(udev_device* device) const;
  std::string Text(udev_device* device, const char* attribute) const;

  LogFn log_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::map<std::string, UsbDevice> devices_;  // by sysfs path
  // Added but not yet bound to the USB core's driver: its interfaces are still coming.
  std::map<std::string, UsbDevice> settling_;
};

}  // namespace tessaro::hubd
