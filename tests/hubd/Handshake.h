// SPDX-License-Identifier: GPL-2.0-or-later
// A PC's side of the Hello, Challenge and Proof on an in-process Session: what tests and the fuzz
// target greet with.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hubd/Hub.h"
#include "hubd/Session.h"
#include "protocol/PcKey.h"

namespace tessaro::hubd::testing {

// Every frame the session has queued, taken out of it.
inline std::vector<wire::Frame> TakeFrames(Session& s) {
  wire::FrameDecoder d;
  d.Feed(s.output());
  s.Consumed(s.output().size());
  std::vector<wire::Frame> frames;
  while (auto f = d.Next()) frames.push_back(*f);
  return frames;
}

// The Proof `key` gives for the Challenge among `frames`; nullopt when there is none.
inline std::optional<std::vector<uint8_t>> ProofFor(const Hub& hub,
                                                    const std::vector<wire::Frame>& frames,
                                                    const std::string& name, const wire::PcKey& key,
                                                    uint32_t id = 2) {
  for (const wire::Frame& f : frames) {
    if (f.type != wire::MsgType::Challenge) continue;
    const auto challenge = wire::DecodeChallenge(f.payload);
    if (!challenge) return std::nullopt;
    const wire::ProofContext context{challenge->nonce, hub.address(), hub.tcpPort(), name};
    return wire::EncodeFrame({wire::MsgType::Proof, 0, id, wire::EncodeProof(key.Prove(context))});
  }
  return std::nullopt;
}

// Says Hello as `name`, proves it with `key` and returns what the Proof got (a HelloReply when
// the session took it). Empty when no Challenge came.
inline std::vector<wire::Frame> Greet(Hub& hub, Session& s, const std::string& name,
                                      const wire::PcKey& key) {
  s.Receive(wire::EncodeFrame(
      {wire::MsgType::Hello, 0, 1, wire::EncodeHello({wire::kVersionMajor, 0, name})}));
  const auto proof = ProofFor(hub, TakeFrames(s), name, key);
  if (!proof) return {};
  s.Receive(*proof);
  return TakeFrames(s);
}

}  // namespace tessaro::hubd::testing
