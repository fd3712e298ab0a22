// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>
#include <string>
#include <vector>

#include "base/CommandLineInfo.h"
#include "base/Logger.h"
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
  WebServer web(hub);
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
