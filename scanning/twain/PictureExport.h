// SPDX-License-Identifier: GPL-2.0-or-later
// "Save this picture as": one page file (BMP or JPEG) written as a JPEG, a BMP or a one-page
// PDF, chosen by the target's extension, with its resolution stamped in.
#pragma once

#include <cstdint>
#include <string>

namespace tessaro::twain {

enum class ExportResult { kWritten, kNothingToWrite, kFailed };

// Writes `source` as `target` (".jpg"/".jpeg", ".bmp" or ".pdf" in any case; anything else
// writes nothing). The file appears whole or not at all, and an existing one is replaced only
// with `replace`.
ExportResult ExportPicture(const std::string& source, const std::string& target, int32_t dpi,
                           bool replace);

}  // namespace tessaro::twain
