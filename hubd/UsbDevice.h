// SPDX-License-Identifier: GPL-2.0-or-later
// A USB device plugged into the server's machine, as sysfs describes it, and what PCs are told of
// it. The facts come from whatever reads sysfs (UsbSource); everything here is plain data, so the
// rules for type words, keys and hostile strings are tested without a device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro::hubd {

struct UsbClassTriple {
  uint8_t cls = 0, subclass = 0, protocol = 0;
  bool operator==(const UsbClassTriple&) const = default;
};

struct UsbDevice {
  std::string sysPath;  // where sysfs has it: the device's identity while it is plugged in
  std::string port;     // its port path, such as 1-1.2 (the kernel's name of the device)
  uint16_t vendorId = 0, productId = 0;
  uint8_t busNumber = 0, deviceNumber = 0;  // what libusb and SANE name it by
  std::string manufacturer, product, serial;
  UsbClassTriple deviceClass;
  std::vector<UsbClassTriple> interfaces;  // in interface order
  std::string lpNode;                      // its usblp node (/dev/usb/lpN), if it has one
  bool operator==(const UsbDevice&) const = default;
};

// The longest sysfs string kept: a USB string descriptor holds at most 126 UTF-16 units.
inline constexpr size_t kMaxUsbText = 126;

// What can be kept of a sysfs string: control bytes dropped, each invalid UTF-8 sequence made
// '?', cut to kMaxUsbText bytes at a character boundary. `why` says what was changed (empty when
// nothing was), for the log line.
std::string SanitizeUsbText(std::string_view raw, std::string& why);

// The type word: a printer function (07) and a still-image one (06) make an MFP, either alone a
// PRINTER or SCANNER; mass storage (08) is MASS STORAGE; anything else UNKNOWN.
std::string UsbTypeWord(const UsbDevice& device);
// Hubs (class 09), the root hubs among them, are never offered.
bool IsUsbHub(const UsbDevice& device);
// "07/01/02".
std::string FormatClassTriple(const UsbClassTriple& triple);

// What keeps a device's number across unplugging and restarts: vendor, product and serial, or
// the port path for a device without a serial ("04f9 0042 serial LW-1", "04b8 0110 port 1-1.3").
std::string UsbDeviceKey(const UsbDevice& device);

}  // namespace tessaro::hubd
