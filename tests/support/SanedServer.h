// SPDX-License-Identifier: GPL-2.0-or-later
// A device server's scanners as a PC reaches them: saned bound to the server's own address with
// SANE's test backend behind it, each in a private folder, and the PC's side of SANE (its `net`
// backend pointed at that address) in another. For tests inside a network namespace.
#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"

namespace tessaro::testing {

class SanedServer {
 public:
  // `address` is the device server's; `devices` test devices stand behind saned.
  explicit SanedServer(std::string address, int devices = 2);
  ~SanedServer();
  SanedServer(const SanedServer&) = delete;
  SanedServer& operator=(const SanedServer&) = delete;

  // Makes every frame arrive slowly (the backend waits `microseconds` after each read), so a test
  // can act in the middle of a page. Before Start.
  void SetReadDelay(int microseconds);
  // Starts saned and waits until it listens; false with its output kept when it did not.
  bool Start();
  void Kill();  // saned and the children serving clients, as a crash would: no goodbye
  std::string Output() const { return saned_ ? saned_->Output() : std::string(); }

  // The name a PC scans a server-side device by, e.g. net:127.0.0.3:test:0.
  std::string NetDeviceName(const std::string& serverDevice) const;
  // SANE_CONFIG_DIR for the PC's side: only the net backend, only this server.
  const std::string& ClientConfigDir() const { return clientDir_; }
  // Makes this process the PC: SANE, started afterwards, reads the client folder.
  void UseAsClient() const;

 private:
  std::string address_;
  int devices_;
  TempDir dir_{"/tmp/tessaro-saned."};
  std::string serverDir_;
  std::string clientDir_;
  std::unique_ptr<Process> saned_;
};

}  // namespace tessaro::testing
