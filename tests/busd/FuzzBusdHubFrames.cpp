// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as a device server's stream into busd's hub-connection handling; what the
// server reports goes through the same builders busd answers programs with. A Challenge in the
// stream is answered with a Proof, as it would be.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "busd/HubSession.h"
#include "busd/ReplyBuilder.h"

using namespace tessaro;
using namespace tessaro::busd;

namespace {

class Listener : public HubListener {
 public:
  void OnServerInfo(const wire::ServerInfo& info, bool compatible) override {
    ServerEntry e;
    e.name = info.name;
    e.mac = info.mac;
    e.storageMode = info.storageMode;
    e.state = compatible ? ServerState::Answering : ServerState::Incompatible;
    Sink(BuildServerList({e, e}));
  }
  void OnDevices(std::vector<wire::DeviceInfo> devices, uint32_t) override {
    Sink(BuildDeviceList(devices));
  }
  void OnUseRequested(const wire::UseRequested& use) override {
    Sink(BuildUseRequestedRecord(::inet_addr("127.0.0.2"), use));
  }
  void Sink(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) checksum += b;
  }
  unsigned checksum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Listener listener;
  const auto start = Clock::now();
  unsigned results = 0;
  {
    static const wire::PcKey key = wire::PcKey::FromSeed(wire::KeySeed{7});
    HubSession session(listener, "PC-A", key, ::inet_addr("127.0.0.2"), 2005, start);
    // Ids 2..5 wait for Results, as commands of programs would.
    session.RequestDevices();
    for (int i = 0; i < 3; ++i)
      session.Command(wire::MsgType::Link, {1, 0, 0}, [&results](uint32_t r) { results += r; });
    std::span<const uint8_t> stream(data, size);
    const size_t chunk = 13;
    for (size_t off = 0; off < size && !session.broken(); off += chunk) {
      session.Feed(stream.subspan(off, std::min(chunk, size - off)), start);
      session.Tick(start + std::chrono::seconds(off % 12));
      session.output().clear();
    }
  }
  return static_cast<int>((listener.checksum + results) & 0);
}
