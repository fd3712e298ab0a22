// SPDX-License-Identifier: GPL-2.0-or-later
// The command line's message boxes. Nobody can answer one here: its text becomes one line on
// standard error and it counts as answered, a question with No (so nothing is ever written over)
// and any other box with OK, the only button the boxes of a monitor or a saving run have.
#pragma once

#include <ostream>

#include "platform/UiPort.h"

namespace tessaro::cli {

// How a box reads as a line.
enum class ConsoleLine {
  Text,               // "TEXT": save-pages, whose lines are the saving window's own messages
  Program,            // "tessaro-cli: TEXT"
  ProgramAndCaption,  // "tessaro-cli: CAPTION: TEXT"
};

class ConsoleUi : public UiPort {
 public:
  ConsoleUi(std::ostream& err, ConsoleLine line) : err_(err), line_(line) {}
  int ShowMessage(const MessageRequest& request) override;
  int RunDialog(const DialogRequest&) override { return answer::kCancel; }

 private:
  std::ostream& err_;
  ConsoleLine line_;
};

}  // namespace tessaro::cli
