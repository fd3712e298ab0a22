// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CurlHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace tessaro {
namespace {

struct BodySink {
  std::string* body;
  std::size_t limit;
  bool overflow = false;
};

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t bytes = size * count;
  if (sink->body->size() + bytes > sink->limit) {
    sink->overflow = true;
    return 0;  // makes curl stop with a write error
  }
  sink->body->append(data, bytes);
  return bytes;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

CurlHttpClient::CurlHttpClient(std::chrono::milliseconds longestWait) : longestWait_(longestWait) {
  // Global set-up is not thread-safe; do it once per process.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpReply CurlHttpClient::Get(const HttpRequest& request) {
  HttpReply reply;
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) {
    reply.error = "no HTTP handle";
    return reply;
  }
  std::unique_ptr<curl_slist, ListDeleter> headers;
  for (const auto& [name, value] : request.headers) {
    const std::string line = name + ": " + value;
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr) {
      reply.error = "no memory for headers";
      return reply;
    }
    static_cast<void>(headers.release());
    headers.reset(grown);
  }
  BodySink sink{&reply.body, request.maxBodyBytes};
  CURL* h = easy.get();
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                   static_cast<long>(std::min(request.timeout, longestWait_).count()));
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // Only web addresses: a configured address must not read local files or other services.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);

  const CURLcode rc = curl_easy_perform(h);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply.status);
  if (sink.overflow) {
    reply.error = "reply larger than " + std::to_string(request.maxBodyBytes) + " bytes";
  } else if (rc != CURLE_OK) {
    reply.error = curl_easy_strerror(rc);
  } else if (reply.status < 200 || reply.status > 299) {
    reply.error = "HTTP status " + std::to_string(reply.status);
  } else {
    reply.ok = true;
  }
  if (!reply.ok) reply.body.clear();
  return reply;
}

}  // namespace tessaro
