// SPDX-License-Identifier: GPL-2.0-or-later
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "base/CommandLineInfo.h"
#include "base/Logger.h"
#include "hubd/AdminPassword.h"
#include "hubd/Config.h"
#include "hubd/Hub.h"
#include "hubd/Options.h"
#include "hubd/Server.h"
#include "hubd/UdevUsbSource.h"
#include "hubd/UsbDevices.h"
#include "platform/linux/SystemClock.h"

using namespace tessaro::hubd;

namespace {

std::optional<HubConfig> ReadConfig(const Options& options, const tessaro::Logger& log) {
  ConfigResult r = LoadConfig(options.configPath);
  if (!r.config) {
    log.Error(r.error);
    return std::nullopt;
  }
  if (const auto applied = ApplyOverrides(options, *r.config); !applied) {
    log.Error(applied.error());
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

int SetAdminPassword(const Options& options, const tessaro::Logger& log) {
  const auto password = ReadLine("Administrator password for the web page: ");
  if (!password) {
    log.Error("no password on standard input");
    return 1;
  }
  if (::isatty(STDIN_FILENO) == 1 && ReadLine("The same again: ") != password) {
    log.Error("the two passwords differ; nothing changed");
    return 1;
  }
  const std::string path = AdminPasswordFile(options);
  if (std::string error; !StoreAdminPassword(path, *password, error)) {
    log.Error(error);
    return 1;
  }
  log.Info("the web page's administrator password is set (" + path + ")");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (tessaro::AnswerHelpOrVersion(argc, argv, "tessaro-hubd",
                                   (std::string(kUsage) + "\n").c_str()))
    return 0;
  const tessaro::Logger log("hubd", tessaro::StderrLogSink());
  const auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed) {
    log.Error(parsed.error());
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
  }
  const Options& options = *parsed;
  if (options.setAdminPassword) return SetAdminPassword(options, log);
  const auto config = ReadConfig(options, log);
  if (!config) return 1;
  PinStore pins(PinsPath(options), log);
  if (std::string error; !pins.Load(error)) {
    log.Error(error);
    return 1;
  }
  tessaro::SystemClock clock;
  Hub hub(*config, clock, options.versionMajor, pins, log);
  hub.SetLimits(options.limits);
  UdevUsbSource usb(log);
  DeviceNumbers numbers(UsbNumbersPath(PinsPath(options)), log);
  if (config->server.usb) {
    std::string why;
    if (!numbers.Load(why) || !usb.Start(why)) {
      log.Error(why);
      return 1;
    }
    hub.SetUsb(&usb, &numbers);
    log.Info("offering the USB devices of this machine; their numbers are kept in " +
             numbers.path());
  }
  Server server(hub, [&options, &log] {
    auto next = ReadConfig(options, log);
    if (!next) log.Error("reload refused; keeping the config in use");
    return next;
  });
  WebServer web(hub, AdminPasswordFile(options));
  if (std::string why;
      config->server.httpPort != 0 && !web.Start(hub.address(), config->server.httpPort, why)) {
    log.Warning(why + "; serving PCs without it");  // the page is a convenience, the wire the job
  } else if (config->server.httpPort != 0) {
    server.SetWeb(&web);
    log.Info("web page on http://" + config->server.address + ":" +
             std::to_string(config->server.httpPort) + "/");
  }
  SaneGate gate(hub);
  if (std::string why;
      config->server.sane &&
      !gate.Start({hub.address(), config->server.sanePort, PinsPath(options) + ".sane"}, why)) {
    log.Error(why);  // asked for and not possible: PCs would be told names that lead nowhere
    return 1;
  } else if (config->server.sane) {
    server.SetSaneGate(&gate);
  }
  std::string error;
  if (!server.Start({config->server.address, config->server.port, options.discoveryPort}, error)) {
    log.Error(error);
    return 1;
  }
  server.Run();
  return 0;
}
