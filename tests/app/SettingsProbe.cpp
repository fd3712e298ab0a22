// SPDX-License-Identifier: GPL-2.0-or-later
// Reads the application key the way the client does, as whichever user runs it, so that a test
// can run it unprivileged against a machine hive that user may only read.
//   settings_probe <user hive> <machine hive> <value name>...
// Prints each machine value as RegReadText leaves a text that started as "(unchanged)", then
// runs the load and tries to overwrite "Product Version".
#include <cstdio>
#include <string>

#include "app/Settings.h"
#include "platform/RegistryText.h"
#include "platform/linux/SqliteRegistry.h"

using namespace tessaro;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: settings_probe USER_HIVE MACHINE_HIVE [VALUE...]\n");
    return 2;
  }
  SqliteRegistry registry(HivePaths{argv[1], argv[2]});
  for (int i = 3; i < argc; ++i) {
    std::string text = "(unchanged)";
    RegReadText(registry, RegRoot::LocalMachine, AppRegistryKey, argv[i], text);
    std::printf("read %s=%s\n", argv[i], text.c_str());
  }
  MainWindowPlacement window;
  MainFormSettings settings;
  LoadSettings(registry, "Corvana", WorkArea{0, 0, 1920, 1040}, window, settings);
  std::printf("ProductVersion=%s\n", settings.ProductVersion.c_str());
  RegWriteText(registry, RegRoot::LocalMachine, AppRegistryKey, "Product Version", false, true,
               "9.9");
  RegWriteText(registry, RegRoot::LocalMachine, std::string(AppRegistryKey) + "\\New", "Name",
               false, true, "x");
  std::printf("done\n");
  return 0;
}
