// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/SaneGate.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/AsciiText.h"
#include "base/Ipv4Text.h"
#include "base/LogText.h"
#include "hubd/Hub.h"

extern char** environ;

namespace tessaro::hubd {

namespace {

constexpr int kAcceptBatch = 64;  // per turn, so a flood cannot starve the PCs

std::string Describe(const sockaddr_in& a) {
  return FormatIpv4(a.sin_addr.s_addr) + ":" + std::to_string(ntohs(a.sin_port));
}

bool IsScanner(const wire::DeviceInfo& d) {
  return EqualsNoCase(d.type, "SCANNER") || EqualsNoCase(d.type, "MFP");
}

// hubd's environment for saned, minus what would change how saned finds its socket or its
// configuration; SANE_CONFIG_DIR is set anew.
std::vector<std::string> SanedEnvironment(const std::string& configDir) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("SANE_CONFIG_DIR=") || entry.starts_with("LISTEN_")) continue;
    env.emplace_back(entry);
  }
  env.push_back("SANE_CONFIG_DIR=" + configDir);
  return env;
}

std::string DescribeExit(int status) {
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

std::optional<std::string> ScannerHolderAt(
    const std::vector<wire::DeviceInfo>& devices,
    const std::function<bool(const std::string& pc)>& attachedFromPeer) {
  for (const wire::DeviceInfo& d : devices)
    if (IsScanner(d) && d.lockCount > 0 && !d.owner.empty() && attachedFromPeer(d.owner))
      return d.owner;
  return std::nullopt;
}

SaneGate::~SaneGate() {
  // hubd is going: so are the scans it let in.
  for (Child& c : children_) ::kill(c.pid, SIGTERM);
  for (Child& c : children_) {
    while (::waitpid(c.pid, nullptr, 0) < 0 && errno == EINTR) {}
    std::error_code ignored;
    std::filesystem::remove_all(c.folder, ignored);
  }
}

bool SaneGate::Start(const Settings& settings, std::string& error) {
  settings_ = settings;
  const char* inherited = std::getenv("SANE_CONFIG_DIR");
  baseConfigDir_ = inherited && *inherited ? inherited : "/etc/sane.d";
  std::error_code ec;
  std::filesystem::create_directories(settings_.folder, ec);
  if (ec) {
    error = "cannot make the SANE folder " + settings_.folder + ": " + ec.message();
    return false;
  }
  std::filesystem::permissions(settings_.folder, std::filesystem::perms::owner_all, ec);
  // What a killed hubd left behind belongs to no running saned.
  for (const auto& entry : std::filesystem::directory_iterator(settings_.folder, ec))
    std::filesystem::remove_all(entry.path(), ec);

  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(settings_.port);
  sa.sin_addr.s_addr = settings_.address;
  listener_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (!listener_.valid() ||
      ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener_.get(), 16) != 0) {
    error = "cannot listen for SANE on " + Describe(sa) + ": " + std::strerror(errno);
    listener_.Reset();
    return false;
  }
  hub_.Log("SANE on " + Describe(sa) + " for the PCs holding a scanner's lock");
  return true;
}

std::vector<int> SaneGate::Fds() const {
  std::vector<int> fds;
  if (listener_.valid()) fds.push_back(listener_.get());
  for (const Child& c : children_) fds.push_back(c.pidfd.get());
  return fds;
}

void SaneGate::OnPoll(const std::vector<pollfd>& fds) {
  bool accept = false;
  std::vector<int> ended;
  for (const pollfd& p : fds) {
    if (!p.revents) continue;
    if (p.fd == listener_.get()) accept = true;
    if (std::any_of(children_.begin(), children_.end(),
                    [&](const Child& c) { return c.pidfd.get() == p.fd; }))
      ended.push_back(p.fd);
  }
  for (const int fd : ended) {
    const auto c = std::find_if(children_.begin(), children_.end(),
                                [&](const Child& child) { return child.pidfd.get() == fd; });
    Reap(*c);
    children_.erase(c);
  }
  if (accept) Accept();
}

void SaneGate::Accept() {
  for (int i = 0; i < kAcceptBatch; ++i) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    // Blocking, as saned expects of its standard input and output.
    UniqueFd fd(
        ::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    if (!fd.valid()) return;
    const uint32_t ip = peer.sin_addr.s_addr;
    const auto holder = ScannerHolderAt(
        hub_.table().List(), [&](const std::string& pc) { return hub_.IsAttachedFrom(pc, ip); });
    if (!holder) {
      hub_.Log("refusing SANE connection from " + Describe(peer) +
               ": its address holds no scanner's lock");
      continue;
    }
    if (children_.size() >= kMaxChildren) {
      hub_.Log("refusing SANE connection from " + Describe(peer) + ": " +
               std::to_string(kMaxChildren) + " saned are running already");
      continue;
    }
    Admit(std::move(fd), ip, Describe(peer) + " (" + LogText(*holder) + ")");
  }
}

void SaneGate::Admit(UniqueFd socket, uint32_t peerIp, const std::string& peer) {
  const std::string folder = WriteConfig(peerIp);
  if (folder.empty()) return;
  std::string error;
  auto child = Spawn(socket.get(), folder, error);
  if (!child) {
    hub_.Log("cannot start saned for SANE connection from " + peer + ": " + error);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return;
  }
  child->peer = peer;
  child->folder = folder;
  hub_.Log("SANE connection from " + peer + " handed to saned " + std::to_string(child->pid));
  children_.push_back(std::move(*child));
}

std::string SaneGate::WriteConfig(uint32_t peerIp) {
  // saned.conf is read first from here; the backends' files from the folder after it.
  const std::string folder = settings_.folder + "/" + std::to_string(++connections_);
  std::error_code ec;
  std::filesystem::create_directory(folder, ec);
  std::ofstream out(folder + "/saned.conf", std::ios::trunc);
  out << "# Written by tessaro-hubd for one connection: its peer only.\n"
      << FormatIpv4(peerIp) << "\n";
  out.close();
  if (ec || !out) {
    hub_.Log("cannot write the SANE configuration in " + folder);
    std::filesystem::remove_all(folder, ec);
    return {};
  }
  return folder;
}

std::optional<SaneGate::Child> SaneGate::Spawn(int socket, const std::string& folder,
                                               std::string& error) const {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, socket, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, socket, STDOUT_FILENO);
  // hubd blocks the signals its signalfd reads and ignores SIGPIPE: saned gets the defaults.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGHUP, SIGTERM, SIGINT, SIGPIPE, SIGCHLD}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> env = SanedEnvironment(folder + ":" + baseConfigDir_);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string name = "saned";
  char* argv[] = {name.data(), nullptr};  // no option: inetd mode

  Child child;
  const int spawned =
      posix_spawn(&child.pid, settings_.saned.c_str(), &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) {
    error = settings_.saned + ": " + std::strerror(spawned);
    return std::nullopt;
  }
  // The syscall itself: glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage.
  child.pidfd = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, child.pid, 0)));
  if (!child.pidfd.valid()) {
    error = std::string("pidfd_open: ") + std::strerror(errno);
    ::kill(child.pid, SIGKILL);
    while (::waitpid(child.pid, nullptr, 0) < 0 && errno == EINTR) {}
    return std::nullopt;
  }
  return child;
}

void SaneGate::Reap(Child& child) {
  int status = 0;
  pid_t got;
  while ((got = ::waitpid(child.pid, &status, 0)) < 0 && errno == EINTR) {}
  // A scan session ends with saned's own exit 0; anything else is worth a line.
  if (got == child.pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
    hub_.Log("saned " + std::to_string(child.pid) + " for " + child.peer + " " +
             DescribeExit(status));
  std::error_code ignored;
  std::filesystem::remove_all(child.folder, ignored);
}

}  // namespace tessaro::hubd
