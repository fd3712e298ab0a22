// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>
#include <cstdlib>

#include "base/CommandLineInfo.h"
#include "base/ComputerName.h"
#include "busd/Daemon.h"
#include "busd/Log.h"
#include "busd/PcKeyFile.h"

int main(int argc, char** argv) {
  using namespace tessaro;
  if (AnswerHelpOrVersion(argc, argv, "tessaro-busd", busd::UsageText())) return 0;
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto parsed = busd::ParseOptions(
      args, [](const char* name) { return std::getenv(name); }, [] { return ComputerName(); });
  if (parsed.help) {
    std::fputs(busd::UsageText(), stdout);
    return 0;
  }
  if (!parsed.options) {
    busd::Log(parsed.error);
    std::fputs(busd::UsageText(), stderr);
    return 2;
  }
  if (parsed.options->install) return busd::Install(*parsed.options);
  if (parsed.options->makeKey) return busd::MakeKey(*parsed.options);
  busd::Daemon daemon(std::move(*parsed.options));
  return daemon.Run();
}
