// SPDX-License-Identifier: GPL-2.0-or-later
// The device type words and their list images. Type words compare without regard to case.
#pragma once

#include <string>
#include <vector>

namespace tessaro {

namespace devtype {
inline constexpr const char* kMfp = "MFP";
inline constexpr const char* kPrinter = "PRINTER";
inline constexpr const char* kScanner = "SCANNER";
inline constexpr const char* kMassStorage = "MASS STORAGE";
inline constexpr const char* kUnknown = "UNKNOWN";
inline constexpr const char* kMarkedScanner = "Scanner";  // an unknown device the user marked
}  // namespace devtype

bool IsType(const std::string& type, const char* word);
bool InScannerIdList(const std::string& scannerIdentity, const std::vector<std::string>& ids);

// The type a device is stored with: a known word as reported, any other word "UNKNOWN", and
// an unknown device whose scanner identity is in `scannerIds` "Scanner".
std::string NormalizeDeviceType(const std::string& reported, const std::string& vendorId,
                                const std::string& productId,
                                const std::vector<std::string>& scannerIds);

// MFP 0, PRINTER 1, MASS STORAGE 2, SCANNER 3, anything else 4.
int ImageIndexOf(const std::string& type);

}  // namespace tessaro
