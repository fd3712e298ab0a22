// SPDX-License-Identifier: GPL-2.0-or-later
// Soak of one real tessaro-hubd: two honest PCs each link, lock, unlock and unlink their own
// device over and over while a hostile peer floods hubd with Hellos, idle connections that never
// greet, and link/unlink bursts on a third device. Every honest command must succeed; the honest
// cycle time is set against the same cycles without the hostile peer, measured in the same run,
// and hubd's descriptors and memory must come back near where they started.
// Usage: bench_soak [--cycles N] [--seconds S]: N cycles per PC in each phase (default 1000),
// spread over S seconds (default 6, longer than hubd's hello time-out). Must run inside its own
// network namespace (bench/run.sh does that). Exits 1 when an honest command failed, hubd ended
// or a bound was not met.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <list>
#include <memory>
#include <stdexcept>
#include <thread>

#include "base/FileHandle.h"
#include "bench/BenchServers.h"
#include "bench/Stats.h"
#include "protocol/HubWire.h"
#include "tests/support/Process.h"
#include "tests/support/WireClient.h"

using namespace tessaro;
using namespace tessaro::testing;
using wire::MsgType;
using Steady = std::chrono::steady_clock;

namespace {

constexpr const char* kHub = "127.0.0.2";
constexpr uint16_t kPort = 2005;
// Each peer comes from its own loopback address, so hubd's per-address limit of 16 connections
// applies to the hostile peer alone.
constexpr const char* kPcAddress[] = {"127.0.0.10", "127.0.0.11"};
constexpr const char* kHostileAddress = "127.0.0.12";
// Below the per-address limit, leaving room for the hostile peer's Hello and change connections.
constexpr size_t kMaxIdle = 12;
constexpr int kBurst = 16;  // link/unlink pairs sent before reading their answers
constexpr long kFdBound = 8;
constexpr long kRssBoundKb = 32 * 1024;

const std::string kConfig =
    "[server]\n"
    "name = SOAK-HUB\n"
    "address = 127.0.0.2\n"
    "port = 2005\n"
    "mac = 02:00:00:00:00:02\n"
    "[device 1]\n"
    "type = PRINTER\n"
    "vendor-id = 04F9\n"
    "product-id = 0042\n"
    "[device 2]\n"
    "type = MASS STORAGE\n"
    "vendor-id = 2E10\n"
    "product-id = 5567\n"
    "[device 3]\n"
    "type = SCANNER\n"
    "vendor-id = 2E12\n"
    "product-id = 1909\n"
    "[device 4]\n"
    "type = MFP\n"
    "vendor-id = 2E11\n"
    "product-id = 5511\n";

long FdCount(pid_t pid) {
  DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!d) return -1;
  long n = 0;
  while (const dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n;
}

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// hubd's descriptors and memory, sampled from a thread of its own so that the peak is seen.
class Sampler {
 public:
  explicit Sampler(pid_t pid) : pid_(pid) {
    startFds_ = peakFds_ = FdCount(pid);
    startRss_ = peakRss_ = RssKb(pid);
    thread_ = std::thread([this] {
      while (!stop_) {
        Sample();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~Sampler() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  long Sample() {
    const long fds = FdCount(pid_);
    const long rss = RssKb(pid_);
    peakFds_ = std::max(peakFds_.load(), fds);
    peakRss_ = std::max(peakRss_.load(), rss);
    return fds;
  }
  long startFds_, startRss_;
  std::atomic<long> peakFds_, peakRss_;

 private:
  pid_t pid_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::vector<uint8_t> Cmd(MsgType type, uint8_t number, uint8_t kind = 0, uint32_t value = 0) {
  return wire::EncodeDeviceCommand(type, {number, kind, value});
}

// True when the exchange ended with this request's Result and status 0.
bool Succeeded(const std::vector<wire::Frame>& frames, uint32_t id) {
  if (frames.empty() || frames.back().id != id || frames.back().type != MsgType::Result)
    return false;
  return wire::DecodeResult(frames.back().payload) == 0u;
}

struct HonestCounts {
  const char* name;
  long ok = 0;
  long failed = 0;
};

// One honest PC: its own address, computer name and device, its cycles spread evenly over a span
// so that they meet every phase of the flood (idle connections piling up, then closed).
struct HonestPc {
  explicit HonestPc(int index)
      : name(index == 0 ? "SOAK-PC-A" : "SOAK-PC-B"), device(static_cast<uint8_t>(index + 1)),
        client(kHub, kPort, kPcAddress[index]) {
    if (!client.connected() || !client.Hello(name))
      throw std::runtime_error(std::string(name) + " could not greet hubd");
  }

  void Run(long cycles, Steady::time_point start, Steady::duration span) {
    static constexpr MsgType kSteps[] = {MsgType::Link, MsgType::Lock, MsgType::Unlock,
                                         MsgType::Unlink};
    for (long c = 0; c < cycles; ++c) {
      std::this_thread::sleep_until(start + span * c / cycles);
      const auto begin = Steady::now();
      for (size_t s = 0; s < 4; ++s) {
        const MsgType type = kSteps[s];
        // A lock of kind 2 for 60 s; the unlock ends it at once (no linger).
        const auto payload = type == MsgType::Lock     ? Cmd(type, device, 2, 60)
                             : type == MsgType::Unlock ? Cmd(type, device, 2, 0)
                                                       : Cmd(type, device);
        const uint32_t id = ++nextId;
        if (Succeeded(client.Call(type, id, payload), id))
          ++counts[s].ok;
        else
          ++counts[s].failed;
      }
      times.push_back(Steady::now() - begin);
    }
  }

  const char* name;
  uint8_t device;
  WireClient client;
  uint32_t nextId = 100;
  HonestCounts counts[4] = {{"link"}, {"lock"}, {"unlock"}, {"unlink"}};
  std::vector<Steady::duration> times;
};

// A TCP connection from the hostile address that never sends anything.
UniqueFd IdleConnection() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  inet_pton(AF_INET, kHostileAddress, &sa.sin_addr);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return {};
  sa.sin_port = htons(kPort);
  inet_pton(AF_INET, kHub, &sa.sin_addr);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return {};
  return fd;
}

// True once hubd has closed it (or reset it); never blocks.
bool ClosedByPeer(const UniqueFd& fd) {
  pollfd p{fd.get(), POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char byte;
  return ::recv(fd.get(), &byte, 1, MSG_DONTWAIT) <= 0;
}

struct HostileCounts {
  long hellos = 0, helloRefused = 0;
  long idleOpened = 0, idleClosedByHub = 0;
  long changes = 0, changeFailed = 0, changeReconnects = 0;
};

void Hostile(const std::atomic<bool>& stop, HostileCounts& n) {
  std::list<UniqueFd> idle;
  std::unique_ptr<WireClient> changer;
  uint32_t id = 1000;
  while (!stop) {
    // Connect, greet, close: a refusal under the per-address limit is part of the flood.
    for (int i = 0; i < 4; ++i) {
      WireClient hello(kHub, kPort, kHostileAddress);
      if (hello.connected() && hello.Hello("SOAK-HOSTILE-" + std::to_string(n.hellos)))
        ++n.hellos;
      else
        ++n.helloRefused;
    }
    // Keep up to kMaxIdle silent connections; hubd closes each after its hello time-out.
    for (auto it = idle.begin(); it != idle.end();) {
      if (ClosedByPeer(*it)) {
        ++n.idleClosedByHub;
        it = idle.erase(it);
      } else {
        ++it;
      }
    }
    if (idle.size() < kMaxIdle) {
      if (auto fd = IdleConnection(); fd.valid()) {
        idle.push_back(std::move(fd));
        ++n.idleOpened;
      }
    }
    // A burst of link/unlink of device 3, sent at once and answered together.
    if (!changer || !changer->connected()) {
      changer = std::make_unique<WireClient>(kHub, kPort, kHostileAddress);
      if (!changer->connected() || !changer->Hello("SOAK-HOSTILE")) {
        changer.reset();
        ++n.changeReconnects;
        continue;
      }
    }
    bool sent = true;
    const uint32_t first = id + 1;
    for (int i = 0; i < kBurst && sent; ++i) {
      sent = changer->Send(MsgType::Link, ++id, Cmd(MsgType::Link, 3)) &&
             changer->Send(MsgType::Unlink, ++id, Cmd(MsgType::Unlink, 3));
    }
    long answered = 0;
    while (sent && answered < 2 * kBurst) {
      const auto f = changer->Read(std::chrono::seconds(10));
      if (!f) break;
      if (f->type != MsgType::Result || f->id < first) continue;
      ++answered;
      if (wire::DecodeResult(f->payload) == 0u)
        ++n.changes;
      else
        ++n.changeFailed;
    }
    if (answered < 2 * kBurst) {
      n.changeFailed += 2 * kBurst - answered;
      changer.reset();
      ++n.changeReconnects;
    }
  }
}

// Runs both honest PCs side by side; returns their cycle times pooled.
bench::Samples RunHonest(std::vector<std::unique_ptr<HonestPc>>& pcs, long cycles,
                         Steady::duration span) {
  const auto start = Steady::now();
  std::vector<std::thread> threads;
  for (auto& pc : pcs) {
    pc->times.clear();
    for (auto& c : pc->counts) c.ok = c.failed = 0;
    threads.emplace_back([&pc, cycles, start, span] { pc->Run(cycles, start, span); });
  }
  for (auto& t : threads) t.join();
  bench::Samples pooled;
  for (auto& pc : pcs)
    for (const auto d : pc->times) pooled.Add(d);
  return pooled;
}

// Prints each honest PC's command counts; returns how many failed.
long ReportCounts(const char* phase, const std::vector<std::unique_ptr<HonestPc>>& pcs) {
  long failed = 0;
  for (const auto& pc : pcs) {
    std::printf("  %-9s %-10s", phase, pc->name);
    for (const auto& c : pc->counts) {
      std::printf("  %s %ld/%ld", c.name, c.ok, c.ok + c.failed);
      if (c.failed) std::printf(" (FAILED %ld)", c.failed);
      failed += c.failed;
    }
    std::printf("\n");
  }
  return failed;
}

const char* Met(bool ok) { return ok ? "met" : "NOT MET"; }

int Soak(long cycles, long seconds) {
  TempDir dir("/tmp/tessaro-bench.");
  WriteTextFile(dir / "hub.ini", kConfig);
  Process hubd(bench::Binary("hubd/tessaro-hubd"), {"--config", dir / "hub.ini"});
  if (!hubd.Start() || !hubd.WaitForOutput("hubd: ready")) throw std::runtime_error(hubd.Output());

  Sampler sampler(hubd.pid());
  std::vector<std::unique_ptr<HonestPc>> pcs;
  pcs.push_back(std::make_unique<HonestPc>(0));
  pcs.push_back(std::make_unique<HonestPc>(1));

  std::printf(
      "bench_soak: one hubd with 4 devices; 2 honest PCs, %ld cycles each (link, lock, unlock, "
      "unlink of a device of their own) over %ld s, alone and then under a hostile peer\n",
      cycles, seconds);
  // Reference: the same cycles at the same pace with nobody else on hubd.
  const auto span = std::chrono::seconds(seconds);
  const auto reference = RunHonest(pcs, cycles, span);
  long failed = ReportCounts("alone", pcs);

  std::atomic<bool> stop{false};
  HostileCounts hostile;
  const auto soakStart = Steady::now();
  std::thread peer([&] { Hostile(stop, hostile); });
  // Let the flood build up first; the span outlasts hubd's hello time-out (5 s), so idle
  // connections are also closed while the honest PCs are measured.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto soaked = RunHonest(pcs, cycles, span);
  stop = true;
  peer.join();
  const double soakSeconds = std::chrono::duration<double>(Steady::now() - soakStart).count();
  failed += ReportCounts("hostile", pcs);

  pcs.clear();
  // hubd sees the closes on its next turns; give it a moment before the end figures.
  Eventually([&] { return sampler.Sample() <= sampler.startFds_; }, std::chrono::seconds(3));
  sampler.Stop();
  const long endFds = FdCount(hubd.pid());
  const long endRss = RssKb(hubd.pid());
  const bool alive = hubd.Running();

  std::printf(
      "hostile peer for %.1f s from %s: %ld Hellos (%ld refused), %ld idle connections "
      "(%ld closed by hubd), %ld link/unlink (%ld refused, %ld reconnects)\n",
      soakSeconds, kHostileAddress, hostile.hellos, hostile.helloRefused, hostile.idleOpened,
      hostile.idleClosedByHub, hostile.changes, hostile.changeFailed, hostile.changeReconnects);
  reference.Print("honest cycle, alone (reference)");
  soaked.Print("honest cycle, under the hostile peer");
  const auto ratio = [&](double p) {
    return reference.Percentile(p) > 0 ? soaked.Percentile(p) / reference.Percentile(p) : 0.0;
  };
  std::printf("%-46s p50 ratio %.2f  p90 ratio %.2f  p99 ratio %.2f\n",
              "honest cycle, hostile / alone", ratio(50), ratio(90), ratio(99));
  const bool fdsMet = endFds >= 0 && endFds <= sampler.startFds_ + kFdBound;
  const bool rssMet = endRss >= 0 && endRss <= sampler.startRss_ + kRssBoundKb;
  std::printf(
      "hubd descriptors: start %ld  peak %ld  end %ld  (bound: end within +%ld of start: "
      "%s)\n",
      sampler.startFds_, sampler.peakFds_.load(), endFds, kFdBound, Met(fdsMet));
  std::printf(
      "hubd RSS:         start %ld kB  peak %ld kB  end %ld kB  (bound: end within +%ld MB "
      "of start: %s)\n",
      sampler.startRss_, sampler.peakRss_.load(), endRss, kRssBoundKb / 1024, Met(rssMet));
  if (!alive) std::printf("hubd FAILED: it ended during the soak\n%s", hubd.Output().c_str());
  if (failed) std::printf("FAILED: %ld honest commands failed\n", failed);
  return alive && failed == 0 && fdsMet && rssMet ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  long cycles = 1000;
  long seconds = 6;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cycles" && i + 1 < argc) {
      cycles = std::atol(argv[++i]);
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atol(argv[++i]);
    } else {
      cycles = 0;  // reported below
    }
  }
  if (cycles < 1 || seconds < 1) {
    std::fprintf(stderr, "usage: bench_soak [--cycles N] [--seconds S]\n");
    return 2;
  }
  try {
    return Soak(cycles, seconds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_soak: %s\n", e.what());
    return 1;
  }
}
