// SPDX-License-Identifier: GPL-2.0-or-later
// Scan Now: a scanner or MFP on a server made this PC's for one scan session. The device must be
// known to the device database as a scanner; it is linked (unless this PC holds it already),
// locked for scanning (kind 1, 1200 s), given two seconds to come up, and handed to the TWAIN
// path (emulated Windows 2000 and NT 4.0) or the WIA path (any later version). Afterwards only
// the lock is dropped: the device stays linked to this PC.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "driver/DriverClient.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/Registry.h"
#include "platform/UiPort.h"
#include "records/Records.h"

namespace tessaro {

namespace scannow {
inline constexpr char kNotScanner[] = "The printer does not support scan function !!!";
inline constexpr char SNo_TWAIN_Driver[] = "No TWAIN driver was found on this system.";
inline constexpr char SFail_Link[] = "Connect device failed !";
inline constexpr char kNoScanDriver[] =
    "Can not find scan driver ! \n\nPlease check device status or contact system manager !";
inline constexpr uint32_t kScanLockSeconds = 1200;
inline constexpr int kSettleSteps = 10;
inline constexpr Clock::Duration kSettleStep{200};
}  // namespace scannow

// The two scan paths, run on the device snapshot taken after the lock.
class ScanPaths {
 public:
  virtual ~ScanPaths() = default;
  // TWAIN only: whether the source manager is there (initialising it the first time).
  virtual bool TwainReady() = 0;
  // The TWAIN session with the source named `scanNameTwain`: false when no source has that name.
  // `lockHeld` starts true; the scan window clears it when its idle timer dropped the lock.
  virtual bool RunTwain(const DeviceData& snapshot, const std::string& scanNameTwain,
                        bool& lockHeld) = 0;
  // The WIA sessions on the device the database names `wiaDeviceId`.
  virtual void RunWia(const DeviceData& snapshot, const std::string& wiaDeviceId) = 0;
};

struct ScanNowServices {
  DriverClient& driver;
  Registry& userHive;     // the device's stored entry (its TWAIN source name)
  Registry& machineHive;  // the device database
  UiPort& ui;
  EventPump& pump;
  Clock& clock;
  std::string appKey;
  std::string computerName;
  uint32_t windowsVersionFlags = 0;
  // The device's row as the list holds it now (it may have been rebuilt meanwhile), or nullopt.
  std::function<std::optional<DeviceData>(const DeviceData& snapshot)> findRowAgain;
  std::function<void(bool busy)> busyCursor;
  // How many 200 ms steps the device is given to come up after the lock: the local system
  // needs them to bring the linked device up, a client that scans through the server's scan
  // service does not.
  int settleSteps = scannow::kSettleSteps;
};

enum class ScanNowOutcome {
  Ignored,  // another Scan Now runs, or the row has no open bus
  NotScanner,
  NoTwain,
  LinkFailed,
  LockFailed,
  Scanned,  // a scan path ran; the lock was dropped if the device could still be found
};

// True when the emulated Windows version scans through TWAIN.
bool UsesTwainPath(uint32_t windowsVersionFlags);

class ScanNow {
 public:
  explicit ScanNow(ScanNowServices services) : services_(std::move(services)) {}
  ScanNowOutcome Run(const DeviceData& row, ScanPaths& paths);
  bool Busy() const { return busy_; }

 private:
  ScanNowOutcome Scan(const DeviceData& row, ScanPaths& paths);
  void Say(const std::string& text, bool topMostBox);
  void Release(const DeviceData& snapshot);

  ScanNowServices services_;
  bool busy_ = false;  // ScanNowBusy
};

}  // namespace tessaro
