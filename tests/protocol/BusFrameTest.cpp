// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "protocol/BusFrame.h"

using namespace tessaro;
using namespace tessaro::busipc;

TEST(BusFrame, RequestSurvivesByteByByteDelivery) {
  Request r{Op::Control, code::kLockDevice, 6, {1, 2, 3, 4, 5, 6}};
  const auto bytes = EncodeRequest(r);
  ASSERT_EQ(bytes.size(), 26u);
  RequestDecoder d;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    d.Feed({&bytes[i], 1});
    EXPECT_FALSE(d.Next().has_value());
  }
  d.Feed({&bytes.back(), 1});
  auto got = d.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->code, code::kLockDevice);
  EXPECT_EQ(got->outputLength, 6u);
  EXPECT_EQ(got->input, r.input);
}

TEST(BusFrame, MalformedRequestsBreakTheStream) {
  struct Case {
    const char* what;
    size_t offset;
    uint32_t value;
  } cases[] = {
      {"wrong magic", 0, 0x12345678},
      {"op 0", 4, 0},
      {"op 3", 4, 3},
      {"input too long", 12, kMaxPayload + 1},
      {"output too long", 16, kMaxPayload + 1},
  };
  for (const auto& c : cases) {
    auto bytes = EncodeRequest({Op::Control, 1, 4, {}});
    PutU32(&bytes[c.offset], c.value);
    RequestDecoder d;
    d.Feed(bytes);
    EXPECT_FALSE(d.Next()) << c.what;
    EXPECT_TRUE(d.broken()) << c.what;
  }
}

TEST(BusFrame, FailedReplyCarriesNoBytes) {
  auto bytes = EncodeReply({31u, {1, 2, 3}});
  ReplyDecoder d;
  d.Feed(bytes);
  auto r = d.Next();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 31u);
  EXPECT_TRUE(r->output.empty());
}
