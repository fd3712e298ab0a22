// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsIpp.h"

#include <sys/socket.h>

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

}  // namespace tessaro::ipp
