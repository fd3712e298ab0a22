// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/BusServer.h"

#include <sys/socket.h>

#include <cerrno>

#include "busd/Log.h"

namespace tessaro::busd {

BusServer::BusServer(RuntimeFolder& folder, BusBackend& backend, const Logger& log,
                     BusLimits limits)
    : folder_(folder), log_(log), limits_(limits), dispatcher_(backend, *this) {}

BusServer::~BusServer() = default;

Result<> BusServer::ListenTrunk() {
  auto fd = folder_.Listen(true, 0);
  if (!fd) return Failure(fd.error());
  listeners_.push_back({std::move(*fd), true, 0});
  return {};
}

Result<> BusServer::AddSpur(uint32_t serverIp) {
  auto fd = folder_.Listen(false, spurCount_);
  if (!fd) return Failure(fd.error());
  log_.Info("Spur " + std::to_string(spurCount_) + " serves " + IpText(serverIp));
  ++spurCount_;
  listeners_.push_back({std::move(*fd), false, serverIp});
  return {};
}

void BusServer::AddTo(PollSet& poll) {
  for (auto& [id, c] : connections_) {
    // One request at a time: while a reply is outstanding or unsent, later requests wait in
    // the socket. A hang-up is reported whatever the events asked for.
    short events = 0;
    if (!c.session->waiting() && c.session->output().empty()) events |= POLLIN;
    if (!c.session->output().empty()) events |= POLLOUT;
    poll.Add(c.fd.get(), events,
             [this, connection = id](short revents) { OnReady(connection, revents); });
  }
  // Listeners last: connections that hung up are closed before new ones count against the cap.
  const bool accepting = std::chrono::steady_clock::now() >= acceptAgain_;
  for (size_t i = 0; accepting && i < listeners_.size(); ++i)
    poll.Add(listeners_[i].fd.get(), POLLIN, [this, i](short) { Accept(listeners_[i]); });
}

void BusServer::Accept(const Listener& listener) {
  for (;;) {
    UniqueFd fd(::accept4(listener.fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE) {
        // The waiting connection stays ready, so polling on would spin until a descriptor frees.
        log_.Info("out of descriptors; not accepting bus connections for a moment");
        acceptAgain_ = std::chrono::steady_clock::now() + kAcceptBackoff;
      }
      return;
    }
    if (connections_.size() >= limits_.maxConnections) {
      if (!refusing_) log_.Info("too many bus connections; closing new ones");
      refusing_ = true;
      continue;  // `fd` closes: the client sees its connection end
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length);
    const ConnectionInfo info{nextId_++, listener.trunk, peer.pid, listener.serverIp};
    dispatcher_.Opened(info);
    connections_[info.id] = {std::move(fd), std::make_unique<BusSession>(info, dispatcher_)};
  }
}

void BusServer::OnReady(int id, short revents) {
  const auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = it->second;
  bool open = true;
  if (revents & POLLOUT) open = Flush(c);
  if (open && (revents & POLLIN))
    open = ReadSome(c);
  else if (open && (revents & (POLLHUP | POLLERR)))
    open = false;
  if (!open) Close(id);
}

bool BusServer::ReadSome(Connection& c) {
  uint8_t buffer[65536];
  const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, 0);
  if (n == 0) return false;
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  c.session->Feed({buffer, static_cast<size_t>(n)});
  if (c.session->broken()) {
    log_.Info("malformed bus frame; closing that connection");
    return false;
  }
  return Flush(c);
}

bool BusServer::Flush(Connection& c) {
  auto& out = c.session->output();
  while (!out.empty()) {
    const ssize_t n = ::send(c.fd.get(), out.data(), out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out.erase(out.begin(), out.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    if (out.size() <= limits_.maxQueuedOutput) return true;
    log_.Info("a bus client does not read its replies; closing its connection");
    return false;
  }
  return true;
}

void BusServer::Complete(int connection, const busipc::Reply& reply) {
  const auto it = connections_.find(connection);
  if (it == connections_.end()) return;  // the caller went away meanwhile
  it->second.session->Complete(reply);
  if (!Flush(it->second)) Close(connection);
}

void BusServer::Close(int id) {
  dispatcher_.Closed(id);
  connections_.erase(id);
  refusing_ = refusing_ && connections_.size() >= limits_.maxConnections;
}

}  // namespace tessaro::busd
