// SPDX-License-Identifier: GPL-2.0-or-later
// Names of the files of one scanned group.
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

enum class SaveFormat { Bmp, Jpg, Pdf, Other };

struct TargetParts {
  std::string base;  // the target name without its extension
  std::string ext;   // the extension with its dot, as written ("" when there is none)
  SaveFormat format = SaveFormat::Other;
};

// Splits a target file name; the extension is the part after the last dot of the file name
// and is compared ignoring case.
TargetParts SplitTarget(const std::string& targetFileName);

// base + ext for page 1, base + "_" + k + ext for page k ≥ 2 (no leading zeros).
std::string PageFileName(const std::string& base, int32_t page, const std::string& ext);

}  // namespace tessaro
