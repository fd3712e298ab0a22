// SPDX-License-Identifier: GPL-2.0-or-later
#include "hubd/PrintSink.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/AtomicFile.h"
#include "base/WinError.h"

namespace tessaro::hubd {

namespace {
using winerr::kBusy;
using winerr::kNotReady;
using winerr::kWriteFault;
constexpr unsigned kMaxNameTries = 100000;
}  // namespace

std::string PrintSink::FileNamePart(const std::string& pc) {
  std::string out;
  for (const char c : pc) {
    const auto b = static_cast<unsigned char>(c);
    out += (b < 0x20 || b == 0x7F || c == '/' || c == '\\') ? '_' : c;
  }
  return out.empty() ? "_" : out;
}

uint32_t PrintSink::Open(uint8_t number, const std::string& folder, const std::string& pc,
                         Sender sender) {
  std::string pattern = folder + "/" + kTempPrefix + "XXXXXX";
  UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd.valid()) return kWriteFault;
  ::fchmod(fd.get(), 0644);
  Job job;
  job.sender = sender;
  job.pc = pc;
  job.folder = folder;
  job.tempPath = pattern;
  job.fd = std::move(fd);
  jobs_.emplace(number, std::move(job));
  return winerr::kSuccess;
}

uint32_t PrintSink::Write(uint8_t number, const std::string& folder, const std::string& pc,
                          Sender sender, std::span<const uint8_t> data) {
  auto it = jobs_.find(number);
  if (it != jobs_.end() && it->second.sender != sender) return kBusy;
  if (it == jobs_.end()) {
    if (const uint32_t status = Open(number, folder, pc, sender); status != winerr::kSuccess)
      return status;
    it = jobs_.find(number);
  }
  if (!WriteAll(it->second.fd.get(), data.data(), data.size())) {
    Drop(it, kWriteFault);
    return kWriteFault;
  }
  return winerr::kSuccess;
}

uint32_t PrintSink::End(uint8_t number, const std::string& folder, const std::string& pc,
                        Sender sender, std::string& written) {
  auto it = jobs_.find(number);
  if (it != jobs_.end() && it->second.sender != sender) return kBusy;
  if (it == jobs_.end()) {  // a job without data is a job too: one empty file
    if (const uint32_t status = Open(number, folder, pc, sender); status != winerr::kSuccess)
      return status;
    it = jobs_.find(number);
  }
  Job& job = it->second;
  if (::fsync(job.fd.get()) != 0) {
    Drop(it, 0);
    return kWriteFault;
  }
  job.fd.Reset();
  unsigned& next = nextNumber_[job.folder];
  if (next == 0) next = 1;
  const std::string suffix = "-" + FileNamePart(job.pc) + ".prn";
  for (unsigned tries = 0; tries < kMaxNameTries; ++tries, ++next) {
    const std::string name = job.folder + "/job-" + std::to_string(next) + suffix;
    if (RenameNoReplace(job.tempPath, name)) {
      ++next;
      SyncFolderOf(name);
      written = name;
      jobs_.erase(it);
      return winerr::kSuccess;
    }
    if (errno != EEXIST) break;
  }
  Drop(it, 0);
  return kWriteFault;
}

uint32_t PrintSink::WriteNode(uint8_t number, const std::string& node, const std::string& pc,
                              Sender sender, std::span<const uint8_t> data) {
  auto it = jobs_.find(number);
  if (it != jobs_.end() && it->second.sender != sender) return kBusy;
  if (it == jobs_.end()) {
    Job job;
    job.sender = sender;
    job.pc = pc;
    job.port = std::make_unique<PrinterPort>();
    if (const uint32_t status = job.port->Open(node); status != winerr::kSuccess) {
      dropped_[{number, sender}] = status;  // its later pieces must not start a job with a gap
      return status;
    }
    it = jobs_.emplace(number, std::move(job)).first;
  }
  if (!it->second.port) return kBusy;  // cannot happen: a device has one kind of job
  const uint32_t status = it->second.port->Write(data);
  if (status != winerr::kSuccess) Drop(it, status);
  return status;
}

uint32_t PrintSink::EndNode(uint8_t number, const std::string& node, Sender sender) {
  auto it = jobs_.find(number);
  if (it != jobs_.end() && it->second.sender != sender) return kBusy;
  if (it == jobs_.end()) return PrinterPort().Open(node);  // an empty job: the printer is there
  if (it->second.port && it->second.port->waiting()) return kBusy;  // its sender waits for it
  jobs_.erase(it);
  return winerr::kSuccess;
}

bool PrintSink::Waiting(Sender sender) const {
  for (const auto& [number, job] : jobs_)
    if (job.sender == sender && job.port && job.port->waiting()) return true;
  return false;
}

std::vector<std::pair<uint8_t, int>> PrintSink::WaitingNodes() const {
  std::vector<std::pair<uint8_t, int>> out;
  for (const auto& [number, job] : jobs_)
    if (job.port && job.port->waiting()) out.emplace_back(number, job.port->fd());
  return out;
}

uint32_t PrintSink::FlushNode(uint8_t number) {
  const auto it = jobs_.find(number);
  if (it == jobs_.end() || !it->second.port) return winerr::kSuccess;
  const uint32_t status = it->second.port->Flush();
  if (status == winerr::kSuccess) return status;
  Drop(it, status);
  return status;
}

std::vector<std::pair<uint8_t, uint32_t>> PrintSink::CheckWaitingNodes() {
  std::vector<std::pair<uint8_t, uint32_t>> dropped;
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    auto next = std::next(it);
    if (it->second.port && it->second.port->waiting()) {
      if (const uint32_t fault = it->second.port->StatusFault(); fault != winerr::kSuccess) {
        dropped.emplace_back(it->first, fault);
        Drop(it, fault);
      }
    }
    it = next;
  }
  return dropped;
}

uint32_t PrintSink::DroppedJob(uint8_t number, Sender sender, bool ending) {
  const auto it = dropped_.find({number, sender});
  if (it == dropped_.end()) return winerr::kSuccess;
  const uint32_t status = it->second;
  if (ending) dropped_.erase(it);
  return status;
}

bool PrintSink::Abort(uint8_t number, Sender sender) {
  dropped_.erase({number, sender});
  const auto it = jobs_.find(number);
  if (it == jobs_.end() || it->second.sender != sender) return false;
  Drop(it, 0);
  return true;
}

void PrintSink::AbortAll(Sender sender) {
  std::erase_if(dropped_, [sender](const auto& d) { return d.first.second == sender; });
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    auto next = std::next(it);
    if (it->second.sender == sender) Drop(it, 0);
    it = next;
  }
}

std::vector<uint8_t> PrintSink::DropStale(
    const std::function<std::optional<std::string>(uint8_t)>& ownerOf) {
  std::vector<uint8_t> dropped;
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    auto next = std::next(it);
    if (ownerOf(it->first) != it->second.pc) {
      dropped.push_back(it->first);
      Drop(it, kNotReady);
    }
    it = next;
  }
  return dropped;
}

void PrintSink::Drop(std::map<uint8_t, Job>::iterator it, uint32_t status) {
  if (!it->second.tempPath.empty()) ::unlink(it->second.tempPath.c_str());
  if (status != winerr::kSuccess) dropped_[{it->first, it->second.sender}] = status;
  jobs_.erase(it);
}

size_t PrintSink::RemoveLeftovers(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  size_t removed = 0;
  const std::string prefix = kTempPrefix;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind(prefix, 0) == 0 && ::unlinkat(::dirfd(dir), e->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace tessaro::hubd
