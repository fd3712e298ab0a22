// SPDX-License-Identifier: GPL-2.0-or-later
// demo_cups RUNTIME_DIR BACKEND QUEUE URI: a private cupsd for the demo with one raw queue on the
// real backend, which finds busd through RUNTIME_DIR. Prints "cups: ready SOCKET" once the queue
// exists, then runs until SIGTERM or SIGINT and stops cupsd.
#include <signal.h>

#include <cstdio>
#include <string>

#include "tests/support/PrivateCups.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: demo_cups RUNTIME_DIR BACKEND QUEUE URI [NOTIFIER]\n");
    return 2;
  }
  tessaro::testing::PrivateCups cups({},
                                     std::string("SetEnv TESSARO_RUNTIME_DIR ") + argv[1] + "\n");
  if (!cups.Running() || !cups.InstallBackend("tessaro", argv[2]) ||
      (argc == 6 && !cups.InstallNotifier("tessaro", argv[5])) ||
      !cups.AddQueue(argv[3], argv[4])) {
    std::fprintf(stderr, "demo_cups: the private cupsd or its queue did not come up\n");
    return 1;
  }
  // Blocked only now: cupsd, started above, must not inherit the blocked signals.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  std::printf("cups: ready %s\n", cups.socket().c_str());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
