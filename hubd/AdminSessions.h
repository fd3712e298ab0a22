// SPDX-License-Identifier: GPL-2.0-or-later
// Who is logged in to the web page as administrator: a random token per login, sent back as a
// cookie, valid for a fixed time and only while the password it was opened with is the one set
// (a new password, or none, ends every session). And how often a password may be tried: each
// try costs a hash on hubd's own loop, so tries are rationed for everyone together.
#pragma once

#include <chrono>
#include <map>
#include <string>

namespace tessaro::hubd {

class AdminSessions {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::hours kLifetime{1};
  static constexpr size_t kMaxSessions = 16;  // a further login ends the oldest
  static constexpr int kTryBurst = 3;         // password tries at once, then one a second

  // A new session for the password `hash`: its token (64 hex digits).
  std::string Open(const std::string& hash, TimePoint now);
  // Whether `token` is a session, not expired, opened with the password `hash` that is set now.
  bool Valid(const std::string& token, const std::string& hash, TimePoint now);
  void Close(const std::string& token) { sessions_.erase(token); }
  // Whether a password may be tried now; counts the try.
  bool MayTry(TimePoint now);

 private:
  struct Session {
    std::string hash;
    TimePoint ends;
  };
  std::map<std::string, Session> sessions_;
  double tries_ = kTryBurst;
  TimePoint lastTry_{};
};

}  // namespace tessaro::hubd
