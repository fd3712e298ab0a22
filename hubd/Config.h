// SPDX-License-Identifier: GPL-2.0-or-later
// hubd's config file: one [server] section and one [device N] section per device.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro::hubd {

struct DeviceConfig {
  uint8_t number = 0;
  std::string type = "UNKNOWN";  // passed through as written
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string manufacturer, product, serial;
  // Kept for the data paths built later (printing, scanning).
  std::string outputFolder, saneDevice;
  // What an eject request of the owning PC gets: 0 for none, else a veto type and its name.
  uint32_t ejectVeto = 0;
  std::string ejectVetoName;
  // What a PC's device database records for the device; empty when the config leaves it out.
  std::string usbClass, interfaces, driverClass, dot4;
  // A section naming a real USB device (`match` or `usb-port`) is no device of its own: it gives
  // that device its number and overrides its texts, veto and output, or hides it.
  struct UsbMatch {
    uint16_t vendorId = 0, productId = 0;
    std::optional<std::string> serial;
  };
  std::optional<UsbMatch> match;
  std::string usbPort;
  bool hide = false;
  // A real printer's usblp node, where its jobs go unless it has an output folder.
  std::string lpNode;
  bool usb = false;  // a real USB device, not a section of the file

  bool NamesUsbDevice() const { return match || !usbPort.empty(); }
};

struct ServerConfig {
  std::string name;
  std::string address;  // dotted IPv4; empty when the file gives none
  uint16_t port = 2005;
  std::array<uint8_t, 6> mac{};
  int32_t storageMode = 1;
  uint16_t httpPort = 80;  // the server's web page; 0: none
  bool sane = false;        // serve the scanners through SANE, gated by their locks
  uint16_t sanePort = 6566;
  bool usb = false;        // offer the machine's own USB devices (udev)
};

struct HubConfig {
  ServerConfig server;
  std::vector<DeviceConfig> devices;  // sorted by number
};

// Either a config or one error line ("file:line: message").
struct ConfigResult {
  std::optional<HubConfig> config;
  std::string error;
};

ConfigResult ParseConfig(std::string_view text, std::string_view fileName);
ConfigResult LoadConfig(const std::string& path);

// Value checks shared with the command line.
// A server address must be one this machine can answer from: not 0.0.0.0 nor a broadcast.
bool IsUsableServerAddress(std::string_view text);

}  // namespace tessaro::hubd
