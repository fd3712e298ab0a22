// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsPushWake.h"

#include <poll.h>
#include <unistd.h>

#include "platform/linux/CupsIpp.h"
#include "platform/linux/CupsWake.h"

namespace tessaro {
namespace {

// Short, so that a subscription left behind by a client that died goes away soon.
constexpr int kLeaseSeconds = 600;
constexpr int kMissesBeforeGivingUp = 3;

}  // namespace

bool CupsPushWake::Keep(http_t* http) {
  if (givenUp_ || http == nullptr) return false;
  if (!socket_.valid()) {
    socket_ = OpenWakeSocket(name_);
    if (!socket_.valid()) {
      givenUp_ = true;
      return false;
    }
  }
  if (subscription_ == 0) {
    if (!Subscribe(http)) GiveUp(http);  // no notifier, or cupsd refuses it
  } else if (std::chrono::steady_clock::now() >= renewAt_ && !Renew(http)) {
    subscription_ = 0;  // it went with a cupsd restart: made again on the next round
  }
  return subscription_ != 0;
}

void CupsPushWake::MissedWake(http_t* http) {
  if (subscription_ == 0) return;
  // A subscription cupsd no longer knows is made again; one it knows that wakes nobody is not.
  if (!Renew(http)) {
    subscription_ = 0;
    return;
  }
  if (++misses_ >= kMissesBeforeGivingUp) GiveUp(http);
}

bool CupsPushWake::Wait(std::chrono::milliseconds timeout, int interrupt) {
  pollfd fds[2] = {{interrupt, POLLIN, 0}, {socket_.get(), POLLIN, 0}};
  const nfds_t count = subscription_ != 0 && socket_.valid() ? 2 : 1;
  if (::poll(fds, count, static_cast<int>(timeout.count())) <= 0) return false;
  if (count == 2 && (fds[1].revents & POLLIN) != 0 && DrainWakes(socket_.get())) {
    misses_ = 0;
    return true;
  }
  return false;
}

void CupsPushWake::End(http_t* http) {
  if (subscription_ == 0 || http == nullptr) return;
  ipp_t* request = ipp::NewRequest(IPP_OP_CANCEL_SUBSCRIPTION, "ipp://localhost/");
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                subscription_);
  ipp::Send(http, request, "/");
  subscription_ = 0;
}

bool CupsPushWake::Subscribe(http_t* http) {
  ipp_t* request = ipp::NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, "ipp://localhost/");
  const std::string recipient = RecipientOfWakeName(name_);
  ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
               recipient.c_str());
  ipp::AddServerEvents(request);
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                kLeaseSeconds);
  ipp::Reply reply = ipp::Send(http, request, "/");
  if (!reply.ok() || !reply.response) return false;
  ipp_attribute_t* id =
      ippFindAttribute(reply.response.get(), "notify-subscription-id", IPP_TAG_INTEGER);
  if (id == nullptr) return false;
  subscription_ = ippGetInteger(id, 0);
  renewAt_ = std::chrono::steady_clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
  return true;
}

bool CupsPushWake::Renew(http_t* http) {
  ipp_t* request = ipp::NewRequest(IPP_OP_RENEW_SUBSCRIPTION, "ipp://localhost/");
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                subscription_);
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                kLeaseSeconds);
  if (!ipp::Send(http, request, "/").ok()) return false;
  renewAt_ = std::chrono::steady_clock::now() + std::chrono::seconds(kLeaseSeconds / 2);
  return true;
}

void CupsPushWake::GiveUp(http_t* http) {
  End(http);
  socket_.Reset();
  givenUp_ = true;
}

}  // namespace tessaro
