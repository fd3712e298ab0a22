// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tessaro::testing {

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<std::string> Lines() const;  // non-empty lines of standard output
};

// Runs a program to its end with extra environment variables; standard output and error kept.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {});

// Everything written to a temporary stream (e.g. a tmpfile() that stood in for standard output),
// from its start; the stream is closed.
std::string ReadAndClose(std::FILE* stream);

// One flat JSON object (as tessaro-cli --json prints per line): each member's value as text,
// strings unescaped (\u00XX becomes that byte), numbers and booleans as written.
// Throws std::runtime_error on anything else.
std::map<std::string, std::string> ParseFlatJson(const std::string& line);

}  // namespace tessaro::testing
