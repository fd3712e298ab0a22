// SPDX-License-Identifier: GPL-2.0-or-later
#include "cups-backend/PrintBackend.h"

#include <unistd.h>

#include <cerrno>

#include "base/LogText.h"
#include "base/NumberText.h"
#include "protocol/TypeWords.h"

namespace tessaro::backend {

namespace {

// What a server's job gets when its real printer is out of paper (ERROR_OUT_OF_PAPER).
constexpr uint32_t kOutOfPaper = 28;

// Text that goes between double quotes on a discovery line.
std::string Quotable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    out += (b < 0x20 || b == 0x7F || c == '"' || c == '\\') ? ' ' : c;
  }
  return out;
}

// The bus writes IDs as four hex digits.
std::optional<uint16_t> HexId(const std::string& text) { return ParseNumber<uint16_t>(text, 16); }

// Reads up to `limit` bytes; fewer only at the end of the input. nullopt on a read error.
std::optional<std::vector<uint8_t>> ReadPiece(int fd, size_t limit) {
  std::vector<uint8_t> piece(limit);
  size_t got = 0;
  while (got < limit) {
    const ssize_t n = ::read(fd, piece.data() + got, limit - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    got += static_cast<size_t>(n);
  }
  piece.resize(got);
  return piece;
}

}  // namespace

PrintBackend::PrintBackend(BusTransport& bus, Clock& clock, std::ostream& out,
                           std::ostream& messages)
    : bus_(bus), clock_(clock), driver_(bus, clock), out_(out), messages_(messages) {}

BusHandle PrintBackend::SpurOf(BusHandle trunk, const std::string& ip) {
  const auto deadline = clock_.Now() + kSpurWait;
  bool attached = false;
  for (;;) {
    BusHandle found = kInvalidBusHandle;
    for (const SpurInterface& s : driver_.OpenSpurs().value_or(std::vector<SpurInterface>{})) {
      if (found == kInvalidBusHandle && s.address == ip)
        found = s.handle;
      else
        bus_.Close(s.handle);
    }
    if (found != kInvalidBusHandle || clock_.Now() >= deadline) return found;
    // busd offers a server's Spur once it is attached; the tray client attaches the enabled
    // ones, but printing must not need the client running.
    if (!attached) attached = driver_.AttachServer(trunk, ip);
    clock_.Sleep(std::chrono::milliseconds(200));
  }
}

Result<PrintBackend::Target> PrintBackend::Find(const DeviceUri& uri) {
  const BusHandle trunk = driver_.OpenTrunk();
  if (trunk == kInvalidBusHandle) return Failure("the virtual bus (tessaro-busd) is not running");
  std::vector<ServerEntry> servers;
  driver_.GetServerList(trunk, servers);
  const std::string mac = FormatMac(uri.mac);
  const ServerEntry* server = nullptr;
  int claims = 0;
  std::string claimants;
  for (const ServerEntry& s : servers) {
    if (ParseMac(s.mac, ':') != uri.mac) continue;
    server = &s;
    claimants += (claims++ == 0 ? "" : ", ") + s.ip;
  }
  // Another host may announce the same MAC: a job never goes to a server picked by guess.
  if (claims > 1) {
    bus_.Close(trunk);
    return Failure("device servers " + claimants + " all claim " + mac + "; not choosing one");
  }
  if (!server || server->state != "1") {
    bus_.Close(trunk);
    return Failure("device server " + mac + (server ? " is not answering" : " is not found"));
  }
  const BusHandle spur = SpurOf(trunk, server->ip);
  bus_.Close(trunk);
  if (spur == kInvalidBusHandle)
    return Failure("device server " + mac + " offers no interface yet");
  for (const DeviceEntry& d : driver_.GetDeviceList(spur).value_or(std::vector<DeviceEntry>{})) {
    if (HexId(d.vendorId) != uri.vendorId || HexId(d.productId) != uri.productId) continue;
    if (uri.serial && d.serial != *uri.serial) continue;
    return Target{spur, static_cast<uint8_t>(d.deviceNumber), d.owner};
  }
  bus_.Close(spur);
  return Failure("the printer is not on device server " + mac);
}

const char* PrinterStateReason(uint32_t status) {
  return status == kOutOfPaper ? "media-empty-error" : nullptr;
}

void PrintBackend::SetPrinterState(const char* reason) {
  const std::string next = reason ? reason : "";
  if (next == printerState_) return;
  if (!printerState_.empty()) messages_ << "STATE: -" << printerState_ << "\n";
  if (!next.empty()) messages_ << "STATE: +" << next << "\n";
  messages_ << std::flush;
  printerState_ = next;
}

void PrintBackend::Wait(const std::string& why) {
  if (why != waitingFor_) {
    if (waitingFor_.empty()) messages_ << "STATE: +connecting-to-device\n";
    messages_ << "INFO: waiting: " << LogText(why) << "\n" << std::flush;
    waitingFor_ = why;
  }
  clock_.Sleep(kLookAgain);
}

int PrintBackend::SendFirst(const DeviceUri& uri, const std::vector<uint8_t>& piece, bool whole,
                            Target& t) {
  for (;;) {
    auto found = Find(uri);
    if (!found) {
      Wait(found.error());
      continue;
    }
    t = *found;
    const IoResult r = whole ? driver_.EndDeviceData(t.spur, t.number)
                             : driver_.WriteDeviceData(t.spur, t.number, piece);
    if (r.ok) break;
    bus_.Close(t.spur);
    if (r.error == buserr::kNotSupported || r.error == buserr::kInvalidParameter) {
      messages_ << "ERROR: the device takes no print jobs (status " << r.error << ")\n";
      return kStop;
    }
    // Nothing was taken yet, so looking again is safe whatever went wrong.
    SetPrinterState(PrinterStateReason(r.error));
    Wait(r.error == kOutOfPaper ? "the printer is out of paper"
         : r.error == buserr::kBusy     ? "the printer is busy with another job"
         : t.owner.empty()        ? "the printer is not connected to this computer"
                                  : "the printer is in use by " + t.owner);
  }
  SetPrinterState(nullptr);
  if (!waitingFor_.empty()) messages_ << "STATE: -connecting-to-device\n";
  messages_ << "INFO: printing\n" << std::flush;
  return kOk;
}

int PrintBackend::Print(const DeviceUri& uri, int input, int copies) {
  for (int copy = 1; copy <= copies; ++copy) {
    // Each copy is a job of its own at the server: the wire has no way to ask for several.
    if (copy > 1 && ::lseek(input, 0, SEEK_SET) != 0) {
      messages_ << "ERROR: cannot read the job again for copy " << copy << "\n";
      return kFailed;
    }
    if (copies > 1) messages_ << "INFO: copy " << copy << " of " << copies << "\n" << std::flush;
    if (const int status = SendJob(uri, input); status != kOk) return status;
  }
  return kOk;
}

int PrintBackend::SendJob(const DeviceUri& uri, int input) {
  auto piece = ReadPiece(input, DriverClient::kMaxDataPiece);
  if (!piece) {
    messages_ << "ERROR: cannot read the job\n";
    return kFailed;
  }
  bool ended = piece->size() < DriverClient::kMaxDataPiece;
  Target t;
  // A job that fits one piece still needs its end: an empty one is sent as the end alone.
  if (const int status = SendFirst(uri, *piece, piece->empty(), t); status != kOk) return status;
  bool endSent = piece->empty();
  while (!endSent) {
    if (ended) {
      const IoResult r = driver_.EndDeviceData(t.spur, t.number);
      bus_.Close(t.spur);
      if (!r.ok) {
        messages_ << "ERROR: the job's end was not taken (status " << r.error << ")\n";
        return kRetry;
      }
      break;
    }
    piece = ReadPiece(input, DriverClient::kMaxDataPiece);
    if (!piece) {
      messages_ << "ERROR: cannot read the job\n";
      bus_.Close(t.spur);
      return kFailed;
    }
    ended = piece->size() < DriverClient::kMaxDataPiece;
    if (piece->empty()) continue;
    const IoResult r = driver_.WriteDeviceData(t.spur, t.number, *piece);
    if (!r.ok) {
      bus_.Close(t.spur);  // busd drops the part that arrived
      SetPrinterState(PrinterStateReason(r.error));
      messages_ << "ERROR: sending failed part-way (status " << r.error << "); sent again later\n";
      return kRetry;
    }
  }
  if (endSent) bus_.Close(t.spur);
  messages_ << "INFO: job sent\n" << std::flush;
  return kOk;
}

int PrintBackend::Discover() {
  const BusHandle trunk = driver_.OpenTrunk();
  if (trunk == kInvalidBusHandle) return kOk;  // no busd: no printers
  std::vector<ServerEntry> servers;
  driver_.GetServerList(trunk, servers);
  for (const ServerEntry& server : servers) {
    const auto mac = ParseMac(server.mac, ':');
    if (server.state != "1" || !mac) continue;
    const BusHandle spur = SpurOf(trunk, server.ip);
    if (spur == kInvalidBusHandle) continue;
    for (const DeviceEntry& d : driver_.GetDeviceList(spur).value_or(std::vector<DeviceEntry>{})) {
      const auto vid = HexId(d.vendorId);
      const auto pid = HexId(d.productId);
      if (!wire::IsPrinterType(d.type) || !vid || !pid) continue;
      DeviceUri uri{*mac, *vid, *pid, std::nullopt};
      if (!d.serial.empty()) uri.serial = d.serial;
      const std::string maker = Quotable(d.manufacturer.empty() ? "Unknown" : d.manufacturer);
      const std::string model = Quotable(d.product.empty() ? "Printer" : d.product);
      out_ << "direct " << FormatDeviceUri(uri) << " \"" << maker << " " << model << "\" \""
           << maker << " " << model << " on " << Quotable(server.name) << "\" \"MFG:" << maker
           << ";MDL:" << model << ";CLS:PRINTER;\" \"\"\n";
    }
    bus_.Close(spur);
  }
  bus_.Close(trunk);
  out_ << std::flush;
  return kOk;
}

}  // namespace tessaro::backend
