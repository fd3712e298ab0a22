// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/CliScan.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "cli/CliRunner.h"
#include "cli/ConsoleUi.h"
#include "cli/JsonLine.h"
#include "devices/BusRecords.h"
#include "devices/MainWindowPort.h"
#include "driver/DriverClient.h"
#include "autoconnect/EnabledServers.h"
#include "platform/linux/SaneScannerSource.h"
#include "scanning/pages/JpegCodec.h"
#include "scanning/pages/PdfBuilder.h"
#include "scanning/wia/ScanNow.h"
#include "scanning/wia/ScannerWiaDevice.h"
#include "scanning/wia/WiaSession.h"
#include "scanning/wia/WiaTexts.h"

namespace tessaro::cli {

namespace {

constexpr int32_t kMinResolution = 1;
constexpr int32_t kMaxResolution = 19200;

// Whether a file has the name; one that cannot be looked at (a link loop, no permission) counts
// as taken, so nothing is ever written over it and no error escapes.
bool NameTaken(const std::string& file) {
  std::error_code ec;
  return std::filesystem::exists(file, ec) || ec;
}

// Every message of the scan itself is a plain OK box, which the console prints.
void Say(UiPort& ui, const std::string& text) { ui.ShowMessage({"", text, mb::kOk, true}); }

class SilentView : public wia::WiaTransferView {
 public:
  explicit SilentView(UiPort& ui) : ui_(ui) {}
  void SetLocation(const std::string&) override {}
  void SetFileName(const std::string&) override {}
  void SetScanProgress(int32_t, const std::string&) override {}
  void ShowPreview(const std::string&) override {}
  void ShowCancelLabel(const std::string&) override {}
  void SetSaveProgress(int32_t, int32_t) override {}
  void Finished(bool) override {}
  void ShowMessage(const std::string& text) override { Say(ui_, text); }
  void ProcessPendingEvents() override {}

 private:
  UiPort& ui_;
};

// One WIA session with the command line's choices in place of the dialogs.
class FixedSession : public wia::WiaSessionUi, public wia::DeviceDialog {
 public:
  FixedSession(const ScanOptions& options, std::string folder, UiPort& ui)
      : options_(options), folder_(std::move(folder)), ui_(ui) {}

  wia::DeviceDialog& DeviceDialogOf() override { return *this; }
  bool Run(const wia::DeviceOffer& offer, wia::DeviceChoices& choices) override {
    if (options_.feeder ? !offer.hasFeeder : !offer.hasFlatbed) {
      Say(ui_, std::string("the scanner has no ") + (options_.feeder ? "feeder" : "flatbed"));
      return false;
    }
    choices.source = options_.feeder ? wia::ScanSource::Feeder : wia::ScanSource::Flatbed;
    choices.mode = options_.color ? wia::ScanMode::Color : wia::ScanMode::Gray;
    choices.resolution = options_.resolution;
    return true;
  }
  int RunSettings(wia::WiaScanSettings& settings) override {
    settings.folder = wia::WithTrailingSlash(folder_);
    settings.extension = options_.format == "bmp" ? ".bmp" : ".jpg";
    const auto base =
        wia::FreeGroupBaseName(settings.folder, options_.name, settings.extension, NameTaken);
    if (!base) {
      Say(ui_, "every name for the group " + options_.name + " is taken");
      return answer::kCancel;
    }
    settings.baseName = *base;
    return answer::kOk;
  }
  int RunTransfer(const wia::WiaTransferJob& job) override {
    SilentView view(ui_);
    wia::TNetWIASaveCore core(view, job);
    core.Show();
    core.Run();
    files = core.Files();
    failed = core.CancelRequested();
    resolution = job.resolution;
    ran = true;
    return answer::kCancel;
  }
  void ShowMessage(const std::string& text) override { Say(ui_, text); }

  std::vector<std::string> files;
  bool failed = false;
  bool ran = false;
  int32_t resolution = 0;

 private:
  const ScanOptions& options_;
  std::string folder_;
  UiPort& ui_;
};

class CliScanPaths : public ScanPaths {
 public:
  CliScanPaths(FixedSession& session, Registry* registry)
      : session_(session), registry_(registry) {}
  bool TwainReady() override { return false; }
  bool RunTwain(const DeviceData&, const std::string&, bool&) override { return false; }
  void RunWia(const DeviceData& snapshot, const std::string& wiaDeviceId) override {
    // SANE lists the scanners of the user's enabled servers and of this one, without a net.conf.
    std::vector<std::string> hosts;
    if (registry_ != nullptr) hosts = EnabledServerIps(*registry_, AppRegistryKey);
    hosts.push_back(snapshot.serverIp);
    ExportSaneNetHosts(hosts);
    SaneScannerSource source;
    wia::ScannerWiaDeviceManager manager(source);
    wia::WiaScanner scanner(session_);
    scanner.OpenWiaDeviceManager(&manager);
    scanner.RunWiaScanSession(wia::ScannerNameForDevice(wiaDeviceId, snapshot.serverIp));
    scanner.CloseWiaDeviceManager();
  }

 private:
  FixedSession& session_;
  Registry* registry_;
};

// The scanned JPEG pages of a PDF group in a private folder beside the target, gathered into
// one document under the group's free name; the folder goes afterwards.
std::optional<std::string> GatherPdf(const ScanOptions& options, const std::string& folder,
                                     const std::vector<std::string>& bmpPages, int32_t dpi,
                                     UiPort& ui) {
  const auto base = wia::FreeGroupBaseName(folder, options.name, ".pdf", NameTaken);
  if (!base) return std::nullopt;
  PdfBuilder pdf;
  JpegEncoder encoder;
  std::vector<std::unique_ptr<PendingFile>> jpegs;
  for (const std::string& page : bmpPages) {
    auto encoded = EncodeBmpFile(encoder, page, page + ".jpg", dpi);
    if (!encoded || !encoded->file->CloseTemp() ||
        !pdf.AddJpegPage(encoded->file->tempPath(), encoded->width, encoded->height)) {
      Say(ui, std::string(wia::SFile_Save_Err) + page);
      return std::nullopt;
    }
    jpegs.push_back(std::move(encoded->file));
  }
  const std::string target = folder + *base + ".pdf";
  if (!pdf.Save(target, false)) {
    Say(ui, std::string(wia::SFile_Save_Err) + target);
    return std::nullopt;
  }
  return target;
}

}  // namespace

Result<ScanOptions> ParseScanArgs(const std::vector<std::string>& args) {
  if (args.size() < 3) {
    return Failure(
        "usage: scan IP N FOLDER [--name NAME] [--format jpg|bmp|pdf] "
        "[--source flatbed|feeder] [--resolution DPI] [--mode color|gray]");
  }
  ScanOptions o;
  o.ip = args[0];
  o.deviceNumber = args[1];
  o.folder = args[2];
  if (o.ip.empty() || !ParseInteger(o.deviceNumber, -128, 255) || o.folder.empty())
    return Failure("scan: bad argument");
  for (size_t i = 3; i < args.size(); i += 2) {
    const std::string& option = args[i];
    if (i + 1 >= args.size()) return Failure("scan: " + option + " needs a value");
    const std::string& value = args[i + 1];
    bool good = true;
    if (option == "--name") {
      // A name with a folder in it would scan somewhere else than FOLDER.
      good = !value.empty() && value.size() <= wia::kMaxGroupName &&
             value.find('/') == std::string::npos && value != "." && value != "..";
      o.name = value;
    } else if (option == "--format") {
      good = value == "jpg" || value == "bmp" || value == "pdf";
      o.format = value;
    } else if (option == "--source") {
      good = value == "flatbed" || value == "feeder";
      o.feeder = value == "feeder";
    } else if (option == "--resolution") {
      const auto dpi = ParseInteger(value, kMinResolution, kMaxResolution);
      good = dpi.has_value();
      o.resolution = static_cast<int32_t>(dpi.value_or(0));
    } else if (option == "--mode") {
      good = value == "color" || value == "gray";
      o.color = value == "color";
    } else {
      return Failure("scan: unknown option " + option);
    }
    if (!good) return Failure("scan: bad value \"" + value + "\" for " + option);
  }
  return o;
}

// The device as the client's rows hold it, from the Spur's device list; nullopt when the Spur
// lists no device of that number.
std::optional<DeviceData> DeviceOnSpur(DriverClient& driver, const ServerData& server,
                                       const ClientState& state, const std::string& number) {
  const auto entries = driver.GetDeviceList(server.handle);
  if (!entries) return std::nullopt;
  for (const DeviceEntry& e : *entries) {
    if (std::to_string(e.deviceNumber) == number) return DeviceFromEntry(e, server, state);
  }
  return std::nullopt;
}

int RunScan(const CliCommand& command, const ClientEnvironment& env, BusTransport& bus,
            Clock& clock, BusHandle trunk, BusHandle spur, std::ostream& out, std::ostream& err) {
  const auto options = ParseScanArgs(command.args);
  if (!options) return exitcode::kUsage;
  if (env.registry == nullptr) {
    err << "tessaro-cli: scan needs the user's hive\n";
    return exitcode::kFailed;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(options->folder, ec)) {
    err << "tessaro-cli: " << options->folder << " is not a folder\n";
    return exitcode::kFailed;
  }
  DriverClient driver(bus, clock);
  // The server's name and MAC find the device's stored entry; a server the list lacks has none.
  ServerData server;
  server.ip = options->ip;
  std::vector<ServerEntry> servers;
  if (driver.GetServerList(trunk, servers) > 0)
    for (const ServerEntry& s : servers)
      if (s.ip == options->ip) TakeServerFields(server, s);
  server.handle = spur;
  // The scanner identities type the device as the client's rows do.
  ClientState state;
  LoadClientState(env, trunk, state);
  const auto device = DeviceOnSpur(driver, server, state, options->deviceNumber);
  if (!device) {
    err << "tessaro-cli: " << options->ip << " has no device " << options->deviceNumber << '\n';
    return exitcode::kFailed;
  }

  ConsoleUi ui(err, ConsoleLine::Program);
  NoWindow pump;
  // A PDF group is scanned as BMP pages into a private folder first.
  std::string scanFolder = options->folder;
  std::string pdfPages;
  if (options->format == "pdf") {
    std::string pattern = wia::WithTrailingSlash(options->folder) + ".tessaro-scan.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      err << "tessaro-cli: cannot make a folder for the pages in " << options->folder << '\n';
      return exitcode::kFailed;
    }
    scanFolder = pdfPages = pattern;
  }
  ScanOptions sessionOptions = *options;
  if (options->format == "pdf") sessionOptions.format = "bmp";
  FixedSession session(sessionOptions, scanFolder, ui);
  CliScanPaths paths(session, env.registry);
  // The same device under its number, or none when the number now holds another one.
  const auto findAgain = [&](const DeviceData& d) -> std::optional<DeviceData> {
    auto now = DeviceOnSpur(driver, server, state, d.deviceNumber);
    if (now && now->DeviceIdentityText != d.DeviceIdentityText) return std::nullopt;
    return now;
  };
  // The command line always takes the WIA path, whatever version is emulated. It scans through
  // the server's scan service, never through the linked device, so it does not wait for the
  // device to come up on this PC.
  ScanNow scanNow({driver,
                   *env.registry,
                   *env.registry,
                   ui,
                   pump,
                   clock,
                   AppRegistryKey,
                   env.computerName,
                   0,
                   findAgain,
                   {},
                   0});
  const ScanNowOutcome outcome = scanNow.Run(*device, paths);

  std::vector<std::string> kept = session.files;
  bool ok = outcome == ScanNowOutcome::Scanned && session.ran && !session.failed &&
            !session.files.empty();
  if (!pdfPages.empty()) {
    // The pages of a run that broke off still make their document.
    const auto pdf = session.files.empty()
                         ? std::nullopt
                         : GatherPdf(*options, wia::WithTrailingSlash(options->folder),
                                     session.files, session.resolution, ui);
    if (pdf) {
      kept = {*pdf};
      std::filesystem::remove_all(pdfPages, ec);
    } else {
      ok = false;
      // Pages that could not become a document stay where they are, never lost.
      if (session.files.empty()) std::filesystem::remove_all(pdfPages, ec);
    }
  }
  if (outcome == ScanNowOutcome::Scanned && !session.ran)
    err << "tessaro-cli: the scanner could not be opened\n";
  if (!ok) {
    for (const std::string& file : kept) err << "tessaro-cli: kept " << file << '\n';
    return exitcode::kFailed;
  }
  for (const std::string& file : kept)
    out << (command.json ? JsonLine().Text("file", file).str() : file) << '\n';
  out << (command.json ? JsonLine()
                             .Bool("ok", true)
                             .Number("pages", static_cast<int64_t>(session.files.size()))
                             .str()
                       : "pages: " + std::to_string(session.files.size()))
      << '\n'
      << std::flush;
  return exitcode::kOk;
}

}  // namespace tessaro::cli
