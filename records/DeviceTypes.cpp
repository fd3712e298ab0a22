// SPDX-License-Identifier: GPL-2.0-or-later
#include "records/DeviceTypes.h"

#include <algorithm>

#include "records/Records.h"

namespace tessaro {

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

int CompareIgnoreCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(AsciiUpper(a[i]));
    const auto y = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool IsType(const std::string& type, const char* word) { return EqualsIgnoreCase(type, word); }

// Scanner ids come from stored value names, which match without regard to case.
bool InScannerIdList(const std::string& scannerIdentity, const std::vector<std::string>& ids) {
  return std::any_of(ids.begin(), ids.end(),
                     [&](const std::string& id) { return EqualsIgnoreCase(id, scannerIdentity); });
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
