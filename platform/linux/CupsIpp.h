// SPDX-License-Identifier: GPL-2.0-or-later
// The few pieces of libcups every IPP exchange with cupsd needs: a connection with bounded waits,
// a request carrying this user's name, and a reply whose status is read once.
#pragma once

#include <cups/cups.h>

#include <memory>
#include <string>

namespace tessaro::ipp {

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

// `server`: a host name or the path of cupsd's socket; empty for libcups's own choice.
Http Connect(const std::string& server);

struct Reply {
  Ipp response;
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  bool ok() const { return status < IPP_STATUS_REDIRECTION_OTHER_SITE; }
};

// Sends `request` (which it frees) on `http`; a lost connection reads as an internal error.
Reply Send(http_t* http, ipp_t* request, const char* resource);

// The same for a small request asked often. cupsDoRequest always asks cupsd for a "100 Continue"
// first, which costs every exchange a second wake-up on both sides; this sends the request whole
// and reads the reply. A kept connection that cupsd closed meanwhile is made again once.
Reply SendSmall(http_t* http, ipp_t* request, const char* resource);

// Whether cupsd refused the operation to this user.
bool Refused(ipp_status_t status);

// A request for `op` on `printerUri` (none when empty) from this user.
ipp_t* NewRequest(ipp_op_t op, const std::string& printerUri);

// The first value of the attribute `name` with `tag`, or "".
std::string Text(ipp_t* ipp, const char* name, ipp_tag_t tag);

// Asks a queue's subscription request for every event that changes the queue's jobs, its state or
// its settings: what a watched queue remembers and when a monitor looks again depend on them.
void AddQueueEvents(ipp_t* request);
// The same events of every queue, and queues deleted: for a subscription to the whole server.
void AddServerEvents(ipp_t* request);

}  // namespace tessaro::ipp
