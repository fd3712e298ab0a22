// SPDX-License-Identifier: GPL-2.0-or-later
// The real tessaro-busd under clients that misbehave: ones that never read, too many of them,
// no descriptors left, and a device server that never answers a command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/busd/BusdProcessFixture.h"

using namespace tessaro;
using namespace tessaro::busd_process;

namespace {

// True once the peer has closed `fd` (end of stream or a reset), within `limit`.
bool ClosedByPeer(int fd, std::chrono::seconds limit = kDeadline) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(limit.count() * 1000)) <= 0) return false;
  uint8_t byte;
  return ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0 && errno != EAGAIN;
}

// User plus system CPU time of a process, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

bool Answers(const std::string& path) {
  RawBus bus(path);
  if (!bus.valid()) return false;
  bus.SendRequest(busipc::Op::Control, code::kGetTrunkVersion, {}, 64);
  const auto reply = bus.Receive();
  return reply && reply->status == 0;
}

class BusdLimits : public BusdProcess {
 protected:
  std::vector<std::string> BusdArguments() const override {
    return {"--server", "127.0.0.2",           "--no-discovery",          "--max-clients",
            "4",        "--max-client-output", std::to_string(kOutputCap)};
  }
  static constexpr size_t kOutputCap = busipc::kReplyHeaderSize + busipc::kMaxPayload;
};

TEST_F(BusdLimits, ClientThatNeverReadsIsClosedAndOthersAreStillAnswered) {
  RawBus trunk(TrunkPath());
  Attach(trunk);
  UniqueFd slow = ConnectUnix(SpurPath(0));
  ASSERT_TRUE(slow.valid());
  ::fcntl(slow.get(), F_SETFL, O_NONBLOCK);
  // Device list requests whose replies are far larger than they are, never read; busd should
  // close the connection once its unsent replies pass the cap. Bounded in time and bytes.
  const auto request = busipc::EncodeRequest({busipc::Op::Control, code::kGetDeviceList, 2048, {}});
  std::vector<uint8_t> batch;
  for (int i = 0; i < 256; ++i) batch.insert(batch.end(), request.begin(), request.end());
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  size_t written = 0;
  bool closed = false;
  while (!closed && written < (64u << 20) && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = ::send(slow.get(), batch.data(), batch.size(), MSG_NOSIGNAL);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{slow.get(), POLLOUT, 0};
      ::poll(&p, 1, 100);
      closed = (p.revents & (POLLHUP | POLLERR)) != 0;
    } else {
      closed = true;  // EPIPE or ECONNRESET: busd has closed it
    }
  }
  EXPECT_TRUE(closed) << "busd kept a client that never reads; " << written << " bytes sent";
  EXPECT_EQ(trunk.Call(code::kGetTrunkVersion, {}).status, 0u);
  RawBus spur(SpurPath(0));
  EXPECT_EQ(spur.Call(code::kGetSpurAddress, {}).status, 0u);
}

TEST_F(BusdLimits, ConnectionsBeyondTheCapAreClosed) {
  std::vector<std::unique_ptr<RawBus>> open;
  for (int i = 0; i < 4; ++i) {
    open.push_back(std::make_unique<RawBus>(TrunkPath()));
    ASSERT_EQ(open.back()->Call(code::kGetTrunkVersion, {}).status, 0u) << "connection " << i;
  }
  UniqueFd extra = ConnectUnix(TrunkPath());
  ASSERT_TRUE(extra.valid());  // the kernel queues it; busd closes it once accepted
  EXPECT_TRUE(ClosedByPeer(extra.get()));
  EXPECT_EQ(open.front()->Call(code::kGetTrunkVersion, {}).status, 0u);
  open.pop_back();
  EXPECT_TRUE(WaitFor([this] { return Answers(TrunkPath()); })) << "no room after a close";
}

// busd under a descriptor limit far below the connections it is offered.
class BusdFewDescriptors : public BusdProcess {
 protected:
  std::vector<std::string> BusdWrapper() const override {
    return {"/usr/bin/prlimit", "--nofile=32:32", "--"};
  }
};

TEST_F(BusdFewDescriptors, DoesNotSpinWhenAcceptRunsOutOfDescriptorsAndRecovers) {
  // The server's link is up and its devices known before the descriptors run out. Besides
  // being the usual case, this keeps the sanitized build honest: its first check of an object's
  // dynamic type probes memory through a pipe, which a starved process cannot open, and would
  // then report a sound object as a bad one.
  {
    RawBus trunk(TrunkPath());
    Attach(trunk);
  }
  // More than busd can take, but within the listen backlog, so connecting never blocks.
  std::vector<UniqueFd> clients;
  for (int i = 0; i < 48; ++i) {
    clients.push_back(ConnectUnix(TrunkPath()));
    ASSERT_TRUE(clients.back().valid()) << "connection " << i;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // busd takes what it can
  // Only bounds a spin: a busd polling a listener it cannot accept from takes all the CPU it can
  // get, even on a busy machine far more than the tenth allowed; an idle one takes next to none.
  const auto window = std::chrono::seconds(3);
  const long before = CpuTicks(busd_->pid());
  std::this_thread::sleep_for(window);
  const long used = CpuTicks(busd_->pid()) - before;
  EXPECT_LT(used, ::sysconf(_SC_CLK_TCK) * window.count() / 10)
      << "busd spun while out of descriptors";
  clients.clear();
  EXPECT_TRUE(WaitFor([this] { return Answers(TrunkPath()); })) << busd_->Output();
}

TEST_F(BusdProcess, CommandTheServerNeverAnswersFailsWith31) {
  RawBus trunk(TrunkPath());
  Attach(trunk);
  hub_->SetAnswerCommands(false);
  RawBus spur(SpurPath(0));
  // RawBus gives up after 20 s, so a busd that waits forever fails here instead of hanging.
  EXPECT_EQ(spur.Call(code::kLinkDevice, {1}, 1).status, 31u);
  ASSERT_EQ(hub_->commands().size(), 1u);
  // The connection carries on, and the server, which still answers pings, stays listed.
  const auto address = spur.Call(code::kGetSpurAddress, std::vector<uint8_t>(64));
  EXPECT_EQ(address.output, (std::vector<uint8_t>{8, 0, 0, 0, 127, 0, 0, 2}));
  EXPECT_EQ(ServerList(trunk).at(12), 1);
}

}  // namespace
