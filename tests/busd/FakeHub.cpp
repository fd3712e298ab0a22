// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/busd/FakeHub.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessaro::testing_hub {

using wire::MsgType;

FakeHub::FakeHub(const std::string& ip, uint16_t port, std::vector<wire::DeviceInfo> devices,
                 uint16_t major)
    : devices_(std::move(devices)), major_(major) {
  listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = ::inet_addr(ip.c_str());
  ip_ = addr.sin_addr.s_addr;
  port_ = port;
  if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_.get(), 16) != 0) {
    listener_.Reset();
    return;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    listener_.Reset();
    return;
  }
  wakeRead_.Reset(pipeFds[0]);
  wakeWrite_.Reset(pipeFds[1]);
  thread_ = std::thread([this] { Loop(); });
}

FakeHub::~FakeHub() { Stop(); }

void FakeHub::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const char byte = 0;
  (void)!::write(wakeWrite_.get(), &byte, 1);
  thread_.join();
  std::lock_guard lock(mutex_);
  connections_.clear();
  listener_.Reset();
}

void FakeHub::SetDevices(std::vector<wire::DeviceInfo> devices) {
  std::lock_guard lock(mutex_);
  devices_ = std::move(devices);
  PushDevices();
}

void FakeHub::PushUseRequested(const wire::UseRequested& use) {
  std::lock_guard lock(mutex_);
  for (auto& c : connections_)
    if (!c.name.empty()) Send(c, MsgType::UseRequested, 0, wire::EncodeUseRequested(use));
}

void FakeHub::SetAnswerCommands(bool answer) {
  std::lock_guard lock(mutex_);
  answerCommands_ = answer;
}

std::vector<FakeHub::Received> FakeHub::commands() {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::string FakeHub::helloName() {
  std::lock_guard lock(mutex_);
  return helloName_;
}

void FakeHub::PushDevices() {
  for (auto& c : connections_)
    if (!c.name.empty()) Send(c, MsgType::DevicesChanged, 0, wire::EncodeDeviceList(devices_));
}

void FakeHub::Loop() {
  while (!stop_) {
    std::vector<pollfd> fds{{wakeRead_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    {
      std::lock_guard lock(mutex_);
      for (auto& c : connections_) fds.push_back({c.fd.get(), POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), 200) <= 0 || stop_) continue;
    std::lock_guard lock(mutex_);
    if (fds[1].revents & POLLIN) {
      UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (fd.valid()) connections_.push_back({std::move(fd), {}, {}, {}});
    }
    for (size_t i = 2; i < fds.size(); ++i)
      if (fds[i].revents != 0) Serve(connections_[i - 2]);
    std::erase_if(connections_, [](const Connection& c) { return !c.fd.valid(); });
  }
}

void FakeHub::Serve(Connection& c) {
  uint8_t buffer[65536];
  const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, 0);
  if (n <= 0) {
    c.fd.Reset();
    return;
  }
  c.decoder.Feed({buffer, static_cast<size_t>(n)});
  while (c.fd.valid()) {
    const auto f = c.decoder.Next();
    if (!f) break;
    Handle(c, *f);
  }
  if (c.decoder.broken()) c.fd.Reset();
}

void FakeHub::Handle(Connection& c, const wire::Frame& f) {
  switch (f.type) {
    case MsgType::Hello: return HandleHello(c, f);
    case MsgType::Proof: return HandleProof(c, f);
    case MsgType::Ping: return Send(c, MsgType::Pong, f.id, {});
    case MsgType::GetDevices:
      return Send(c, MsgType::DeviceList, f.id, wire::EncodeDeviceList(devices_));
    default: return HandleCommand(c, f);
  }
}

void FakeHub::HandleHello(Connection& c, const wire::Frame& f) {
  c.name = wire::DecodeHello(f.payload).value_or(wire::Hello{}).computerName;
  helloName_ = c.name;
  if (major_ != wire::kVersionMajor) {
    wire::ServerInfo info;
    info.major = major_;
    Send(c, MsgType::HelloReply, f.id, wire::EncodeServerInfo(info));
    c.fd.Reset();
    return;
  }
  c.challenge = wire::MakeNonce();
  Send(c, MsgType::Challenge, f.id, wire::EncodeChallenge({major_, 0, *c.challenge}));
}

void FakeHub::HandleProof(Connection& c, const wire::Frame& f) {
  const auto proof = wire::DecodeProof(f.payload);
  if (!c.challenge || !proof || !wire::VerifyProof(*proof, {*c.challenge, ip_, port_, c.name})) {
    Send(c, MsgType::Result, f.id, wire::EncodeResult(5));
    c.fd.Reset();
    return;
  }
  provenKey_ = proof->publicKey;
  wire::ServerInfo info;
  info.name = "FAKE-HUB";
  info.mac = {0x02, 0x00, 0x00, 0xAB, 0xCD, 0xEF};
  info.storageMode = 1;
  info.major = major_;
  Send(c, MsgType::HelloReply, f.id, wire::EncodeServerInfo(info));
}

std::optional<wire::PublicKey> FakeHub::provenKey() {
  std::lock_guard lock(mutex_);
  return provenKey_;
}

void FakeHub::HandleCommand(Connection& c, const wire::Frame& f) {
  if (f.type == MsgType::WriteData && !f.payload.empty()) {
    // The fake takes no print jobs; a hung one leaves their data unanswered too.
    commands_.push_back({f.type, {f.payload[0], 0, 0}});
    if (answerCommands_) Send(c, MsgType::Result, f.id, wire::EncodeResult(50));
    return;
  }
  const auto command = wire::DecodeDeviceCommand(f.type, f.payload);
  if (!command) return Send(c, MsgType::Result, f.id, wire::EncodeResult(87));
  commands_.push_back({f.type, *command});
  if (!answerCommands_) return;
  uint32_t result = 31;
  for (auto& d : devices_) {
    if (d.number != command->number || f.type != MsgType::Link || !d.owner.empty()) continue;
    d.owner = c.name;
    PushDevices();
    result = 0;
  }
  Send(c, MsgType::Result, f.id, wire::EncodeResult(result));
}

void FakeHub::Send(Connection& c, MsgType type, uint32_t id, const std::vector<uint8_t>& payload) {
  if (!c.fd.valid()) return;
  const auto bytes = wire::EncodeFrame({type, 0, id, payload});
  if (!WriteAll(c.fd.get(), bytes.data(), bytes.size())) c.fd.Reset();
}

}  // namespace tessaro::testing_hub
