// SPDX-License-Identifier: GPL-2.0-or-later
// The descriptors one turn of the event loop waits on, each with what to do when it is ready.
#pragma once

#include <poll.h>

#include <functional>
#include <vector>

namespace tessaro::busd {

class PollSet {
 public:
  using Handler = std::function<void(short revents)>;
  void Add(int fd, short events, Handler handler) {
    fds_.push_back({fd, events, 0});
    handlers_.push_back(std::move(handler));
  }
  // Waits up to `timeoutMs`, then runs the handlers of the ready descriptors. Handlers look their
  // objects up by id, so one that closes another's connection leaves no dangling pointer.
  void Wait(int timeoutMs) {
    const int n = ::poll(fds_.data(), fds_.size(), timeoutMs);
    if (n <= 0) return;
    for (size_t i = 0; i < fds_.size(); ++i)
      if (fds_[i].revents != 0) handlers_[i](fds_[i].revents);
  }

 private:
  std::vector<pollfd> fds_;
  std::vector<Handler> handlers_;
};

}  // namespace tessaro::busd
