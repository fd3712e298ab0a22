// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/PrivateCups.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tessaro::testing {
namespace {

const char* const kCupsd = "/usr/sbin/cupsd";

std::string ToolPath(const std::string& program) {
  for (const char* folder : {"/usr/sbin/", "/usr/bin/"}) {
    if (::access((folder + program).c_str(), X_OK) == 0) return folder + program;
  }
  return program;
}

void Owner(const std::string& path, const char* groupName, mode_t mode) {
  if (const struct group* g = ::getgrnam(groupName); g != nullptr) {
    [[maybe_unused]] const int ignored = ::chown(path.c_str(), static_cast<uid_t>(-1), g->gr_gid);
  }
  ::chmod(path.c_str(), mode);
}

// Copies `program` to `target` with `mode`, replacing what is there.
bool InstallProgram(const std::string& program, const std::string& target, mode_t mode) {
  std::error_code ec;
  std::filesystem::copy_file(program, target, std::filesystem::copy_options::overwrite_existing,
                             ec);
  return !ec && ::chmod(target.c_str(), mode) == 0;
}

}  // namespace

PrivateCups::PrivateCups(const std::string& extraConfig, const std::string& extraFilesConfig) {
  const std::string t = dir_.path();
  socket_ = t + "/cups.sock";
  // Backends run as user lp: every folder on their way must be open to others.
  ::chmod(t.c_str(), 0755);
  for (const char* sub : {"etc", "etc/ppd", "etc/ssl", "spool", "spool/tmp", "cache", "state",
                          "log", "bin", "bin/backend", "bin/notifier", "out"})
    std::filesystem::create_directories(t + "/" + sub);
  ::chmod((t + "/out").c_str(), 01777);
  Owner(t + "/spool", "lp", 0710);
  Owner(t + "/spool/tmp", "lp", 01770);
  for (const char* d : {"daemon", "filter", "driver", "cgi-bin", "monitor"}) {
    std::error_code ec;
    std::filesystem::create_symlink(std::string("/usr/lib/cups/") + d, t + "/bin/" + d, ec);
  }
  // Queues need a backend for their URI's scheme. Stand-ins, not the system's, so no test job
  // ever reaches a device: each finds no printer and, asked to print, stops the queue and keeps
  // the job, as a device that cannot be reached does. The tessaro:// stand-in prints: each job's
  // bytes go to out/job-N.prn.
  for (const char* b : {"parallel", "serial", "socket", "lpd", "smb", "usb", "ipp"}) {
    const std::string own = t + "/bin/backend/" + b;
    WriteTextFile(own, "#!/bin/sh\n[ $# -eq 0 ] && exit 0\nexit 4\n");
    ::chmod(own.c_str(), 0755);
  }
  WriteTextFile(t + "/bin/backend/tessaro",
                "#!/bin/sh\n[ $# -eq 0 ] && exit 0\nout=" + t +
                    "/out/job-$1.prn\nif [ -n \"$6\" ]; then cat \"$6\" >\"$out\"; else cat "
                    ">\"$out\"; fi\n");
  ::chmod((t + "/bin/backend/tessaro").c_str(), 0755);
  WriteTextFile(t + "/etc/cups-files.conf",
                "ServerRoot " + t + "/etc\nServerBin " + t + "/bin\nRequestRoot " + t +
                    "/spool\nTempDir " + t + "/spool/tmp\nCacheDir " + t + "/cache\nStateDir " + t +
                    "/state\nDataDir /usr/share/cups\n"
                    "DocumentRoot /usr/share/cups/doc-root\nAccessLog " +
                    t + "/log/access_log\nErrorLog " + t + "/log/error_log\nPageLog " + t +
                    "/log/page_log\nPrintcap " + t +
                    "/printcap\nSystemGroup root\nUser lp\nGroup lp\nFileDevice Yes\n" +
                    extraFilesConfig);
  WriteTextFile(t + "/etc/cupsd.conf",
                "LogLevel info\nListen " + socket_ +
                    "\nBrowsing No\nBrowseLocalProtocols none\nWebInterface No\n"
                    "DefaultShared No\nPreserveJobHistory Yes\n"
                    "<Location />\n  Order allow,deny\n  Allow localhost\n</Location>\n"
                    "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
                    "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
                    "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n" +
                    extraConfig);
  running_ = Start();
}

PrivateCups::~PrivateCups() { Stop(); }

bool PrivateCups::Start() {
  cupsd_ = std::make_unique<Process>(
      kCupsd, std::vector<std::string>{"-f", "-c", folder() + "/etc/cupsd.conf", "-s",
                                       folder() + "/etc/cups-files.conf"});
  if (!cupsd_->Start()) return false;
  // `lpstat -r` answers 0 whether or not the scheduler runs; its text tells.
  return Eventually(
      [&] { return Tool("lpstat", {"-r"}).out.find("is running") != std::string::npos; },
      std::chrono::seconds(10));
}

void PrivateCups::Stop() {
  if (cupsd_) cupsd_->Stop();
  cupsd_.reset();
  running_ = false;
}

bool PrivateCups::Restart() {
  Stop();
  running_ = Start();
  return running_;
}

CommandResult PrivateCups::Tool(const std::string& program,
                                const std::vector<std::string>& args) const {
  return RunCommand(ToolPath(program), args, {{"CUPS_SERVER", socket_}});
}

bool PrivateCups::InstallBackend(const std::string& scheme, const std::string& program) const {
  return InstallProgram(program, folder() + "/bin/backend/" + scheme, 0700);
}

bool PrivateCups::InstallNotifier(const std::string& scheme, const std::string& program) const {
  return InstallProgram(program, folder() + "/bin/notifier/" + scheme, 0755);
}

bool PrivateCups::AddQueue(const std::string& name, const std::string& uri) const {
  return Tool("lpadmin", {"-p", name, "-E", "-v", uri}).exitCode == 0;
}

int PrivateCups::Submit(const std::string& queue, const std::string& text) const {
  const std::string path = folder() + "/job-" + std::to_string(++submitted_);
  WriteTextFile(path, text);
  const CommandResult r = Tool("lp", {"-d", queue, path});
  // "request id is q-7 (1 file(s))"
  const size_t dash = r.out.rfind('-', r.out.find(" ("));
  if (r.exitCode != 0 || dash == std::string::npos) return -1;
  return std::atoi(r.out.c_str() + dash + 1);
}

std::string PrivateCups::QueueStatus(const std::string& queue) const {
  return Tool("lpstat", {"-p", queue}).out;
}

}  // namespace tessaro::testing
