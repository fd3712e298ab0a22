// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as the streams of a Trunk and a Spur connection, through busd's request
// dispatch, with a fake server registry that answers forwarded commands as they come.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>

#include "busd/BusSession.h"
#include "busd/ReplyBuilder.h"
#include "tests/busd/FakeBackend.h"

using namespace tessaro;
using namespace tessaro::busd;

namespace {

class Harness : public ReplyRouter {
 public:
  Harness() {
    ServerEntry s;
    s.ip = ::inet_addr("127.0.0.2");
    s.name = std::string(70, 'h');
    backend.servers = {s, s};
    wire::DeviceInfo d;
    d.product = std::string(100, 'p');
    d.owner = backend.computerName;  // linked here: node and eject requests reach the backend
    backend.devices[s.ip] = std::vector<wire::DeviceInfo>(40, d);
    for (int i = 0; i < 3; ++i) {
      const ConnectionInfo info{i + 1, i != 2, 77, s.ip};
      dispatcher.Opened(info);
      sessions[info.id] = std::make_unique<BusSession>(info, dispatcher);
    }
  }
  void Complete(int connection, const busipc::Reply& reply) override {
    const auto it = sessions.find(connection);
    if (it != sessions.end()) it->second->Complete(reply);
  }
  void AnswerForwarded(uint32_t result) {
    auto forwarded = std::move(backend.forwarded);
    backend.forwarded.clear();
    for (auto& f : forwarded) f.done(result);
    auto ejects = std::move(backend.ejects);
    backend.ejects.clear();
    for (auto& e : ejects) e.done(result, {result, std::string(result, 'v')});
  }

  fakes::FakeBackend backend;
  RequestDispatcher dispatcher{backend, *this};
  std::map<int, std::unique_ptr<BusSession>> sessions;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Harness h;
  const size_t chunk = (data[0] & 0x1F) + 1;
  std::span<const uint8_t> rest(data + 1, size - 1);
  for (size_t off = 0, turn = 0; off < rest.size(); off += chunk, ++turn) {
    auto piece = rest.subspan(off, std::min(chunk, rest.size() - off));
    auto& session = *h.sessions.at(static_cast<int>(turn % 3) + 1);
    session.Feed(piece);
    session.output().clear();
    if (turn % 4 == 1) h.dispatcher.Publish(BuildEventRecord(EventKind::ServerListChanged));
    if (turn % 5 == 2) h.AnswerForwarded(static_cast<uint32_t>(turn & 1) * 31);
    h.backend.reachable = (data[0] & 0x20) == 0 || turn % 2 == 0;
  }
  h.AnswerForwarded(0);
  return 0;
}
