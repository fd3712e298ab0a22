// SPDX-License-Identifier: GPL-2.0-or-later
// Every hub wire payload decoder, fed arbitrary bytes, and the stream decoder fed them in pieces.
// A Challenge or Proof that decodes encodes back to the same bytes, and a Proof made of arbitrary
// key and signature bytes is checked against a context made of them too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "protocol/HubWire.h"
#include "protocol/PcKey.h"

using namespace tessaro::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> p(data, size);
  (void)DecodeVersionProbe(p);
  (void)DecodeServerInfo(p);
  (void)DecodeHello(p);
  if (const auto challenge = DecodeChallenge(p)) {
    if (!std::equal(p.begin(), p.end(), EncodeChallenge(*challenge).begin())) std::abort();
  }
  if (const auto proof = DecodeProof(p)) {
    if (!std::equal(p.begin(), p.end(), EncodeProof(*proof).begin())) std::abort();
    ProofContext context;
    std::copy_n(p.begin(), kNonceSize, context.nonce.begin());
    context.computerName = std::string_view(reinterpret_cast<const char*>(data), size % 64);
    // Arbitrary bytes hold as a signature only by a forger's luck.
    if (VerifyProof(*proof, context)) std::abort();
  }
  if (auto list = DecodeDeviceList(p)) (void)EncodeDeviceList(*list);
  for (auto t : {MsgType::Link, MsgType::Lock, MsgType::RequestToUse})
    (void)DecodeDeviceCommand(t, p);
  (void)DecodeResult(p);
  (void)DecodeUseRequested(p);
  (void)DecodeEjectReply(p);
  (void)DecodeWriteData(p);
  (void)DecodeDatagram(p);
  FrameDecoder d;
  const size_t cut = size / 3;
  d.Feed(p.first(cut));
  while (d.Next()) {}
  d.Feed(p.subspan(cut));
  while (d.Next()) {}
  return 0;
}
