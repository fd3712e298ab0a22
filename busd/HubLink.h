// SPDX-License-Identifier: GPL-2.0-or-later
// A non-blocking TCP connection to a device server carrying a HubSession.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/FileHandle.h"
#include "busd/HubSession.h"
#include "busd/PollSet.h"

namespace tessaro::busd {

class HubLink {
 public:
  static constexpr auto kConnectTimeout = std::chrono::seconds(5);

  // Starts connecting; the link reports failure later through alive()/error().
  HubLink(uint32_t ip, uint16_t port, HubListener& listener, std::string computerName,
          const wire::PcKey& key, Clock::time_point now);

  // `onDone` runs (from the poll handler) once the link has died, so its owner can drop it.
  void AddTo(PollSet& poll, std::function<void()> onDone);
  // Timers: connect timeout, pings, silence. False once the link is dead.
  bool Tick(Clock::time_point now);

  bool alive() const { return error_.empty() && session_ && !session_->broken(); }
  std::string error() const;
  HubSession& session() { return *session_; }

 private:
  void OnReady(short revents);
  void FinishConnect();
  void ReadSome();
  void Flush();
  void Fail(std::string why);

  UniqueFd fd_;
  std::unique_ptr<HubSession> session_;
  bool connecting_ = true;
  Clock::time_point started_;
  std::string error_;
};

}  // namespace tessaro::busd
