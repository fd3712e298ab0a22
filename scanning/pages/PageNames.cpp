// SPDX-License-Identifier: GPL-2.0-or-later
#include "scanning/pages/PageNames.h"

#include <strings.h>

namespace tessaro {

TargetParts SplitTarget(const std::string& targetFileName) {
  TargetParts parts;
  const auto slash = targetFileName.rfind('/');
  const auto dot = targetFileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    parts.base = targetFileName;
    return parts;
  }
  parts.base = targetFileName.substr(0, dot);
  parts.ext = targetFileName.substr(dot);
  if (::strcasecmp(parts.ext.c_str(), ".bmp") == 0) parts.format = SaveFormat::Bmp;
  if (::strcasecmp(parts.ext.c_str(), ".jpg") == 0) parts.format = SaveFormat::Jpg;
  if (::strcasecmp(parts.ext.c_str(), ".pdf") == 0) parts.format = SaveFormat::Pdf;
  return parts;
}

std::string PageFileName(const std::string& base, int32_t page, const std::string& ext) {
  return page <= 1 ? base + ext : base + "_" + std::to_string(page) + ext;
}

}  // namespace tessaro
