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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

template <size_t N>
std::optional<std::array<uint8_t, N>> ParseHex(std::string_view text) {
  if (text.size() != 2 * N) return std::nullopt;
  std::array<uint8_t, N> out{};
  for (size_t i = 0; i < N; ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return out;
}

template std::optional<std::array<uint8_t, 32>> ParseHex<32>(std::string_view);

}  // namespace tessaro::wire
