// SPDX-License-Identifier: GPL-2.0-or-later
// Where print jobs go: a printer with an output folder turns each job its owner sends into one
// file, `job-<n>-<PC>.prn`. The data goes to a hidden temporary file in the same folder that gets
// its final name only once the job's end came and the data is on disk, so a job cut short leaves
// no file a reader could take for a whole one, and a job sent again appears once.
//
// A PC may send a job's pieces without waiting for each Result. So a job dropped part-way (the
// device changed hands, the file could not be written) refuses the rest of its sender's pieces,
// and its end, until that end or an abort: a later piece never starts a new job with a gap.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/FileHandle.h"
#include "hubd/PrinterPort.h"

namespace tessaro::hubd {

class PrintSink {
 public:
  // The prefix of the temporary files; those left by a hubd that was killed are removed at start.
  static constexpr const char* kTempPrefix = ".tessaro-job-";

  // Who sends: a job belongs to the connection that opened it.
  using Sender = const void*;

  // Data for the job `sender` has open on `number` (opening it if none is open). 170 while
  // another sender's job is open on the device; 29 (ERROR_WRITE_FAULT) when the file cannot be
  // written, which drops the job.
  uint32_t Write(uint8_t number, const std::string& folder, const std::string& pc, Sender sender,
                 std::span<const uint8_t> data);
  // Ends the job: flushed, then renamed to its final name (opened and ended at once for a job
  // without data). `written` gets the final path.
  uint32_t End(uint8_t number, const std::string& folder, const std::string& pc, Sender sender,
               std::string& written);
  // A real printer's job: the data goes to its usblp node `node` as it comes, and what the node
  // does not take at once waits (see PrinterPort). Statuses as Write; the job is dropped with
  // 28 (paper out), 21 (offline, or the printer is gone) or 29 (a printer error) when the printer
  // fails it.
  uint32_t WriteNode(uint8_t number, const std::string& node, const std::string& pc, Sender sender,
                     std::span<const uint8_t> data);
  // Ends a printer job: everything was written (its sender is not read while data waits).
  uint32_t EndNode(uint8_t number, const std::string& node, Sender sender);
  // Whether one of `sender`'s jobs has data its printer has not taken yet.
  bool Waiting(Sender sender) const;
  // The node descriptors with data waiting, with their device numbers: poll them for output.
  std::vector<std::pair<uint8_t, int>> WaitingNodes() const;
  // Writes more of what waits on `number`'s node; kStatusOk, or the status the job was dropped
  // with.
  uint32_t FlushNode(uint8_t number);
  // Asks each printer whose data waits whether it reports a fault; drops those jobs. The devices
  // and statuses of the jobs dropped.
  std::vector<std::pair<uint8_t, uint32_t>> CheckWaitingNodes();

  // The status a job `sender` had on `number` was dropped with, while the sender has not yet
  // ended or aborted it; 0 otherwise. With `ending`, the sender has now ended it.
  uint32_t DroppedJob(uint8_t number, Sender sender, bool ending);
  // Drops `sender`'s job on `number`, if any; true if there was one.
  bool Abort(uint8_t number, Sender sender);
  // Drops every job of `sender` (its connection went).
  void AbortAll(Sender sender);
  // Drops each job whose device is gone or no longer owned by the job's PC (unlinked or
  // taken); `ownerOf` gives a device's owner, nullopt for a device no longer in the list.
  // The devices whose jobs were dropped.
  std::vector<uint8_t> DropStale(const std::function<std::optional<std::string>(uint8_t)>& ownerOf);
  bool HasJob(uint8_t number) const { return jobs_.count(number) != 0; }

  // Removes temporary files a killed hubd left in `folder`; how many.
  static size_t RemoveLeftovers(const std::string& folder);
  // The part of a computer name that goes into a file name: no slashes, control bytes or
  // backslashes, and never empty.
  static std::string FileNamePart(const std::string& pc);

 private:
  struct Job {
    Sender sender = nullptr;
    std::string pc;
    std::string folder;
    std::string tempPath;
    UniqueFd fd;
    std::unique_ptr<PrinterPort> port;  // a real printer's job; tempPath and fd unused
  };

  uint32_t Open(uint8_t number, const std::string& folder, const std::string& pc, Sender sender);
  // Removes the job and its file; `status` is what its sender's later pieces get (0: nothing,
  // the sender itself ended it).
  void Drop(std::map<uint8_t, Job>::iterator it, uint32_t status);

  std::map<uint8_t, Job> jobs_;
  std::map<std::pair<uint8_t, Sender>, uint32_t> dropped_;  // see DroppedJob
  std::map<std::string, unsigned> nextNumber_;  // by folder: where the search for a free n starts
};

}  // namespace tessaro::hubd
