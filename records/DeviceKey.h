// SPDX-License-Identifier: GPL-2.0-or-later
// Which device on which server: the one identity the auto-connect entries, the setup wizard, the
// print monitors and the look-ups share. Texts compare exactly, byte for byte.
#pragma once

#include <string>

namespace tessaro {

struct DeviceKey {
  std::string serverIp;
  std::string serverMac;
  std::string vendorId;   // four upper-case hex digits
  std::string productId;  // four upper-case hex digits
  std::string serial;     // possibly empty

  bool operator==(const DeviceKey&) const = default;

  // The same device on the same server, wherever the server's address has moved: the look-ups
  // in the rows go by MAC, which a server keeps.
  bool SameDeviceAs(const DeviceKey& other) const;
  // vendorId + " - " + productId + " - " + serial
  std::string IdentityText() const;
  // The name of the device's stored entry, which stored hives hold:
  // "IP_" + ip + "&MAC_" + mac + "&Vid_" + vid + "&Pid_" + pid + "&SNo_" + serial
  std::string EntryName() const;
};

// "IP_" + ip + "&MAC_" + mac: a server entry's name, with which its devices' entry names begin.
std::string ServerEntryName(const std::string& ip, const std::string& mac);

}  // namespace tessaro
