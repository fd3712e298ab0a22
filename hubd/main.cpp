// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>
#include <string>
#include <vector>

#include "base/CommandLineInfo.h"
#include "hubd/Config.h"
#include "hubd/Hub.h"
#include "hubd/Options.h"
#include "hubd/Server.h"
#include "hubd/UdevUsbSource.h"
#include "hubd/UsbDevices.h"
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
  UdevUsbSource usb(Log);
  DeviceNumbers numbers(UsbNumbersPath(PinsPath(options)), Log);
  if (config->server.usb) {
    std::string why;
    if (!numbers.Load(why) || !usb.Start(why)) {
      Log(why);
      return 1;
    }
    hub.SetUsb(&usb, &numbers);
    Log("offering the USB devices of this machine; their numbers are kept in " + numbers.path());
  }
  Server server(hub, [&options] {
    auto next = ReadConfig(options);
    if (!next) Log("reload refused; keeping the config in use");
    return next;
  });
  WebServer web(hub);
  if (std::string why;
      config->server.httpPort != 0 && !web.Start(hub.address(), config->server.httpPort, why)) {
    Log(why + "; serving PCs without it");  // the page is a convenience, the wire the job
  } else if (config->server.httpPort != 0) {
    server.SetWeb(&web);
    Log("web page on http://" + config->server.address + ":" +
        std::to_string(config->server.httpPort) + "/");
  }
  std::string error;
  if (!server.Start({config->server.address, config->server.port, options.discoveryPort}, error)) {
    Log(error);
    return 1;
  }
  server.Run();
  return 0;
}
