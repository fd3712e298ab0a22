// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS backend `tessaro`: with no arguments it lists the printers of every device server;
// with a job's arguments it carries the job to the printer its device URI names.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "base/CommandLineInfo.h"
#include "base/FileHandle.h"
#include "base/LogText.h"
#include "base/NumberText.h"
#include "cups-backend/PrintBackend.h"
#include "platform/linux/BusIpcTransport.h"
#include "platform/linux/SystemClock.h"

namespace {

constexpr const char* kUsage =
    "Usage: tessaro job-id user title copies options [file]\n"
    "       tessaro            (lists the printers of the device servers busd knows)\n";

// busd answers a job's end once it is on the server's disk, within its own 60 s.
constexpr std::chrono::seconds kControlTimeout{90};

// A cancelled job ends at once; busd drops what reached the server when the connection goes.
extern "C" void OnTerm(int) { ::_exit(0); }

}  // namespace

int main(int argc, char** argv) {
  // CUPS never passes one argument: --help and --version are a person's.
  if (argc == 2 && tessaro::AnswerHelpOrVersion(argc, argv, "tessaro (CUPS backend)", kUsage))
    return 0;
  using namespace tessaro;
  using namespace tessaro::backend;
  ::signal(SIGPIPE, SIG_IGN);
  // Each piece of a job passes through a few 64 KiB buffers that are freed and taken again for
  // the next one: glibc would otherwise give the top of the heap back and fault it in afresh for
  // every piece, a sixth of the backend's time on a large job.
  ::mallopt(M_TRIM_THRESHOLD, 4 << 20);
  struct sigaction term {};
  term.sa_handler = OnTerm;
  ::sigaction(SIGTERM, &term, nullptr);
  BusIpcTransport bus(BusRuntimeDirFromEnvironment(), kControlTimeout);
  SystemClock clock;
  PrintBackend backend(bus, clock, std::cout, std::cerr);
  if (argc == 1) return backend.Discover();
  if (argc != 6 && argc != 7) {
    std::cerr << kUsage;
    return kFailed;
  }
  const char* uriText = std::getenv("DEVICE_URI");
  std::string error;
  const auto uri = ParseDeviceUri(uriText ? uriText : argv[0], error);
  if (!uri) {
    std::cerr << "ERROR: bad device URI: " << error << "\n";
    return kStop;  // the queue stops and keeps the job until its URI is mended
  }
  UniqueFd file;
  if (argc == 7) {
    file.Reset(::open(argv[6], O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
      std::cerr << "ERROR: cannot open the job's file\n";
      return kFailed;
    }
  }
  // Copies are the backend's to make only for a job in a file (a raw queue); data on standard
  // input already holds them, made by the filters.
  int copies = 1;
  if (argc == 7) {
    const auto asked = ParseNumber<int>(argv[4]);
    if (!asked || *asked < 1) {
      std::cerr << "ERROR: bad number of copies: " << LogText(argv[4]) << "\n";
      return kFailed;
    }
    copies = *asked;
  }
  return backend.Print(*uri, argc == 7 ? file.get() : STDIN_FILENO, copies);
}
