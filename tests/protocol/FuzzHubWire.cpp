// SPDX-License-Identifier: GPL-2.0-or-later
// Every hub wire payload decoder, fed arbitrary bytes, and the stream decoder fed them in pieces.
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/HubWire.h"

using namespace tessaro::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> p(data, size);
  (void)DecodeVersionProbe(p);
  (void)DecodeServerInfo(p);
  (void)DecodeHello(p);
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
