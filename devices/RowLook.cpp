// SPDX-License-Identifier: GPL-2.0-or-later
#include "devices/RowLook.h"
#include "base/AsciiText.h"

#include "records/DeviceTypes.h"
#include "records/StateText.h"

namespace tessaro {

namespace {

bool ContainsUnknown(const std::string& type) {
  return type.find(devtype::kUnknown) != std::string::npos;
}

}  // namespace

RowLook LookOfRow(const DeviceData& d, const std::string& computerName) {
  RowLook look;
  look.caption = d.displayName;
  look.stateText = d.stateText;
  look.imageIndex = ImageIndexOf(d.type);
  if (d.stateText == statetext::kAvailable) {
    look.overlayIndex = 2;
  } else if (d.stateText.find(" - Use By") != std::string::npos) {
    const bool ownUse = d.owner == computerName;
    look.stateColour = ownUse ? rowcolour::kOwnUse : rowcolour::kOtherUse;
    look.overlayIndex = ownUse ? 0 : 1;
  }
  return look;
}

bool RowLess(const DeviceData& a, const DeviceData& b) {
  const bool unknownA = ContainsUnknown(a.type);
  const bool unknownB = ContainsUnknown(b.type);
  if (unknownA != unknownB) return unknownB;
  for (auto field : {&DeviceData::type, &DeviceData::manufacturer, &DeviceData::product,
                     &DeviceData::deviceNumber}) {
    const int c = CompareNoCase(a.*field, b.*field);
    if (c != 0) return c < 0;
  }
  return false;
}

}  // namespace tessaro
