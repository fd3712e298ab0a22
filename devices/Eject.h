// SPDX-License-Identifier: GPL-2.0-or-later
// The safe removal of a USB mass-storage device before it is released, and the dialog that asks
// the user what to do when the removal is refused.
#pragma once

#include <cstdint>
#include <string>

#include "base/Product.h"
#include "driver/PlugAndPlay.h"
#include "platform/Registry.h"
#include "platform/UiPort.h"

namespace tessaro {

// EjectStorage's results. Callers go ahead on kEjected and kNotPresent, and ask the user with
// TEjectDeviceDlg on kNoDatabaseEntry and kRefused.
namespace ejectresult {
inline constexpr int kEjected = 0;  // ready for removal, or no instance of it matches the serial
inline constexpr int kNoDatabaseEntry = -1;  // the device database has no key for its IDs
inline constexpr int kNotPresent = -2;       // its device node is not present: nothing to eject
inline constexpr int kRefused = -3;          // its server vetoed, or could not be asked
}  // namespace ejectresult

// Finds the device's instance under HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_vvvv&Pid_PPPP
// (read only): the first instance named exactly `serial`, or the first one for an empty serial;
// then asks whether its node is present and requests its eject. Returns an ejectresult.
int EjectStorage(Registry& registry, PlugAndPlay& plugAndPlay, uint16_t vendorId,
                 uint16_t productId, const std::string& serial);

// TEjectDeviceDlg without its form: the texts it shows and what its answer means.
class EjectDeviceDlg {
 public:
  static constexpr const char* kDialogId = "TEjectDeviceDlg";
  static constexpr const char* kCaption = ProductName;
  static constexpr const char* kDisconnectButton = "Disconnect";  // default, modal result 1
  static constexpr const char* kCancelButton = "Cancel";          // cancel, modal result 2

  explicit EjectDeviceDlg(std::string displayName) : displayName_(std::move(displayName)) {}

  // Label1's text for the device's display name.
  std::string Text() const;
  // Shows the dialog; true when the user chose "Disconnect" (release the device anyway), false
  // for "Cancel" or any other way of closing it.
  bool Run(UiPort& ui) const;

 private:
  std::string displayName_;
};

// The step every release of a storage device takes after EjectStorage: true to go on releasing
// it (ejected, not present, or the user chose "Disconnect" in the dialog), false to keep it.
bool MayReleaseStorage(int ejectResult, UiPort& ui, const std::string& displayName);

}  // namespace tessaro
