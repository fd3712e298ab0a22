// SPDX-License-Identifier: GPL-2.0-or-later
// The server's own web page over HTTP: the page, its JSON view and an administrator's actions.
// libmicrohttpd does the HTTP in hubd's own loop (its epoll descriptor joins hubd's poll), so the
// handlers read and change the device table on the thread that owns it, and no thread is added.
// Connections are bounded in number, per address, in time and in memory. Only requests that name
// the server itself (Host) are served, and actions only from the page's own origin.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hubd/AdminSessions.h"
#include "hubd/PageOrigin.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace tessaro::hubd {

class Hub;

class WebServer {
 public:
  static constexpr unsigned kMaxConnections = 64;
  static constexpr unsigned kMaxPerAddress = 8;
  // Both how long a connection may be idle (libmicrohttpd's time-out) and how long one request
  // may take as a whole, from its connection's start or its previous request's end.
  static constexpr unsigned kTimeoutSeconds = 10;
  static constexpr size_t kMemoryPerConnection = 32 * 1024;  // headers beyond it are refused
  static constexpr size_t kMaxBody = 1024;

  // `adminPasswordPath`: where the administrator's password hash is (AdminPassword.h).
  WebServer(Hub& hub, std::string adminPasswordPath)
      : hub_(hub), adminPasswordPath_(std::move(adminPasswordPath)) {}
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on `address` (network order) and `port`; false with `error` set when it cannot.
  bool Start(uint32_t address, uint16_t port, std::string& error);
  // The descriptor to poll for input; -1 when not started.
  int fd() const;
  // Does what is due; call when fd() is readable and after every turn of the loop.
  void Run();
  // When Run is next due without input; nullopt for no deadline.
  std::optional<uint64_t> TimeoutMs() const;

  // A request as the handlers see it, and what it gets; public for the libmicrohttpd callbacks.
  struct Request {
    std::string method;
    std::string url;
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::string peer;     // IP:PORT
    std::string session;  // the session cookie's value, if any
    std::string body;
  };
  struct Answer {
    unsigned status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // more than every answer has
  };
  static constexpr const char* kSessionCookie = "tessaro-admin";
  Answer Handle(const Request& request);
  // A connection's start and each request's end start the time of its next request.
  void StartRequestTime(MHD_Connection* connection);
  void RestartRequestTime(MHD_Connection* connection);
  void Forget(MHD_Connection* connection) { requestStarts_.erase(connection); }

 private:
  // Cuts the connections whose request has taken longer than it may; libmicrohttpd counts only
  // inactivity, so one byte now and then would hold a connection for ever.
  void CutOverdue();
  std::optional<std::chrono::steady_clock::time_point> NextCut() const;

  Answer Act(const Request& request);
  Answer LogIn(const Request& request);
  Answer LogOut(const Request& request);
  // The password hash set now, if any (read each time, so a new one counts at once).
  std::optional<std::string> PasswordHash() const;
  bool IsAdmin(const Request& request, const std::optional<std::string>& hash);

  Hub& hub_;
  std::string adminPasswordPath_;
  AdminSessions sessions_;
  mutable std::string lastPasswordError_;
  MHD_Daemon* daemon_ = nullptr;
  std::optional<PageOrigin> origin_;  // set by Start
  // When each open connection's current request started; dropped once it was cut.
  std::map<MHD_Connection*, std::chrono::steady_clock::time_point> requestStarts_;
};

}  // namespace tessaro::hubd
