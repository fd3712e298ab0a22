// SPDX-License-Identifier: GPL-2.0-or-later
#include "busd/PrintJobs.h"

#include "busd/ReplyBuilder.h"
#include "busd/RequestDispatcher.h"

namespace tessaro::busd {

using busipc::Reply;

bool PrintJobs::MayAnswer(const Job& job) {
  if (job.ending) return false;  // only the server's answer to the end answers it
  return job.inFlight <= (job.open && job.ahead ? kPiecesAhead : 0);
}

std::optional<Reply> PrintJobs::Send(int connection, uint32_t serverIp, uint8_t number, bool end,
                                     std::span<const uint8_t> data) {
  const Key key{serverIp, number};
  auto it = jobs_.find(key);
  if (it != jobs_.end() && it->second.connection != connection) return Failure(status::kBusy);
  if (it != jobs_.end() && it->second.failure != 0) return Fail(it);
  if (it == jobs_.end()) {
    Job job;
    job.connection = connection;
    job.serial = nextSerial_++;
    job.ahead = backend_.TakesPiecesAhead(serverIp);
    it = jobs_.emplace(key, job).first;
  }
  const uint64_t serial = it->second.serial;
  const bool sent = backend_.SendData(
      serverIp, end ? wire::MsgType::EndData : wire::MsgType::WriteData, number, data,
      [this, key, serial](uint32_t result) { OnResult(key, serial, result); });
  if (!sent) {
    // No connection to the server: whatever it had of the job went with the last one.
    jobs_.erase(it);
    return Failure(status::kNotReady);
  }
  Job& job = it->second;
  ++job.inFlight;
  job.ending = end;
  if (MayAnswer(job)) return Success();
  job.owed = true;
  return std::nullopt;
}

void PrintJobs::OnResult(Key key, uint64_t serial, uint32_t result) {
  const auto it = jobs_.find(key);
  if (it == jobs_.end() || it->second.serial != serial) return;  // a dropped job's late Result
  Job& job = it->second;
  --job.inFlight;
  if (result == status::kSuccess)
    job.open = true;
  else if (job.failure == 0)
    job.failure = result;
  if (!job.owed) return;
  const int connection = job.connection;
  Reply reply;
  if (job.failure != 0) {
    reply = Fail(it);
  } else if (job.ending && job.inFlight == 0) {  // the answer to the end: the last one
    jobs_.erase(it);
    reply = Success();
  } else if (MayAnswer(job)) {
    job.owed = false;
    reply = Success();
  } else {
    return;
  }
  // Last: the reply may let the connection send its next request at once.
  router_.Complete(connection, reply);
}

Reply PrintJobs::Fail(Jobs::iterator it) {
  const auto [serverIp, number] = it->first;
  const uint32_t failure = it->second.failure;
  jobs_.erase(it);
  // The server refuses the rest of a job it dropped until told it is over; pieces that were
  // still on their way when the job failed are refused with it.
  backend_.SendData(serverIp, wire::MsgType::AbortData, number, {}, [](uint32_t) {});
  return Failure(failure);
}

void PrintJobs::Closed(int connection) {
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    const auto next = std::next(it);
    if (it->second.connection == connection) {
      // The sender went mid-job (a cancelled print): the server drops what it has of it.
      backend_.SendData(it->first.first, wire::MsgType::AbortData, it->first.second, {},
                        [](uint32_t) {});
      jobs_.erase(it);
    }
    it = next;
  }
}

}  // namespace tessaro::busd
