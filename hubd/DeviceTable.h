// SPDX-License-Identifier: GPL-2.0-or-later
// Who owns which device and who holds a lock on it. PCs are known by their computer names.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/WinError.h"
#include "hubd/Config.h"
#include "platform/Clock.h"
#include "protocol/HubWire.h"

namespace tessaro::hubd {

// What each result means to a PC, as the Windows error number the client expects.
inline constexpr uint32_t kStatusOk = winerr::kSuccess;
inline constexpr uint32_t kStatusInvalidFunction = winerr::kInvalidFunction;
inline constexpr uint32_t kStatusRefused = winerr::kGenFailure;
inline constexpr uint32_t kStatusBadPayload = winerr::kInvalidParameter;
inline constexpr uint32_t kStatusNotFound = winerr::kNotFound;
// Print data for a device that is no printer with an output folder.
inline constexpr uint32_t kStatusNotSupported = winerr::kNotSupported;
// Print data from a PC that does not own the device.
inline constexpr uint32_t kStatusNotReady = winerr::kNotReady;
// A Hello whose proof fails, or whose key is not the one pinned for its computer name.
inline constexpr uint32_t kStatusAccessDenied = winerr::kAccessDenied;
// A real printer's job dropped because the printer is out of paper (ERROR_OUT_OF_PAPER).
inline constexpr uint32_t kStatusOutOfPaper = 28;

class DeviceTable {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // changed: the list a PC sees is now different, so exactly one change notice is due.
  struct Outcome {
    uint32_t status = kStatusOk;
    bool changed = false;
  };

  explicit DeviceTable(const Clock& clock) : clock_(clock) {}

  Outcome Link(uint8_t number, const std::string& pc);
  Outcome Unlink(uint8_t number, const std::string& pc);
  Outcome Lock(uint8_t number, const std::string& pc, uint8_t kind, uint32_t seconds);
  Outcome Unlock(uint8_t number, const std::string& pc, uint32_t lingerSeconds);
  // An eject asked by `pc`: refused unless it owns the device; otherwise the device's veto (type
  // 0 for none). Without a veto the server prepares the device for removal: the device stays
  // linked and locked, so the owner's unlock and unlink that follow succeed.
  struct EjectOutcome {
    uint32_t status = kStatusOk;
    wire::EjectReply reply;  // meaningful when status is kStatusOk
  };
  EjectOutcome Eject(uint8_t number, const std::string& pc) const;
  // Sets the veto later ejects get, until the config is reloaded. kStatusOk or kStatusNotFound.
  uint32_t SetEjectVeto(uint8_t number, uint32_t vetoType, const std::string& vetoName);

  // The owner a request to use goes to: nullopt for no such device, empty for a free one.
  std::optional<std::string> OwnerOf(uint8_t number) const;
  // When the device's lock ends (or its linger after an unlock); nullopt without a lock.
  std::optional<TimePoint> LockEndOf(uint8_t number) const;
  // The device's config; nullptr for no such device.
  const DeviceConfig* ConfigOf(uint8_t number) const;

  // Ends every lock whose time is up; true when that changed the list.
  bool Expire();
  std::optional<TimePoint> NextDeadline() const;

  // Takes a new device list; a device keeping its number, vendor and product ID keeps its owner
  // and lock, every other one starts free. With `keepVetoes` (the same config, other devices
  // plugged in or out) such a device also keeps a veto set while hubd runs. True when the list a
  // PC sees changed.
  bool Replace(const std::vector<DeviceConfig>& devices, bool keepVetoes = false);

  std::vector<wire::DeviceInfo> List() const;
  // The server whose SANE port PCs scan through: scanners are then listed by their net: names.
  void SetSaneServer(std::string address) { saneServer_ = std::move(address); }

 private:
  struct Entry {
    DeviceConfig config;
    std::string owner;  // empty: free
    bool locked = false;
    uint8_t lockKind = 0;
    TimePoint lockEnd{};  // the lock's expiry, or the end of its linger after an unlock
  };

  Entry* Find(uint8_t number);
  const Entry* Find(uint8_t number) const;
  static void EndLock(Entry& e);

  const Clock& clock_;
  std::vector<Entry> entries_;  // sorted by number
  std::string saneServer_;      // empty: PCs are told the server's own SANE names
};

}  // namespace tessaro::hubd
