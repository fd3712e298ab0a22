// SPDX-License-Identifier: GPL-2.0-or-later
#include "protocol/BusFrame.h"

#include "base/ByteOrder.h"

namespace tessaro::busipc {

std::vector<uint8_t> EncodeRequest(const Request& request) {
  std::vector<uint8_t> out(kRequestHeaderSize + request.input.size());
  PutU32(&out[0], kMagic);
  PutU32(&out[4], static_cast<uint32_t>(request.op));
  PutU32(&out[8], request.code);
  PutU32(&out[12], static_cast<uint32_t>(request.input.size()));
  PutU32(&out[16], request.outputLength);
  std::copy(request.input.begin(), request.input.end(), out.begin() + kRequestHeaderSize);
  return out;
}

std::vector<uint8_t> EncodeReply(const Reply& reply) {
  const size_t n = reply.status == 0 ? reply.output.size() : 0;
  std::vector<uint8_t> out(kReplyHeaderSize + n);
  PutU32(&out[0], kMagic);
  PutU32(&out[4], reply.status);
  PutU32(&out[8], static_cast<uint32_t>(n));
  std::copy(reply.output.begin(), reply.output.begin() + static_cast<std::ptrdiff_t>(n),
            out.begin() + kReplyHeaderSize);
  return out;
}

void RequestDecoder::Feed(std::span<const uint8_t> bytes) {
  if (!broken_) buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<Request> RequestDecoder::Next() {
  if (broken_ || buffer_.size() < kRequestHeaderSize) return std::nullopt;
  const uint8_t* h = buffer_.data();
  const uint32_t op = GetU32(h + 4);
  const uint32_t inLen = GetU32(h + 12);
  const uint32_t outLen = GetU32(h + 16);
  if (GetU32(h) != kMagic || (op != 1 && op != 2) || inLen > kMaxPayload || outLen > kMaxPayload) {
    broken_ = true;
    buffer_.clear();
    return std::nullopt;
  }
  if (buffer_.size() < kRequestHeaderSize + inLen) return std::nullopt;
  Request r;
  r.op = static_cast<Op>(op);
  r.code = GetU32(h + 8);
  r.outputLength = outLen;
  r.input.assign(buffer_.begin() + kRequestHeaderSize,
                 buffer_.begin() + kRequestHeaderSize + inLen);
  buffer_.erase(buffer_.begin(), buffer_.begin() + kRequestHeaderSize + inLen);
  return r;
}

void ReplyDecoder::Feed(std::span<const uint8_t> bytes) {
  if (!broken_) buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<Reply> ReplyDecoder::Next() {
  if (broken_ || buffer_.size() < kReplyHeaderSize) return std::nullopt;
  const uint8_t* h = buffer_.data();
  const uint32_t status = GetU32(h + 4);
  const uint32_t n = GetU32(h + 8);
  if (GetU32(h) != kMagic || n > kMaxPayload || (status != 0 && n != 0)) {
    broken_ = true;
    buffer_.clear();
    return std::nullopt;
  }
  if (buffer_.size() < kReplyHeaderSize + n) return std::nullopt;
  Reply r;
  r.status = status;
  r.output.assign(buffer_.begin() + kReplyHeaderSize, buffer_.begin() + kReplyHeaderSize + n);
  buffer_.erase(buffer_.begin(), buffer_.begin() + kReplyHeaderSize + n);
  return r;
}

std::string ClassFolder(const std::string& runtimeDir, bool trunk) {
  return runtimeDir + "/" + (trunk ? kTrunkClassDir : kSpurClassDir);
}

}  // namespace tessaro::busipc
