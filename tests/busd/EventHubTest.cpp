// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "busd/EventHub.h"

using namespace tessaro::busd;

namespace {

std::vector<uint8_t> Record(uint8_t tag) { return {1, tag}; }

// Steps of a scenario on one hub: connections 1 and 2 belong to process 100, 3 to process 200.
struct Step {
  enum { Read, Publish, Wake, Open, Close } what;
  int argument;  // connection (Read, Open, Close; Open gives it process 200), record tag (Publish),
                 // pid (Wake)
  // What must come out: for Read, the immediate answer (-1 pending, 0 woken, else the tag);
  // for Publish and Wake, the connections answered, in order.
  std::vector<int> expect;
};

std::vector<int> Connections(const std::vector<EventDelivery>& deliveries, bool wake) {
  std::vector<int> ids;
  for (const auto& d : deliveries) {
    EXPECT_EQ(d.record.empty(), wake);
    ids.push_back(d.connection);
  }
  return ids;
}

struct Scenario {
  const char* name;
  std::vector<Step> steps;
};

}  // namespace

TEST(EventHub, Scenarios) {
  const Scenario scenarios[] = {
      {"a pending read gets the next event",
       {{Step::Read, 1, {-1}}, {Step::Publish, 7, {1}}, {Step::Read, 1, {-1}}}},
      {"a reader registered after an event does not get it",
       {{Step::Publish, 7, {}}, {Step::Read, 1, {-1}}, {Step::Publish, 8, {1}}}},
      {"events queue while no read is pending, in order",
       {{Step::Read, 1, {-1}},
        {Step::Publish, 1, {1}},
        {Step::Publish, 2, {}},
        {Step::Publish, 3, {}},
        {Step::Read, 1, {2}},
        {Step::Read, 1, {3}},
        {Step::Read, 1, {-1}}}},
      {"every reader gets every event",
       {{Step::Read, 1, {-1}}, {Step::Read, 3, {-1}}, {Step::Publish, 5, {1, 3}}}},
      {"a wake answers every pending read of that process only",
       {{Step::Read, 1, {-1}},
        {Step::Read, 2, {-1}},
        {Step::Read, 3, {-1}},
        {Step::Wake, 100, {1, 2}},
        {Step::Publish, 9, {3}},
        {Step::Read, 1, {9}}}},
      {"a wake finding no pending read is kept for that process's next read",
       {{Step::Wake, 100, {}}, {Step::Read, 3, {-1}}, {Step::Read, 2, {0}}, {Step::Read, 1, {-1}}}},
      {"a kept wake comes before queued events",
       {{Step::Read, 1, {-1}},
        {Step::Publish, 4, {1}},
        {Step::Publish, 5, {}},
        {Step::Wake, 100, {}},
        {Step::Read, 1, {0}},
        {Step::Read, 1, {5}}}},
      {"a kept wake dies with the process's last connection",
       {{Step::Wake, 200, {}}, {Step::Close, 3, {}}, {Step::Open, 4, {}}, {Step::Read, 4, {-1}}}},
      {"a closed reader gets nothing more",
       {{Step::Read, 1, {-1}},
        {Step::Close, 1, {}},
        {Step::Publish, 1, {}},
        {Step::Wake, 100, {}}}},
  };
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    EventHub hub;
    hub.AddConnection(1, 100);
    hub.AddConnection(2, 100);
    hub.AddConnection(3, 200);
    for (size_t i = 0; i < s.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const Step& step = s.steps[i];
      switch (step.what) {
        case Step::Read: {
          const auto got = hub.BeginRead(step.argument);
          const int answer = !got ? -1 : got->empty() ? 0 : (*got)[1];
          EXPECT_EQ(std::vector<int>{answer}, step.expect);
          break;
        }
        case Step::Publish:
          EXPECT_EQ(Connections(hub.Publish(Record(static_cast<uint8_t>(step.argument))), false),
                    step.expect);
          break;
        case Step::Wake: EXPECT_EQ(Connections(hub.Wake(step.argument), true), step.expect); break;
        case Step::Open: hub.AddConnection(step.argument, 200); break;
        case Step::Close: hub.RemoveConnection(step.argument); break;
      }
    }
  }
}

TEST(EventHub, QueueKeepsThe256NewestRecords) {
  EventHub hub;
  hub.AddConnection(1, 100);
  ASSERT_FALSE(hub.BeginRead(1));
  ASSERT_EQ(hub.Publish({1, 0, 0}).size(), 1u);  // answers the pending read
  for (int i = 0; i < 300; ++i)
    hub.Publish({1, static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8)});
  EXPECT_EQ(hub.QueuedFor(1), kMaxQueuedEvents);
  const auto first = hub.BeginRead(1);
  ASSERT_TRUE(first);
  EXPECT_EQ((*first)[1] | ((*first)[2] << 8), 300 - 256);  // the 44 oldest were dropped
  int last = 0;
  for (size_t i = 1; i < kMaxQueuedEvents; ++i) {
    const auto r = hub.BeginRead(1);
    ASSERT_TRUE(r);
    last = (*r)[1] | ((*r)[2] << 8);
  }
  EXPECT_EQ(last, 299);
  EXPECT_FALSE(hub.BeginRead(1));
}
