// SPDX-License-Identifier: GPL-2.0-or-later
// The web page's status.json: names pass as UTF-8 where they are UTF-8, and every other byte is
// escaped, so the document is valid JSON whatever bytes a name holds.
#include <gtest/gtest.h>

#include "hubd/Hub.h"
#include "hubd/StatusJson.h"
#include "tests/support/FakeClock.h"
#include "tests/support/JsonCheck.h"

using namespace tessaro;
using namespace tessaro::hubd;

TEST(StatusJson, NamesOfAnyBytesStayValidJson) {
  struct Case {
    const char* label;
    std::string name;
    std::string quoted;  // as the document must carry it
  } cases[] = {
      {"UTF-8 as it is", "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8",
       "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8\""},
      {"a Latin-1 byte", "Caf\xE9", "\"Caf\\u00e9\""},
      {"a sequence cut short", "A\xE2\x82", "\"A\\u00e2\\u0082\""},
      {"an overlong form", "\xC0\xAF", "\"\\u00c0\\u00af\""},
      {"a surrogate", "\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
      {"quotes and controls", "\"a\\\x01\x7F", "\"\\\"a\\\\\\u0001\\u007f\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    HubConfig config;
    config.server.name = c.name;
    DeviceConfig device;
    device.number = 1;
    device.product = c.name;
    config.devices.push_back(device);
    tessaro::testing::FakeClock clock;
    PinStore pins("", nullptr);
    Hub hub(config, clock, wire::kVersionMajor, pins, nullptr);
    const std::string json = StatusJson(hub, false, false);
    EXPECT_TRUE(tessaro::testing::JsonCheck::IsDocument(json)) << json;
    EXPECT_NE(json.find("\"name\":" + c.quoted), std::string::npos) << json;
    EXPECT_NE(json.find("\"product\":" + c.quoted), std::string::npos) << json;
  }
}
