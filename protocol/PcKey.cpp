// SPDX-License-Identifier: GPL-2.0-or-later
#include "protocol/PcKey.h"

#include <sodium.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "base/ByteOrder.h"

namespace tessaro::wire {

namespace {

constexpr std::string_view kProofLabel = "tessaro hub proof 2";

void EnsureSodium() {
  // sodium_init is safe to call again and from several threads; -1 means no usable random source.
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
}

std::vector<uint8_t> ProofMessage(const ProofContext& c, const PublicKey& key) {
  ByteWriter w;
  w.Bytes({reinterpret_cast<const uint8_t*>(kProofLabel.data()), kProofLabel.size()});
  w.Bytes(c.nonce);
  uint8_t ip[4];
  std::memcpy(ip, &c.serverIp, 4);  // network order as it sits in memory
  w.Bytes(ip);
  w.U16(c.serverPort);
  w.Text(c.computerName);
  w.Bytes(key);
  return w.Take();
}

}  // namespace

PcKey PcKey::Generate() {
  EnsureSodium();
  KeySeed seed;
  randombytes_buf(seed.data(), seed.size());
  PcKey key = FromSeed(seed);
  sodium_memzero(seed.data(), seed.size());
  return key;
}

PcKey PcKey::FromSeed(const KeySeed& seed) {
  EnsureSodium();
  PcKey key;
  key.seed_ = seed;
  crypto_sign_ed25519_seed_keypair(key.public_.data(), key.secret_.data(), seed.data());
  return key;
}

PcKey::~PcKey() {
  sodium_memzero(secret_.data(), secret_.size());
  sodium_memzero(seed_.data(), seed_.size());
}

Proof PcKey::Prove(const ProofContext& context) const {
  Proof proof;
  proof.publicKey = public_;
  const auto message = ProofMessage(context, public_);
  crypto_sign_ed25519_detached(proof.signature.data(), nullptr, message.data(), message.size(),
                               secret_.data());
  return proof;
}

bool VerifyProof(const Proof& proof, const ProofContext& context) {
  EnsureSodium();
  const auto message = ProofMessage(context, proof.publicKey);
  return crypto_sign_ed25519_verify_detached(proof.signature.data(), message.data(), message.size(),
                                             proof.publicKey.data()) == 0;
}

Nonce MakeNonce() {
  EnsureSodium();
  Nonce nonce;
  randombytes_buf(nonce.data(), nonce.size());
  return nonce;
}

}  // namespace tessaro::wire
