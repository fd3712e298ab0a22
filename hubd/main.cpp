// SPDX-License-Identifier: GPL-2.0-or-later
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "base/CommandLineInfo.h"
#include "hubd/AdminPassword.h"
#include "hubd/Config.h"
#include "hubd/Hub.h"
#include "hubd/Options.h"
#include "hubd/Server.h"
#include "platform/linux/SystemClock.h"

using namespace tessaro::hubd;

namespace {

void Log(const std::string& line) { std::fprintf(stderr, "hubd: %s\n", line.c_str()); }

std::optional<HubConfig> ReadConfig(const Options& options) {
  ConfigResult r = LoadConfig(options.configPath);
  std::string error = r.config ? ApplyOverrides(options, *r.config) : r.error;
  if (!error.empty()) {
    Log(error);
    return std::nullopt;
  }
  return r.config;
}

// One line from standard input, without its line end; asked for without echo on a terminal.
std::optional<std::string> ReadLine(const char* prompt) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fprintf(stderr, "%s", prompt);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return read ? std::optional(line) : std::nullopt;
}

int SetAdminPassword(const Options& options) {
  const auto password = ReadLine("Administrator password for the web page: ");
  if (!password) {
    Log("no password on standard input");
    return 1;
  }
  if (::isatty(STDIN_FILENO) == 1 && ReadLine("The same again: ") != password) {
    Log("the two passwords differ; nothing changed");
    return 1;
  }
  const std::string path = AdminPasswordFile(options);
  if (std::string error; !StoreAdminPassword(path, *password, error)) {
    Log(error);
    return 1;
  }
  Log("the web page's administrator password is set (" + path + ")");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (tessaro::AnswerHelpOrVersion(argc, argv, "tessaro-hubd",
                                   (std::string(kUsage) + "\n").c_str()))
    return 0;
  const OptionsResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    Log(parsed.error);
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
  }
  const Options& options = *parsed.options;
  if (options.setAdminPassword) return SetAdminPassword(options);
  const auto config = ReadConfig(options);
  if (!config) return 1;
  PinStore pins(PinsPath(options), Log);
  if (std::string error; !pins.Load(error)) {
    Log(error);
    return 1;
  }
  tessaro::SystemClock clock;
  Hub hub(*config, clock, options.versionMajor, pins, Log);
  hub.SetLimits(options.limits);
  Server server(hub, [&options] {
    auto next = ReadConfig(options);
    if (!next) Log("reload refused; keeping the config in use");
    return next;
  });
  WebServer web(hub, AdminPasswordFile(options));
  if (std::string why;
      config->server.httpPort != 0 && !web.Start(hub.address(), config->server.httpPort, why)) {
    Log(why + "; serving PCs without it");  // the page is a convenience, the wire the job
  } else if (config->server.httpPort != 0) {
    server.SetWeb(&web);
    Log("web page on http://" + config->server.address + ":" +
        std::to_string(config->server.httpPort) + "/");
  }
  SaneGate gate(hub);
  if (std::string why;
      config->server.sane &&
      !gate.Start({hub.address(), config->server.sanePort, PinsPath(options) + ".sane"}, why)) {
    Log(why);  // asked for and not possible: PCs would be told names that lead nowhere
    return 1;
  } else if (config->server.sane) {
    server.SetSaneGate(&gate);
  }
  std::string error;
  if (!server.Start({config->server.address, config->server.port, options.discoveryPort}, error)) {
    Log(error);
    return 1;
  }
  server.Run();
  return 0;
}
