// SPDX-License-Identifier: GPL-2.0-or-later
// Text between the core's std::string (UTF-8, as Linux keeps names and paths) and Qt's QString.
// Every form converts through these, so a name reads the same wherever it is shown or taken.
#pragma once

#include <QString>
#include <string>

namespace tessaro {

inline QString ToQString(const std::string& text) { return QString::fromStdString(text); }
inline QString ToQString(const char* text) { return QString::fromUtf8(text); }
inline std::string ToStdString(const QString& text) { return text.toStdString(); }

}  // namespace tessaro
