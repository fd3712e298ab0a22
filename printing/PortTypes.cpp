// SPDX-License-Identifier: GPL-2.0-or-later
#include "printing/PortTypes.h"

#include <algorithm>

#include "base/AsciiText.h"

namespace tessaro {
namespace {

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

std::optional<SpoolerPort> FindPort(const std::vector<SpoolerPort>& ports,
                                    const std::string& portName) {
  const auto it = std::find_if(ports.begin(), ports.end(), [&](const SpoolerPort& p) {
    return EqualsNoCase(p.name, portName);
  });
  if (it == ports.end()) return std::nullopt;
  return *it;
}

int32_t TypeByDescription(const std::string& description) {
  const std::string upper = UpperAsciiText(description);
  if (Contains(upper, "LOCAL PORT")) return porttype::kLocal;
  if (Contains(upper, "TCP/IP PORT")) return porttype::kTcpIp;
  if (Contains(upper, "LAN MANAGER")) return porttype::kLanManager;
  if (Contains(upper, "INTERNET PORT")) return porttype::kInternet;
  return porttype::kOther;
}

int32_t RefinedByName(int32_t type, const std::string& name) {
  if ((type != porttype::kOther && type != porttype::kLocal) || IsUriPortName(name)) return type;
  const std::string upper = UpperAsciiText(name);
  if (Contains(upper, "FILE:")) return porttype::kFile;
  if (Contains(upper, "LPT")) return porttype::kParallel;
  if (Contains(upper, "COM")) return porttype::kSerial;
  if (Contains(upper, "FPR")) return porttype::kFpr;
  if (Contains(upper, "PDF")) return porttype::kPdf;
  if (Contains(upper, "MICROSOFT")) return porttype::kMicrosoft;
  return type;
}

}  // namespace

bool IsUriPortName(const std::string& portName) {
  const size_t colon = portName.find(':');
  return colon != std::string::npos && colon + 1 < portName.size();
}

int32_t PortTypeOf(Spooler& spooler, const std::string& portName) {
  const auto ports = spooler.Ports();
  if (!ports || ports->empty()) return porttype::kListUnavailable;
  const auto port = FindPort(*ports, portName);
  if (!port) return porttype::kNotFound;
  return RefinedByName(TypeByDescription(port->description), port->name);
}

PortVerdict PortAllowsAutoConnect(Spooler& spooler, const std::string& portName) {
  const auto ports = spooler.Ports();
  if (!ports) return PortVerdict::Unknown;
  const auto port = FindPort(*ports, portName);
  if (!port) return PortVerdict::Allowed;
  const std::string& d = port->description;  // compared with case, as the ports describe
  if (Contains(d, "Local Port") || Contains(d, "TCP/IP Port") || Contains(d, "LAN Manager") ||
      Contains(d, "Internet Port"))
    return !IsUriPortName(port->name) && Contains(UpperAsciiText(port->name), "COM")
               ? PortVerdict::Allowed
               : PortVerdict::Refused;
  return PortVerdict::Allowed;
}

std::vector<PrinterRow> ListWindowsPrinters(Spooler& spooler) {
  std::vector<PrinterRow> rows;
  const auto printers = spooler.Printers();
  if (!printers) return rows;
  for (const SpoolerPrinter& printer : *printers) {
    if (printer.name.empty()) continue;
    const int32_t type = PortTypeOf(spooler, printer.portName);
    if (type == porttype::kInternet || type == porttype::kFpr || type == porttype::kPdf ||
        type == porttype::kMicrosoft || type == porttype::kNotFound)
      continue;
    PrinterRow row{printer.name, printer.portName, std::nullopt};
    if (type >= 0) row.type = type;
    // Each new row goes first, so the list ends in reverse order.
    rows.insert(rows.begin(), row);
  }
  return rows;
}

}  // namespace tessaro
