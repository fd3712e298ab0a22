// SPDX-License-Identifier: GPL-2.0-or-later
// Opens a machine hive the way a limited user's client does and prints each result code, so a
// test can run it under another user id.
//   registry_probe <machine hive> <key path> <value name>
#include <cstdio>
#include <string>

#include "platform/linux/SqliteRegistry.h"

using namespace tessaro;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: registry_probe HIVE KEY VALUE\n");
    return 2;
  }
  SqliteRegistry registry(HivePaths{"/nonexistent/user.hive", argv[1]});
  RegKey key;
  std::printf("all-access=%u\n",
              registry.OpenKey(RegRoot::LocalMachine, argv[2], regaccess::kAllAccess, false, key));
  std::printf("write=%u\n",
              registry.OpenKey(RegRoot::LocalMachine, argv[2], regaccess::kWrite, false, key));
  std::printf("create=%u\n", registry.OpenKey(RegRoot::LocalMachine, std::string(argv[2]) + "\\New",
                                              regaccess::kAllAccess, true, key));
  std::printf("query=%u\n",
              registry.OpenKey(RegRoot::LocalMachine, argv[2], regaccess::kQueryValue, false, key));
  std::string text;
  std::printf("read=%u\n", RegQueryString(registry, key, argv[3], text));
  std::printf("text=%s\n", text.c_str());
  std::printf("set=%u\n", RegSetString(registry, key, argv[3], "changed"));
  std::printf("delete=%u\n", registry.DeleteValue(key, argv[3]));
  std::printf("done\n");
  return 0;
}
