// SPDX-License-Identifier: GPL-2.0-or-later
#include <iostream>

#include "cli/CliRunner.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/SystemClock.h"
#include "protocol/BusFrame.h"

int main(int argc, char** argv) {
  tessaro::BusIpcTransport bus(tessaro::busipc::RuntimeDirFromEnvironment());
  tessaro::SystemClock clock;
  const std::vector<std::string> args(argv + 1, argv + argc);
  return tessaro::cli::RunCli(args, bus, clock, std::cout, std::cerr);
}
