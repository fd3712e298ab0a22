// SPDX-License-Identifier: GPL-2.0-or-later
// The server's SANE port, gated by the device locks: hubd accepts each SANE connection itself and
// hands it to a saned started for that connection alone (saned's inetd mode: the socket is its
// standard input and output), but only when the peer's address is the address of a PC that holds
// a lock on one of the server's scanners. Any other connection is closed at once.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/FileHandle.h"
#include "protocol/HubWire.h"

struct pollfd;

namespace tessaro::hubd {

class Hub;

// The PC whose lock lets a connection from a peer in: the owner of a locked SCANNER or MFP for
// which `attachedFromPeer(owner)` holds. nullopt when there is none.
std::optional<std::string> ScannerHolderAt(
    const std::vector<wire::DeviceInfo>& devices,
    const std::function<bool(const std::string& pc)>& attachedFromPeer);

class SaneGate {
 public:
  // saned children at once; a connection beyond them is closed, as a refused one is.
  static constexpr size_t kMaxChildren = 8;

  struct Settings {
    uint32_t address = 0;  // network order: the server's own address
    uint16_t port = 6566;
    std::string folder;  // where each connection's SANE configuration is written
    std::string saned = "/usr/sbin/saned";
  };

  explicit SaneGate(Hub& hub) : hub_(hub) {}
  ~SaneGate();
  SaneGate(const SaneGate&) = delete;
  SaneGate& operator=(const SaneGate&) = delete;

  // Listens and prepares the folder; false with `error` set when it cannot.
  bool Start(const Settings& settings, std::string& error);
  // The descriptors to poll for input: the listener and one per running saned (its pidfd).
  std::vector<int> Fds() const;
  // Accepts and reaps for those of `fds` that are the gate's and have input.
  void OnPoll(const std::vector<pollfd>& fds);
  size_t children() const { return children_.size(); }

 private:
  struct Child {
    pid_t pid = -1;
    UniqueFd pidfd;
    std::string peer;    // "ip:port", for the log
    std::string folder;  // its own SANE configuration
  };

  void Accept();
  void Admit(UniqueFd socket, uint32_t peerIp, const std::string& peer);
  // Writes the connection's configuration folder; empty on failure (logged).
  std::string WriteConfig(uint32_t peerIp);
  std::optional<Child> Spawn(int socket, const std::string& folder, std::string& error) const;
  void Reap(Child& child);

  Hub& hub_;
  Settings settings_;
  UniqueFd listener_;
  std::string baseConfigDir_;  // where the backends' own configuration is read
  std::vector<Child> children_;
  uint64_t connections_ = 0;  // names each connection's folder
};

}  // namespace tessaro::hubd
