// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-hubd's web page: the page and its JSON follow what PCs do, an administrator
// who logged in acts on devices from any machine (and PCs hear of it), nobody else does, other
// sites and names get nothing, and odd or slow requests get a clear status or a bounded time
// while PCs keep being served.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>

#include "base/FileHandle.h"
#include "tests/TestPaths.h"
#include "tests/support/Command.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;
using wire::MsgType;

namespace {

const std::string kBinary = std::string(kBinaryDir) + "/hubd/tessaro-hubd";

std::string Config(const std::string& address) {
  return "[server]\nname = WEB-HUB\naddress = " + address +
         "\nhttp-port = 8080\nmac = 02:00:00:00:00:0A\n"
         "[device 1]\ntype = PRINTER\nvendor-id = 04f9\nproduct-id = 0042\n"
         "manufacturer = Lumen\nproduct = Laser <b>2040</b>\nserial = LW-1\n"
         "[device 2]\ntype = MASS STORAGE\nvendor-id = 0781\nproduct-id = 5567\n";
}

struct HttpAnswer {
  int status = 0;
  std::string head;  // the status line and the headers
  std::string body;
  // A header's value (the first of that name, letters in any case), empty without one.
  std::string Header(const std::string& name) const {
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string key = "\r\n" + name + ":";
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find(key);
    if (at == std::string::npos) return {};
    const auto start = head.find_first_not_of(' ', at + key.size());
    return head.substr(start, head.find("\r\n", start) - start);
  }
};

// An HTTP/1.0 request's text: `headers` are whole lines ("Name: value\r\n").
std::string Request(const std::string& method, const std::string& path, const std::string& headers,
                    const std::string& body = "") {
  return method + " " + path + " HTTP/1.0\r\n" + headers +
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Sends `request` to the page on `server` from `from` (any address when empty) and reads the
// answer until the server closes.
HttpAnswer Http(const std::string& server, const std::string& request,
                const std::string& from = "") {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (!from.empty()) {
    inet_pton(AF_INET, from.c_str(), &sa.sin_addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return {};
  }
  inet_pton(AF_INET, server.c_str(), &sa.sin_addr);
  sa.sin_port = htons(8080);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return {};
  const timeval limit{10, 0};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (!WriteAll(fd.get(), request.data(), request.size())) return {};
  std::string reply;
  char buffer[4096];
  ssize_t n;
  while ((n = ::recv(fd.get(), buffer, sizeof buffer, 0)) > 0) reply.append(buffer, n);
  HttpAnswer a;
  if (reply.rfind("HTTP/1.", 0) == 0) a.status = std::stoi(reply.substr(9, 3));
  const auto start = reply.find("\r\n\r\n");
  a.head = reply.substr(0, start == std::string::npos ? reply.size() : start + 2);
  if (start != std::string::npos) a.body = reply.substr(start + 4);
  return a;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class HubdWeb : public ::testing::Test {
 protected:
  void Start(const std::string& address) {
    WriteTextFile(config, Config(address));
    hubd = std::make_unique<Process>(kBinary, std::vector<std::string>{"--config", config});
    ASSERT_TRUE(hubd->Start());
    ASSERT_TRUE(hubd->WaitForOutput("hubd: ready")) << hubd->Output();
    ASSERT_TRUE(hubd->WaitForOutput("web page on http://" + address + ":8080/"));
    server = address;
  }

  // What the page's own script sends: the server's address as Host, for a POST its origin, and
  // the session cookie once logged in.
  std::string OwnHeaders(bool post) const {
    return "Host: " + server + ":8080\r\n" +
           (post ? "Origin: http://" + server + ":8080\r\n" : std::string()) +
           (session.empty() ? std::string() : "Cookie: tessaro-admin=" + session + "\r\n");
  }

  // tessaro-hubd --set-admin-password with `password` on its standard input.
  CommandResult SetPassword(const std::string& password) const {
    return RunCommand("/bin/sh",
                      {"-c", R"(printf '%s\n' "$1" | "$0" --config "$2" --set-admin-password)",
                       kBinary, password, config});
  }
  // Logs in from `from`; the session's token, or empty with the answer in `answer`.
  std::string LogIn(const std::string& password, const std::string& from = "",
                    HttpAnswer* answer = nullptr) const {
    const HttpAnswer a = Post("/login", "password=" + password, from);
    if (answer) *answer = a;
    const std::string cookie = a.Header("Set-Cookie");
    const std::string prefix = "tessaro-admin=";
    if (a.status != 200 || cookie.rfind(prefix, 0) != 0) return {};
    return cookie.substr(prefix.size(), cookie.find(';') - prefix.size());
  }
  void BecomeAdmin(const std::string& from = "") {
    ASSERT_EQ(SetPassword("s3cret-pass").exitCode, 0);
    session = LogIn("s3cret-pass", from);
    ASSERT_FALSE(session.empty());
  }
  HttpAnswer Get(const std::string& path, const std::string& from = "") const {
    return Http(server, Request("GET", path, OwnHeaders(false)), from);
  }
  HttpAnswer Post(const std::string& path, const std::string& body = "",
                  const std::string& from = "") const {
    return Http(server, Request("POST", path, OwnHeaders(true), body), from);
  }

  TempDir dir;
  const std::string config = dir / "hub.ini";
  std::unique_ptr<Process> hubd;
  std::string server;
  std::string session;  // the administrator's, once logged in
};

}  // namespace

TEST_F(HubdWeb, PageAndJsonFollowThePcsAndTheAdministratorActs) {
  Start("127.0.0.2");
  const HttpAnswer page = Get("/");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "page.js") && Has(Get("/page.js").body, "status.json"));
  for (const char* file : {"/", "/page.js", "/page.css"})
    EXPECT_FALSE(Has(Get(file).body, "http://")) << "nothing from outside the server: " << file;

  BecomeAdmin("127.0.0.1");
  WireClient a("127.0.0.2", 2005, "127.0.0.5");
  WireClient b("127.0.0.2", 2005, "127.0.0.9");
  ASSERT_TRUE(a.Hello("PC-A") && b.Hello("PC-B"));
  a.Call(MsgType::Link, 3, wire::EncodeDeviceCommand(MsgType::Link, {1, 0, 0}));
  a.Call(MsgType::Lock, 4, wire::EncodeDeviceCommand(MsgType::Lock, {1, 2, 600}));
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(b.Read()) << "the link's and the lock's notices";
  const HttpAnswer status = Get("/status.json", "127.0.0.1");
  ASSERT_EQ(status.status, 200) << status.body;
  for (const char* part :
       {R"("name":"WEB-HUB")", R"("address":"127.0.0.2")", R"("mac":"02:00:00:00:00:0A")",
        R"("protocol":"2.2")", R"("owner":"PC-A","lockKind":2,"lockEndsInSeconds":)",
        R"("product":"Laser <b>2040</b>")", R"("owner":"","lockKind":0,"lockEndsInSeconds":null)",
        R"({"name":"PC-A","from":"127.0.0.5:)", R"({"name":"PC-B","from":"127.0.0.9:)",
        R"("admin":true)"})
    EXPECT_TRUE(Has(status.body, part)) << part << "\n" << status.body;

  // The administrator ends the lock and frees the device: both PCs hear of each.
  EXPECT_EQ(Post("/actions/1/end-lock", "", "127.0.0.1").body, R"({"ok":true,"changed":true})");
  auto pushed = b.Read();
  ASSERT_TRUE(pushed);
  EXPECT_EQ(pushed->type, MsgType::DevicesChanged);
  EXPECT_EQ(wire::DecodeDeviceList(pushed->payload)->at(0).lockCount, 0);
  EXPECT_EQ(Post("/actions/1/free", "", "127.0.0.1").status, 200);
  pushed = b.Read();
  ASSERT_TRUE(pushed);
  EXPECT_EQ(wire::DecodeDeviceList(pushed->payload)->at(0).owner, "");
  // A veto set on the page is what the owner's eject gets.
  EXPECT_EQ(Post("/actions/2/veto", "type=5&name=Files+open", "127.0.0.1").status, 200);
  a.Call(MsgType::Link, 5, wire::EncodeDeviceCommand(MsgType::Link, {2, 0, 0}));
  const auto ejected = a.Call(MsgType::Eject, 6, wire::EncodeDeviceCommand(MsgType::Eject, {2}));
  const auto veto = wire::DecodeEjectReply(ejected.back().payload);
  ASSERT_TRUE(veto);
  EXPECT_EQ(veto->vetoType, 5u);
  EXPECT_EQ(veto->vetoName, "Files open");
}

TEST_F(HubdWeb, OddRequestsGetAClearStatusAndPcsAreStillServed) {
  Start("127.0.0.2");
  BecomeAdmin();
  const struct Case {
    const char* what;
    std::string method, path, body, raw;
    int status;
  } cases[] = {
      {"an unknown path", "GET", "/../../etc/passwd", "", "", 404},
      {"a page posted to", "POST", "/status.json", "", "", 405},
      {"an action by GET", "GET", "/actions/1/free", "", "", 405},
      {"no such device", "POST", "/actions/99/free", "", "", 404},
      {"no such action", "POST", "/actions/1/explode", "", "", 404},
      {"a device number that is no number", "POST", "/actions/x/free", "", "", 404},
      {"a veto without a type", "POST", "/actions/1/veto", "name=x", "", 400},
      {"a veto name over 259 bytes", "POST", "/actions/1/veto",
       "type=5&name=" + std::string(300, 'n'), "", 400},
      {"a body over 1 KiB", "POST", "/actions/1/veto", std::string(5000, 'x'), "", 413},
      {"headers over the memory bound", "", "", "",
       "GET / HTTP/1.0\r\nX-Big: " + std::string(64 * 1024, 'h') + "\r\n\r\n", 431},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HttpAnswer a =
        Http(server, !c.raw.empty() ? c.raw : Request(c.method, c.path, OwnHeaders(true), c.body),
             "127.0.0.1");
    // libmicrohttpd may answer oversized headers with 413 or 431, or close at once.
    if (c.status == 431)
      EXPECT_TRUE(a.status == 431 || a.status == 413 || a.status == 0) << a.status;
    else
      EXPECT_EQ(a.status, c.status) << a.body;
  }
  // Slow clients that never finish a request hold no PC up.
  std::vector<UniqueFd> idle;
  for (int i = 0; i < 20; ++i) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(8080);
    inet_pton(AF_INET, "127.0.0.2", &sa.sin_addr);
    ::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    WriteAll(fd.get(), "GET / HT", 8);
    idle.push_back(std::move(fd));
  }
  WireClient pc("127.0.0.2", 2005);
  ASSERT_TRUE(pc.Hello("PC-A"));
  EXPECT_EQ(pc.Call(MsgType::Ping, 2).at(0).type, MsgType::Pong);
  EXPECT_EQ(Get("/status.json", "127.0.0.3").status, 200);
}

TEST_F(HubdWeb, WithoutAnAdministratorPasswordNobodyActs) {
  Start("127.0.0.2");
  const HttpAnswer status = Get("/status.json", "127.0.0.1");
  EXPECT_TRUE(Has(status.body, R"("admin":false,"adminPasswordSet":false)")) << status.body;
  EXPECT_TRUE(Has(Get("/").body, "--set-admin-password")) << "the page says how to set one";
  for (const char* path : {"/actions/1/free", "/actions/1/end-lock", "/login"}) {
    const HttpAnswer a = Post(path, "type=0&password=", "127.0.0.1");
    EXPECT_EQ(a.status, 403) << path;
    EXPECT_TRUE(Has(a.body, "--set-admin-password")) << path << ": " << a.body;
  }
}

// The server's own machine is no administrator by its address; whoever knows the password is,
// from any machine, for as long as the session and the password last.
TEST_F(HubdWeb, AnAdministratorLogsInFromAnyMachine) {
  for (const char* address : {"10.77.0.1/32", "10.77.0.2/32"})
    ASSERT_EQ(RunCommand("/usr/sbin/ip", {"addr", "add", address, "dev", "lo"}).exitCode, 0);
  Start("10.77.0.2");
  WireClient pc("10.77.0.2", 2005, "10.77.0.1");
  ASSERT_TRUE(pc.Hello("PC-A"));
  pc.Call(MsgType::Link, 3, wire::EncodeDeviceCommand(MsgType::Link, {1, 0, 0}));

  for (const char* bad : {"", "short"})
    EXPECT_EQ(SetPassword(bad).exitCode, 1) << "refused: '" << bad << "'";
  const CommandResult set = SetPassword("correct horse");
  ASSERT_EQ(set.exitCode, 0) << set.err;
  const std::string file = config + ".pins.admin";
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string stored = ReadTextFile(file);
  EXPECT_EQ(stored.rfind("$argon2id$", 0), 0u) << stored;
  EXPECT_FALSE(Has(stored, "correct horse"));

  for (const char* from : {"127.0.0.1", "10.77.0.1"}) {
    EXPECT_EQ(Post("/actions/1/free", "", from).status, 403) << from << " without logging in";
    EXPECT_TRUE(Has(Get("/status.json", from).body, R"("admin":false,"adminPasswordSet":true)"));
  }
  HttpAnswer answer;
  EXPECT_EQ(LogIn("wrong horse", "10.77.0.1", &answer), "");
  EXPECT_EQ(answer.status, 403);
  EXPECT_EQ(answer.Header("Set-Cookie"), "");

  session = LogIn("correct+horse", "10.77.0.1", &answer);
  ASSERT_EQ(session.size(), 64u) << answer.status << " " << answer.body;
  for (const char* part : {"; Path=/", "; Max-Age=3600", "; HttpOnly", "; SameSite=Strict"})
    EXPECT_TRUE(Has(answer.Header("Set-Cookie"), part)) << part;
  EXPECT_TRUE(hubd->WaitForOutput("the administrator logged in from 10.77.0.1:"));
  EXPECT_TRUE(Has(Get("/status.json", "10.77.0.1").body, R"("admin":true)"));
  EXPECT_EQ(Post("/actions/1/free", "", "10.77.0.1").body, R"({"ok":true,"changed":true})");

  const std::string real = session;
  session = std::string(64, '0');
  EXPECT_EQ(Post("/actions/1/end-lock", "", "10.77.0.1").status, 403) << "a made-up session";
  // A new password ends the sessions of the old one; logging out ends one's own.
  session = real;
  ASSERT_EQ(SetPassword("battery staple").exitCode, 0);
  EXPECT_EQ(Post("/actions/1/end-lock", "", "10.77.0.1").status, 403) << "the old password's";
  session = LogIn("battery+staple", "10.77.0.1");
  ASSERT_FALSE(session.empty());
  EXPECT_EQ(Post("/actions/1/end-lock", "", "10.77.0.1").status, 200);
  const HttpAnswer out = Post("/logout", "", "10.77.0.1");
  EXPECT_EQ(out.status, 200);
  EXPECT_TRUE(Has(out.Header("Set-Cookie"), "Max-Age=0"));
  EXPECT_EQ(Post("/actions/1/end-lock", "", "10.77.0.1").status, 403) << "logged out";
}

// A page of another site, or one reached through a domain that points at the server's address
// (DNS rebinding), gets nothing: neither status.json nor an action.
TEST_F(HubdWeb, OnlyTheServersOwnNamesAndOriginAreServed) {
  Start("127.0.0.2");
  BecomeAdmin();
  WireClient pc("127.0.0.2", 2005);
  ASSERT_TRUE(pc.Hello("PC-A"));
  pc.Call(MsgType::Link, 3, wire::EncodeDeviceCommand(MsgType::Link, {1, 0, 0}));
  const std::string ownOrigin = "Origin: http://127.0.0.2:8080\r\n";
  const struct Case {
    const char* what;
    std::string method, path, headers;
    int status;
  } cases[] = {
      {"the address as Host", "GET", "/status.json", "Host: 127.0.0.2\r\n", 200},
      {"the address and port as Host", "GET", "/", "Host: 127.0.0.2:8080\r\n", 200},
      {"a rebinding domain", "GET", "/status.json", "Host: evil.example\r\n", 421},
      {"a rebinding domain with the port", "GET", "/", "Host: evil.example:8080\r\n", 421},
      {"a domain that starts with the address", "GET", "/status.json",
       "Host: 127.0.0.2.evil.example:8080\r\n", 421},
      {"another port", "GET", "/status.json", "Host: 127.0.0.2:9999\r\n", 421},
      {"another address of the machine", "GET", "/status.json", "Host: 127.0.0.1:8080\r\n", 421},
      {"no Host", "GET", "/status.json", "", 421},
      {"an action through a rebinding domain", "POST", "/actions/1/free",
       "Host: evil.example:8080\r\nOrigin: http://evil.example:8080\r\n", 421},
      {"an action without Origin", "POST", "/actions/1/free", "Host: 127.0.0.2:8080\r\n", 403},
      {"an action from another site", "POST", "/actions/1/free",
       "Host: 127.0.0.2:8080\r\nOrigin: http://evil.example\r\n", 403},
      {"an action from an opaque origin", "POST", "/actions/1/free",
       "Host: 127.0.0.2:8080\r\nOrigin: null\r\n", 403},
      {"an action from another port", "POST", "/actions/1/free",
       "Host: 127.0.0.2:8080\r\nOrigin: http://127.0.0.2:9999\r\n", 403},
      {"an action from another scheme", "POST", "/actions/1/end-lock",
       "Host: 127.0.0.2:8080\r\nOrigin: https://127.0.0.2:8080\r\n", 403},
      {"a login from another site", "POST", "/login",
       "Host: 127.0.0.2:8080\r\nOrigin: http://evil.example\r\n", 403},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Logged in: only Host or Origin can be what refuses it.
    const HttpAnswer a = Http(
        server, Request(c.method, c.path, c.headers + "Cookie: tessaro-admin=" + session + "\r\n"),
        "127.0.0.1");
    EXPECT_EQ(a.status, c.status) << a.body;
    EXPECT_EQ(a.Header("X-Frame-Options"), "DENY");
    const std::string policy = a.Header("Content-Security-Policy");
    EXPECT_TRUE(Has(policy, "frame-ancestors 'none'") && Has(policy, "script-src 'self'") &&
                !Has(policy, "unsafe"))
        << policy;
  }
  const HttpAnswer status = Get("/status.json", "127.0.0.1");
  EXPECT_TRUE(Has(status.body, R"("owner":"PC-A")")) << "no refused action took effect\n"
                                                     << status.body;
  // The page's own origin may act; the policy forbids inline script, so the page has none.
  EXPECT_EQ(
      Http(server, Request("POST", "/actions/1/free", OwnHeaders(false) + ownOrigin), "127.0.0.1")
          .status,
      200);
  const HttpAnswer page = Get("/");
  for (const char* inline_ : {"<script>", "<style", "onclick", "javascript:"})
    EXPECT_FALSE(Has(page.body, inline_) || Has(Get("/page.js").body, inline_)) << inline_;
}

// A client that sends one header byte every 2 s is never idle for the 10 s inactivity time-out,
// yet a request may take 10 s as a whole: each such connection is closed within the limit instead
// of being held for as long as the bytes keep coming.
TEST_F(HubdWeb, ARequestDrippedByteByByteEndsWithinItsTime) {
  std::vector<std::string> sources;
  for (int i = 0; i < 4; ++i) sources.push_back("127.0.0." + std::to_string(10 + i));
  Start("127.0.0.2");
  std::vector<UniqueFd> drips;
  for (const std::string& from : sources) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &sa.sin_addr);
    ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    inet_pton(AF_INET, "127.0.0.2", &sa.sin_addr);
    sa.sin_port = htons(8080);
    ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    drips.push_back(std::move(fd));
  }
  const std::string request =
      "GET / HTTP/1.1\r\nHost: 127.0.0.2\r\nX-Slow: " + std::string(100, 'x');
  // Whether the server closed `fd`: what it sent is read up to the end.
  const auto closedByServer = [](int fd) {
    char buffer[512];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {}
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
  };
  const auto start = std::chrono::steady_clock::now();
  const auto giveUp = start + std::chrono::seconds(30);  // the old server held them for ever
  size_t sent = 0, open = drips.size();
  while (open > 0 && sent < request.size() && std::chrono::steady_clock::now() < giveUp) {
    std::vector<pollfd> fds;
    for (UniqueFd& fd : drips) {
      if (!fd.valid()) continue;
      if (closedByServer(fd.get()) || ::send(fd.get(), &request[sent], 1, MSG_NOSIGNAL) != 1) {
        fd = UniqueFd();
        --open;
      } else {
        fds.push_back({fd.get(), POLLIN, 0});
      }
    }
    ++sent;
    ::poll(fds.data(), fds.size(), 2000);  // the next byte, or sooner when one is closed
  }
  EXPECT_EQ(open, 0u) << "connections still open after " << sent << " bytes, one every 2 s";
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(9))
      << "closed before its time was up";
  EXPECT_EQ(Get("/status.json", "127.0.0.10").status, 200) << "the page still serves";
}
