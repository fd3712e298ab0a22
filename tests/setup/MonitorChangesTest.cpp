// SPDX-License-Identifier: GPL-2.0-or-later
// Which print monitors the wizard stops and starts after a printer choice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/MonitorChanges.h"

namespace tessaro::setup {
namespace {

struct RecordedMonitors : SetupMonitors {
  std::vector<std::string> calls;
  void Stop(int index) override { calls.push_back("stop " + std::to_string(index)); }
  void Start(int index) override { calls.push_back("start " + std::to_string(index)); }
};

TEST(MonitorChanges, StopsAndStartsTheTouchedEntries) {
  struct Case {
    const char* name;
    int startCount, entryIndex, replacedIndex;
    bool enabled;
    int listCount;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"new entry", 2, 2, -1, true, 3, {"start 2"}},
      {"changed printer", 3, 1, -1, true, 3, {"stop 1", "start 1"}},
      {"took over another's printer", 3, 0, 2, true, 3, {"stop 2", "stop 0", "start 0"}},
      {"switched off", 3, 1, -1, false, 3, {"stop 1"}},
      {"no entry", 0, -1, -1, false, 0, {}},
      {"stale entry index", 3, 5, -1, true, 3, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WizardState state;
    state.startCount = c.startCount;
    state.entryIndex = c.entryIndex;
    state.replacedIndex = c.replacedIndex;
    state.printerEnabled = c.enabled;
    RecordedMonitors monitors;
    ApplyMonitorChanges(monitors, state, c.listCount);
    EXPECT_EQ(monitors.calls, c.calls);
  }
}

}  // namespace
}  // namespace tessaro::setup
