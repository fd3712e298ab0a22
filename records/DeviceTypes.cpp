// SPDX-License-Identifier: GPL-2.0-or-later
#include "records/DeviceTypes.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "records/Records.h"

namespace tessaro {

bool IsType(const std::string& type, const char* word) { return EqualsNoCase(type, word); }

// Scanner ids come from stored value names, which match without regard to case.
bool InScannerIdList(const std::string& scannerIdentity, const std::vector<std::string>& ids) {
  return std::any_of(ids.begin(), ids.end(),
                     [&](const std::string& id) { return EqualsNoCase(id, scannerIdentity); });
}

std::string NormalizeDeviceType(const std::string& reported, const std::string& vendorId,
                                const std::string& productId,
                                const std::vector<std::string>& scannerIds) {
  using namespace devtype;
  for (const char* known : {kMfp, kPrinter, kMassStorage, kScanner}) {
    if (IsType(reported, known)) return reported;
  }
  if (InScannerIdList(ScannerIdentityText(vendorId, productId), scannerIds)) return kMarkedScanner;
  return IsType(reported, kUnknown) ? reported : std::string(kUnknown);
}

int ImageIndexOf(const std::string& type) {
  using namespace devtype;
  if (IsType(type, kMfp)) return 0;
  if (IsType(type, kPrinter)) return 1;
  if (IsType(type, kMassStorage)) return 2;
  if (IsType(type, kScanner)) return 3;
  return 4;
}

}  // namespace tessaro
