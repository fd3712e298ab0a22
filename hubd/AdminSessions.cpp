// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/AdminSessions.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "base/HexText.h"

namespace tessaro::hubd {

std::string AdminSessions::Open(const std::string& hash, TimePoint now) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
  for (auto it = sessions_.begin(); it != sessions_.end();)
    it = it->second.ends <= now ? sessions_.erase(it) : std::next(it);
  if (sessions_.size() >= kMaxSessions) {
    const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](auto& a, auto& b) {
      return a.second.ends < b.second.ends;
    });
    sessions_.erase(oldest);
  }
  std::array<uint8_t, 32> random;
  randombytes_buf(random.data(), random.size());
  std::string token = HexText(random);
  sessions_[token] = {hash, now + kLifetime};
  return token;
}

bool AdminSessions::Valid(const std::string& token, const std::string& hash, TimePoint now) {
  const auto it = sessions_.find(token);
  if (it == sessions_.end()) return false;
  if (it->second.ends > now && it->second.hash == hash) return true;
  sessions_.erase(it);
  return false;
}

bool AdminSessions::MayTry(TimePoint now) {
  const std::chrono::duration<double> since = now - lastTry_;
  tries_ = std::min<double>(kTryBurst, tries_ + since.count());
  lastTry_ = now;
  if (tries_ < 1) return false;
  tries_ -= 1;
  return true;
}

}  // namespace tessaro::hubd
