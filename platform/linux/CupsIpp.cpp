// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsIpp.h"

#include <sys/socket.h>

#include <iterator>

namespace tessaro::ipp {
namespace {

constexpr int kConnectTimeoutMs = 5000;
// A cupsd that stops answering fails the request instead of holding its monitor (and the close
// that waits for it) for ever.
constexpr double kRequestTimeoutSeconds = 10.0;

// Never ask anybody for a password: a refusal is an answer of its own.
const char* NoPassword(const char*, http_t*, const char*, const char*, void*) { return nullptr; }

}  // namespace

Http Connect(const std::string& server) {
  const char* host = server.empty() ? cupsServer() : server.c_str();
  Http http(httpConnect2(host, ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                         kConnectTimeoutMs, nullptr));
  if (http) httpSetTimeout(http.get(), kRequestTimeoutSeconds, nullptr, nullptr);
  return http;
}

Reply Send(http_t* http, ipp_t* request, const char* resource) {
  Reply reply;
  if (http == nullptr) {
    ippDelete(request);
    return reply;
  }
  // The callback is kept per thread by libcups.
  cupsSetPasswordCB2(NoPassword, nullptr);
  reply.response.reset(cupsDoRequest(http, request, resource));
  reply.status = reply.response ? ippGetStatusCode(reply.response.get()) : cupsLastError();
  return reply;
}

Reply SendSmall(http_t* http, ipp_t* request, const char* resource) {
  const Ipp owned(request);
  Reply reply;
  if (http == nullptr) return reply;
  cupsSetPasswordCB2(NoPassword, nullptr);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0 && httpReconnect2(http, kConnectTimeoutMs, nullptr) != 0) break;
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
    httpSetLength(http, ippLength(request));
    if (httpPost(http, resource) != 0) continue;
    ippSetState(request, IPP_STATE_IDLE);
    ipp_state_t state = IPP_STATE_IDLE;
    while ((state = ippWrite(http, request)) != IPP_STATE_DATA && state != IPP_STATE_ERROR) {}
    if (state == IPP_STATE_ERROR) continue;
    http_status_t status = HTTP_STATUS_CONTINUE;
    while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {}
    if (status == HTTP_STATUS_ERROR) continue;  // the connection broke
    if (status != HTTP_STATUS_OK) {
      httpFlush(http);
      return reply;
    }
    Ipp response(ippNew());
    while ((state = ippRead(http, response.get())) != IPP_STATE_DATA && state != IPP_STATE_ERROR) {}
    if (state == IPP_STATE_ERROR) continue;
    reply.status = ippGetStatusCode(response.get());
    reply.response = std::move(response);
    return reply;
  }
  return reply;
}

bool Refused(ipp_status_t status) {
  return status == IPP_STATUS_ERROR_FORBIDDEN || status == IPP_STATUS_ERROR_NOT_AUTHORIZED ||
         status == IPP_STATUS_ERROR_NOT_AUTHENTICATED ||
         status == IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED;
}

ipp_t* NewRequest(ipp_op_t op, const std::string& printerUri) {
  ipp_t* request = ippNewRequest(op);
  if (!printerUri.empty())
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 printerUri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

std::string Text(ipp_t* ipp, const char* name, ipp_tag_t tag) {
  ipp_attribute_t* attr = ippFindAttribute(ipp, name, tag);
  const char* value = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
  return value != nullptr ? value : "";
}

namespace {
// The server-wide list is the queue's with "printer-deleted" added last: a queue's own subscription
// ends with the queue, and cupsd would tell it of other queues deleted.
constexpr const char* kServerEvents[] = {
    "job-created",           "job-completed",          "job-state-changed", "job-config-changed",
    "printer-state-changed", "printer-config-changed", "printer-modified",  "printer-deleted"};

void AddEvents(ipp_t* request, size_t count) {
  ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                static_cast<int>(count), nullptr, kServerEvents);
}
}  // namespace

void AddQueueEvents(ipp_t* request) { AddEvents(request, std::size(kServerEvents) - 1); }
void AddServerEvents(ipp_t* request) { AddEvents(request, std::size(kServerEvents)); }

}  // namespace tessaro::ipp
