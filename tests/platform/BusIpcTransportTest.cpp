// SPDX-License-Identifier: GPL-2.0-or-later
// The bus transport over real Unix sockets, against a small scripted server in the test.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "base/FileHandle.h"
#include "platform/linux/BusIpcTransport.h"
#include "protocol/BusFrame.h"

using namespace tessaro;
namespace fs = std::filesystem;

namespace {

UniqueFd ListenUnix(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return UniqueFd{};
  if (::listen(fd.get(), 8) != 0) return UniqueFd{};
  return fd;
}

// Answers each request frame with what `handler` returns: a reply, raw bytes, or nothing (the
// connection is then closed). A handler may also block, as a pending event read does.
class ScriptedBusServer {
 public:
  struct Answer {
    std::optional<busipc::Reply> reply;
    std::vector<uint8_t> raw;  // sent instead when set
    bool hang = false;         // never answer
  };
  using Handler = std::function<Answer(const busipc::Request&)>;

  ScriptedBusServer(const std::string& path, Handler handler)
      : listener_(ListenUnix(path)), handler_(std::move(handler)) {
    accepter_ = std::thread([this] { AcceptLoop(); });
  }
  ~ScriptedBusServer() {
    stopping_ = true;
    ::shutdown(listener_.get(), SHUT_RDWR);
    accepter_.join();
    {
      std::lock_guard lock(mutex_);
      for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : workers_) t.join();
  }
  int connections() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(connections_.size());
  }
  std::vector<busipc::Request> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void AcceptLoop() {
    while (!stopping_) {
      const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::lock_guard lock(mutex_);
      connections_.push_back(fd);
      workers_.emplace_back([this, fd] {
        Serve(fd);
        Forget(fd);
      });
    }
  }
  // Closes a finished connection; the number is dropped first so no shutdown reaches a reuse.
  void Forget(int fd) {
    std::lock_guard lock(mutex_);
    std::erase(connections_, fd);
    ::close(fd);
  }
  void Serve(int fd) {
    busipc::RequestDecoder decoder;
    uint8_t chunk[4096];
    for (;;) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) return;
      decoder.Feed(std::span<const uint8_t>(chunk, static_cast<size_t>(n)));
      while (auto request = decoder.Next()) {
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(*request);
        }
        const Answer a = handler_(*request);
        if (a.hang) {
          while (::read(fd, chunk, sizeof chunk) > 0) {}
          return;
        }
        if (!a.reply && a.raw.empty()) return;
        const auto bytes = a.raw.empty() ? busipc::EncodeReply(*a.reply) : a.raw;
        if (!WriteAll(fd, bytes.data(), bytes.size())) return;
      }
    }
  }

  UniqueFd listener_;
  Handler handler_;
  std::atomic<bool> stopping_{false};
  std::thread accepter_;
  std::mutex mutex_;
  std::vector<int> connections_;
  std::vector<std::thread> workers_;
  std::vector<busipc::Request> requests_;
};

ScriptedBusServer::Answer Ok(std::vector<uint8_t> output) {
  return {busipc::Reply{0, std::move(output)}, {}, false};
}

class BusIpcTransportTest : public ::testing::Test {
 protected:
  BusIpcTransportTest() {
    char pattern[] = "/tmp/tbus-XXXXXX";
    runtime_ = ::mkdtemp(pattern);
    trunkDir_ = busipc::ClassFolder(runtime_, true);
    fs::create_directories(trunkDir_);
  }
  ~BusIpcTransportTest() override { fs::remove_all(runtime_); }
  std::string TrunkSocket(const std::string& name) const { return trunkDir_ + "/" + name; }

  std::string runtime_;
  std::string trunkDir_;
};

template <typename Pred>
bool WaitFor(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

TEST_F(BusIpcTransportTest, ListsNumberedSocketsInNumberOrder) {
  std::vector<UniqueFd> listeners;
  for (const char* name : {"10", "2", "0", "x3"})
    listeners.push_back(ListenUnix(TrunkSocket(name)));
  std::ofstream(TrunkSocket("1")) << "a plain file is no interface";
  BusIpcTransport bus(runtime_);
  const auto trunk = bus.ListInterfaces(InterfaceClass::Trunk);
  ASSERT_TRUE(trunk);
  EXPECT_EQ(*trunk,
            (std::vector<std::string>{TrunkSocket("0"), TrunkSocket("2"), TrunkSocket("10")}));
  EXPECT_FALSE(bus.ListInterfaces(InterfaceClass::Spur)) << "missing class folder";
}

TEST_F(BusIpcTransportTest, OpeningASocketNobodyListensOnFails) {
  {
    UniqueFd gone = ListenUnix(TrunkSocket("0"));  // closed again: the file stays
  }
  BusIpcTransport bus(runtime_);
  EXPECT_EQ(bus.Open(TrunkSocket("0")), kInvalidBusHandle);
  EXPECT_EQ(bus.Open(TrunkSocket("7")), kInvalidBusHandle);
}

TEST_F(BusIpcTransportTest, ControlSendsOneFrameAndCopiesWhatFits) {
  ScriptedBusServer server(TrunkSocket("0"), [](const busipc::Request& r) {
    if (r.code == 0x222020) return Ok({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    return ScriptedBusServer::Answer{busipc::Reply{31, {}}, {}, false};
  });
  BusIpcTransport bus(runtime_);
  const BusHandle h = bus.Open(TrunkSocket("0"));
  ASSERT_NE(h, kInvalidBusHandle);

  uint8_t buffer[8] = {0xAA, 0, 0, 0, 0, 0, 0xEE, 0xEE};
  IoResult r = bus.Control(h, 0x222020, buffer, 3, buffer, 6);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytesReturned, 10u) << "the full size is reported";
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 8),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0xEE, 0xEE}))
      << "at most the output length is copied";

  uint8_t untouched[4] = {9, 9, 9, 9};
  r = bus.Control(h, 0x222044, nullptr, 0, untouched, 4);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, 31u);
  EXPECT_EQ(r.bytesReturned, 0u);
  EXPECT_EQ(std::vector<uint8_t>(untouched, untouched + 4), (std::vector<uint8_t>{9, 9, 9, 9}));

  const auto sent = server.requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].op, busipc::Op::Control);
  EXPECT_EQ(sent[0].code, 0x222020u);
  EXPECT_EQ(sent[0].input, (std::vector<uint8_t>{0xAA, 0, 0}));
  EXPECT_EQ(sent[0].outputLength, 6u);
  bus.Close(h);
}

TEST_F(BusIpcTransportTest, BrokenConnectionsAndStaleHandlesFail) {
  struct Case {
    const char* what;
    ScriptedBusServer::Answer answer;
  } cases[] = {
      {"the server closes the connection", {}},
      {"a reply with a wrong magic", {std::nullopt, std::vector<uint8_t>(12, 0x41), false}},
      {"a failed reply that carries bytes",
       {std::nullopt, {0x54, 0x42, 0x55, 0x53, 31, 0, 0, 0, 4, 0, 0, 0, 1, 2, 3, 4}, false}},
  };
  for (const auto& c : cases) {
    const std::string path = TrunkSocket("0");
    fs::remove(path);
    ScriptedBusServer server(path, [&](const busipc::Request&) { return c.answer; });
    BusIpcTransport bus(runtime_);
    const BusHandle h = bus.Open(path);
    ASSERT_NE(h, kInvalidBusHandle) << c.what;
    uint8_t out[16] = {};
    IoResult r = bus.Control(h, 0x222020, nullptr, 0, out, sizeof out);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, buserr::kGenFailure) << c.what;
    r = bus.Control(h, 0x222020, nullptr, 0, out, sizeof out);
    EXPECT_EQ(r.error, buserr::kGenFailure) << c.what << ": the connection stays broken";
    bus.Close(h);
    r = bus.Control(h, 0x222020, nullptr, 0, out, sizeof out);
    EXPECT_EQ(r.error, buserr::kInvalidHandle) << c.what << ": stale handle";
  }
  BusIpcTransport bus(runtime_);
  uint8_t out[4];
  EXPECT_EQ(bus.Control(12345, 0x222020, nullptr, 0, out, 4).error, buserr::kInvalidHandle);
  EXPECT_EQ(bus.ReadEvent(12345, out, 4).error, buserr::kInvalidHandle);
}

TEST_F(BusIpcTransportTest, ControlRequestWithoutReplyTimesOut) {
  ScriptedBusServer server(TrunkSocket("0"), [](const busipc::Request&) {
    return ScriptedBusServer::Answer{std::nullopt, {}, true};
  });
  BusIpcTransport bus(runtime_, std::chrono::milliseconds(300));
  const BusHandle h = bus.Open(TrunkSocket("0"));
  ASSERT_NE(h, kInvalidBusHandle);
  std::atomic<bool> returned{false};
  IoResult r{true, 0, 0};
  std::thread caller([&] {
    uint8_t out[16];
    r = bus.Control(h, 0x222020, nullptr, 0, out, sizeof out);
    returned = true;
  });
  // The watchdog only bounds a hang: closing the handle ends a call that never times out.
  const bool ended = WaitFor([&] { return returned.load(); });
  if (!ended) bus.Close(h);
  caller.join();
  ASSERT_TRUE(ended) << "the control request blocked";
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, buserr::kTimeout);
  uint8_t out[16];
  EXPECT_EQ(bus.Control(h, 0x222020, nullptr, 0, out, sizeof out).error, buserr::kGenFailure)
      << "a late reply must not answer a later request";
  bus.Close(h);
}

TEST_F(BusIpcTransportTest, EventReadUsesItsOwnConnection) {
  ScriptedBusServer server(TrunkSocket("0"), [](const busipc::Request& r) {
    if (r.op == busipc::Op::EventRead) return ScriptedBusServer::Answer{std::nullopt, {}, true};
    return Ok({1, 0, 0, 0, 1, 0, 12});
  });
  BusIpcTransport bus(runtime_);
  const BusHandle h = bus.Open(TrunkSocket("0"));
  ASSERT_NE(h, kInvalidBusHandle);
  std::atomic<bool> readReturned{false};
  IoResult readResult{true, 0, 0};
  std::thread reader([&] {
    uint8_t buffer[2048];
    readResult = bus.ReadEvent(h, buffer, sizeof buffer);
    readReturned = true;
  });
  ASSERT_TRUE(WaitFor([&] { return server.requests().size() == 1; }));
  EXPECT_EQ(server.connections(), 2);
  // A control request goes through while the read is pending.
  uint8_t out[64] = {};
  EXPECT_TRUE(bus.Control(h, 0x222020, nullptr, 0, out, 64).ok);
  EXPECT_FALSE(readReturned.load());
  const auto sent = server.requests();
  EXPECT_EQ(sent[0].op, busipc::Op::EventRead);
  EXPECT_EQ(sent[0].outputLength, 2048u);
  // Closing the handle ends the pending read.
  bus.Close(h);
  EXPECT_TRUE(WaitFor([&] { return readReturned.load(); }));
  reader.join();
  EXPECT_FALSE(readResult.ok);
}

TEST_F(BusIpcTransportTest, EventRecordArrives) {
  ScriptedBusServer server(TrunkSocket("0"), [](const busipc::Request& r) {
    if (r.op == busipc::Op::EventRead) return Ok({2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    return Ok({});
  });
  BusIpcTransport bus(runtime_);
  const BusHandle h = bus.Open(TrunkSocket("0"));
  uint8_t buffer[2048] = {};
  const IoResult r = bus.ReadEvent(h, buffer, sizeof buffer);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytesReturned, 16u);
  EXPECT_EQ(buffer[0], 2);
}
