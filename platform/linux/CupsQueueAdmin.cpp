// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/linux/CupsQueueAdmin.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "platform/linux/CupsIpp.h"
#include "platform/linux/CupsSpooler.h"

namespace tessaro {
namespace {

constexpr size_t kLongestWantedName = 100;  // room for a number within CUPS's 127

// Every value of `name` in the reply's groups, in order.
std::vector<std::string> Values(ipp_t* reply, const char* name) {
  std::vector<std::string> values;
  for (ipp_attribute_t* a = ippFirstAttribute(reply); a != nullptr; a = ippNextAttribute(reply)) {
    const char* attrName = ippGetName(a);
    if (attrName == nullptr || std::string(attrName) != name) continue;
    const char* value = ippGetString(a, 0, nullptr);
    values.push_back(value != nullptr ? value : "");
  }
  return values;
}

std::optional<std::vector<std::string>> QueueNames(http_t* http) {
  ipp_t* request = ipp::NewRequest(IPP_OP_CUPS_GET_PRINTERS, {});
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-name");
  const ipp::Reply reply = ipp::Send(http, request, "/");
  if (reply.ok()) return Values(reply.response.get(), "printer-name");
  // CUPS answers "not found" when it has no queues at all.
  if (reply.status == IPP_STATUS_ERROR_NOT_FOUND) return std::vector<std::string>{};
  return std::nullopt;
}

// A driverless driver CUPS lists for this maker whose model names the product; empty for none.
std::string DriverlessModel(http_t* http, const NewPrintQueue& queue) {
  if (queue.maker.empty() || queue.product.empty()) return {};
  ipp_t* request = ipp::NewRequest(IPP_OP_CUPS_GET_PPDS, {});
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_TEXT, "ppd-make", nullptr, queue.maker.c_str());
  const char* const wanted[] = {"ppd-name", "ppd-make-and-model"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                wanted);
  const ipp::Reply reply = ipp::Send(http, request, "/");
  if (!reply.ok()) return {};
  const std::vector<std::string> names = Values(reply.response.get(), "ppd-name");
  const std::vector<std::string> models = Values(reply.response.get(), "ppd-make-and-model");
  const std::string product = UpperAsciiText(queue.product);
  for (size_t i = 0; i < names.size() && i < models.size(); ++i) {
    const bool driverless = names[i].rfind("driverless:", 0) == 0 || names[i] == "everywhere";
    if (driverless && UpperAsciiText(models[i]).find(product) != std::string::npos) return names[i];
  }
  return {};
}

}  // namespace

std::string FreeQueueName(const std::string& wanted, const std::vector<std::string>& taken) {
  size_t cut = std::min(wanted.size(), kLongestWantedName);
  // Never through the middle of a UTF-8 sequence.
  while (cut > 0 && cut < wanted.size() && (static_cast<unsigned char>(wanted[cut]) & 0xC0) == 0x80)
    --cut;
  std::string base;
  for (char c : wanted.substr(0, cut)) {
    const std::string one(1, c);
    base += IsQueueName(one) ? c : '_';
  }
  if (base.empty()) base = "USB_Printer";
  const auto inUse = [&](const std::string& name) {
    const std::string upper = UpperAsciiText(name);
    return std::any_of(taken.begin(), taken.end(),
                       [&](const std::string& t) { return UpperAsciiText(t) == upper; });
  };
  std::string name = base;
  for (int n = 2; inUse(name); ++n) name = base + "_" + std::to_string(n);
  return name;
}

CupsQueueAdmin::CupsQueueAdmin(std::string server) : server_(std::move(server)) {}

Result<std::string> CupsQueueAdmin::AddQueue(const NewPrintQueue& queue) {
  ipp::Http http = ipp::Connect(server_);
  const std::optional<std::vector<std::string>> taken =
      http ? QueueNames(http.get()) : std::nullopt;
  if (!taken) return Failure("The print system cannot be reached, so no queue was added.");
  const std::string name = FreeQueueName(queue.wantedName, *taken);
  const std::string model = DriverlessModel(http.get(), queue);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", name.c_str());
  ipp_t* request = ipp::NewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, uri);
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr,
               queue.deviceUri.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, queue.info.c_str());
  if (!model.empty())
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "ppd-name", nullptr, model.c_str());
  ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
  ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
  const ipp::Reply reply = ipp::Send(http.get(), request, "/admin/");
  if (!reply.ok()) {
    return Failure(std::string("The print system did not add the queue \"") + name +
                   "\": " + cupsLastErrorString());
  }
  return name;
}

}  // namespace tessaro
