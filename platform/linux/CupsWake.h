// SPDX-License-Identifier: GPL-2.0-or-later
// The wake-up path from cupsd to a client's notification reader. cupsd runs our notifier for a
// subscription whose recipient is "tessaro:/NAME"; for each event the notifier sends one empty
// datagram to the abstract Unix socket NAME, where the reader waits. The datagram carries nothing:
// the reader asks cupsd what happened, so a lost or forged wake-up costs one reading at most.
#pragma once

#include <optional>
#include <string>

#include "base/FileHandle.h"

namespace tessaro {

inline constexpr const char* kWakeScheme = "tessaro";

// The socket name a recipient URI names, when it is ours and the name is sound: 1 to 64 of
// letters, digits, '.', '_' and '-'.
std::optional<std::string> WakeNameOfRecipient(const std::string& uri);
std::string RecipientOfWakeName(const std::string& name);

// A datagram socket bound to a new abstract name, non-blocking; `name` receives the name.
UniqueFd OpenWakeSocket(std::string& name);
// Sends one wake-up to `name`; false when nobody listens (the reader is gone) or it is full.
bool SendWake(int fd, const std::string& name);
// Reads every waiting wake-up; true when there was one.
bool DrainWakes(int fd);

}  // namespace tessaro
