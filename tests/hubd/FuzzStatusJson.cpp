// SPDX-License-Identifier: GPL-2.0-or-later
// The web page's status.json with arbitrary bytes in every name it shows (the server's, the
// devices' texts, the PCs' computer names, which also own devices): always one valid JSON
// document in well-formed UTF-8, for an administrator and for anyone else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hubd/Hub.h"
#include "hubd/Session.h"
#include "hubd/StatusJson.h"
#include "tests/hubd/Handshake.h"
#include "tests/support/JsonCheck.h"

using namespace tessaro;
using namespace tessaro::hubd;

namespace {

class FixedClock : public Clock {
 public:
  std::chrono::steady_clock::time_point Now() const override { return {}; }
  std::chrono::system_clock::time_point WallNow() const override { return {}; }
  void Sleep(Duration) override {}
};

// The input cut at each 0xFF byte into the names, in order; missing ones are empty.
std::vector<std::string> Names(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> names(count);
  size_t n = 0;
  for (size_t i = 0; i < size && n < count; ++i) {
    if (data[i] == 0xFF)
      ++n;
    else
      names[n] += static_cast<char>(data[i]);
  }
  return names;
}

wire::PcKey KeyOf(uint8_t which) {
  wire::KeySeed seed{};
  seed.fill(which);
  return wire::PcKey::FromSeed(seed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto names = Names(data, size, 8);
  HubConfig config;
  config.server.name = names[0];
  for (uint8_t number = 1; number <= 2; ++number) {
    DeviceConfig d;
    d.number = number;
    d.type = names[1];
    d.manufacturer = names[2 + number - 1];
    d.product = names[4];
    d.serial = names[5];
    config.devices.push_back(d);
  }
  FixedClock clock;
  PinStore pins("", nullptr);
  Hub hub(config, clock, wire::kVersionMajor, pins, nullptr);
  // Two PCs named by the input, each linking a device so that it shows as its owner.
  std::vector<std::unique_ptr<Session>> pcs;
  for (uint8_t i = 0; i < 2; ++i) {
    const std::string& name = names[6 + i];
    auto pc = std::make_unique<Session>(hub, 0x0500007Fu + (uint32_t{i} << 24), "pc");
    hubd::testing::Greet(hub, *pc, name, KeyOf(static_cast<uint8_t>('A' + i)));
    const uint8_t device = static_cast<uint8_t>(1 + i);
    pc->Receive(wire::EncodeFrame({wire::MsgType::Link, 0, 3,
                                   wire::EncodeDeviceCommand(wire::MsgType::Link, {device, 0, 0})}));
    hubd::testing::TakeFrames(*pc);
    pcs.push_back(std::move(pc));
  }
  for (const bool admin : {true, false})
    if (!tessaro::testing::JsonCheck::IsDocument(StatusJson(hub, admin, admin))) std::abort();
  return 0;
}
