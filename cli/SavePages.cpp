// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/SavePages.h"

#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "cli/CliRunner.h"
#include "cli/CommandMainThread.h"
#include "cli/ConsoleUi.h"
#include "scanning/pages/PageNames.h"
#include "scanning/pages/SaveScanningThread.h"

namespace tessaro::cli {

namespace {

constexpr int64_t kMaxDpi = 65535;  // the JFIF density holds 16 bits
constexpr int64_t kMaxPages = 100000;

class CommandHost : public ScanSaveHost {
 public:
  CommandHost(std::string target, std::string tempBase)
      : target_(std::move(target)), tempBase_(std::move(tempBase)) {}
  std::string TargetFileName() const override { return target_; }
  std::string PdfTempBase() const override { return tempBase_; }
  void SetPdfPagesPending(std::vector<std::string> createdFiles) override {
    previews_ = std::move(createdFiles);
  }
  void EnableNavigation() override {}
  void SaveCompleted(bool) override {}

  // The command plays a scan window that closes once the save is done: nothing shows the
  // previews, so the intermediate JPEGs the run created go, and only those.
  void RemovePreviews() {
    for (const auto& file : previews_) ::unlink(file.c_str());
    previews_.clear();
  }

 private:
  std::string target_;
  std::string tempBase_;
  std::vector<std::string> previews_;
};

}  // namespace

Result<> CheckSavePagesArgs(const std::vector<std::string>& args) {
  const std::string usage = "usage: save-pages FORMAT DPI COUNT TARGET [TEMPBASE]";
  if (args.size() != 4 && args.size() != 5) return Failure(usage);
  const std::string& format = args[0];
  if (format != "jpg" && format != "bmp" && format != "pdf") {
    return Failure("save-pages: FORMAT must be jpg, bmp or pdf");
  }
  if (!ParseInteger(args[1], 1, kMaxDpi)) return Failure("save-pages: bad DPI \"" + args[1] + "\"");
  if (!ParseInteger(args[2], 1, kMaxPages))
    return Failure("save-pages: bad COUNT \"" + args[2] + "\"");
  const TargetParts target = SplitTarget(args[3]);
  if (::strcasecmp(target.ext.c_str(), ("." + format).c_str()) != 0) {
    return Failure("save-pages: TARGET must end in ." + format);
  }
  if (args.size() == 5 && args[4].empty()) return Failure("save-pages: TEMPBASE is empty");
  return {};
}

int RunSavePages(const CliCommand& command, std::ostream& out, std::ostream& err) {
  const auto& args = command.args;
  const auto dpi = static_cast<int32_t>(*ParseInteger(args[1], 1, kMaxDpi));
  const auto pages = static_cast<int32_t>(*ParseInteger(args[2], 1, kMaxPages));
  const std::string& target = args[3];
  const std::string tempBase = args.size() == 5 ? args[4] : SplitTarget(target).base;

  CommandMainThread mainThread;
  ConsoleUi ui(err, ConsoleLine::Text);
  CommandHost host(target, tempBase);
  bool failed = false;
  {
    TSaveScanningThread saving(host, mainThread, ui, SaveRun{pages, dpi, 0});
    saving.Start();
    while (!saving.Finished()) mainThread.Serve(std::chrono::milliseconds(400));
    failed = saving.Failed();
  }
  host.RemovePreviews();
  if (failed) return exitcode::kFailed;
  if (command.json) {
    out << "{\"ok\":true,\"pages\":" << pages << "}\n";
  } else {
    out << "saved " << pages << (pages == 1 ? " page\n" : " pages\n");
  }
  return exitcode::kOk;
}

}  // namespace tessaro::cli
