// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/DeviceWriter.h"

#include "busd/DeviceDatabase.h"
#include "busd/Log.h"

namespace tessaro::busd {

DeviceWriter::DeviceWriter(Registry& registry, const Logger& log)
    : registry_(registry), log_(log), thread_([this] { Run(); }) {}

DeviceWriter::~DeviceWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void DeviceWriter::Add(DeviceRecord record, std::string what) {
  {
    std::lock_guard lock(mutex_);
    const std::string id = record.instanceId;
    queue_.insert_or_assign(id, Entry{std::move(record), std::move(what)});
  }
  wake_.notify_one();
}

bool DeviceWriter::WaitWritten(const std::string& instanceId, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return written_.wait_for(lock, limit,
                           [&] { return writing_ != instanceId && !queue_.contains(instanceId); });
}

void DeviceWriter::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (queue_.empty()) {
      wake_.wait(lock);
      continue;
    }
    auto node = queue_.extract(queue_.begin());
    writing_ = node.key();
    lock.unlock();
    Entry& entry = node.mapped();
    const auto written = DeviceDatabase(registry_).Write(entry.record);
    if (written) {
      log_.Info(entry.what + " linked to this PC: " + entry.record.instanceId);
    } else if (!entry.failureLogged) {
      log_.Info(entry.what + ": the device database was not written: " + written.error() +
                "; trying again");
      entry.failureLogged = true;
    }
    lock.lock();
    writing_.clear();
    // A newer record for the device, queued meanwhile, wins over this one.
    if (!written) queue_.insert(std::move(node));
    written_.notify_all();
    if (written) continue;
    wake_.wait_for(lock, kRetryInterval, [this] { return stop_; });
  }
}

}  // namespace tessaro::busd
