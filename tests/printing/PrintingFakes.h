// SPDX-License-Identifier: GPL-2.0-or-later
// The device side of a print monitor in memory (one server with one printer that this PC or
// another may hold), and a spooler that passes everything to the real one while it records the
// rights queues were opened with and the holds asked for.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Spooler.h"
#include "printing/PrintMonitorHost.h"

namespace tessaro::testing {

inline constexpr const char* kThisPc = "THIS-PC";
inline constexpr const char* kServerMac = "00:1C:F0:AA:0B:01";

class FakeDeviceSide : public PrintMonitorHost {
 public:
  std::optional<MonitoredServer> FindServer(const std::string& mac) override {
    std::lock_guard lock(mutex_);
    if (lookupFails) throw std::runtime_error("the main thread is gone");
    if (!serverListed || mac != kServerMac) return std::nullopt;
    return MonitoredServer{"Hub", "10.0.0.7", kServerMac, spurOpen ? kSpur : kInvalidBusHandle};
  }
  std::optional<MonitoredDevice> FindDevice(const MonitoredServer&, const DeviceKey& key) override {
    std::lock_guard lock(mutex_);
    if (!deviceListed || key.vendorId != "04F9" || key.productId != "0042" || key.serial != "LW-1")
      return std::nullopt;
    return MonitoredDevice{"3", owner};
  }
  void OpenServerBus(const MonitoredServer&) override {
    std::lock_guard lock(mutex_);
    log_.push_back("open-bus");
    spurOpen = true;
  }
  void RefreshDevices(const MonitoredServer&) override {
    std::lock_guard lock(mutex_);
    log_.push_back("refresh");
    if (dropDeviceOnRefresh) deviceListed = false;
  }
  bool LinkDevice(BusHandle spur, const std::string& number) override {
    std::lock_guard lock(mutex_);
    const bool taken = spur == kSpur && number == "3" && !lockedByOther;
    log_.push_back(taken ? "link" : "link-failed");
    if (taken) owner = kThisPc;
    return taken;
  }
  bool LockDevice(BusHandle spur, const std::string& number, LockKind kind,
                  uint32_t seconds) override {
    std::lock_guard lock(mutex_);
    log_.push_back("lock " + Describe(spur, number, kind, seconds));
    return owner == kThisPc;
  }
  bool UnlockDevice(BusHandle spur, const std::string& number, LockKind kind,
                    uint32_t seconds) override {
    std::lock_guard lock(mutex_);
    log_.push_back("unlock " + Describe(spur, number, kind, seconds));
    return owner == kThisPc;
  }
  // Answers OK; while the box is held open (HoldBoxes) it waits for LetBoxesClose.
  int ShowMessage(const MessageRequest& request) override {
    std::unique_lock lock(mutex_);
    log_.push_back("message " + request.caption + ": " + request.text);
    boxClosed_.wait(lock, [&] { return !boxesHeld_; });
    return answer::kOk;
  }
  void HoldBoxes() {
    std::lock_guard lock(mutex_);
    boxesHeld_ = true;
  }
  void LetBoxesClose() {
    std::lock_guard lock(mutex_);
    boxesHeld_ = false;
    boxClosed_.notify_all();
  }
  bool SessionEnding() override {
    std::lock_guard lock(mutex_);
    return sessionEnding;
  }
  void LogFailure(const std::string& text) override {
    std::lock_guard lock(mutex_);
    log_.push_back("failure " + text);
  }

  // Another PC links and locks the device; or lets it go.
  void HeldByOther(bool held) {
    std::lock_guard lock(mutex_);
    lockedByOther = held;
    owner = held ? "OTHER-PC" : "";
  }
  void Set(const std::function<void(FakeDeviceSide&)>& change) {
    std::lock_guard lock(mutex_);
    change(*this);
  }
  std::vector<std::string> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  // Lines that are `word` or start with `word` and a space ("link" is not "link-failed").
  int Count(const std::string& word) const {
    int n = 0;
    for (const std::string& line : log())
      n += (line == word || line.rfind(word + " ", 0) == 0) ? 1 : 0;
    return n;
  }

  static constexpr BusHandle kSpur = 41;
  // Guarded by the mutex; change them through Set or HeldByOther while a monitor runs.
  bool serverListed = true;
  bool spurOpen = true;
  bool deviceListed = true;
  bool dropDeviceOnRefresh = false;
  bool lockedByOther = false;
  bool sessionEnding = false;
  bool lookupFails = false;  // FindServer throws, as a hand-over to the main thread may
  std::string owner;

 private:
  static std::string Describe(BusHandle spur, const std::string& number, LockKind kind,
                              uint32_t seconds) {
    return std::to_string(spur) + " " + number + " kind" + std::to_string(static_cast<int>(kind)) +
           " " + std::to_string(seconds);
  }
  mutable std::mutex mutex_;
  std::condition_variable boxClosed_;
  bool boxesHeld_ = false;
  std::vector<std::string> log_;
};

// Passes everything to `real`, recording what was asked of it.
class RecordingSpooler : public Spooler {
 public:
  explicit RecordingSpooler(Spooler& real) : real_(real) {}

  OpenedQueue OpenPrinter(const std::string& name, uint32_t access) override {
    Note("open " + std::to_string(access));
    OpenedQueue opened = real_.OpenPrinter(name, access);
    if (opened.queue) opened.queue = std::make_unique<Queue>(std::move(opened.queue), *this);
    return opened;
  }
  std::optional<std::vector<SpoolerPort>> Ports() override {
    Note("ports");
    if (portsFail) return std::nullopt;
    return real_.Ports();
  }
  std::optional<std::vector<SpoolerPrinter>> Printers() override { return real_.Printers(); }

  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // The holds asked for, in order ("held", "parked", "released").
  std::vector<std::string> holds() const {
    std::vector<std::string> out;
    for (const std::string& c : calls())
      if (c.rfind("hold ", 0) == 0) out.push_back(c.substr(5));
    return out;
  }
  // Counts the calls named `call` exactly.
  int Count(const std::string& call) const {
    const auto all = calls();
    return static_cast<int>(std::count(all.begin(), all.end(), call));
  }
  std::atomic<bool> portsFail{false};

 private:
  class Queue : public PrintQueue {
   public:
    Queue(std::unique_ptr<PrintQueue> real, RecordingSpooler& owner)
        : real_(std::move(real)), owner_(owner) {}
    std::optional<std::string> SetHold(QueueHold hold) override {
      owner_.Note(std::string("hold ") + (hold == QueueHold::Held     ? "held"
                                          : hold == QueueHold::Parked ? "parked"
                                                                      : "released"));
      return real_->SetHold(hold);
    }
    std::optional<std::vector<int32_t>> Jobs(size_t limit) override { return real_->Jobs(limit); }
    bool DeleteJob(int32_t id, JobControl control) override {
      owner_.Note("delete " + std::to_string(id) + " " +
                  std::to_string(static_cast<uint32_t>(control)));
      return real_->DeleteJob(id, control);
    }
    bool WatchChanges() override { return real_->WatchChanges(); }
    ChangeWait WaitForChange(std::chrono::milliseconds timeout,
                             const std::atomic<bool>& stop) override {
      return real_->WaitForChange(timeout, stop);
    }

   private:
    std::unique_ptr<PrintQueue> real_;
    RecordingSpooler& owner_;
  };

  void Note(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
  }
  Spooler& real_;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace tessaro::testing
