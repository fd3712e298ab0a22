// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/Command.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/Spawn.h"

namespace tessaro::testing {

namespace {

std::string ReadAndRemove(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  ::unlink(path.c_str());
  return ss.str();
}

std::string TempFile() {
  char tmpl[] = "/tmp/tessaro-cmd.XXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd >= 0) ::close(fd);
  return tmpl;
}

}  // namespace

std::vector<std::string> CommandResult::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env) {
  const std::string outPath = TempFile(), errPath = TempFile();
  CommandResult result;
  const pid_t pid = SpawnProgram(program, args, env, {outPath, errPath});
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  result.out = ReadAndRemove(outPath);
  result.err = ReadAndRemove(errPath);
  return result;
}

std::string ReadAndClose(std::FILE* stream) {
  std::rewind(stream);
  std::string text;
  for (int c; (c = std::fgetc(stream)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(stream);
  return text;
}

namespace {

class FlatJsonParser {
 public:
  explicit FlatJsonParser(const std::string& s) : s_(s) {}

  std::map<std::string, std::string> Parse() {
    std::map<std::string, std::string> members;
    Expect('{');
    Skip();
    if (Peek() == '}') return members;
    for (;;) {
      std::string key = String();
      Expect(':');
      Skip();
      members[key] = Peek() == '"' ? String() : Bare();
      Skip();
      if (Peek() == '}') break;
      Expect(',');
    }
    return members;
  }

 private:
  void Skip() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
  void Expect(char c) {
    Skip();
    if (Peek() != c)
      throw std::runtime_error("bad JSON near offset " + std::to_string(pos_) + ": " + s_);
    ++pos_;
  }
  std::string String() {
    Expect('"');
    std::string v;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c == '\\') {
        if (pos_ >= s_.size()) break;
        const char e = s_[pos_++];
        if (e == 'u') {
          if (pos_ + 4 > s_.size()) throw std::runtime_error("bad escape");
          c = static_cast<char>(std::stoi(s_.substr(pos_, 4), nullptr, 16));
          pos_ += 4;
        } else {
          c = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
        }
      }
      v += c;
    }
    Expect('"');
    return v;
  }
  std::string Bare() {
    const size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] != ',' && s_[pos_] != '}' && s_[pos_] != ' ') ++pos_;
    return s_.substr(start, pos_ - start);
  }
  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

std::map<std::string, std::string> ParseFlatJson(const std::string& line) {
  return FlatJsonParser(line).Parse();
}

}  // namespace tessaro::testing
