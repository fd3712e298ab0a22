// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>
#include <cstdlib>

#include "base/CommandLineInfo.h"
#include "base/ComputerName.h"
#include "base/Logger.h"
#include "busd/Daemon.h"
#include "busd/PcKeyFile.h"

int main(int argc, char** argv) {
  using namespace tessaro;
  if (AnswerHelpOrVersion(argc, argv, "tessaro-busd", busd::UsageText())) return 0;
  const Logger log("busd", StderrLogSink());
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto parsed = busd::ParseOptions(
      args, [](const char* name) { return std::getenv(name); }, [] { return ComputerName(); });
  if (!parsed) {
    log.Error(parsed.error());
    std::fputs(busd::UsageText(), stderr);
    return 2;
  }
  if (parsed->help) {
    std::fputs(busd::UsageText(), stdout);
    return 0;
  }
  if (parsed->install) return busd::Install(*parsed, log);
  if (parsed->makeKey) return busd::MakeKey(*parsed, log);
  busd::Daemon daemon(std::move(*parsed), log);
  return daemon.Run();
}
