// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/FirewalldFirewall.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tessaro {

namespace {

constexpr const char* kService = "org.fedoraproject.FirewallD1";
constexpr const char* kPath = "/org/fedoraproject/FirewallD1";
// Start-up must never show a password prompt nor wait on the bus's 25 s default: a call that
// firewalld's policy would only allow after asking fails at once instead.
constexpr const char* kNoPrompt = "--allow-interactive-authorization=no";
constexpr const char* kCallTimeout = "--timeout=2";

const char* ProtocolName(int protocol) {
  switch (protocol) {
    case 6: return "tcp";
    case 17: return "udp";
    default: return nullptr;
  }
}

// busctl prints a boolean reply as "b true".
bool IsTrue(const std::string& reply) { return reply.rfind("b true", 0) == 0; }

// A quoted string reply ("s \"public\"") without its type and quotes.
std::string StringReply(const std::string& reply) {
  const auto first = reply.find('"');
  const auto last = reply.rfind('"');
  if (first == std::string::npos || last <= first) return {};
  return reply.substr(first + 1, last - first - 1);
}

uint32_t AddFailure(const std::string& reply) {
  const bool denied = reply.find("AccessDenied") != std::string::npos ||
                      reply.find("NotAuthorized") != std::string::npos ||
                      reply.find("ermission") != std::string::npos;
  return denied ? Firewall::kAccessDenied : Firewall::kFailed;
}

}  // namespace

FirewalldFirewall::Reply FirewalldFirewall::Busctl(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  std::vector<std::string> all = {"busctl", "--system", "--no-pager", kNoPrompt, kCallTimeout};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "busctl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  Reply reply;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0)
      reply.text.append(buffer, static_cast<size_t>(n));
    else if (n < 0 && errno == EINTR)
      continue;
    else
      break;
  }
  ::close(pipeFds[0]);
  if (spawned != 0) return {};
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  reply.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return reply;
}

FirewalldFirewall::Reply FirewalldFirewall::CallFirewalld(
    const std::string& interface, const std::string& method,
    const std::vector<std::string>& signatureAndArgs) {
  std::vector<std::string> args = {"call", kService, kPath, interface, method};
  args.insert(args.end(), signatureAndArgs.begin(), signatureAndArgs.end());
  return Busctl(args);
}

uint32_t FirewalldFirewall::Connect() {
  const auto reply = Busctl({"call", "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", "s", kService});
  if (!reply.ok) return kClassNotRegistered;
  running_ = IsTrue(reply.text);
  return 0;
}

uint32_t FirewalldFirewall::OpenProfile() {
  if (!running_) return kServiceNotRunning;
  const auto reply = CallFirewalld(kService, "getDefaultZone", {});
  zone_ = StringReply(reply.text);
  return reply.ok && !zone_.empty() ? 0 : kServiceNotRunning;
}

Firewall::Entry FirewalldFirewall::FindPort(long port, int protocol) {
  const char* proto = ProtocolName(protocol);
  if (proto == nullptr) return {kFailed, false, false};
  const auto reply = CallFirewalld(std::string(kService) + ".zone", "queryPort",
                                   {"sss", zone_, std::to_string(port), proto});
  if (!reply.ok) return {kFailed, false, false};
  const bool open = IsTrue(reply.text);
  return {0, open, open};
}

Firewall::Entry FirewalldFirewall::FindApplication(const std::string&) { return {0, true, true}; }

uint32_t FirewalldFirewall::AddPort(long port, int protocol, const std::string&) {
  const char* proto = ProtocolName(protocol);
  if (proto == nullptr) return kFailed;
  const auto reply = CallFirewalld(std::string(kService) + ".zone", "addPort",
                                   {"sssi", zone_, std::to_string(port), proto, "0"});
  return reply.ok ? 0 : AddFailure(reply.text);
}

uint32_t FirewalldFirewall::AddApplication(const std::string&, const std::string&) { return 0; }

}  // namespace tessaro
