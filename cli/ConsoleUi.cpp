// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/ConsoleUi.h"

namespace tessaro::cli {

int ConsoleUi::ShowMessage(const MessageRequest& request) {
  if (line_ != ConsoleLine::Text) err_ << "tessaro-cli: ";
  if (line_ == ConsoleLine::ProgramAndCaption) err_ << request.caption << ": ";
  err_ << request.text << '\n' << std::flush;
  const uint32_t buttons = request.flags & 0xF;
  return buttons == mb::kYesNo || buttons == mb::kYesNoCancel ? answer::kNo : answer::kOk;
}

}  // namespace tessaro::cli
