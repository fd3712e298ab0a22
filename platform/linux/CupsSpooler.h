// SPDX-License-Identifier: GPL-2.0-or-later
// The spooler over CUPS (libcups, IPP). A printer is a CUPS queue and its port is the queue's
// device URI. Holding a queue pauses it (IPP Pause-Printer, visible in `lpstat -p`), because CUPS
// has no work-offline switch; the state message tells a held queue from a parked one. Change
// notifications come from an IPP subscription per queue, read with ippget by one reader for all
// the queues of the process.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Spooler.h"

namespace tessaro {

class CupsEventPoller;

// The state messages a paused queue carries; they are what `lpstat -p` shows as the reason.
inline constexpr const char* kHeldQueueMessage = "Held: waiting for its device to be connected";
inline constexpr const char* kParkedQueueMessage = "Working offline: jobs wait for the device";

// The port a device URI stands for. Local devices get Windows' names (file: "FILE:", parallel
// "LPTn:", serial "COMn:", n counted from 1 by the device's trailing number), every other URI is
// its own name with any user name and password left out. Descriptions by scheme: file,
// parallel, serial "Local Port"; socket, lpd "Standard TCP/IP Port"; smb "LAN Manager Printer
// Port"; ipp, ipps, http, https, dnssd "Internet Port"; usb and tessaro a USB port; anything
// else none. None at all for an empty URI.
std::optional<SpoolerPort> PortOfDeviceUri(const std::string& uri);

// Whether CUPS accepts `name` as a queue name: 1 to 127 bytes, none of them a control
// character, space, '/', '\\', '?', '#', '\'' or '"'.
bool IsQueueName(const std::string& name);

class CupsSpooler : public Spooler {
 public:
  // `server`: a host name or the path of cupsd's socket; empty for libcups's own choice
  // (CUPS_SERVER, client.conf, the local socket).
  explicit CupsSpooler(std::string server = {});

  // Opening checks that the queue exists. With the administer right it also checks that CUPS
  // lets this user pause and resume it, by asking for the state the queue already has.
  OpenedQueue OpenPrinter(const std::string& printerName, uint32_t access) override;
  // One port per distinct device URI of the local queues, in CUPS's order.
  std::optional<std::vector<SpoolerPort>> Ports() override;
  // The local queues and classes; a class's port is its members' ports joined by ",".
  std::optional<std::vector<SpoolerPrinter>> Printers() override;

 private:
  std::string server_;
  // Shared by every queue this spooler opens; it outlives the spooler while a queue holds it.
  std::shared_ptr<CupsEventPoller> events_;
};

}  // namespace tessaro
