// SPDX-License-Identifier: GPL-2.0-or-later
// The daemons' log: one line per notable event, prefixed with the program's short name so that
// several programs' logs can be told apart. Where a line goes is the sink's business: stderr in
// the daemons, a list in a test. Texts that come from peers pass through LogText first.
#pragma once

#include <functional>
#include <string>

#include "base/LogText.h"

namespace tessaro {

enum class LogLevel { Info, Warning, Error };

// Receives each whole line, prefix included, without its newline.
using LogSink = std::function<void(LogLevel level, const std::string& line)>;

// Writes each line to stderr at once (unbuffered), whatever its level.
LogSink StderrLogSink();

class Logger {
 public:
  // `program` starts every line ("busd" gives "busd: ...").
  Logger(std::string program, LogSink sink);

  void Info(const std::string& text) const { Write(LogLevel::Info, text); }
  // Said as "warning: TEXT": the daemon carries on.
  void Warning(const std::string& text) const { Write(LogLevel::Warning, "warning: " + text); }
  // What stops the daemon or refuses a request.
  void Error(const std::string& text) const { Write(LogLevel::Error, text); }
  // An Info line, for parts that take a plain line function.
  void operator()(const std::string& text) const { Info(text); }

 private:
  void Write(LogLevel level, const std::string& text) const;

  std::string prefix_;
  LogSink sink_;
};

}  // namespace tessaro
