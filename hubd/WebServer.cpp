// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/WebServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <map>

#include "base/HexText.h"
#include "base/Ipv4Text.h"
#include "base/LogText.h"
#include "base/NumberText.h"
#include "hubd/AdminPassword.h"
#include "hubd/Hub.h"
#include "hubd/StatusJson.h"
#include "hubd/StatusPage.h"

namespace tessaro::hubd {

namespace {

// What one request has gathered while its body arrives.
struct Pending {
  std::string body;
  bool tooLarge = false;
};

constexpr const char* kNoPassword =
    "no administrator password is set: set one on the server with tessaro-hubd --config FILE "
    "--set-admin-password";

// Sent with every answer: no other site may frame the page, load anything into it or run a script
// in it, and the page itself loads only its own files and posts only to itself.
constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

// A form field's text; a broken escape leaves the field as it came.
std::string FormDecode(std::string_view text) {
  return PercentDecode(text, PlusIs::Space).value_or(std::string(text));
}

std::map<std::string, std::string> FormFields(std::string_view body) {
  std::map<std::string, std::string> fields;
  while (!body.empty()) {
    const auto amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    const auto eq = pair.find('=');
    if (eq != std::string_view::npos)
      fields[FormDecode(pair.substr(0, eq))] = FormDecode(pair.substr(eq + 1));
    body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
  }
  return fields;
}

WebServer::Answer Json(unsigned status, const std::string& body) {
  return {status, "application/json", body, {}};
}

// Our own texts only: they hold nothing that JSON escapes.
std::string ErrorJson(const std::string& text) { return R"({"error":")" + text + R"("})"; }

std::string PeerText(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr || info->client_addr->sa_family != AF_INET) return "?";
  const auto* in = reinterpret_cast<const sockaddr_in*>(info->client_addr);
  return FormatIpv4(in->sin_addr.s_addr) + ":" + std::to_string(ntohs(in->sin_port));
}

std::optional<std::string> Header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::string Cookie(MHD_Connection* connection) {
  const char* value =
      MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, WebServer::kSessionCookie);
  return value ? value : "";
}

MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* upload, size_t* uploadSize, void** state) {
  auto* pending = static_cast<Pending*>(*state);
  if (!pending) {
    *state = new Pending;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    if (pending->body.size() + *uploadSize > WebServer::kMaxBody)
      pending->tooLarge = true;
    else
      pending->body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  auto& server = *static_cast<WebServer*>(cls);
  const WebServer::Answer answer =
      pending->tooLarge ? Json(413, R"({"error":"the body is too large"})")
                        : server.Handle({method, url, Header(connection, MHD_HTTP_HEADER_HOST),
                                         Header(connection, "Origin"), PeerText(connection),
                                         Cookie(connection), std::move(pending->body)});
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "X-Frame-Options", "DENY");
  MHD_add_response_header(response, "Content-Security-Policy", kContentSecurityPolicy);
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  for (const auto& [name, value] : answer.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, answer.status, response);
  MHD_destroy_response(response);
  return queued;
}

void OnCompleted(void* cls, MHD_Connection* connection, void** state, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*state);
  *state = nullptr;
  static_cast<WebServer*>(cls)->RestartRequestTime(connection);
}

void OnConnection(void* cls, MHD_Connection* connection, void**,
                  MHD_ConnectionNotificationCode code) {
  auto& server = *static_cast<WebServer*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED)
    server.StartRequestTime(connection);
  else
    server.Forget(connection);
}

}  // namespace

WebServer::~WebServer() {
  if (daemon_) MHD_stop_daemon(daemon_);
}

bool WebServer::Start(uint32_t address, uint16_t port, std::string& error) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  daemon_ = MHD_start_daemon(
      MHD_USE_EPOLL, port, nullptr, nullptr, &OnRequest, this, MHD_OPTION_SOCK_ADDR, &sa,
      MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      kMaxPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, kTimeoutSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMemoryPerConnection, MHD_OPTION_NOTIFY_COMPLETED,
      &OnCompleted, this, MHD_OPTION_NOTIFY_CONNECTION, &OnConnection, this, MHD_OPTION_END);
  if (!daemon_) error = "cannot serve the web page on port " + std::to_string(port);
  origin_.emplace(OwnPageNames(FormatIpv4(address)), port);
  return daemon_ != nullptr;
}

int WebServer::fd() const {
  if (!daemon_) return -1;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
  return info ? info->epoll_fd : -1;
}

void WebServer::Run() {
  if (!daemon_) return;
  MHD_run(daemon_);
  CutOverdue();
}

void WebServer::StartRequestTime(MHD_Connection* connection) {
  requestStarts_[connection] = hub_.clock().Now();
}

void WebServer::RestartRequestTime(MHD_Connection* connection) {
  // Never for a connection already cut or closed: it is gone, or about to be.
  if (const auto it = requestStarts_.find(connection); it != requestStarts_.end())
    it->second = hub_.clock().Now();
}

void WebServer::CutOverdue() {
  const auto now = hub_.clock().Now();
  for (auto it = requestStarts_.begin(); it != requestStarts_.end();) {
    if (now - it->second < std::chrono::seconds(kTimeoutSeconds)) {
      ++it;
      continue;
    }
    // libmicrohttpd offers no way to close a connection from outside its callbacks: a shut
    // down socket reads as closed, so it closes the connection on its next turn.
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(it->first, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info) ::shutdown(info->connect_fd, SHUT_RDWR);
    it = requestStarts_.erase(it);
  }
}

std::optional<std::chrono::steady_clock::time_point> WebServer::NextCut() const {
  std::optional<std::chrono::steady_clock::time_point> next;
  for (const auto& [connection, start] : requestStarts_)
    if (!next || start < *next) next = start;
  if (next) *next += std::chrono::seconds(kTimeoutSeconds);
  return next;
}

std::optional<uint64_t> WebServer::TimeoutMs() const {
  if (!daemon_) return std::nullopt;
  std::optional<uint64_t> due;
  if (MHD_UNSIGNED_LONG_LONG ms = 0; MHD_get_timeout(daemon_, &ms) == MHD_YES) due = ms;
  if (const auto cut = NextCut()) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*cut - hub_.clock().Now());
    const auto ms = static_cast<uint64_t>(std::max<int64_t>(0, wait.count()));
    if (!due || ms < *due) due = ms;
  }
  return due;
}

WebServer::Answer WebServer::Handle(const Request& request) {
  // A browser names what it reached; any other name is a domain pointed at this address.
  if (!request.host || !origin_ || !origin_->IsOwnHost(*request.host))
    return Json(421, R"({"error":"this server answers only to its own address in Host"})");
  const std::string& url = request.url;
  const bool get = request.method == "GET" || request.method == "HEAD";
  const auto file = [&](const char* type, const std::string& text) {
    return get ? Answer{200, type, text, {}} : Json(405, R"({"error":"GET only"})");
  };
  if (url == "/" || url == "/index.html") return file("text/html; charset=utf-8", StatusPageHtml());
  if (url == "/page.css") return file("text/css; charset=utf-8", StatusPageStyle());
  if (url == "/page.js") return file("text/javascript; charset=utf-8", StatusPageScript());
  if (url == "/status.json") {
    if (!get) return Json(405, R"({"error":"GET only"})");
    hub_.RunExpiry();
    const auto hash = PasswordHash();
    return Json(200, StatusJson(hub_, IsAdmin(request, hash), hash.has_value()));
  }
  const bool action = url.rfind("/actions/", 0) == 0;
  if (!action && url != "/login" && url != "/logout")
    return Json(404, R"({"error":"no such page"})");
  if (request.method != "POST") return Json(405, R"({"error":"POST only"})");
  // Browsers send Origin with every POST: one from another site's page is refused here.
  if (!request.origin || !origin_->IsOwnOrigin(*request.origin))
    return Json(403,
                R"({"error":"actions are taken only from this server's own page, by its Origin"})");
  if (url == "/login") return LogIn(request);
  if (url == "/logout") return LogOut(request);
  const auto hash = PasswordHash();
  if (!hash) return Json(403, ErrorJson(kNoPassword));
  if (!IsAdmin(request, hash)) return Json(403, R"({"error":"log in as administrator first"})");
  return Act(request);
}

std::optional<std::string> WebServer::PasswordHash() const {
  std::string error;
  auto hash = ReadAdminPasswordHash(adminPasswordPath_, error);
  if (!error.empty() && error != lastPasswordError_)  // once, not at every poll of the page
    hub_.Log(error + "; the web page takes no actions");
  lastPasswordError_ = error;
  return hash;
}

bool WebServer::IsAdmin(const Request& request, const std::optional<std::string>& hash) {
  return hash && !request.session.empty() &&
         sessions_.Valid(request.session, *hash, hub_.clock().Now());
}

// Form field `password`; a session cookie when it is the administrator's.
WebServer::Answer WebServer::LogIn(const Request& request) {
  const auto hash = PasswordHash();
  if (!hash) return Json(403, ErrorJson(kNoPassword));
  const auto now = hub_.clock().Now();
  if (!sessions_.MayTry(now))
    return Json(429, R"({"error":"too many password tries; try again in a second"})");
  if (!AdminPasswordMatches(*hash, FormFields(request.body)["password"])) {
    hub_.Log("the web page: a wrong administrator password from " + request.peer);
    return Json(403, R"({"error":"that is not the administrator password"})");
  }
  const std::string token = sessions_.Open(*hash, now);
  hub_.Log("the web page: the administrator logged in from " + request.peer);
  Answer answer = Json(200, R"({"ok":true})");
  answer.headers.emplace_back(
      "Set-Cookie", std::string(kSessionCookie) + "=" + token + "; Path=/; Max-Age=" +
                        std::to_string(std::chrono::seconds(AdminSessions::kLifetime).count()) +
                        "; HttpOnly; SameSite=Strict");
  return answer;
}

WebServer::Answer WebServer::LogOut(const Request& request) {
  if (!request.session.empty()) sessions_.Close(request.session);
  Answer answer = Json(200, R"({"ok":true})");
  answer.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) +
                                                "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
  return answer;
}

// /actions/N/veto (type, name), /actions/N/end-lock, /actions/N/free.
WebServer::Answer WebServer::Act(const Request& request) {
  const std::string& url = request.url;
  const std::string& body = request.body;
  const std::string rest = url.substr(std::string("/actions/").size());
  const auto slash = rest.find('/');
  const auto number = ParseNumber<uint8_t>(rest.substr(0, slash == std::string::npos ? 0 : slash));
  const std::string action = slash == std::string::npos ? "" : rest.substr(slash + 1);
  DeviceTable& table = hub_.table();
  hub_.RunExpiry();
  const auto owner = number ? table.OwnerOf(*number) : std::nullopt;
  if (!owner) return Json(404, R"({"error":"no such device"})");
  const std::string device = "device " + std::to_string(*number);
  if (action == "veto") {
    auto fields = FormFields(body);
    const auto type = ParseNumber<uint32_t>(fields["type"]);
    const std::string& name = fields["name"];
    if (!type.has_value() || name.size() > wire::kMaxVetoName)
      return Json(400, R"({"error":"want a numeric type and a name of at most 259 bytes"})");
    const uint32_t vetoType = type.value_or(0);
    table.SetEjectVeto(*number, vetoType, vetoType ? name : "");
    hub_.Log("the web page sets the eject veto of " + device + " to " + std::to_string(vetoType) +
             " " + LogText(name));
    return Json(200, R"({"ok":true})");
  }
  DeviceTable::Outcome out;
  if (action == "end-lock")
    out = table.Unlock(*number, *owner, 0);
  else if (action == "free")
    out = table.Unlink(*number, *owner);
  else
    return Json(404, R"({"error":"no such action"})");
  if (out.changed) {
    hub_.Log("the web page: " + action + " of " + device + " (owner " + LogText(*owner) + ")");
    hub_.AnnounceChange();
  }
  return Json(200,
              std::string(R"({"ok":true,"changed":)") + (out.changed ? "true" : "false") + "}");
}

}  // namespace tessaro::hubd
