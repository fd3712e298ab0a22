// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS notifier for "tessaro:/NAME" subscriptions (installed as notifier/tessaro). cupsd
// hands it the subscription's events on standard input, one IPP message each; for every event it
// wakes the client's notification reader listening on the abstract socket NAME. It runs until
// cupsd closes its input, which happens when the subscription ends.
#include <cups/cups.h>
#include <sys/socket.h>

#include <cstdio>
#include <string>

#include "base/CommandLineInfo.h"
#include "platform/linux/CupsWake.h"

namespace {
constexpr const char* kUsage =
    "usage: tessaro tessaro:/NAME [USER-DATA]\n"
    "The CUPS notifier of Tessaro Utility: cupsd runs it for a subscription whose recipient is\n"
    "tessaro:/NAME and hands it the events on standard input; each event wakes the client\n"
    "listening on the abstract socket NAME.\n";
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && tessaro::AnswerHelpOrVersion(argc, argv, "tessaro (CUPS notifier)", kUsage))
    return 0;
  const auto name = argc > 1 ? tessaro::WakeNameOfRecipient(argv[1]) : std::nullopt;
  if (!name) {
    std::fprintf(stderr, "ERROR: not a tessaro:/ recipient\n");
    return 1;
  }
  tessaro::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    std::perror("ERROR: socket");
    return 1;
  }
  for (;;) {
    ipp_t* event = ippNew();
    ipp_state_t state = IPP_STATE_IDLE;
    while ((state = ippReadFile(0, event)) != IPP_STATE_DATA) {
      if (state <= IPP_STATE_IDLE) break;  // the end of the input, or a broken message
    }
    ippDelete(event);
    if (state != IPP_STATE_DATA) return 0;
    // A reader that is gone or full loses nothing: it asks cupsd on its own as well.
    tessaro::SendWake(fd.get(), *name);
  }
}
