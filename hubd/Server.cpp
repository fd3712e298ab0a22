// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/Server.h"
#include "base/Ipv4Text.h"
#include "base/LogText.h"
#include "base/SystemdNotify.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace tessaro::hubd {

namespace {

constexpr int kMaxPollWaitMs = 60 * 60 * 1000;  // a far-off expiry is simply re-checked
constexpr size_t kFixedFds = 2;                 // the signal descriptor and the listener

std::string Describe(const sockaddr_in& a) {
  return FormatIpv4(a.sin_addr.s_addr) + ":" + std::to_string(ntohs(a.sin_port));
}

}  // namespace

bool Server::Start(const ListenOptions& options, std::string& error) {
  if (!OpenSignals(error) || !OpenListener(options, error)) return false;
  const uint32_t own = ParseIpv4(options.address).value_or(0);
  discovery_.Open(own, options.discoveryPort, [this](const std::string& l) { hub_.Log(l); });
  hub_.Log("ready " + listening_);
  TellServiceManager("READY=1");
  return true;
}

void Server::TellServiceManager(const std::string& state) {
  if (const auto told = NotifyServiceManager(NotifySocketFromEnvironment(), state); !told)
    hub_.Log("warning: " + told.error());
}

bool Server::OpenSignals(std::string& error) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&set, s);
  std::signal(SIGPIPE, SIG_IGN);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
    error = std::string("cannot block signals: ") + std::strerror(errno);
    return false;
  }
  signals_ = UniqueFd(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!signals_.valid()) error = std::string("signalfd: ") + std::strerror(errno);
  return signals_.valid();
}

bool Server::OpenListener(const ListenOptions& options, std::string& error) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(options.port);
  const auto address = ParseIpv4(options.address);
  if (address) sa.sin_addr.s_addr = *address;
  if (!address) {
    error = "bad address " + options.address;
    return false;
  }
  listener_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int on = 1;
  socklen_t length = sizeof sa;
  if (!listener_.valid() ||
      ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener_.get(), 64) != 0 ||
      ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    error = "cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " +
            std::strerror(errno);
    return false;
  }
  hub_.SetTcpPort(ntohs(sa.sin_port));
  listening_ = Describe(sa);
  return true;
}

void Server::Run() {
  while (!stopping_) {
    std::vector<pollfd> fds = PollSet();
    const int n = ::poll(fds.data(), fds.size(), PollTimeout());
    if (n < 0 && errno != EINTR) {
      hub_.Log(std::string("poll failed: ") + std::strerror(errno));
      return;
    }
    if (n > 0) Dispatch(fds);
    if (n > 0 && gate_) gate_->OnPoll(fds);
    // Frames left over from the last turn, after every other connection had its turn to read.
    for (auto& c : connections_)
      if (c->session->ReadyToResume()) c->session->Resume();
    if (web_) web_->Run();  // its time-outs, whether or not it had input
    hub_.RunExpiry();
    hub_.CheckPrinters();
    for (auto& c : connections_) {
      Flush(*c);
      c->session->CheckTimers();
    }
    Reap();
  }
}

// Order: the signal descriptor, the listener, discovery sockets, then one per connection.
std::vector<pollfd> Server::PollSet() const {
  std::vector<pollfd> fds{{signals_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
  for (int fd : discovery_.Fds()) fds.push_back({fd, POLLIN, 0});
  for (const auto& c : connections_) {
    short events = c->session->wantsInput() ? POLLIN : 0;
    if (!c->session->output().empty()) events |= POLLOUT;
    fds.push_back({c->fd.get(), events, 0});
  }
  if (web_ && web_->fd() >= 0) fds.push_back({web_->fd(), POLLIN, 0});
  if (gate_)  // the gate finds its own among them by descriptor
    for (int fd : gate_->Fds()) fds.push_back({fd, POLLIN, 0});
  AddDeviceFds(fds);  // last: found again by where they start
  return fds;
}

int Server::PollTimeout() const {
  auto next = hub_.table().NextDeadline();
  if (const auto check = hub_.NextPrinterCheck(); check && (!next || *check < *next)) next = check;
  for (const auto& c : connections_) {
    if (c->session->ReadyToResume()) return 0;
    const auto deadline = c->session->NextDeadline();
    if (!next || deadline < *next) next = deadline;
  }
  if (web_) {
    if (const auto ms = web_->TimeoutMs()) {
      const auto due = hub_.clock().Now() + std::chrono::milliseconds(*ms);
      if (!next || due < *next) next = due;
    }
  }
  if (!next) return -1;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - hub_.clock().Now());
  return static_cast<int>(std::clamp<int64_t>(wait.count(), 0, kMaxPollWaitMs));
}

void Server::Dispatch(const std::vector<pollfd>& fds) {
  if (fds[0].revents) OnSignal();
  // Devices before requests: a reply tells of every device plugged in before it was asked.
  OnDeviceFds(fds);
  const size_t discoveryCount = discovery_.Fds().size();
  for (size_t i = kFixedFds; i < kFixedFds + discoveryCount; ++i)
    if (fds[i].revents & POLLIN) discovery_.OnReadable(fds[i].fd, hub_.Info());
  for (size_t i = kFixedFds + discoveryCount; i < kFixedFds + discoveryCount + connections_.size();
       ++i) {
    Connection& c = *connections_[i - kFixedFds - discoveryCount];
    // A connection left unread (backlog, unread replies) is read again once it has caught up.
    if ((fds[i].events & POLLIN) && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) Read(c);
  }
  if (fds[1].revents & POLLIN) Accept();  // last: it appends to connections_
}

// The udev monitor, then each printer node with data waiting.
void Server::AddDeviceFds(std::vector<pollfd>& fds) const {
  deviceFdsAt_ = fds.size();
  waitingNumbers_.clear();
  if (hub_.usb() && hub_.usb()->fd() >= 0) fds.push_back({hub_.usb()->fd(), POLLIN, 0});
  for (const auto& [number, fd] : hub_.sink().WaitingNodes()) {
    fds.push_back({fd, POLLOUT, 0});
    waitingNumbers_.push_back(number);
  }
}

void Server::OnDeviceFds(const std::vector<pollfd>& fds) {
  size_t i = deviceFdsAt_;
  if (hub_.usb() && hub_.usb()->fd() >= 0) {
    if (fds[i].revents & POLLIN) hub_.OnUsbEvents();
    ++i;
  }
  for (const uint8_t number : waitingNumbers_) {
    if (i < fds.size() && fds[i].revents) hub_.OnPrinterWritable(number);
    ++i;
  }
  waitingNumbers_.clear();
}

void Server::OnSignal() {
  signalfd_siginfo info{};
  while (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo != SIGHUP) {
      hub_.Log("stopping on signal " + std::to_string(info.ssi_signo));
      stopping_ = true;
    } else {
      // A reload refused still ends: the server serves on with the config in use.
      TellServiceManager(ReloadingState());
      if (auto config = reload_()) hub_.Reload(*config);
      TellServiceManager("READY=1");
    }
  }
}

void Server::Accept() {
  for (int i = 0; i < 64; ++i) {  // a bounded batch, so a flood cannot starve the others
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &length,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) return;
    if (connections_.size() >= kMaxConnections) {
      hub_.Log("refusing " + Describe(peer) + ": too many connections");
      continue;
    }
    // One address cannot take the whole table: the others keep room to get in.
    const size_t fromPeer = static_cast<size_t>(
        std::count_if(connections_.begin(), connections_.end(),
                      [&](const auto& o) { return o->peerIp == peer.sin_addr.s_addr; }));
    if (fromPeer >= hub_.limits().maxPerAddress) {
      hub_.Log("refusing " + Describe(peer) + ": too many connections from its address");
      continue;
    }
    SetNoDelay(fd.get());
    auto c = std::make_unique<Connection>();
    c->fd = std::move(fd);
    c->peerIp = peer.sin_addr.s_addr;
    // s_addr already holds the address in the order the wire carries it.
    c->session = std::make_unique<Session>(hub_, peer.sin_addr.s_addr, Describe(peer));
    connections_.push_back(std::move(c));
  }
}

void Server::Read(Connection& c) {
  uint8_t buffer[65536];
  const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, 0);
  if (n > 0) return c.session->Receive({buffer, static_cast<size_t>(n)});
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  c.dead = true;
}

void Server::Flush(Connection& c) {
  auto& out = c.session->output();
  while (!c.dead && !out.empty()) {
    const ssize_t n = ::send(c.fd.get(), out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.session->Consumed(static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else if (!(n < 0 && errno == EINTR)) {
      c.dead = true;
    }
  }
}

void Server::Reap() {
  std::erase_if(connections_, [this](const std::unique_ptr<Connection>& c) {
    const Session::State s = c->session->state();
    const bool done = c->dead || s == Session::State::Drop ||
                      (s == Session::State::CloseAfterFlush && c->session->output().empty());
    if (done && c->dead && c->session->greeted())
      hub_.Log(LogText(c->session->computerName()) + " disconnected");
    return done;
  });
}

}  // namespace tessaro::hubd
