// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace tessaro::testing {

namespace {

// This process's environment with `extra` laid over it, built before the child exists.
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (extra.count(name) == 0) entries.push_back(entry);
  }
  for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, const SpawnOutput& output) {
  std::vector<std::string> argvTexts{program};
  argvTexts.insert(argvTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts = ChildEnvironment(env);
  std::vector<char*> argv = Pointers(argvTexts);
  std::vector<char*> envp = Pointers(envTexts);
  const int flags = O_WRONLY | O_CREAT | (output.append ? O_APPEND : O_TRUNC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.out.c_str(), flags, 0600);
  if (output.err == output.out)
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, output.err.c_str(), flags, 0600);
  pid_t pid = -1;
  const int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(),
                                   envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return failed != 0 ? -1 : pid;
}

}  // namespace tessaro::testing
