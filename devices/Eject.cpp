// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/Eject.h"

#include <cstdio>
#include <vector>

namespace tessaro {

namespace {

// The letter cases of the Windows format: vendor ID lower case, product ID upper case.
std::string UsbIdsText(uint16_t vendorId, uint16_t productId) {
  char text[32];
  std::snprintf(text, sizeof text, "Vid_%04x&Pid_%04X", vendorId, productId);
  return text;
}

}  // namespace

int EjectStorage(Registry& registry, PlugAndPlay& plugAndPlay, uint16_t vendorId,
                 uint16_t productId, const std::string& serial) {
  const std::string ids = UsbIdsText(vendorId, productId);
  RegKey key;
  if (registry.OpenKey(RegRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Enum\\USB\\" + ids,
                       regaccess::kRead, false, key) != regerr::kSuccess)
    return ejectresult::kNoDatabaseEntry;
  std::vector<std::string> instances;
  registry.EnumSubKeys(key, instances);
  const std::string* instance = nullptr;
  for (const std::string& name : instances) {
    if (serial.empty() || name == serial) {
      instance = &name;
      break;
    }
  }
  if (!instance) return ejectresult::kEjected;
  const std::string instanceId = "USB\\" + ids + "\\" + *instance;
  if (!plugAndPlay.LocateDevNode(instanceId)) return ejectresult::kNotPresent;
  uint32_t vetoType = 0;
  std::string vetoName;
  // A request that got no answer prepared nothing: the user decides, as for a veto.
  if (!plugAndPlay.RequestDeviceEject(instanceId, vetoType, vetoName)) return ejectresult::kRefused;
  return vetoType != 0 ? ejectresult::kRefused : ejectresult::kEjected;
}

std::string EjectDeviceDlg::Text() const {
  return "The device " + displayName_ +
         " is busy, please click \"Cancel\" to continue, or click \"Disconnect\" to hard stop the "
         "device.";
}

bool EjectDeviceDlg::Run(UiPort& ui) const {
  return ui.RunDialog({kDialogId, Text()}) == answer::kOk;
}

bool MayReleaseStorage(int ejectResult, UiPort& ui, const std::string& displayName) {
  if (ejectResult == ejectresult::kEjected || ejectResult == ejectresult::kNotPresent) return true;
  return EjectDeviceDlg(displayName).Run(ui);
}

}  // namespace tessaro
