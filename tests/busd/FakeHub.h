// SPDX-License-Identifier: GPL-2.0-or-later
// A small device server for tests: listens on one address, speaks the hub wire and keeps a
// device list the test sets. Link on a free device succeeds (the PC becomes its owner, pushed
// to every connection before the Result); anything else the test refuses with `refuseWith`.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/FileHandle.h"
#include "protocol/HubWire.h"
#include "protocol/PcKey.h"

namespace tessaro::testing_hub {

class FakeHub {
 public:
  // A hub of another major version answers Hello with its own version, then hangs up.
  FakeHub(const std::string& ip, uint16_t port, std::vector<wire::DeviceInfo> devices,
          uint16_t major = wire::kVersionMajor);
  ~FakeHub();

  bool listening() const { return listener_.valid(); }
  // Closes the listener and every connection, as a server that was killed.
  void Stop();
  // Replaces the device list and pushes it to every connection that said Hello.
  void SetDevices(std::vector<wire::DeviceInfo> devices);
  void PushUseRequested(const wire::UseRequested& use);
  // A hung server: still answers pings and lists, but device commands get no Result at all.
  void SetAnswerCommands(bool answer);

  struct Received {
    wire::MsgType type;
    wire::DeviceCommand command;
  };
  std::vector<Received> commands();
  std::string helloName();
  // The public key of the last proof that held.
  std::optional<wire::PublicKey> provenKey();

 private:
  struct Connection {
    UniqueFd fd;
    wire::FrameDecoder decoder;
    std::string name;  // from Hello
    std::optional<wire::Nonce> challenge;
  };

  void Loop();
  void Serve(Connection& c);
  void Handle(Connection& c, const wire::Frame& f);
  void HandleHello(Connection& c, const wire::Frame& f);
  void HandleProof(Connection& c, const wire::Frame& f);
  void HandleCommand(Connection& c, const wire::Frame& f);
  void Send(Connection& c, wire::MsgType type, uint32_t id, const std::vector<uint8_t>& payload);
  void PushDevices();  // with mutex_ held

  UniqueFd listener_;
  UniqueFd wakeRead_, wakeWrite_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Connection> connections_;
  std::vector<wire::DeviceInfo> devices_;
  std::vector<Received> commands_;
  std::string helloName_;
  std::optional<wire::PublicKey> provenKey_;
  uint32_t ip_ = 0;
  uint16_t port_ = 0;
  uint16_t major_;
  bool answerCommands_ = true;
};

}  // namespace tessaro::testing_hub
