// SPDX-License-Identifier: GPL-2.0-or-later
// The kinds of spooler ports, and the local printers a device can be bound to: a queue whose
// port can never reach a USB device on a server (network ports, files, parallel and serial
// ports) is kept away from auto-connect printing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Spooler.h"

namespace tessaro {

namespace porttype {
inline constexpr int32_t kListUnavailable = -20;  // the port list cannot be read
inline constexpr int32_t kNoMemory = -10;         // kept for callers; the list never runs short
inline constexpr int32_t kNotFound = -1;
inline constexpr int32_t kOther = 0;
inline constexpr int32_t kLocal = 1;
inline constexpr int32_t kLanManager = 2;
inline constexpr int32_t kTcpIp = 3;
inline constexpr int32_t kInternet = 4;
inline constexpr int32_t kFile = 5;
inline constexpr int32_t kParallel = 6;
inline constexpr int32_t kSerial = 7;
inline constexpr int32_t kFpr = 8;
inline constexpr int32_t kPdf = 9;
inline constexpr int32_t kMicrosoft = 10;
}  // namespace porttype

// Whether a port name is a URI ("scheme:..." with more after the colon) rather than a Windows
// port name such as "COM1:": a URI's host or path may spell "COM", "LPT" or "FILE:" without
// being such a port.
bool IsUriPortName(const std::string& portName);

// The type of the port named `portName` (found without regard to case): by its description
// ("LOCAL PORT", "TCP/IP PORT", "LAN MANAGER", "INTERNET PORT", first match wins), and for an
// other or local port by its name ("FILE:", "LPT", "COM", "FPR", "PDF", "MICROSOFT").
int32_t PortTypeOf(Spooler& spooler, const std::string& portName);

enum class PortVerdict {
  Allowed,
  Refused,
  Unknown,  // the ports cannot be listed now (cupsd restarting, a time-out): look again later
};

// Whether auto-connect printing may work through the port: a network, LAN Manager or local port
// only when it is a serial port ("COM" in a Windows port name); any other port, and a port the
// spooler does not list, may.
PortVerdict PortAllowsAutoConnect(Spooler& spooler, const std::string& portName);

// One printer a device can be bound to, as the printer list shows it.
struct PrinterRow {
  std::string caption;  // the printer's name
  std::string port;
  std::optional<int32_t> type;  // none when the port list could not be read
};

// The local printers with their port types, last listed first. Printers on internet, FPR, PDF
// or MICROSOFT ports, and those whose port is not listed (a pool of several ports among them),
// are left out. Empty when the printers cannot be listed.
std::vector<PrinterRow> ListWindowsPrinters(Spooler& spooler);

}  // namespace tessaro
