// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliAutoPrint.h"

#include <algorithm>

#include "autoconnect/AutoConnectLists.h"
#include "autoconnect/AutoConnectStore.h"
#include "base/AsciiText.h"
#include "cli/CliRunner.h"
#include "cli/JsonLine.h"
#include "printing/PortTypes.h"
#include "protocol/TypeWords.h"

namespace tessaro::cli {
namespace {

constexpr const char* kUsage = "usage: auto-print add IP N QUEUE [--fax] | list | remove QUEUE";

int Fail(std::ostream& err, const std::string& why) {
  err << "tessaro-cli: auto-print: " << why << '\n';
  return exitcode::kFailed;
}

void PrintEntry(std::ostream& out, bool json, const char* list, size_t index,
                const AutoLinkPrinter& e) {
  if (json) {
    out << JsonLine()
               .Text("list", list)
               .Number("index", static_cast<int64_t>(index))
               .Text("printerName", e.PrinterName)
               .Text("serverIp", e.ServerIP)
               .Text("serverMac", e.ServerMAC)
               .Text("vendorId", e.DeviceVid)
               .Text("productId", e.DevicePid)
               .Text("serial", e.DeviceSNo)
               .str()
        << '\n';
    return;
  }
  out << list << ' ' << index << ": " << e.PrinterName << "  " << e.ServerIP << " (" << e.ServerMAC
      << ")  " << e.Key().IdentityText() << '\n';
}

int List(const ClientEnvironment& env, bool json, std::ostream& out) {
  AutoLinkList printers;
  AutoLinkList faxes;
  LoadAutoConnectLists(*env.registry, AppRegistryKey, printers, faxes);
  for (size_t i = 0; i < printers.size(); ++i) PrintEntry(out, json, "printer", i, *printers[i]);
  for (size_t i = 0; i < faxes.size(); ++i) PrintEntry(out, json, "fax", i, *faxes[i]);
  out << std::flush;
  return exitcode::kOk;
}

// A queue no entry binds any more is resumed: its monitor left it paused, and nothing would
// ever release it. Failing to reach the spooler leaves it as it is.
void ReleaseUnbound(const ClientEnvironment& env, const std::string& queue) {
  if (env.spooler != nullptr && !queue.empty())
    env.spooler->SetQueueHold(queue, QueueHold::Released);
}

// Why `queue` cannot go to the `fax` list of `key`: another entry (another device, or this
// device's other list) binds it already, as the device setup marks it taken. Empty when free.
std::string TakenBy(const ClientEnvironment& env, const std::string& queue, const DeviceKey& key,
                    bool fax) {
  AutoLinkList printers;
  AutoLinkList faxes;
  LoadAutoConnectLists(*env.registry, AppRegistryKey, printers, faxes);
  for (const bool faxList : {false, true}) {
    for (const auto& entry : faxList ? faxes : printers) {
      if (entry->PrinterName != queue) continue;
      if (faxList == fax && entry->Key().SameDeviceAs(key)) continue;
      return "the queue " + queue + " is bound already to the auto-connect " +
             (faxList ? "fax" : "printer") + " of " + entry->Key().IdentityText();
    }
  }
  return {};
}

int Remove(const ClientEnvironment& env, const std::string& queue, bool json, std::ostream& out,
           std::ostream& err) {
  Registry& registry = *env.registry;
  int removed = 0;
  for (size_t i = 0;; ++i) {
    AutoConnectInfo info;
    if (!ReadDeviceEntryAt(registry, AppRegistryKey, i, info)) break;
    bool changed = false;
    if (info.PrinterName == queue && !queue.empty()) {
      removed += info.PrinterEnable ? 1 : 0;
      info.PrinterEnable = 0;
      info.PrinterName.clear();
      info.PrinterPort.clear();
      changed = true;
    }
    if (info.FaxPrinterName == queue && !queue.empty()) {
      removed += info.FaxEnable ? 1 : 0;
      info.FaxEnable = 0;
      info.FaxPrinterName.clear();
      info.FaxPrinterPort.clear();
      changed = true;
    }
    if (changed && !WriteDeviceEntry(registry, AppRegistryKey, info))
      return Fail(err, "the entry of " + info.Key().EntryName() + " cannot be written");
  }
  if (removed > 0) ReleaseUnbound(env, queue);
  out << (json ? JsonLine().Bool("ok", true).Number("removed", removed).str()
               : "removed " + std::to_string(removed))
      << '\n'
      << std::flush;
  return exitcode::kOk;
}

// The queue's row in the printer list, or why it cannot be bound.
Result<PrinterRow> CheckQueue(Spooler& spooler, const std::string& queue,
                              const std::string& vendorId) {
  const auto printers = spooler.Printers();
  if (!printers) return Failure("the printers cannot be listed");
  if (std::none_of(printers->begin(), printers->end(),
                   [&](const SpoolerPrinter& p) { return p.name == queue; }))
    return Failure("there is no queue " + queue);
  const auto rows = ListWindowsPrinters(spooler);
  const auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const PrinterRow& r) { return r.caption == queue; });
  if (row == rows.end() || !PortTypeBindable(row->type, vendorId))
    return Failure("the port of " + queue + " can never reach the device");
  return *row;
}

int Add(const CliCommand& command, const ClientEnvironment& env, BusTransport& bus, Clock& clock,
        BusHandle trunk, std::ostream& out, std::ostream& err) {
  const std::string& ip = command.args[1];
  const std::string number = std::to_string(*ParseInteger(command.args[2], 0, 255));
  const std::string& queue = command.args[3];
  const bool fax = command.args.size() == 5;
  if (env.spooler == nullptr) return Fail(err, "no spooler");
  if (env.refreshLock == nullptr) return Fail(err, "the refresh lock cannot be opened");

  ClientRefresh refresh(env, bus, clock, trunk);
  if (const auto refreshed = refresh.Run(); !refreshed) return Fail(err, refreshed.error());
  const DeviceListModel& model = refresh.model();
  const DeviceData* device = nullptr;
  for (size_t i = 0; i < model.rowCount() && device == nullptr; ++i) {
    const DeviceData& d = model.row(i);
    if (d.serverIp == ip && d.deviceNumber == number) device = &d;
  }
  if (device == nullptr) return Fail(err, "server " + ip + " lists no device " + number);
  if (!wire::IsPrinterType(device->type)) return Fail(err, "device " + number + " is no printer");
  const auto checked = CheckQueue(*env.spooler, queue, device->vendorId);
  if (!checked) return Fail(err, checked.error());
  const PrinterRow& row = *checked;

  if (const std::string why = TakenBy(env, row.caption, device->Key(), fax); !why.empty())
    return Fail(err, why);

  AutoConnectInfo info = AutoConnectInfo::For(device->Key());
  info.ServerName = device->serverName;
  // An existing entry keeps its other list and its scan settings.
  ReadDeviceEntry(*env.registry, AppRegistryKey, info);
  const bool wasBound = (fax ? info.FaxEnable : info.PrinterEnable) != 0;
  const std::string previous = wasBound ? (fax ? info.FaxPrinterName : info.PrinterName) : "";
  info.DeviceType = device->type;
  info.DeviceManufacturer = device->manufacturer;
  info.DeviceProduct = device->product;
  (fax ? info.FaxEnable : info.PrinterEnable) = 1;
  (fax ? info.FaxPrinterName : info.PrinterName) = row.caption;
  (fax ? info.FaxPrinterPort : info.PrinterPort) = row.port;
  if (!WriteDeviceEntry(*env.registry, AppRegistryKey, info))
    return Fail(err, "the entry cannot be written");
  if (previous != row.caption) ReleaseUnbound(env, previous);

  AutoLinkList printers;
  AutoLinkList faxes;
  LoadAutoConnectLists(*env.registry, AppRegistryKey, printers, faxes);
  std::string name;
  const int32_t index =
      FindAutoLinkEntry(fax ? faxes : printers, info.ServerMAC, info.Key().IdentityText(), name);
  const char* list = fax ? "fax" : "printer";
  out << (command.json ? JsonLine().Bool("ok", true).Text("list", list).Number("index", index).str()
                       : std::string("stored in the ") + list + " list at " + std::to_string(index))
      << '\n'
      << std::flush;
  return exitcode::kOk;
}

}  // namespace

bool PortTypeBindable(std::optional<int32_t> type, const std::string& vendorId) {
  if (!type) return false;
  switch (*type) {
    case porttype::kLocal:
    case porttype::kLanManager:  // the device setup offers it, but the monitors refuse it
    case porttype::kTcpIp:
    case porttype::kFile:
    case porttype::kParallel: return false;
    case porttype::kSerial: return EqualsNoCase(vendorId, "08A6");
    default: return true;
  }
}

Result<> CheckAutoPrintArgs(const std::vector<std::string>& args) {
  if (args.empty()) return Failure(kUsage);
  const std::string& verb = args[0];
  if (verb == "list" && args.size() == 1) return {};
  if (verb == "remove" && args.size() == 2) return {};
  if (verb == "add" && (args.size() == 4 || (args.size() == 5 && args[4] == "--fax"))) {
    if (args[1].empty() || !ParseInteger(args[2], 0, 255)) return Failure(kUsage);
    return {};
  }
  return Failure(kUsage);
}

int RunAutoPrint(const CliCommand& command, const ClientEnvironment& env, BusTransport& bus,
                 Clock& clock, BusHandle trunk, std::ostream& out, std::ostream& err) {
  if (env.registry == nullptr) return Fail(err, "the user's hive cannot be opened");
  const std::string& verb = command.args[0];
  if (verb == "list") return List(env, command.json, out);
  if (verb == "remove") return Remove(env, command.args[1], command.json, out, err);
  return Add(command, env, bus, clock, trunk, out, err);
}

}  // namespace tessaro::cli
