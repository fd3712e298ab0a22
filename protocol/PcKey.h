// SPDX-License-Identifier: GPL-2.0-or-later
// A PC's identity on the hub wire: an Ed25519 key pair. A server pins the public key a computer
// name first came with; from then on only the holder of the matching secret key can say Hello
// under that name.
//
// A Proof signs these bytes, so that it answers one challenge of one server for one name and key:
//   "tessaro hub proof 2" (19 bytes), the 32-byte nonce, the server's IPv4 (4 bytes, network
//   order) and TCP port (u16) as the PC connected to them, the computer name (text), the public
//   key (32 bytes).
// The server's address in it keeps a hostile server from relaying a real server's challenge.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/HexText.h"
#include "protocol/HubWire.h"

namespace tessaro::wire {

inline constexpr size_t kSeedSize = 32;
using KeySeed = std::array<uint8_t, kSeedSize>;

// What one Proof answers.
struct ProofContext {
  Nonce nonce{};
  uint32_t serverIp = 0;  // network order
  uint16_t serverPort = 0;
  std::string_view computerName;
};

class PcKey {
 public:
  // A new key from the system's random source.
  static PcKey Generate();
  // The key a seed stands for; the same seed always gives the same key.
  static PcKey FromSeed(const KeySeed& seed);
  PcKey(const PcKey&) = default;
  PcKey& operator=(const PcKey&) = default;
  ~PcKey();

  const PublicKey& publicKey() const { return public_; }
  const KeySeed& seed() const { return seed_; }
  Proof Prove(const ProofContext& context) const;

 private:
  PcKey() = default;
  KeySeed seed_{};
  PublicKey public_{};
  std::array<uint8_t, 64> secret_{};
};

bool VerifyProof(const Proof& proof, const ProofContext& context);

// A nonce from the system's random source.
Nonce MakeNonce();

}  // namespace tessaro::wire
