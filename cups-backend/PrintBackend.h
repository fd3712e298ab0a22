// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS backend's work over the virtual bus: listing the printers of every server (discovery)
// and carrying one job to the printer a device URI names, waiting for as long as the device is
// not linked to this PC. Nothing here knows about processes or signals; main does.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "base/Result.h"
#include "driver/DriverClient.h"
#include "platform/BusTransport.h"
#include "platform/Clock.h"
#include "printing/DeviceUri.h"

namespace tessaro::backend {

// The exit statuses CUPS knows.
enum ExitStatus : int { kOk = 0, kFailed = 1, kStop = 4, kRetry = 6 };

// The CUPS printer-state reason a server's status for a job stands for (the real printer's own
// state, read at the server), or nullptr when it names none.
const char* PrinterStateReason(uint32_t status);

class PrintBackend {
 public:
  static constexpr auto kLookAgain = std::chrono::seconds(2);
  static constexpr auto kSpurWait = std::chrono::seconds(5);

  // `out` gets discovery lines, `messages` the INFO/STATE/ERROR lines CUPS reads.
  PrintBackend(BusTransport& bus, Clock& clock, std::ostream& out, std::ostream& messages);

  int Discover();
  // Reads the job from `input` (a descriptor) and sends it whole, `copies` times (each copy read
  // again from the start, so `input` must then be a file), or returns kRetry when sending failed
  // part-way: CUPS then sends it again. Waits while the device is not linked here.
  int Print(const DeviceUri& uri, int input, int copies = 1);

 private:
  struct Target {
    BusHandle spur = kInvalidBusHandle;
    uint8_t number = 0;
    std::string owner;
  };
  // The device the URI names, its Spur open; fails with why when it cannot be had now.
  Result<Target> Find(const DeviceUri& uri);
  // The open Spur of server `ip`, attaching it when busd has none yet.
  BusHandle SpurOf(BusHandle trunk, const std::string& ip);
  void Wait(const std::string& why);
  // One copy of the job, read from where `input` stands.
  int SendJob(const DeviceUri& uri, int input);
  // The first piece goes once the device takes it: kOk, or the status to exit with.
  int SendFirst(const DeviceUri& uri, const std::vector<uint8_t>& piece, bool whole, Target& t);

  BusTransport& bus_;
  Clock& clock_;
  DriverClient driver_;
  std::ostream& out_;
  std::ostream& messages_;
  // A printer-state reason the printer reported, set with STATE: + until the job goes.
  void SetPrinterState(const char* reason);
  std::string waitingFor_;  // the reason last reported, so each is said once
  std::string printerState_;
};

}  // namespace tessaro::backend
