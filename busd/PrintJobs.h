// SPDX-License-Identifier: GPL-2.0-or-later
// Print jobs that bus connections send to devices of servers: one job per device at a time,
// owned by the connection that sent its first piece.
//
// A piece waits for the server's Result only while the job is not yet open there (its first
// piece) or when the server cannot take pieces ahead; after that a piece is answered as soon as
// it is on its way, with at most kPiecesAhead unanswered by the server. A failure the server
// reports for a piece reaches the sender with its next request, or with the end, which is always
// answered by the server itself: an end that succeeds means the whole job is down there.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>

#include "busd/BusBackend.h"
#include "protocol/BusFrame.h"

namespace tessaro::busd {

class ReplyRouter;

class PrintJobs {
 public:
  // Enough to keep the server busy while the sender reads its next piece, little enough to
  // bound what waits in busd's buffers (64 KiB each).
  static constexpr unsigned kPiecesAhead = 8;

  PrintJobs(BusBackend& backend, ReplyRouter& router) : backend_(backend), router_(router) {}

  // A piece (`end` false) or the end of `connection`'s job on device `number` of `serverIp`,
  // which is linked to this PC. The reply to give now, or nullopt when it comes through the
  // router.
  std::optional<busipc::Reply> Send(int connection, uint32_t serverIp, uint8_t number, bool end,
                                    std::span<const uint8_t> data);
  // The connection went: its jobs are dropped at their servers.
  void Closed(int connection);

 private:
  using Key = std::pair<uint32_t, uint8_t>;  // server address, device number
  struct Job {
    int connection = 0;
    uint64_t serial = 0;     // tells this job's late Results from a later job's
    unsigned inFlight = 0;   // pieces and end sent, without the server's Result yet
    bool open = false;       // the server took a piece: it holds the job
    bool ahead = false;      // the server takes pieces ahead of their Results
    bool ending = false;     // the end is sent
    bool owed = false;       // the connection waits for a reply
    uint32_t failure = 0;    // the first failure the server reported
  };
  using Jobs = std::map<Key, Job>;

  void OnResult(Key key, uint64_t serial, uint32_t result);
  // Drops a failed job and tells its server to forget it; the failure to give its sender.
  busipc::Reply Fail(Jobs::iterator it);
  static bool MayAnswer(const Job& job);

  BusBackend& backend_;
  ReplyRouter& router_;
  Jobs jobs_;
  uint64_t nextSerial_ = 1;
};

}  // namespace tessaro::busd
