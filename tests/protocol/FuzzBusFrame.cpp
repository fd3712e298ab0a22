// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/BusFrame.h"

using namespace tessaro::busipc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> p(data, size);
  RequestDecoder rq;
  ReplyDecoder rp;
  for (size_t off = 0; off < size; off += 7) {
    auto piece = p.subspan(off, std::min<size_t>(7, size - off));
    rq.Feed(piece);
    rp.Feed(piece);
    while (rq.Next()) {}
    while (rp.Next()) {}
  }
  return 0;
}
