// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>

int main() {
  std::fprintf(stderr, "tessaro-cli: not built yet\n");
  return 2;
}
