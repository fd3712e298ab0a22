// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Logger.h"

#include <cstdio>

namespace tessaro {

LogSink StderrLogSink() {
  return [](LogLevel, const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

Logger::Logger(std::string program, LogSink sink)
    : prefix_(std::move(program) + ": "), sink_(std::move(sink)) {}

void Logger::Write(LogLevel level, const std::string& text) const {
  if (sink_) sink_(level, prefix_ + text);
}

}  // namespace tessaro
