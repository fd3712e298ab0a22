// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/WireClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessaro::testing {

using wire::Frame;
using wire::MsgType;

wire::PcKey TestKeyFor(const std::string& computerName) {
  wire::KeySeed seed{};
  uint64_t h = 1469598103934665603ull;  // FNV-1a, stretched over the seed
  for (size_t i = 0; i < seed.size(); ++i) {
    for (const char c : computerName) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    h = (h ^ i) * 1099511628211ull;
    seed[i] = static_cast<uint8_t>(h >> 56);
  }
  return wire::PcKey::FromSeed(seed);
}

WireClient::WireClient(const std::string& ip, uint16_t port, const std::string& fromIp)
    : serverPort_(port) {
  fd_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (!fromIp.empty()) {
    inet_pton(AF_INET, fromIp.c_str(), &sa.sin_addr);
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) fd_.Reset();
  }
  sa.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &sa.sin_addr);
  serverIp_ = sa.sin_addr.s_addr;
  if (fd_.valid() && ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    fd_.Reset();
  const int on = 1;
  if (fd_.valid()) ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool WireClient::SendBytes(const std::vector<uint8_t>& bytes) {
  return WriteAll(fd_.get(), bytes.data(), bytes.size());
}

bool WireClient::Send(MsgType type, uint32_t id, const std::vector<uint8_t>& payload) {
  return SendBytes(wire::EncodeFrame({type, 0, id, payload}));
}

bool WireClient::Fill(std::chrono::steady_clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  pollfd p{fd_.get(), POLLIN, 0};
  if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  uint8_t buffer[65536];
  const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  decoder_.Feed({buffer, static_cast<size_t>(n)});
  return true;
}

std::optional<Frame> WireClient::Read(std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (true) {
    if (auto f = decoder_.Next()) return f;
    if (decoder_.broken() || closed_ || !Fill(end)) return std::nullopt;
  }
}

std::vector<Frame> WireClient::Call(MsgType type, uint32_t id,
                                    const std::vector<uint8_t>& payload) {
  std::vector<Frame> frames;
  if (!Send(type, id, payload)) return frames;
  while (auto f = Read()) {
    frames.push_back(*f);
    if (f->id == id) break;
  }
  return frames;
}

bool WireClient::WaitClosed(std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!closed_)
    if (!Fill(end) && !closed_) return false;
  return true;
}

std::optional<wire::ServerInfo> WireClient::Hello(const std::string& name, uint16_t major,
                                                  const std::optional<wire::PcKey>& key) {
  helloRefusal_ = 0;
  auto frames = Call(MsgType::Hello, 1, wire::EncodeHello({major, 0, name}));
  if (frames.size() == 1 && frames[0].type == MsgType::Challenge) {
    const auto challenge = wire::DecodeChallenge(frames[0].payload);
    if (!challenge) return std::nullopt;
    const wire::PcKey signer = key ? *key : TestKeyFor(name);
    const wire::ProofContext context{challenge->nonce, serverIp_, serverPort_, name};
    frames = Call(MsgType::Proof, 2, wire::EncodeProof(signer.Prove(context)));
  }
  if (frames.size() != 1) return std::nullopt;
  if (frames[0].type == MsgType::Result)
    helloRefusal_ = wire::DecodeResult(frames[0].payload).value_or(0);
  if (frames[0].type != MsgType::HelloReply) return std::nullopt;
  return wire::DecodeServerInfo(frames[0].payload);
}

}  // namespace tessaro::testing
