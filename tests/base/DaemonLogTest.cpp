// SPDX-License-Identifier: GPL-2.0-or-later
// The plumbing busd and hubd share: their log lines and how they read their command lines.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/Logger.h"
#include "base/OptionReader.h"
#include "base/SystemdNotify.h"

namespace tessaro {
namespace {

TEST(Logger, EachLineCarriesTheProgramAndItsLevelReachesTheSink) {
  std::vector<std::pair<LogLevel, std::string>> lines;
  const Logger log(
      "busd", [&](LogLevel level, const std::string& line) { lines.emplace_back(level, line); });
  log.Info("ready");
  log.Warning("no discovery socket");
  log.Error("cannot bind /run/tessaro/trunk/0");
  log("Spur 0 serves 10.0.0.7");  // as a plain line function
  EXPECT_EQ(lines, (std::vector<std::pair<LogLevel, std::string>>{
                       {LogLevel::Info, "busd: ready"},
                       {LogLevel::Warning, "busd: warning: no discovery socket"},
                       {LogLevel::Error, "busd: cannot bind /run/tessaro/trunk/0"},
                       {LogLevel::Info, "busd: Spur 0 serves 10.0.0.7"}}));
}

TEST(ReadOptions, PairsAndSwitchesInAnyOrderUntilTheFirstFailure) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::string> applied;  // "name=value", in order
    std::string failure;               // empty: the reading succeeds
  } cases[] = {
      {"nothing", {}, {}, ""},
      {"pairs and a switch",
       {"--port", "2005", "--quiet", "--config", "h.ini"},
       {"--port=2005", "--quiet=", "--config=h.ini"},
       ""},
      {"a value that looks like an option is still the value",
       {"--name", "--quiet"},
       {"--name=--quiet"},
       ""},
      {"the last option lacks its value",
       {"--quiet", "--port"},
       {"--quiet="},
       "option '--port' needs a value"},
      {"the first refusal ends the reading",
       {"--bad", "1", "--port", "2"},
       {"--bad=1"},
       "bad --bad 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> applied;
    const auto read = ReadOptions(
        c.args, {"--quiet"}, [&](const std::string& name, const std::string& value) -> Result<> {
          applied.push_back(name + "=" + value);
          if (name == "--bad") return Failure("bad --bad " + value);
          return {};
        });
    EXPECT_EQ(applied, c.applied);
    EXPECT_EQ(read ? std::string() : read.error(), c.failure);
  }
}

TEST(SystemdNotify, ReloadingCarriesTheMonotonicTime) {
  const std::string state = ReloadingState();
  const std::string prefix = "RELOADING=1\nMONOTONIC_USEC=";
  ASSERT_EQ(state.rfind(prefix, 0), 0u) << state;
  const std::string micros = state.substr(prefix.size());
  ASSERT_FALSE(micros.empty());
  EXPECT_EQ(micros.find_first_not_of("0123456789"), std::string::npos) << state;
}

}  // namespace
}  // namespace tessaro
